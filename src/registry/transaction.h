// One pass's work on the registry file, on one loaded document: the lock,
// one read, the one-time backup from the bytes read, the parse, and the
// commit of the edited document.
//
// The calling sequence of a pass that writes:
//
//   RegistryTransaction t;
//   t.registry_path = ...; t.backup_path = ...; t.folder = ...;
//   if (!LockRegistry(&t, &result)) ...       // kCannotLock
//   LoadRegistry(&t, options);                // the bytes read once; a
//                                             // backup prepared from them
//                                             // when there is none
//   ... check t.document; choose an edit ...
//   DropBackup(&t);                           // when nothing will be written
//   KeepBackup(&t);                           // or: the backup takes its name
//   EditOutcome e = ApplyEdit(edit, t.document.doc.get(),
//                             t.document.modules);
//   if (e.rewrite) CommitRegistry(&t, ...);   // printed, replaced in one step
//   EndTransaction(&t);                       // on every way out
//
// A pass that only reads (a listing, a check, a dry run) loads without
// the lock and the backup, and commits nothing.
//
// What a failure leaves: the registry as it was, and a backup that is
// whole or absent. A process killed on the way leaves temporary files;
// the next run's LockRegistry removes them.
#ifndef MODREG_REGISTRY_TRANSACTION_H_
#define MODREG_REGISTRY_TRANSACTION_H_

#include <string>
#include <vector>

#include "platform/bytes.h"
#include "registry/document.h"
#include "registry/replace.h"

// What became of the backup in a pass.
enum class BackupState {
  kNone,      // not asked for (yet)
  kThere,     // something was there already
  kMade,      // copied in this pass
  kNotMade,   // none exists and none could be made
};

struct RegistryTransaction {
  // Where: the registry, its backup, and the folder the lock guards. The
  // described names of the first two are kept.
  std::string RegistryPath;
  std::string BackupPath;
  std::string folder;
  RegistryDocument document;
  // A dry run's: the file's bytes as they were read, to compare with.
  ByteBuffer raw;
  // The backup: prepared while the registry is read, named by KeepBackup.
  Replacement backup;
  BackupState backup_state = BackupState::kNone;
  bool backup_whole = false;     // every byte read is in it
  std::string backup_error;      // why it failed, when it did
};

// What LoadRegistry does besides reading and parsing.
struct LoadMode {
  bool back_up = false;     // prepare the backup when there is none
  bool keep_raw = false;    // keep the bytes read in |raw|
  bool find_lines = false;  // find the text's line ends
};

// Takes the lock of |t|'s folder, waiting at most |wait_ms| for another
// run's, and removes what a killed run left: the temporary files of the
// registry and of its backup. False with |result| kCannotLock and the
// system's reason.
bool LockRegistry(RegistryTransaction* t, unsigned wait_ms,
                  RegistryResult* result);

// Reads the registry once and parses it into |t|'s document. With
// |back_up|, when nothing is at the backup's name, the bytes are copied to
// the backup's temporary file as they are read, each part while it is in
// the cache. Failures as LoadRegistryFile's.
RegistryResult LoadRegistry(RegistryTransaction* t, const LoadMode& mode);

// Gives the prepared backup its name, when the registry was read whole
// and nothing is there yet; else drops it. Returns a warning when the
// registry exists and no backup could be made, otherwise empty.
std::string KeepBackup(RegistryTransaction* t);

// Drops the prepared backup: a pass that writes nothing leaves no file.
void DropBackup(RegistryTransaction* t);

// Prints |t|'s document and replaces the registry with it in one step
// (replace.h); a registry that is a link has the file it leads to
// replaced. With |module_lines|, sets it to the line of the written file
// on which each Module element with a path begins, in order. On failure the registry keeps
// its bytes; |result| is kCannotWrite with the failed step and the reason.
RegistryResult CommitRegistry(RegistryTransaction* t,
                              std::vector<size_t>* module_lines = nullptr);

// Tells whether the printed document would be the bytes |t| read (a dry
// run's, loaded with |keep_raw|).
bool PrintsAsRead(const RegistryTransaction& t);

// Removes whatever |t| prepared and did not commit.
void EndTransaction(RegistryTransaction* t);

#endif  // MODREG_REGISTRY_TRANSACTION_H_
