#include "registry/backup.h"

#include "platform/lookup.h"
#include "registry/transaction.h"

namespace registry {

void PrepareBackup(RegistryTransaction* t) {
  std::string ignored;
  if (platform::LookUp(t->site.BackupPath, &ignored) ==
      platform::Presence::kExists) {
    t->backup_state = BackupState::kThere;
    return;
  }
  t->backup_state = BackupState::kNotMade;
  t->backup_whole = BeginReplace(t->site.BackupPath, t->site.RegistryPath,
                                 ReplaceMode::kCreateOnly, &t->backup,
                                 &t->backup_error);
}

void DropBackup(RegistryTransaction* t) {
  RollBackReplace(&t->backup);  // nothing once it has its name
  t->backup_whole = false;
}

std::optional<BackupFailure> KeepBackup(RegistryTransaction* t) {
  if (t->backup_state != BackupState::kNotMade) return std::nullopt;
  if (t->document.read && t->backup_whole &&
      CommitReplace(&t->backup, &t->backup_error)) {
    t->backup_state = BackupState::kMade;
    return std::nullopt;
  }
  DropBackup(t);
  // Nothing to say without a registry (its read fails and says so) or
  // when a backup turned up meanwhile; something when either cannot be
  // looked at.
  std::string reason;
  if (!t->document.read ||
      platform::LookUp(t->site.RegistryPath, &reason) ==
          platform::Presence::kMissing ||
      platform::LookUp(t->site.BackupPath, &reason) == platform::Presence::kExists)
    return std::nullopt;
  return BackupFailure{t->backup.rename_failed, TempPathFor(t->site.BackupPath),
                       t->backup_error};
}

}  // namespace registry
