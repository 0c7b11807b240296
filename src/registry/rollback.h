// --rollback and --commit: what becomes of a run's undo record (undo.h)
// once the installer that ran it fails or succeeds.
//
//   RegistryTransaction t;
//   t.site = ...;            // with the record's name
//   RollbackOutcome o = RollBackRegistry(&t, platform::BootTime());
//
// RollBackRegistry takes the registry's lock, loads the record, and puts the
// registry back: the bytes before, when it still holds what the recorded
// run wrote; nothing, when it is as before (the run failed after it
// recorded); the run's own change undone, when something changed it since.
// The record goes at the end. A record of an earlier start of the machine
// is stale: it is dropped, never applied. A record that is not the tool's
// own is refused and left.
#ifndef MODREG_REGISTRY_ROLLBACK_H_
#define MODREG_REGISTRY_ROLLBACK_H_

#include <string>

#include "registry/transaction.h"
#include "registry/undo.h"

namespace registry {

enum class RollbackKind {
  kNoRecord,      // nothing recorded: the run never got so far
  kStale,         // of an earlier start of the machine: dropped, not applied
  kRefused,       // not the tool's own, damaged, or of another registry
  kFailed,        // the registry could not be read, parsed or written
  kAsBefore,      // the registry is as it was before the run
  kRestored,      // the bytes before are back
  kUndoneOwn,     // changed since: only the run's own change undone
};

struct RollbackOutcome {
  RollbackKind kind = RollbackKind::kNoRecord;
  RegistryResult result;  // for kFailed and kCannotLock: why
  std::string why;        // for kRefused
  UndoRecord record;      // what was loaded: its action, ID...
  UndoneChange undone;    // for kUndoneOwn
  bool out_of_memory = false;
  bool dropped = true;    // the record is gone, or was never there
};

// Puts |t|'s registry back as the undo record of its site says (above);
// |boot_now| is the machine's start as BootTime measures it now.
RollbackOutcome RollBackRegistry(RegistryTransaction* t, long long boot_now);

// Drops the undo record of |t|'s site under the registry's lock: the
// action it was for succeeded. Sets |*dropped| when there was one and it
// is gone. Returns the result: kUnchanged, or kCannotLock or kCannotWrite
// with the reason.
RegistryResult ForgetUndoRecord(RegistryTransaction* t, bool* dropped);

}  // namespace registry

#endif  // MODREG_REGISTRY_ROLLBACK_H_
