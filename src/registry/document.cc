#include "registry/document.h"

#include <algorithm>
#include <cstring>

#include "platform/faults.h"
#include "platform/platform.h"
#include "registry/reader.h"
#include "registry/textmode.h"

namespace {

using Node = rapidxml::xml_node<char>;

// Reads the registry into the text ParseRegistry takes, as
// PrepareRegistryText leaves it; each part is folded and walked by the
// pre-parse scan as it arrives, while it is in the cache. With |raw|, the
// parts are kept there as they were read, too.
RegistryResult ReadRegistryText(const std::string& path, const char* doing,
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
    return RegistryFailure(
        RegistryStatus::kCannotRead,
        "cannot read " + platform::DisplayName(path) + ": " + error);
  if (text->empty())
    return RegistryFailure(RegistryStatus::kMalformed,
                           std::string("cannot ") + doing + " " +
                               platform::DisplayName(path) +
                               ": the file is empty");
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

}  // namespace

RegistryResult RegistryFailure(RegistryStatus status, std::string reason) {
  RegistryResult result;
  result.status = status;
  result.reason = std::move(reason);
  return result;
}

bool PrepareRegistryText(ByteBuffer* bytes) {
  FoldTextMode(bytes);
  if (bytes->empty()) return false;
  bytes->push_back('\0');
  return true;
}

RegistryResult ParseRegistry(ByteBuffer* text, const ScanProgress& scanned,
                             rapidxml::xml_document<char>* doc,
                             Node** modules) {
  if (text->empty())  // no text, not even its terminator
    return RegistryFailure(RegistryStatus::kMalformed, "the file is empty");
  const size_t size = text->size() - 1;  // without the terminating NUL
  // Saved so by Notepad's "Unicode": every other byte is a NUL.
  if (size >= 2 && (memcmp(text->data(), "\xFF\xFE", 2) == 0 ||
                    memcmp(text->data(), "\xFE\xFF", 2) == 0))
    return RegistryFailure(
        RegistryStatus::kMalformed,
        "the file is UTF-16 text (it begins with a UTF-16 "
        "byte-order mark), which the framework cannot read; save "
        "it as UTF-8");
  ScanProgress scan = scanned;
  if (auto issue = FinishScan(&scan, text->data(), size))
    return RegistryFailure(
        RegistryStatus::kMalformed,
        issue->reason + " at " + DescribePosition(text->data(), issue->offset));
  try {
    doc->parse<0>(text->data());
  } catch (const rapidxml::parse_error& e) {
    RegistryResult result = RegistryFailure(
        RegistryStatus::kMalformed, std::string("malformed XML: ") + e.what());
    result.parse_offset = static_cast<size_t>(e.where<char>() - text->data());
    return result;
  }
  if (std::optional<ReaderRefusal> refusal =
          FirstReaderRefusal(scan, text->data(), doc)) {
    RegistryResult result = RegistryFailure(
        RegistryStatus::kMalformed,
        "the framework's XML reader refuses it: " + refusal->reason);
    result.parse_offset = static_cast<size_t>(refusal->at - text->data());
    return result;
  }
  *modules = doc->first_node("Modules", 7);
  if (!*modules || (*modules)->type() != rapidxml::node_element)
    return RegistryFailure(RegistryStatus::kMalformed,
                           "no top-level Modules element");
  RegistryResult result;
  result.plain_attributes = !scan.escapes;
  return result;
}

RegistryResult LoadRegistryFile(const std::string& RegistryPath,
                                const char* doing, RegistryDocument* document,
                                ByteBuffer* raw, bool find_lines) {
  ScanProgress scanned;
  ByteBuffer* text = &document->text;
  RegistryResult result =
      ReadRegistryText(RegistryPath, doing, text, &scanned, raw);
  if (!result.reason.empty()) return result;
  if (find_lines) document->line_ends = LineEnds(*text);
  result = ParseRegistry(text, scanned, document->doc.get(),
                         &document->modules);
  if (result.status == RegistryStatus::kMalformed) {
    result.reason = std::string("cannot ") + doing + " " +
                    platform::DisplayName(RegistryPath) + ": " + result.reason;
    if (result.parse_offset)
      result.reason +=
          " at " + ParseErrorPosition(RegistryPath, *result.parse_offset);
  }
  return result;
}

std::vector<size_t> LineEnds(const ByteBuffer& text) {
  // Text mode has made each CR LF an LF: every CR and LF left ends a line,
  // as CR, LF and CR LF each end one in the file.
  std::vector<size_t> ends;
  for (size_t i = 0; i < text.size(); ++i)
    if (text[i] == '\n' || text[i] == '\r') ends.push_back(i);
  return ends;
}

size_t LineAt(const std::vector<size_t>& line_ends, size_t offset) {
  // One line more for each line end before |offset|.
  auto end = std::lower_bound(line_ends.begin(), line_ends.end(), offset);
  return 1 + static_cast<size_t>(end - line_ends.begin());
}

size_t LineOf(const RegistryDocument& document, const Node* node) {
  return LineAt(document.line_ends,
                static_cast<size_t>(node->name() - document.text.data()));
}

const rapidxml::xml_attribute<char>* PathAttribute(const Node* node) {
  return node->first_attribute("path", 4);
}

ModuleEntry EntryOf(const Node* node) {
  ModuleEntry entry;
  const auto* path = PathAttribute(node);
  entry.path.assign(path->value(), path->value_size());
  if (const auto* dir = node->first_attribute("configDir", 9)) {
    entry.configDir.assign(dir->value(), dir->value_size());
    entry.hasConfigDir = true;
  }
  return entry;
}
