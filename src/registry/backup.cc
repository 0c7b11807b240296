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
  if (platform::CanOpenForReading(BackupPath)) return std::string();
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
  if (!platform::PathExists(RegistryPath) || platform::PathExists(BackupPath))
    return std::string();
  return "cannot back up " + platform::DisplayName(RegistryPath) + ": " +
         step + ": " + error;
}
