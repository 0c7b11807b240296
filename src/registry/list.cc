#include "registry/list.h"

namespace registry {

std::vector<ListedChild> ListDocument(const RegistryDocument& document) {
  std::vector<ListedChild> listed;
  WalkModules(document.modules, [&](const ModulesChild& child) {
    if (!child.path && !child.is_module) return;
    ListedChild item;
    item.is_module = child.is_module;
    item.has_path = child.path != nullptr;
    if (item.has_path) item.entry = EntryOf(child.node);
    item.line = LineOf(document, child.node);
    listed.push_back(std::move(item));
  });
  return listed;
}

}  // namespace registry
