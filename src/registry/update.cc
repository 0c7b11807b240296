#include "registry/update.h"

#include <string_view>

#include "platform/ansi.h"
#include "platform/winpath.h"

namespace registry {

namespace winpath = platform::winpath;

namespace {

using Node = rapidxml::xml_node<char>;

// The same name and value, of two nodes or two attributes.
bool SameText(const rapidxml::xml_base<char>* a,
              const rapidxml::xml_base<char>* b) {
  using View = std::string_view;
  return View(a->name(), a->name_size()) == View(b->name(), b->name_size()) &&
         View(a->value(), a->value_size()) == View(b->value(), b->value_size());
}

bool SameChildren(const Node* a, const Node* b);

// The same kind, name, value, attributes in order, and children.
bool SameNode(const Node* a, const Node* b) {
  if (a == b) return true;
  if (a->type() != b->type() || !SameText(a, b)) return false;
  const auto* x = a->first_attribute();
  const auto* y = b->first_attribute();
  for (; x && y; x = x->next_attribute(), y = y->next_attribute())
    if (!SameText(x, y)) return false;
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
  std::vector<const Node*> before;  // with |compare|
  EditOutcome outcome;
  // One walk: the repair's Module elements, and the product's entries.
  size_t chosen = 0, index = 0;
  const winpath::CodePage& cp = platform::AnsiCodePage();
  WalkModules(modules, [&](const ModulesChild& child) {
    const size_t at = index++;
    if (compare) before.push_back(child.node);
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
