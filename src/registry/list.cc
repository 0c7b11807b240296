#include "registry/list.h"

#include <memory>
#include <string_view>

RegistryResult ListRegistryFile(const std::string& RegistryPath,
                                std::vector<ListedChild>* listed) {
  ByteBuffer text;
  std::vector<size_t> line_ends;
  auto doc = std::make_unique<rapidxml::xml_document<char>>();
  rapidxml::xml_node<char>* modules = nullptr;
  RegistryResult result = LoadRegistryFile(RegistryPath, &text, doc.get(),
                                           &modules, "list", nullptr,
                                           &line_ends);
  if (!result.reason.empty()) return result;
  listed->clear();
  std::vector<size_t> offsets;
  for (auto* node = modules->first_node(); node; node = node->next_sibling()) {
    ListedChild child;
    child.is_module = node->type() == rapidxml::node_element &&
                      node->name_size() == 6 &&
                      std::string_view(node->name(), 6) == "Module";
    child.has_path = PathAttribute(node) != nullptr;
    if (!child.has_path && !child.is_module) continue;
    if (child.has_path) child.entry = EntryOf(node);
    listed->push_back(std::move(child));
    offsets.push_back(static_cast<size_t>(node->name() - text.data()));
  }
  const std::vector<size_t> lines = LinesAt(line_ends, offsets);
  for (size_t i = 0; i < lines.size(); ++i) (*listed)[i].line = lines[i];
  return result;
}
