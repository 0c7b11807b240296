// A pre-pass over the registry text that refuses, before the XML parser
// sees it, what the parser would accept but the tool must not take.
#ifndef MODREG_REGISTRY_SCAN_H_
#define MODREG_REGISTRY_SCAN_H_

#include <cstddef>
#include <optional>
#include <string>

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

// 1-based line and column of |offset| in |text|.
std::string DescribePosition(const char* text, size_t offset);

#endif  // MODREG_REGISTRY_SCAN_H_
