#include "registry/backup.h"

#include "platform/platform.h"

std::string BackupTempPath(const std::string& BackupPath) {
  return BackupPath + ".tmp";
}

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
  const std::string temp = BackupTempPath(BackupPath);
  std::string error, step;
  if (!platform::CopyFileBytes(RegistryPath, temp, &error))
    step = "copying it to " + temp;
  else if (!platform::RenameNoReplace(temp, BackupPath, &error))
    step = "renaming " + temp + " to " + BackupPath;
  if (step.empty()) return std::string();
  *state = BackupState::kNotMade;
  platform::RemoveFile(temp);
  // No warning without a registry (its read fails and says so) or when a
  // backup turned up meanwhile; one when either cannot be looked at.
  std::string reason;
  if (platform::LookUp(RegistryPath, &reason) == platform::Presence::kMissing ||
      platform::LookUp(BackupPath, &reason) == platform::Presence::kExists)
    return std::string();
  return "cannot back up " + platform::DisplayName(RegistryPath) + ": " +
         step + ": " + error;
}
