#include "registry/site.h"

#include "registry/replace.h"

namespace registry {

RegistrySite SiteOf(const std::string& framework_dir,
                    const std::string& undo_id) {
  RegistrySite site;
  site.folder = framework_dir + "\\Data";
  site.RegistryPath = site.folder + "\\modules.xml";
  site.BackupPath = site.RegistryPath + ".old";
  if (!undo_id.empty())
    site.undo_record = site.folder + "\\" + kUndoPrefix + undo_id;
  return site;
}

std::vector<std::string> SiteFiles(const RegistrySite& site) {
  // Without an ID, a record's name as a log might take it: the prefix.
  const std::string record =
      site.undo_record.empty() ? site.folder + "\\" + kUndoPrefix
                               : site.undo_record;
  std::vector<std::string> files;
  for (const std::string& name : {site.RegistryPath, site.BackupPath, record})
    files.insert(files.end(), {name, TempPathFor(name)});
  files.push_back(site.folder + "\\" + kLockFileName);
  return files;
}

}  // namespace registry
