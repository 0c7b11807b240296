// The exit statuses, one name each; README's table says what each means
// to the installer that runs the tool.
#ifndef MODREG_RUN_STATUS_H_
#define MODREG_RUN_STATUS_H_

namespace run {

enum ExitStatus {
  kExitOk = 0,
  kExitFound = 1,        // a dry run's real run would change the registry's
                         // bytes, or --check found a problem
  kExitUsage = 2,        // a usage error or a refused argument; nothing touched
  kExitCannotRead = 3,   // the registry, or its folder, is unknown or unreadable
  kExitMalformed = 4,    // the registry cannot be parsed or updated
  kExitCannotWrite = 5,  // the new registry could not be put in place
  kExitCannotLock = 6,   // the registry folder could not be locked
  kExitOutOfMemory = 7,  // the registry keeps its old bytes
  kExitAddedFaulty = 8,  // --strict: the check of the entries a registration
                         // would add found a problem, or an entry it keeps
                         // stops every application from starting; nothing
                         // is written
  kExitRecordRefused = 9,  // --rollback: the undo record is not the tool's
                           // own, or damaged; nothing is changed
  kExitShortCommandLine = -1,  // fewer than two arguments and no option
};

}  // namespace run

#endif  // MODREG_RUN_STATUS_H_
