// A pre-pass over the registry text that refuses, before the XML parser
// sees it, what the parser would accept but the tool must not take; on
// the way it finds what the framework's reader refuses (reader.h), which
// is reported after the parse.
#ifndef MODREG_REGISTRY_SCAN_H_
#define MODREG_REGISTRY_SCAN_H_

#include <cstddef>
#include <optional>
#include <string>

#include <rapidxml.hpp>

#include "registry/reader.h"

namespace registry {

// The parser recurses once per level of element nesting; deeper documents
// are refused so that no input can overflow the stack. Real registries
// are three levels deep.
constexpr size_t kMaxNestingDepth = 1000;

struct ScanIssue {
  std::string reason;
  size_t offset = 0;  // where in the text the issue lies
};

// Walks |text| (|size| bytes followed by a NUL byte) the way the parser
// will, without building anything, and reports the first of:
//   - a NUL byte inside the text, which would end parsing early;
//   - elements nested deeper than kMaxNestingDepth;
//   - a numeric character reference, in text or an attribute value, to
//     character 0 or 26 (Ctrl-Z, which ends reading), or to no character.
// Markup the parser will reject ends the walk without an issue: the
// parser reports it.
std::optional<ScanIssue> ScanRegistryText(const char* text, size_t size);

// The framework's reader (reader.h) judged along the walk, in the order
// FindReaderRefusal takes the elements.
struct ReaderWatch {
  ReaderFinding first;  // the first refusal among the elements walked
  // While an element whose name does not begin as a name is open with
  // nothing in it yet: the refusal if something comes (kNone when no such
  // element is open), and the one if it ends empty (its attributes').
  ReaderFinding if_not_empty;
  ReaderFinding if_empty;
};

// The same walk taken in parts while the text is still being read, each
// part while it is fresh in the cache: ScanAhead walks as far as the text
// read so far settles, FinishScan walks the rest once all is there.
struct ScanProgress {
  size_t offset = 0;    // where the walk goes on: between two nodes
  size_t depth = 0;     // elements open there
  size_t retry_at = 0;  // no walk before the text is this long
  // Some attribute value walked so far may hold a byte that the printer
  // escapes (& < > ' " or a line end). After FinishScan without an issue,
  // false means that no attribute value of the text holds one.
  bool escapes = false;
  ReaderWatch reader;
  // After FinishScan without an issue: the walk reached the end of the
  // text, so that reader.first is the first refusal in all of it.
  bool walked_all = false;
};

// Walks on through |text|, whose first |frontier| bytes are read so far
// and followed by a NUL byte, stopping before any step that could depend
// on what follows.
void ScanAhead(ScanProgress* progress, const char* text, size_t frontier);

// Returns ScanRegistryText's result for the whole |text| (|size| bytes
// and a NUL byte), walking only what |progress| has not walked yet.
std::optional<ScanIssue> FinishScan(ScanProgress* progress, const char* text,
                                    size_t size);



}  // namespace registry

#endif  // MODREG_REGISTRY_SCAN_H_
