// The registry's site: its folder and the files the tool keeps there,
// named once, from the framework's folder and the ID of an undo record.
#ifndef MODREG_REGISTRY_SITE_H_
#define MODREG_REGISTRY_SITE_H_

#include <string>
#include <vector>

namespace registry {

// The lock file's name in the registry's folder (platform/lock.h).
constexpr char kLockFileName[] = "modules.xml.lock";

// An undo record's file name in the registry's folder: this and the ID.
constexpr char kUndoPrefix[] = "modules.xml.undo-";

struct RegistrySite {
  std::string folder;        // FRAMEWORK\Data: the folder the lock guards
  std::string RegistryPath;  // folder\modules.xml
  std::string BackupPath;    // folder\modules.xml.old
  std::string undo_record;   // folder\modules.xml.undo-ID; empty without ID
};

// Returns the site of the framework in |framework_dir| (no trailing
// backslash), with the undo record of |undo_id| when it is not empty.
RegistrySite SiteOf(const std::string& framework_dir,
                    const std::string& undo_id);

// Returns every file the tool makes or replaces at |site|: the registry,
// its backup, the undo record, the temporary file of each, and the lock
// file.
std::vector<std::string> SiteFiles(const RegistrySite& site);

}  // namespace registry

#endif  // MODREG_REGISTRY_SITE_H_
