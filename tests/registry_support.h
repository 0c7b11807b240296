// Helpers shared by the tests and the fuzzer that look at a parsed or
// printed registry.
#ifndef MODREG_TESTS_REGISTRY_SUPPORT_H_
#define MODREG_TESTS_REGISTRY_SUPPORT_H_

#include <rapidxml.hpp>

#include <algorithm>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "registry/printer.h"
#include "registry/scan.h"
#include "registry/textmode.h"
#include "registry/update.h"

using namespace registry;

// The bytes of a file as the tool hands them to EditRegistry; empty for
// a file with no text.
inline ByteBuffer RegistryText(std::string_view file) {
  ByteBuffer text;
  text.reserve(file.size() + 1);  // as the file reader leaves it
  text.assign(file.begin(), file.end());
  PrepareRegistryText(&text);
  return text;
}

// The same as the tool's file reader makes it, in parts of |part| bytes,
// each folded and walked by the pre-parse scan as it arrives; |scanned|
// is how far the scan got.
inline ByteBuffer RegistryTextInParts(std::string_view file, size_t part,
                                      ScanProgress* scanned) {
  ByteBuffer text(file.size() + 2);
  TextFold fold;
  size_t kept = 0;
  for (size_t read = 0; read < file.size(); read += part) {
    size_t n = std::min(part, file.size() - read);
    file.copy(text.data() + kept, n, read);
    kept = FoldMore(&fold, text.data(), kept, kept + n);
    text[kept] = '\0';
    ScanAhead(scanned, text.data(), kept);
  }
  text.resize(kept);
  if (!text.empty()) text.push_back('\0');
  return text;
}

// The document as the tool writes it. |ok| reports the writer's result.
inline std::string PrintToString(const rapidxml::xml_document<char>& doc,
                                 bool* ok,
                                 const PrintHints& hints = PrintHints{}) {
  std::string printed;
  TextOutput out;
  InitTextOutput(&out, [&printed](const char* data, size_t size) {
    printed.append(data, size);
    return true;
  });
  PrintDocument(doc, &out, hints);
  *ok = FinishTextOutput(&out);
  return printed;
}

// How deep elements nest below |parent|, counted without recursion.
inline size_t ElementDepth(const rapidxml::xml_node<char>* parent) {
  size_t deepest = 0;
  std::vector<std::pair<const rapidxml::xml_node<char>*, size_t>> todo;
  for (auto* n = parent->first_node(); n; n = n->next_sibling())
    todo.push_back({n, 1});
  while (!todo.empty()) {
    auto [node, depth] = todo.back();
    todo.pop_back();
    if (node->type() != rapidxml::node_element) continue;
    deepest = std::max(deepest, depth);
    for (auto* n = node->first_node(); n; n = n->next_sibling())
      todo.push_back({n, depth + 1});
  }
  return deepest;
}

#endif  // MODREG_TESTS_REGISTRY_SUPPORT_H_
