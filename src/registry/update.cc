#include "registry/update.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string_view>

#include "platform/faults.h"
#include "platform/platform.h"
#include "platform/winpath.h"
#include "registry/printer.h"
#include "registry/reader.h"
#include "registry/replace.h"
#include "registry/scan.h"
#include "registry/textmode.h"

namespace {

using Node = rapidxml::xml_node<char>;

bool Contains(const rapidxml::xml_attribute<char>* attribute,
              const std::string& folder) {
  std::string_view value(attribute->value(), attribute->value_size());
  return value.find(folder) != std::string_view::npos;
}

RegistryResult Failure(RegistryStatus status, std::string reason) {
  RegistryResult result;
  result.status = status;
  result.reason = std::move(reason);
  return result;
}

// Reads the registry into the text EditRegistry takes, as
// PrepareRegistryText leaves it; each part is folded and walked by the
// pre-parse scan as it arrives, while it is in the cache. With |raw|, the
// parts are kept there as they were read, too.
RegistryResult ReadRegistry(const std::string& path, const char* doing,
                            ByteBuffer* text, ScanProgress* scan,
                            ByteBuffer* raw) {
  TextFold fold;
  if (raw) raw->clear();
  auto take = [&](char* data, size_t from, size_t end) {
    if (raw) raw->insert(raw->end(), data + from, data + end);
    size_t size = FoldMore(&fold, data, from, end);
    data[size] = '\0';
    ScanAhead(scan, data, size);
    return size;
  };
  std::string error;
  std::optional<bool> fault = faults::Intercept("read", &error);
  if (fault ? !*fault : !platform::ReadWholeFile(path, text, &error, take))
    return Failure(RegistryStatus::kCannotRead,
                   "cannot read " + platform::DisplayName(path) + ": " + error);
  if (text->empty())
    return Failure(RegistryStatus::kMalformed,
                   std::string("cannot ") + doing + " " +
                       platform::DisplayName(path) + ": the file is empty");
  text->push_back('\0');
  return RegistryResult{};
}

// Checks and parses |text| into |doc| and finds its Modules element.
// |scanned| is the part of the text the pre-parse scan walked already.
RegistryResult ParseRegistry(ByteBuffer* text, const ScanProgress& scanned,
                             rapidxml::xml_document<char>* doc,
                             Node** modules) {
  if (text->empty())  // no text, not even its terminator
    return Failure(RegistryStatus::kMalformed, "the file is empty");
  const size_t size = text->size() - 1;  // without the terminating NUL
  // Saved so by Notepad's "Unicode": every other byte is a NUL.
  if (size >= 2 && (memcmp(text->data(), "\xFF\xFE", 2) == 0 ||
                    memcmp(text->data(), "\xFE\xFF", 2) == 0))
    return Failure(RegistryStatus::kMalformed,
                   "the file is UTF-16 text (it begins with a UTF-16 "
                   "byte-order mark), which the framework cannot read; save "
                   "it as UTF-8");
  ScanProgress scan = scanned;
  if (auto issue = FinishScan(&scan, text->data(), size))
    return Failure(RegistryStatus::kMalformed,
                   issue->reason + " at " +
                       DescribePosition(text->data(), issue->offset));
  try {
    doc->parse<0>(text->data());
  } catch (const rapidxml::parse_error& e) {
    RegistryResult result = Failure(RegistryStatus::kMalformed,
                                    std::string("malformed XML: ") + e.what());
    result.parse_offset = static_cast<size_t>(e.where<char>() - text->data());
    return result;
  }
  if (std::optional<ReaderRefusal> refusal = FindReaderRefusal(doc)) {
    RegistryResult result = Failure(
        RegistryStatus::kMalformed,
        "the framework's XML reader refuses it: " + refusal->reason);
    result.parse_offset = static_cast<size_t>(refusal->at - text->data());
    return result;
  }
  *modules = doc->first_node("Modules", 7);
  if (!*modules || (*modules)->type() != rapidxml::node_element)
    return Failure(RegistryStatus::kMalformed, "no top-level Modules element");
  RegistryResult result;
  result.plain_attributes = !scan.escapes;
  return result;
}

bool Same(const char* a, size_t a_size, const char* b, size_t b_size) {
  return std::string_view(a, a_size) == std::string_view(b, b_size);
}

bool SameChildren(const Node* a, const Node* b);

// The same kind, name, value, attributes in order, and children.
bool SameNode(const Node* a, const Node* b) {
  if (a == b) return true;
  if (a->type() != b->type() ||
      !Same(a->name(), a->name_size(), b->name(), b->name_size()) ||
      !Same(a->value(), a->value_size(), b->value(), b->value_size()))
    return false;
  const auto* x = a->first_attribute();
  const auto* y = b->first_attribute();
  for (; x && y; x = x->next_attribute(), y = y->next_attribute())
    if (!Same(x->name(), x->name_size(), y->name(), y->name_size()) ||
        !Same(x->value(), x->value_size(), y->value(), y->value_size()))
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

// Where a parse error lies, told from a fresh read of the file: the
// parser has changed the text in place.
std::string ParseErrorPosition(const std::string& path, size_t offset) {
  ByteBuffer text;
  std::string error;
  if (!platform::ReadWholeFile(path, &text, &error))
    return "byte " + std::to_string(offset);
  FoldTextMode(&text);
  if (offset > text.size()) offset = text.size();
  return DescribePosition(text.data(), offset);
}

bool WriteRegistry(const std::string& registry,
                   const rapidxml::xml_document<char>& doc,
                   const PrintHints& hints, std::string* error) {
  // A registry that is a link: the file it leads to is replaced, from a
  // temporary file beside it, and the link stays.
  std::string path;
  if (!platform::ReplacedFile(registry, &path, error)) {
    *error = "cannot replace " + registry + ": " + *error;
    return false;
  }
  Replacement r;
  bool ok = BeginReplace(path, path, ReplaceMode::kReplace, &r, error);
  if (ok) {
    TextOutput out;
    InitTextOutput(&out, [&](const char* data, size_t size) {
      return WriteReplace(&r, data, size, error);
    });
    try {
      PrintDocument(doc, &out, hints);
    } catch (...) {
      RollBackReplace(&r);
      throw;
    }
    ok = FinishTextOutput(&out) && CommitReplace(&r, error);
  }
  RollBackReplace(&r);
  if (!ok) *error = "cannot " + r.failed + ": " + *error;
  return ok;
}

}  // namespace

std::vector<size_t> LineEnds(const ByteBuffer& text) {
  std::vector<size_t> ends;
  if (text.empty()) return ends;  // no data() to search
  const char* begin = text.data();
  const char* end = begin + text.size();
  for (const char* at = begin;
       (at = static_cast<const char*>(memchr(at, '\n', end - at))); ++at)
    ends.push_back(static_cast<size_t>(at - begin));
  return ends;
}

std::vector<size_t> LinesAt(const std::vector<size_t>& line_ends,
                            const std::vector<size_t>& offsets) {
  std::vector<size_t> lines;
  for (size_t offset : offsets)
    lines.push_back(1 + static_cast<size_t>(
                            std::lower_bound(line_ends.begin(),
                                             line_ends.end(), offset) -
                            line_ends.begin()));
  return lines;
}

ModuleEntry EntryOf(const Node* node) {
  ModuleEntry entry;
  const auto* path = node->first_attribute("path", 4);
  entry.path.assign(path->value(), path->value_size());
  if (const auto* dir = node->first_attribute("configDir", 9)) {
    entry.configDir.assign(dir->value(), dir->value_size());
    entry.hasConfigDir = true;
  }
  return entry;
}

size_t RemoveStaleEntries(Node* modules, const std::string& folder,
                          std::vector<Node*>* removed,
                          const std::string& under) {
  size_t count = 0;
  Node* node = modules->first_node("Module", 6);
  while (node) {
    Node* next = node->next_sibling();
    const auto* path = node->first_attribute("path", 4);
    if (path && (Contains(path, folder) ||
                 winpath::IsUnder({path->value(), path->value_size()}, under))) {
      modules->remove_node(node);
      ++count;
      if (removed) removed->push_back(node);
    }
    node = next;
  }
  return count;
}

void AppendEntries(rapidxml::xml_document<char>* doc, Node* modules,
                   const std::vector<ModuleEntry>& entries) {
  for (const ModuleEntry& entry : entries) {
    Node* module = doc->allocate_node(rapidxml::node_element, "Module",
                                      nullptr, 6, 0);
    module->append_attribute(doc->allocate_attribute(
        "path", entry.path.c_str(), 4, entry.path.size()));
    if (entry.hasConfigDir)
      module->append_attribute(doc->allocate_attribute(
          "configDir", entry.configDir.c_str(), 9, entry.configDir.size()));
    modules->append_node(module);
  }
}

namespace {

// Removes the product's stale entries from |modules| and appends
// |entries| (|edit|'s own, or the caller's: |doc| points into them). The
// document is to be written (kWritten) when there are entries to append,
// or for an unregistration when one was removed; otherwise the removals
// are not saved. A dry run also tells whether the children of Modules
// changed.
void ApplyEdit(const RegistryEdit& edit,
               const std::vector<ModuleEntry>& entries,
               rapidxml::xml_document<char>* doc, Node* modules,
               RegistryResult* result) {
  std::vector<const Node*> before;
  if (edit.dry_run)
    for (Node* node = modules->first_node(); node; node = node->next_sibling())
      before.push_back(node);
  std::vector<Node*> removed;
  size_t count = RemoveStaleEntries(modules, edit.ProductFolder,
                                    edit.report ? &removed : nullptr,
                                    edit.ProductDir);
  if (entries.empty() && !(edit.unregister && count > 0)) return;
  AppendEntries(doc, modules, entries);
  for (const Node* node : removed) result->removed.push_back(EntryOf(node));
  result->status = RegistryStatus::kWritten;
  if (edit.dry_run) result->changed = !SameAsBefore(modules, before);
}

}  // namespace

bool PrepareRegistryText(ByteBuffer* bytes) {
  FoldTextMode(bytes);
  if (bytes->empty()) return false;
  bytes->push_back('\0');
  return true;
}

RegistryResult EditRegistry(ByteBuffer* text,
                            const std::string& ProductFolder,
                            const std::vector<ModuleEntry>& entries,
                            rapidxml::xml_document<char>* doc,
                            const ScanProgress& scanned) {
  Node* modules = nullptr;
  RegistryResult result = ParseRegistry(text, scanned, doc, &modules);
  if (result.status != RegistryStatus::kUnchanged) return result;
  RegistryEdit edit;
  edit.ProductFolder = ProductFolder;
  ApplyEdit(edit, entries, doc, modules, &result);
  return result;
}

RegistryResult LoadRegistryFile(const std::string& RegistryPath,
                                ByteBuffer* text,
                                rapidxml::xml_document<char>* doc,
                                Node** modules, const char* doing,
                                ByteBuffer* raw,
                                std::vector<size_t>* line_ends) {
  ScanProgress scanned;
  RegistryResult result =
      ReadRegistry(RegistryPath, doing, text, &scanned, raw);
  if (!result.reason.empty()) return result;
  if (line_ends) *line_ends = LineEnds(*text);
  result = ParseRegistry(text, scanned, doc, modules);
  if (result.status == RegistryStatus::kMalformed) {
    result.reason = std::string("cannot ") + doing + " " +
                    platform::DisplayName(RegistryPath) + ": " + result.reason;
    if (result.parse_offset)
      result.reason +=
          " at " + ParseErrorPosition(RegistryPath, *result.parse_offset);
  }
  return result;
}

RegistryResult UpdateRegistryFile(const std::string& RegistryPath,
                                  const RegistryEdit& edit) {
  ByteBuffer text, raw;
  auto doc = std::make_unique<rapidxml::xml_document<char>>();
  Node* modules = nullptr;
  RegistryResult result =
      LoadRegistryFile(RegistryPath, &text, doc.get(), &modules,
                       edit.dry_run ? "read" : "update",
                       edit.dry_run ? &raw : nullptr);
  if (!result.reason.empty()) return result;
  ApplyEdit(edit, edit.entries, doc.get(), modules, &result);
  if (result.status != RegistryStatus::kWritten) return result;
  PrintHints hints;
  if (result.plain_attributes) {
    hints.plain_begin = text.data();
    hints.plain_end = text.data() + text.size();
  }
  if (edit.dry_run) {
    result.differs = !PrintsAs(*doc, hints, raw.data(), raw.size());
    return result;
  }
  std::string error;
  if (!WriteRegistry(RegistryPath, *doc, hints, &error))
    return Failure(RegistryStatus::kCannotWrite,
                   "cannot write " + platform::DisplayName(RegistryPath) +
                       ": " + error + "; the registry is unchanged");
  return result;
}

RegistryResult UpdateRegistryFile(const std::string& RegistryPath,
                                  const std::string& ProductFolder,
                                  const std::vector<ModuleEntry>& entries) {
  RegistryEdit edit;
  edit.ProductFolder = ProductFolder;
  edit.entries = entries;
  return UpdateRegistryFile(RegistryPath, edit);
}
