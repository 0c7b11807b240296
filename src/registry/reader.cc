#include "registry/reader.h"

#include <algorithm>
#include <string_view>
#include <utility>
#include <vector>

namespace registry {

namespace {

using Node = rapidxml::xml_node<char>;

// The reader's isalpha and isalnum (C locale), with every byte from 128 up
// taken as a letter: 1 a name may begin with, 2 it may go on with.
struct NameTable {
  unsigned char kind[256] = {};
  constexpr NameTable() {
    for (int c = 0; c < 256; ++c) {
      const bool starts = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                          c == '_' || c >= 128;
      const bool goes_on = starts || (c >= '0' && c <= '9') || c == '-' ||
                           c == '.' || c == ':';
      kind[c] = static_cast<unsigned char>((starts ? 1 : 0) | (goes_on ? 2 : 0));
    }
  }
};
constexpr NameTable kNames;

bool Starts(char c) { return kNames.kind[static_cast<unsigned char>(c)] & 1; }

bool GoesOn(std::string_view name) {
  for (char c : name)
    if (!(kNames.kind[static_cast<unsigned char>(c)] & 2)) return false;
  return true;
}

bool IsName(std::string_view name) {
  return !name.empty() && Starts(name[0]) && GoesOn(name);
}

// The index of the first of |names| that repeats an earlier one, or 0.
size_t RepeatedName(const std::vector<std::string_view>& names) {
  const size_t n = names.size();
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

std::optional<ReaderRefusal> CheckElement(const Node* node,
                                          std::vector<std::string_view>* names) {
  const std::string_view name(node->name(), node->name_size());
  if (!name.empty() && Starts(name[0]) && !GoesOn(name))
    return ReaderRefusal{node->name(), "element name \"" + std::string(name) +
                                           "\" holds a character a name "
                                           "cannot"};
  if (!IsName(name) && node->first_node())
    return ReaderRefusal{node->name(),
                         "element name \"" + std::string(name) +
                             "\" does not begin as a name, and the element "
                             "is not empty"};
  names->clear();
  for (const auto* a = node->first_attribute(); a; a = a->next_attribute()) {
    const std::string_view attribute(a->name(), a->name_size());
    if (!IsName(attribute))
      return ReaderRefusal{a->name(), "attribute name \"" +
                                          std::string(attribute) +
                                          "\" is not a name"};
    names->push_back(attribute);
  }
  // Each name views the attribute's own name in the parsed text.
  if (const size_t at = RepeatedName(*names)) {
    const std::string_view twice = (*names)[at];
    return ReaderRefusal{twice.data(), "attribute \"" + std::string(twice) +
                                           "\" given twice in one element"};
  }
  return std::nullopt;
}

}  // namespace

std::optional<ReaderRefusal> FindReaderRefusal(const Node* root) {
  std::vector<std::string_view> names;
  const Node* node = root;
  while (node) {
    if (node->type() == rapidxml::node_element)
      if (auto refusal = CheckElement(node, &names)) return refusal;
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
