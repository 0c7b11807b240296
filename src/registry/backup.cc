#include "registry/backup.h"

#include "platform/lookup.h"
#include "registry/replace.h"

std::string BackupRegistry(const std::string& RegistryPath,
                           const std::string& BackupPath,
                           BackupState* state) {
  BackupState ignored;
  if (!state) state = &ignored;
  *state = BackupState::kThere;
  std::string ignored_reason;
  if (platform::LookUp(BackupPath, &ignored_reason) ==
      platform::Presence::kExists)
    return std::string();
  *state = BackupState::kMade;
  Replacement copy;
  std::string error;
  if (CopyFileBytes(RegistryPath, BackupPath, &copy, &error))
    return std::string();
  *state = BackupState::kNotMade;
  const std::string step = copy.rename_failed
                               ? "renaming " + copy.temp + " to " + copy.target
                               : "copying it to " + copy.temp;
  // No warning without a registry (its read fails and says so) or when a
  // backup turned up meanwhile; one when either cannot be looked at.
  std::string reason;
  if (platform::LookUp(RegistryPath, &reason) == platform::Presence::kMissing ||
      platform::LookUp(BackupPath, &reason) == platform::Presence::kExists)
    return std::string();
  return "cannot back up " + platform::DisplayName(RegistryPath) + ": " +
         step + ": " + error;
}
