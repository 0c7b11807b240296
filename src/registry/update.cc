#include "registry/update.h"

#include <string_view>

#include "platform/ansi.h"
#include "platform/winpath.h"

namespace registry {

namespace winpath = platform::winpath;

namespace {

using Node = rapidxml::xml_node<char>;

bool SameBytes(const char* a, size_t a_size, const char* b, size_t b_size) {
  return std::string_view(a, a_size) == std::string_view(b, b_size);
}

bool SameChildren(const Node* a, const Node* b);

// The same kind, name, value, attributes in order, and children.
bool SameNode(const Node* a, const Node* b) {
  if (a == b) return true;
  if (a->type() != b->type() ||
      !SameBytes(a->name(), a->name_size(), b->name(), b->name_size()) ||
      !SameBytes(a->value(), a->value_size(), b->value(), b->value_size()))
    return false;
  const auto* x = a->first_attribute();
  const auto* y = b->first_attribute();
  for (; x && y; x = x->next_attribute(), y = y->next_attribute())
    if (!SameBytes(x->name(), x->name_size(), y->name(), y->name_size()) ||
        !SameBytes(x->value(), x->value_size(), y->value(), y->value_size()))
      return false;
  return !x && !y && SameChildren(a, b);
}

bool SameChildren(const Node* a, const Node* b) {
  const Node* x = a->first_node();
  const Node* y = b->first_node();
  for (; x && y; x = x->next_sibling(), y = y->next_sibling())
    if (!SameNode(x, y)) return false;
  return !x && !y;
}

bool SameAsBefore(const Node* modules, const std::vector<const Node*>& before) {
  size_t i = 0;
  for (const Node* node = modules->first_node(); node;
       node = node->next_sibling(), ++i)
    if (i == before.size() || !SameNode(node, before[i])) return false;
  return i == before.size();
}

// Whether |child|, from the first Module element on, holds |folder| in
// its path or lies under |under|, both in the registry's code page |cp|.
bool IsStale(const ModulesChild& child, const std::string& folder,
             const std::string& under, const winpath::CodePage& cp) {
  if (!child.from_first_module || !child.path) return false;
  const std::string_view path(child.path->value(), child.path->value_size());
  if (!folder.empty() && path.find(folder) != path.npos) return true;
  return !under.empty() &&
         winpath::IsUnder(winpath::Normalized(std::string(path), cp), under, cp);
}

}  // namespace

EditOutcome ApplyEdit(const RegistryEdit& edit,
                      rapidxml::xml_document<char>* doc, Node* modules,
                      bool compare) {
  std::vector<const Node*> before;
  if (compare)
    for (Node* node = modules->first_node(); node; node = node->next_sibling())
      before.push_back(node);
  EditOutcome outcome;
  // One walk: the repair's Module elements, and the product's entries.
  size_t chosen = 0, index = 0;
  const winpath::CodePage& cp = platform::AnsiCodePage();
  WalkModules(modules, [&](const ModulesChild& child) {
    const size_t at = index++;
    const bool goes =
        chosen < edit.modules.size() && child.node == edit.modules[chosen];
    if (goes) ++chosen;
    if (!goes && !IsStale(child, edit.ProductFolder, edit.product_dir, cp)) return;
    modules->remove_node(child.node);
    outcome.removed.push_back(child.node);
    outcome.removed_at.push_back(at);
  });
  outcome.rewrite =
      !edit.entries.empty() ||
      (edit.removals_alone_written && !outcome.removed.empty());
  if (!outcome.rewrite) return outcome;
  AppendEntries(doc, modules, edit.entries);
  if (compare) outcome.changed = !SameAsBefore(modules, before);
  return outcome;
}

}  // namespace registry
