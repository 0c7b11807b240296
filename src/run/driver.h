// The run driver: one pass from the command line: a registration, an
// unregistration, a listing, or a dry run of the first two.
#ifndef MODREG_RUN_DRIVER_H_
#define MODREG_RUN_DRIVER_H_

#include <cstdio>

// Exit statuses.
enum ExitStatus {
  kExitOk = 0,
  kExitWouldChange = 1,   // a dry run: the registry's bytes would change
  kExitProblems = 1,      // --check: a registered module has a problem
  kExitBadMask = 2,       // the device mask is not a 32-bit decimal number
  kExitUsage = 2,         // an unknown option, or arguments missing
  kExitCannotRead = 3,    // the registry is missing or unreadable
  kExitMalformed = 4,     // the registry cannot be parsed or updated
  kExitCannotWrite = 5,   // the new registry could not be put in place
  kExitCannotLock = 6,    // the registry folder could not be locked
  kExitOutOfMemory = 7,
  kExitShortCommandLine = -1,  // fewer than two arguments
};

// Runs one pass over |argc|/|argv| as given to main, writing what the mode
// prints to |out| and errors to |err|; returns the exit status.
int RunPass(int argc, const char* const* argv, FILE* out, FILE* err);

#endif  // MODREG_RUN_DRIVER_H_
