#include "registry/backup.h"

#include "platform/platform.h"

std::string BackupTempPath(const std::string& BackupPath) {
  return BackupPath + ".tmp";
}

std::string BackupRegistry(const std::string& RegistryPath,
                           const std::string& BackupPath) {
  if (platform::CanOpenForReading(BackupPath)) return std::string();
  const std::string temp = BackupTempPath(BackupPath);
  std::string error;
  bool made = platform::CopyFileBytes(RegistryPath, temp, &error) &&
              platform::RenameNoReplace(temp, BackupPath, &error);
  if (made) return std::string();
  platform::RemoveFile(temp);
  if (!platform::PathExists(RegistryPath) || platform::PathExists(BackupPath))
    return std::string();
  return "cannot back up " + RegistryPath + " to " + BackupPath + ": " + error;
}
