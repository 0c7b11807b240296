// The one-time backup of the registry file, modules.xml.old.
#ifndef MODREG_REGISTRY_BACKUP_H_
#define MODREG_REGISTRY_BACKUP_H_

#include <string>

// What became of the backup in a pass.
enum class BackupState {
  kMade,      // copied in this pass
  kThere,     // something was there already
  kNotMade,   // none exists and none could be made
};

// Copies |RegistryPath| to |BackupPath| unless something is there
// already. The copy is a replacement that never replaces (replace.h): a
// backup is whole or absent. Returns a warning when the registry exists, no
// backup exists and none could be made; otherwise an empty string. Sets
// |state| when given.
std::string BackupRegistry(const std::string& RegistryPath,
                           const std::string& BackupPath,
                           BackupState* state = nullptr);

#endif  // MODREG_REGISTRY_BACKUP_H_
