#include "registry/list.h"

namespace registry {

std::vector<CheckedModule> ListDocument(const RegistryDocument& document,
                                        int bits) {
  std::vector<CheckedModule> modules = CheckDocument(document, bits), listed;
  size_t next = 0;
  // Module elements are checked together, as the framework loads them;
  // other children each on its own, for its files only.
  WalkModules(document.modules, [&](const ModulesChild& child) {
    if (child.is_module)
      listed.push_back(std::move(modules[next++]));
    else if (child.path)
      listed.push_back(CheckEntries({EntryOf(child.node)}, bits)[0]);
  });
  return listed;
}

}  // namespace registry
