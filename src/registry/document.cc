#include "registry/document.h"

#include <algorithm>
#include <cstring>

#include "platform/faults.h"
#include "platform/files.h"
#include "registry/reader.h"
#include "registry/textmode.h"

namespace registry {

namespace {

using Node = rapidxml::xml_node<char>;

// Reads the registry into the text ParseRegistry takes, as
// PrepareRegistryText leaves it; each part is handed to |take_raw| as it
// was read, then folded and walked by the pre-parse scan while it is in
// the cache.
RegistryResult ReadRegistryText(const std::string& path,
                                const LoadOptions& options, ByteBuffer* text,
                                ScanProgress* scan, bool* read) {
  TextFold fold;
  bool taking = static_cast<bool>(options.take_raw);
  auto take = [&](char* data, size_t from, size_t end) {
    if (taking) taking = options.take_raw(data + from, end - from);
    size_t size = FoldMore(&fold, data, from, end);
    data[size] = '\0';
    ScanAhead(scan, data, size);
    return size;
  };
  std::string error;
  if (!platform::ReadWholeFile(path, text, &error, take))
    return RegistryFailure(RegistryStatus::kCannotRead, error);
  *read = true;
  // A failed read, as the faults build makes one, comes after the last
  // part: what took the parts has them all.
  if (std::optional<bool> fault = platform::faults::Intercept("read", &error))
    if (!*fault) return RegistryFailure(RegistryStatus::kCannotRead, error);
  if (text->empty())
    return RegistryFailure(RegistryStatus::kMalformed, "the file is empty");
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
  return {status, std::move(reason), std::nullopt, false};
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
  // Not a registry this tool can update; |at|, when given, where in |text|.
  const auto malformed = [text](std::string reason, const char* at = nullptr) {
    RegistryResult result =
        RegistryFailure(RegistryStatus::kMalformed, std::move(reason));
    if (at) result.parse_offset = static_cast<size_t>(at - text->data());
    return result;
  };
  if (text->empty())  // no text, not even its terminator
    return malformed("the file is empty");
  const size_t size = text->size() - 1;  // without the terminating NUL
  // Saved so by Notepad's "Unicode": every other byte is a NUL.
  if (size >= 2 && (memcmp(text->data(), "\xFF\xFE", 2) == 0 ||
                    memcmp(text->data(), "\xFE\xFF", 2) == 0))
    return malformed("the file is UTF-16 text (it begins with a UTF-16 "
                     "byte-order mark), which the framework cannot read; "
                     "save it as UTF-8");
  ScanProgress scan = scanned;
  if (auto issue = FinishScan(&scan, text->data(), size))
    return malformed(issue->reason + " at " +
                     DescribePosition(text->data(), issue->offset));
  try {
    doc->parse<0>(text->data());
  } catch (const rapidxml::parse_error& e) {
    return malformed(std::string("malformed XML: ") + e.what(), e.where<char>());
  }
  // What the walk found when it walked all the text, otherwise the tree's.
  if (std::optional<ReaderRefusal> refusal =
          scan.walked_all ? RefusalOf(scan.reader.first, text->data())
                          : FindReaderRefusal(doc))
    return malformed("the framework's XML reader refuses it: " + refusal->reason,
                     refusal->at);
  // The framework reads the first element alone: Modules or nothing.
  *modules = doc->first_node();
  while (*modules && (*modules)->type() != rapidxml::node_element)
    *modules = (*modules)->next_sibling();
  if (!*modules) return malformed("no top-level Modules element");
  const std::string first((*modules)->name(), (*modules)->name_size());
  if (first != "Modules")
    return malformed("the first element is " + first +
                     ", not Modules: the framework reads only the first "
                     "element, and would load no module");
  return {RegistryStatus::kUnchanged, "", std::nullopt, !scan.escapes};
}

RegistryResult LoadRegistryFile(const std::string& registry_path,
                                const LoadOptions& options,
                                RegistryDocument* document) {
  ScanProgress scanned;
  ByteBuffer* text = &document->text;
  RegistryResult result =
      ReadRegistryText(registry_path, options, text, &scanned,
                       &document->read);
  if (!result.reason.empty()) return result;
  if (options.find_lines) document->line_ends = LineEnds(*text);
  result = ParseRegistry(text, scanned, document->doc.get(),
                         &document->modules);
  document->plain_attributes = result.plain_attributes;
  if (result.parse_offset)
    result.reason +=
        " at " + ParseErrorPosition(registry_path, *result.parse_offset);
  return result;
}

std::string DescribePosition(const char* text, size_t offset) {
  const std::string_view before(text, offset);
  const size_t line = 1 + std::count(before.begin(), before.end(), '\n');
  // After the last line end; npos + 1 is 0, the text's start.
  const size_t column = offset - (before.rfind('\n') + 1) + 1;
  return "line " + std::to_string(line) + ", column " + std::to_string(column);
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

}  // namespace registry
