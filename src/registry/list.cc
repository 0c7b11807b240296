#include "registry/list.h"

namespace registry {

std::vector<ListedChild> ListDocument(const RegistryDocument& document) {
  std::vector<ListedChild> listed;
  WalkModules(document.modules, [&](const ModulesChild& child) {
    if (!child.path && !child.is_module) return;
    listed.push_back({child.path ? EntryOf(child.node) : ModuleEntry{},
                      child.is_module, child.path != nullptr,
                      LineOf(document, child.node)});
  });
  return listed;
}

}  // namespace registry
