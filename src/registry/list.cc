#include "registry/list.h"

#include <memory>
#include <string_view>

RegistryResult ListRegistryFile(const std::string& RegistryPath,
                                std::vector<ModuleEntry>* listed,
                                std::vector<bool>* is_module) {
  ByteBuffer text;
  auto doc = std::make_unique<rapidxml::xml_document<char>>();
  rapidxml::xml_node<char>* modules = nullptr;
  RegistryResult result =
      LoadRegistryFile(RegistryPath, &text, doc.get(), &modules, "list");
  if (!result.reason.empty()) return result;
  listed->clear();
  for (auto* node = modules->first_node(); node; node = node->next_sibling()) {
    if (!node->first_attribute("path", 4)) continue;
    listed->push_back(EntryOf(node));
    if (is_module)
      is_module->push_back(node->type() == rapidxml::node_element &&
                           node->name_size() == 6 &&
                           std::string_view(node->name(), 6) == "Module");
  }
  return result;
}
