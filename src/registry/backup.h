// The registry's one-time backup, modules.xml.old, within a transaction
// (transaction.h): prepared from the registry's bytes as they are read,
// named once the registry was read whole, or dropped. Whole or absent,
// never replacing a file that is there.
#ifndef MODREG_REGISTRY_BACKUP_H_
#define MODREG_REGISTRY_BACKUP_H_

#include <optional>

namespace registry {

struct RegistryTransaction;
struct BackupFailure;

// Begins the backup's temporary file, when nothing is at the backup's
// name: it then takes the registry's bytes as they are read.
void PrepareBackup(RegistryTransaction* t);

// Drops the prepared backup: a pass that writes nothing leaves no file.
void DropBackup(RegistryTransaction* t);

// Gives the prepared backup its name, when the registry was read whole
// and nothing is there yet; else drops it. Returns, when the registry
// exists and no backup could be made, why not; otherwise nothing.
std::optional<BackupFailure> KeepBackup(RegistryTransaction* t);

}  // namespace registry

#endif  // MODREG_REGISTRY_BACKUP_H_
