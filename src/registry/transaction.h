// One pass's work on the registry file, on one loaded document: the lock,
// one read, the one-time backup from the bytes read, the parse, the edit,
// the checks and the rewrite.
//
// The calling sequence of a pass that writes:
//
//   RegistryTransaction t;
//   t.site = ...;
//   PassOutcome o = RunTransaction(&t, plan);
//
// RunTransaction takes the folder's lock into |t| (LockRegistry), judges
// who else may change the registry, and reads it once; when there is no
// backup, the bytes go to the backup's temporary file as they are read,
// so that a registry that cannot be parsed is backed up too. Then it
// parses them once and, on that one document, edits, checks the entries
// added (--strict, before anything is written), names the backup, prints
// and replaces the registry, and checks the appended entries in the file
// as written. Whatever it prepared and did not put in place is gone when
// it returns; the lock goes with |t|. It says nothing: the outcome tells
// what was found, removed and added, and why it failed.
//
// A dry run is a plan that does not write, and takes no lock. The modes
// that only read (a listing, a check) load the registry with
// LoadRegistryFile (document.h): no transaction, no lock, no backup.
//
// What a failure leaves: the registry as it was, and a backup that is
// whole or absent. A process killed on the way leaves temporary files;
// the next run removes them once it holds the lock.
#ifndef MODREG_REGISTRY_TRANSACTION_H_
#define MODREG_REGISTRY_TRANSACTION_H_

#include <optional>
#include <string>
#include <vector>

#include "platform/bytes.h"
#include "platform/lock.h"
#include "registry/check.h"
#include "registry/document.h"
#include "registry/replace.h"
#include "registry/site.h"
#include "registry/undo.h"
#include "registry/update.h"

namespace registry {

// What became of the backup in a pass.
enum class BackupState {
  kNone,      // not asked for (yet)
  kThere,     // something was there already
  kMade,      // copied in this pass
  kNotMade,   // none exists and none could be made
};

struct RegistryTransaction {
  RegistrySite site;
  // Held from LockRegistry until the transaction ends.
  platform::RegistryLock lock;
  RegistryDocument document;
  // A dry run's, a recorded pass's and a rollback's: the file's bytes as
  // they were read, to compare with or to keep in the undo record.
  ByteBuffer raw;
  // The backup: prepared while the registry is read, named by KeepBackup.
  Replacement backup;
  BackupState backup_state = BackupState::kNone;
  bool backup_whole = false;     // every byte read is in it
  std::string backup_error;      // why it failed, when it did
};

// What a pass asks of RunTransaction.
struct PassPlan {
  RegistryEdit edit;
  // An unregistration: a registry that is not there is nothing to do.
  bool nothing_without_registry = false;
  bool judge_others = false;  // tell who else may change the registry
  // A repair: also remove the Module elements that stop every application
  // from starting (StartupBreakers), and keep the one-time backup only
  // when the registry is rewritten.
  bool repair = false;
  int bits = 64;  // the framework's width, for the checks
  // False: a dry run. Nothing is written; the outcome tells whether the
  // printed document would differ from the file.
  bool write = true;
  // --strict: the entries to add, and the Module elements kept, are
  // checked first; a problem with an entry to add, or a kept element that
  // stops every application from starting, refuses the pass (kRefused),
  // with nothing written.
  bool check_first = false;
  // The verbose report: the appended entries, and the elements kept that
  // stop every application from starting, checked in the file as written.
  bool check_after = false;
  // Tell the removed children of Modules, as a repair always does.
  bool report = false;
  // --undo ID: the pass keeps an undo record (undo.h) at the site's
  // |undo_record|, of the run these say. An earlier record there is
  // dropped once the lock is held; the new one is written, and flushed,
  // after the new registry's bytes and before they take its name, and
  // dropped again when that fails. An empty |undo_id|: no record.
  std::string undo_id;
  std::string undo_arch;
  std::string undo_action;  // "registration" or "unregistration"
  long long boot = 0;       // the machine's start, as BootTime says
};

// A child of Modules an edit took out.
struct RemovedChild {
  ModuleEntry entry;  // its first "path" and "configDir", if it has a path
  size_t line = 0;  // where it began, when the pass found the lines
  std::string text;  // the element as printed, on one line
};

// A part of the registry that users who are not administrators may change:
// its folder (or, |through|, a parent of it) or the file itself.
struct OpenPart {
  std::string name;
  std::string through;  // the parent found open; empty: |name| itself
};

// Returns the parts of the registry at |site| that users who are not
// administrators may change: its folder, then the file; empty when
// neither, or when that cannot be told.
std::vector<OpenPart> OpenParts(const RegistrySite& site);

// Why no backup could be made: the step that failed, copying the bytes
// to |temp| or renaming it to the backup's name, and the system's reason.
struct BackupFailure {
  bool rename_failed = false;
  std::string temp;
  std::string error;
};

struct PassOutcome {
  // kWritten, kUnchanged (also for a dry run), or the failure:
  // kCannotLock, kCannotRead, kMalformed, kRefused, kCannotWrite, with its
  // reason.
  RegistryResult result;
  bool no_registry = false;  // with |nothing_without_registry|: none there
  std::vector<OpenPart> open_parts;  // with |judge_others|
  // Memory ran out: while loading, checking or editing (|loaded| false),
  // or while writing.
  bool out_of_memory = false;
  bool loaded = false;  // the document was loaded and edited
  BackupState backup = BackupState::kNone;
  std::optional<BackupFailure> backup_failure;  // no backup could be made
  std::vector<CheckedModule> checked_first;  // with |check_first|
  std::vector<RemovedChild> removed;         // with |report|, when rewritten
  bool rewrite = false;                      // the edit rewrites
  // A dry run's: whether the children of Modules and the file's bytes
  // would change.
  bool changed = false;
  bool differs = false;
  std::vector<CheckedModule> checked_after;  // with |check_after|
  // With |check_first| or |check_after|, the Module elements kept that
  // stop every application from starting, by their lines as read or as
  // written.
  std::vector<CheckedModule> breakers;
  std::string check_after_failed;            // why it could not be made
  bool recorded = false;  // the undo record is written and the registry too
};

// Reads the registry once and parses it into |t|'s document, as |plan|
// asks: when it writes and nothing is at the backup's name, the bytes are
// copied to the backup's temporary file as they are read, each part while
// it is in the cache; when it does not write, or keeps an undo record,
// they are kept in |t|'s |raw| too. Failures as LoadRegistryFile's.
RegistryResult LoadRegistry(RegistryTransaction* t, const PassPlan& plan);

// Takes the lock of |t|'s folder into |t|, waiting at most kLockWaitMs for
// another run's, and, when it keeps every other run waiting, removes what
// a killed run left: the temporary files of the registry, of its backup
// and of undo records. False with |result| kCannotLock and the system's
// reason.
bool LockRegistry(RegistryTransaction* t, RegistryResult* result);

// Runs the pass |plan| on the registry of |t|, as the calling sequence
// above says, and returns what came of it. A pass that writes holds the
// folder's lock in |t| from then on, until |t| ends.
PassOutcome RunTransaction(RegistryTransaction* t, const PassPlan& plan);

}  // namespace registry

#endif  // MODREG_REGISTRY_TRANSACTION_H_
