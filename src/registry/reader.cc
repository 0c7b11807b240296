#include "registry/reader.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace registry {

namespace {

using Node = rapidxml::xml_node<char>;

ReaderRefusal Describe(ReaderRule rule, std::string_view refused) {
  const char* at = refused.data();
  const std::string name(refused);
  switch (rule) {
    case ReaderRule::kElementNameChar:
      return {at, "element name \"" + name + "\" holds a character a name cannot"};
    case ReaderRule::kUnknownNotEmpty:
      return {at, "element name \"" + name +
                      "\" does not begin as a name, and the element is not empty"};
    case ReaderRule::kAttributeName:
      return {at, "attribute name \"" + name + "\" is not a name"};
    case ReaderRule::kNone:
    case ReaderRule::kAttributeTwice:
      break;
  }
  return {at, "attribute \"" + name + "\" given twice in one element"};
}

// The first refusal of |node|'s own, if any.
std::optional<ReaderRefusal> CheckElement(const Node* node,
                                          std::vector<std::string_view>* names) {
  const std::string_view name(node->name(), node->name_size());
  if (!name.empty() && ReaderNameStarts(name[0]) && !ReaderNameGoesOn(name))
    return Describe(ReaderRule::kElementNameChar, name);
  if (!IsReaderName(name) && node->first_node())
    return Describe(ReaderRule::kUnknownNotEmpty, name);
  names->clear();
  for (const auto* a = node->first_attribute(); a; a = a->next_attribute()) {
    const std::string_view attribute(a->name(), a->name_size());
    if (!IsReaderName(attribute))
      return Describe(ReaderRule::kAttributeName, attribute);
    names->push_back(attribute);
  }
  // Each name views the attribute's own name in the parsed text.
  if (const size_t at = RepeatedName(names->data(), names->size()))
    return Describe(ReaderRule::kAttributeTwice, (*names)[at]);
  return std::nullopt;
}

}  // namespace

size_t RepeatedName(const std::string_view* names, size_t n) {
  if (n <= 16) {
    for (size_t i = 1; i < n; ++i)
      for (size_t j = 0; j < i; ++j)
        if (names[i] == names[j]) return i;
    return 0;
  }
  // Many attributes: sorted by name, then position, each name equal to
  // the one before it is a repeat; the first in the text is wanted.
  std::vector<std::pair<std::string_view, size_t>> sorted;
  sorted.reserve(n);
  for (size_t i = 0; i < n; ++i) sorted.push_back({names[i], i});
  std::sort(sorted.begin(), sorted.end());
  size_t first = 0;
  for (size_t i = 1; i < n; ++i)
    if (sorted[i].first == sorted[i - 1].first &&
        (first == 0 || sorted[i].second < first))
      first = sorted[i].second;
  return first;
}

std::optional<ReaderRefusal> RefusalOf(const ReaderFinding& finding,
                                       const char* text) {
  if (finding.rule == ReaderRule::kNone) return std::nullopt;
  return Describe(finding.rule, {text + finding.offset, finding.size});
}

std::optional<ReaderRefusal> FindReaderRefusal(const Node* root) {
  std::vector<std::string_view> names;
  const Node* node = root;
  while (node) {
    if (node->type() == rapidxml::node_element)
      if (std::optional<ReaderRefusal> refused = CheckElement(node, &names))
        return refused;
    // Depth first, without recursion.
    if (node->first_node()) {
      node = node->first_node();
      continue;
    }
    while (node != root && !node->next_sibling()) node = node->parent();
    node = node != root ? node->next_sibling() : nullptr;
  }
  return std::nullopt;
}

}  // namespace registry
