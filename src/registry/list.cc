#include "registry/list.h"

#include <memory>

RegistryResult ListRegistryFile(const std::string& RegistryPath,
                                std::vector<ModuleEntry>* listed) {
  ByteBuffer text;
  auto doc = std::make_unique<rapidxml::xml_document<char>>();
  rapidxml::xml_node<char>* modules = nullptr;
  RegistryResult result =
      LoadRegistryFile(RegistryPath, &text, doc.get(), &modules, "list");
  if (!result.reason.empty()) return result;
  listed->clear();
  for (auto* node = modules->first_node(); node; node = node->next_sibling()) {
    if (node->first_attribute("path", 4)) listed->push_back(EntryOf(node));
  }
  return result;
}
