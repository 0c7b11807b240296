// Helpers shared by the tests and the fuzzer that look at a parsed or
// printed registry.
#ifndef MODREG_TESTS_REGISTRY_SUPPORT_H_
#define MODREG_TESTS_REGISTRY_SUPPORT_H_

#include <rapidxml.hpp>

#include <algorithm>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "registry/printer.h"
#include "registry/scan.h"
#include "registry/textmode.h"
#include "registry/update.h"

namespace registry {

// A registration's edit on |text| (as PrepareRegistryText leaves it), as
// the tool makes it on the registry it loaded: parsed in place
// (ParseRegistry), then the edit a registration plans (run/write.cc),
// the entries holding |product_folder| out and |entries| appended, applied
// by ApplyEdit. kWritten means that |doc| holds the document the tool
// writes; kUnchanged that the tool would leave the file as it is. |doc|
// keeps pointers into |text|. |scanned| is the part of the text the
// pre-parse scan walked while it was read.
inline RegistryResult EditRegistry(ByteBuffer* text,
                                   const std::string& product_folder,
                                   const std::vector<ModuleEntry>& entries,
                                   rapidxml::xml_document<char>* doc,
                                   const ScanProgress& scanned = ScanProgress{}) {
  rapidxml::xml_node<char>* modules = nullptr;
  RegistryResult result = ParseRegistry(text, scanned, doc, &modules);
  if (!result.reason.empty()) return result;  // as LoadRegistry fails
  RegistryEdit edit;
  edit.ProductFolder = product_folder;
  edit.entries = entries;
  edit.removals_alone_written = false;  // a registration's
  const EditOutcome outcome = ApplyEdit(edit, doc, modules);
  // The appended elements point into |edit|, which ends here: their
  // values, as the edit left them, go into the document's own memory.
  const auto within = [](const char* p, const char* begin, size_t size) {
    return std::less_equal<const char*>()(begin, p) &&
           std::less_equal<const char*>()(p, begin + size);
  };
  for (auto* node = modules->first_node(); node; node = node->next_sibling())
    for (auto* a = node->first_attribute(); a; a = a->next_attribute()) {
      const char* value = a->value();
      if (within(value, text->data(), text->size())) continue;  // parsed
      if (std::none_of(edit.entries.begin(), edit.entries.end(),
                       [&](const ModuleEntry& e) {
                         return within(value, e.path.data(), e.path.size()) ||
                                within(value, e.configDir.data(),
                                       e.configDir.size());
                       }))
        continue;
      const size_t size = a->value_size();
      char* copy = doc->allocate_string(nullptr, size + 1);
      std::copy(value, value + size, copy);
      copy[size] = '\0';
      a->value(copy, size);
    }
  if (outcome.rewrite) result.status = RegistryStatus::kWritten;
  return result;
}

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

}  // namespace registry

#endif  // MODREG_TESTS_REGISTRY_SUPPORT_H_
