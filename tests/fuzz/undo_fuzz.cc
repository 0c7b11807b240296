// libFuzzer target over the undo record's reader: a record on the disk may
// be damaged, or planted, so any bytes must be refused or read whole, never
// read outside them. Seeds: records the tool wrote, in undo-seeds/.
//
// Besides the sanitizers' checks: a refusal says why; a record read is
// written out again and read back the same; and its elements put back into
// a small registry give a document, or the XML parser's refusal.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <rapidxml.hpp>

#include "registry/undo.h"

using namespace registry;

namespace {

[[noreturn]] void UndoViolation(const char* what) {
  fprintf(stderr, "undo_fuzz: %s\n", what);
  abort();
}

bool Same(const UndoRecord& a, const UndoRecord& b) {
  if (a.id != b.id || a.arch != b.arch || a.action != b.action ||
      a.boot != b.boot || a.registry != b.registry || a.before != b.before ||
      a.after_size != b.after_size || a.after_digest != b.after_digest ||
      a.removed.size() != b.removed.size() || a.added.size() != b.added.size())
    return false;
  for (size_t i = 0; i < a.removed.size(); ++i)
    if (a.removed[i].index != b.removed[i].index ||
        a.removed[i].text != b.removed[i].text)
      return false;
  for (size_t i = 0; i < a.added.size(); ++i)
    if (a.added[i].path != b.added[i].path ||
        a.added[i].configDir != b.added[i].configDir ||
        a.added[i].hasConfigDir != b.added[i].hasConfigDir)
      return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* bytes = reinterpret_cast<const char*>(data);
  UndoRecord record;
  std::string why;
  if (!ParseUndoRecord(ByteBuffer(bytes, bytes + size), &record, &why)) {
    if (why.empty()) UndoViolation("a refusal without its reason");
    return 0;
  }
  std::string again = FormatUndoHeader(record);
  again.append(record.before.begin(), record.before.end());
  again += '\n';
  UndoRecord reread;
  if (!ParseUndoRecord(ByteBuffer(again.begin(), again.end()), &reread, &why) ||
      !Same(record, reread))
    UndoViolation("a record read is not read back the same");
  char registry[] = "<Modules><Module path=\"a\"/><Module path=\"b\"/></Modules>";
  rapidxml::xml_document<char> doc;
  doc.parse<0>(registry);
  try {
    UndoOwnChange(record, &doc, doc.first_node());
  } catch (const rapidxml::parse_error&) {
    // A rollback refuses the record then.
  }
  return 0;
}
