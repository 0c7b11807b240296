#include "registry/module_entry.h"

#include <string_view>

namespace registry {

namespace {

using Node = rapidxml::xml_node<char>;

constexpr std::string_view kModule = "Module";
constexpr std::string_view kPath = "path";
constexpr std::string_view kConfigDir = "configDir";

}  // namespace

bool IsModuleElement(const Node* node) {
  return node->type() == rapidxml::node_element &&
         std::string_view(node->name(), node->name_size()) == kModule;
}

const rapidxml::xml_attribute<char>* PathAttribute(const Node* node) {
  return node->first_attribute(kPath.data(), kPath.size());
}

ModuleEntry EntryOf(const Node* node) {
  ModuleEntry entry;
  const auto* path = PathAttribute(node);
  entry.path.assign(path->value(), path->value_size());
  if (const auto* dir =
          node->first_attribute(kConfigDir.data(), kConfigDir.size())) {
    entry.configDir.assign(dir->value(), dir->value_size());
    entry.hasConfigDir = true;
  }
  return entry;
}

void AppendEntries(rapidxml::xml_document<char>* doc, Node* modules,
                   const std::vector<ModuleEntry>& entries) {
  for (const ModuleEntry& entry : entries) {
    Node* module = doc->allocate_node(rapidxml::node_element, kModule.data(),
                                      nullptr, kModule.size(), 0);
    module->append_attribute(doc->allocate_attribute(
        kPath.data(), entry.path.c_str(), kPath.size(), entry.path.size()));
    if (entry.hasConfigDir)
      module->append_attribute(doc->allocate_attribute(
          kConfigDir.data(), entry.configDir.c_str(), kConfigDir.size(),
          entry.configDir.size()));
    modules->append_node(module);
  }
}

}  // namespace registry
