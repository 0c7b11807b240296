#include "registry/update.h"

#include <memory>
#include <string_view>

#include "platform/platform.h"
#include "registry/printer.h"
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
// pre-parse scan as it arrives, while it is in the cache.
RegistryResult ReadRegistry(const std::string& path, ByteBuffer* text,
                            ScanProgress* scan) {
  TextFold fold;
  auto take = [&](char* data, size_t from, size_t end) {
    size_t size = FoldMore(&fold, data, from, end);
    data[size] = '\0';
    ScanAhead(scan, data, size);
    return size;
  };
  std::string error;
  if (!platform::ReadWholeFile(path, text, &error, take))
    return Failure(RegistryStatus::kCannotRead,
                   "cannot read " + path + ": " + error);
  if (text->empty())
    return Failure(RegistryStatus::kMalformed,
                   "cannot update " + path + ": the file is empty");
  text->push_back('\0');
  return RegistryResult{};
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

bool WriteRegistry(const std::string& path,
                   const rapidxml::xml_document<char>& doc,
                   const PrintHints& hints, std::string* error) {
  const std::string temp = RegistryTempPath(path);
  platform::OutputFile file;
  if (!platform::CreateOutput(temp, &file, error)) {
    *error = "cannot create " + temp + ": " + *error;
    return false;
  }
  TextOutput out;
  std::string write_error;
  InitTextOutput(&out, [&](const char* data, size_t size) {
    return platform::WriteOutput(&file, data, size, &write_error);
  });
  try {
    PrintDocument(doc, &out, hints);
  } catch (...) {
    std::string ignored;
    platform::CloseOutput(&file, &ignored);
    platform::RemoveFile(temp);
    throw;
  }
  bool ok = FinishTextOutput(&out);
  if (!ok) *error = "cannot write " + temp + ": " + write_error;
  if (ok && !platform::FlushOutput(&file, error)) {
    *error = "cannot flush " + temp + ": " + *error;
    ok = false;
  }
  std::string close_error;
  if (!platform::CloseOutput(&file, &close_error) && ok) {
    *error = "cannot close " + temp + ": " + close_error;
    ok = false;
  }
  if (ok && !platform::ReplaceByRename(temp, path, error)) {
    *error = "cannot rename " + temp + " to " + path + ": " + *error;
    ok = false;
  }
  if (!ok) platform::RemoveFile(temp);
  return ok;
}

}  // namespace

void RemoveStaleEntries(Node* modules, const std::string& folder) {
  Node* node = modules->first_node("Module", 6);
  while (node) {
    Node* next = node->next_sibling();
    const auto* path = node->first_attribute("path", 4);
    if (path && Contains(path, folder)) modules->remove_node(node);
    node = next;
  }
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

bool PrepareRegistryText(ByteBuffer* bytes) {
  FoldTextMode(bytes);
  if (bytes->empty()) return false;
  bytes->push_back('\0');
  return true;
}

std::string RegistryTempPath(const std::string& RegistryPath) {
  return RegistryPath + ".tmp";
}

RegistryResult EditRegistry(ByteBuffer* text,
                            const std::string& ProductFolder,
                            const std::vector<ModuleEntry>& entries,
                            rapidxml::xml_document<char>* doc,
                            const ScanProgress& scanned) {
  if (text->empty())  // no text, not even its terminator
    return Failure(RegistryStatus::kMalformed, "the file is empty");
  const size_t size = text->size() - 1;  // without the terminating NUL
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
  Node* modules = doc->first_node("Modules", 7);
  if (!modules || modules->type() != rapidxml::node_element)
    return Failure(RegistryStatus::kMalformed, "no top-level Modules element");
  RemoveStaleEntries(modules, ProductFolder);
  if (entries.empty()) return RegistryResult{};
  AppendEntries(doc, modules, entries);
  RegistryResult result;
  result.status = RegistryStatus::kWritten;
  result.plain_attributes = !scan.escapes;
  return result;
}

RegistryResult UpdateRegistryFile(const std::string& RegistryPath,
                                  const std::string& ProductFolder,
                                  const std::vector<ModuleEntry>& entries) {
  ByteBuffer text;
  ScanProgress scanned;
  RegistryResult result = ReadRegistry(RegistryPath, &text, &scanned);
  if (!result.reason.empty()) return result;
  auto doc = std::make_unique<rapidxml::xml_document<char>>();
  result = EditRegistry(&text, ProductFolder, entries, doc.get(), scanned);
  if (result.status == RegistryStatus::kMalformed) {
    result.reason = "cannot update " + RegistryPath + ": " + result.reason;
    if (result.parse_offset)
      result.reason +=
          " at " + ParseErrorPosition(RegistryPath, *result.parse_offset);
    return result;
  }
  if (result.status != RegistryStatus::kWritten) return result;
  PrintHints hints;
  if (result.plain_attributes) {
    hints.plain_begin = text.data();
    hints.plain_end = text.data() + text.size();
  }
  std::string error;
  if (!WriteRegistry(RegistryPath, *doc, hints, &error))
    return Failure(RegistryStatus::kCannotWrite,
                   "cannot write " + RegistryPath + ": " + error +
                       "; the registry is unchanged");
  return result;
}
