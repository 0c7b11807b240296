#include "registry/list.h"

#include <string_view>

RegistryResult ListRegistryFile(const std::string& RegistryPath,
                                std::vector<ListedChild>* listed) {
  RegistryDocument document;
  RegistryResult result =
      LoadRegistryFile(RegistryPath, "list", &document, nullptr, true);
  if (!result.reason.empty()) return result;
  listed->clear();
  for (auto* node = document.modules->first_node(); node;
       node = node->next_sibling()) {
    ListedChild child;
    child.is_module = node->type() == rapidxml::node_element &&
                      node->name_size() == 6 &&
                      std::string_view(node->name(), 6) == "Module";
    child.has_path = PathAttribute(node) != nullptr;
    if (!child.has_path && !child.is_module) continue;
    if (child.has_path) child.entry = EntryOf(node);
    child.line = LineOf(document, node);
    listed->push_back(std::move(child));
  }
  return result;
}
