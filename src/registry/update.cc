#include "registry/update.h"

#include <string_view>

#include "platform/files.h"
#include "platform/lookup.h"
#include "platform/winpath.h"
#include "registry/printer.h"
#include "registry/replace.h"
#include "registry/textmode.h"

namespace {

using Node = rapidxml::xml_node<char>;

bool Contains(const rapidxml::xml_attribute<char>* attribute,
              const std::string& folder) {
  std::string_view value(attribute->value(), attribute->value_size());
  return value.find(folder) != std::string_view::npos;
}

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
  if (!ok) *error = "cannot " + FailedStepText(r) + ": " + *error;
  return ok;
}

// Removes the Module elements of |modules| whose places among them are
// |places| (ascending), adding them to |removed| when given. Returns how
// many went.
size_t RemoveModulesAt(Node* modules, const std::vector<size_t>& places,
                       std::vector<Node*>* removed) {
  size_t place = 0, count = 0;
  Node* node = modules->first_node("Module", 6);
  while (node && count < places.size()) {
    Node* next = node->next_sibling("Module", 6);
    if (node->type() == rapidxml::node_element &&
        places[count] == place++) {
      modules->remove_node(node);
      if (removed) removed->push_back(node);
      ++count;
    }
    node = next;
  }
  return count;
}

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
  std::vector<Node*>* taken = edit.report ? &removed : nullptr;
  size_t count = RemoveModulesAt(modules, edit.modules_at, taken);
  if (!edit.ProductFolder.empty())
    count += RemoveStaleEntries(modules, edit.ProductFolder, taken,
                                edit.ProductDir);
  if (entries.empty() && !(edit.unregister && count > 0)) return;
  AppendEntries(doc, modules, entries);
  for (const Node* node : removed) result->removed.push_back(EntryOf(node));
  result->status = RegistryStatus::kWritten;
  if (edit.dry_run) result->changed = !SameAsBefore(modules, before);
}

}  // namespace

size_t RemoveStaleEntries(Node* modules, const std::string& folder,
                          std::vector<Node*>* removed,
                          const std::string& under) {
  size_t count = 0;
  Node* node = modules->first_node("Module", 6);
  while (node) {
    Node* next = node->next_sibling();
    const auto* path = PathAttribute(node);
    if (path &&
        (Contains(path, folder) ||
         (!under.empty() &&
          winpath::IsUnder(winpath::Normalized(std::string(
                               path->value(), path->value_size())),
                           under)))) {
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

RegistryResult ReadKeptEntries(const std::string& RegistryPath,
                               const RegistryEdit& edit,
                               std::vector<ModuleEntry>* kept,
                               std::vector<size_t>* lines) {
  RegistryDocument document;
  RegistryResult result =
      LoadRegistryFile(RegistryPath, "update", &document, nullptr, true);
  if (!result.reason.empty()) return result;
  RemoveStaleEntries(document.modules, edit.ProductFolder, nullptr,
                     edit.ProductDir);
  for (auto* node = document.modules->first_node("Module", 6); node;
       node = node->next_sibling("Module", 6))
    if (node->type() == rapidxml::node_element && PathAttribute(node)) {
      kept->push_back(EntryOf(node));
      lines->push_back(LineOf(document, node));
    }
  return result;
}

RegistryResult UpdateRegistryFile(const std::string& RegistryPath,
                                  const RegistryEdit& edit) {
  RegistryDocument document;
  ByteBuffer raw;
  RegistryResult result =
      LoadRegistryFile(RegistryPath, edit.dry_run ? "read" : "update",
                       &document, edit.dry_run ? &raw : nullptr);
  if (!result.reason.empty()) return result;
  const rapidxml::xml_document<char>& doc = *document.doc;
  ApplyEdit(edit, edit.entries, document.doc.get(), document.modules, &result);
  if (result.status != RegistryStatus::kWritten) return result;
  PrintHints hints;
  if (result.plain_attributes) {
    hints.plain_begin = document.text.data();
    hints.plain_end = document.text.data() + document.text.size();
  }
  if (edit.dry_run) {
    result.differs = !PrintsAs(doc, hints, raw.data(), raw.size());
    return result;
  }
  std::string error;
  if (!WriteRegistry(RegistryPath, doc, hints, &error))
    return RegistryFailure(RegistryStatus::kCannotWrite,
                           "cannot write " +
                               platform::DisplayName(RegistryPath) + ": " +
                               error + "; the registry is unchanged");
  return result;
}
