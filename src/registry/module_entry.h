// One module as the registry holds it: what the update appends, and what
// it reports as removed or listed.
#ifndef MODREG_REGISTRY_MODULE_ENTRY_H_
#define MODREG_REGISTRY_MODULE_ENTRY_H_

#include <string>

namespace registry {

struct ModuleEntry {
  std::string path;       // full path of the module library
  std::string configDir;  // full path of its configuration directory
  bool hasConfigDir = false;
};

}  // namespace registry

#endif  // MODREG_REGISTRY_MODULE_ENTRY_H_
