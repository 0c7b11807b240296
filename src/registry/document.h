// The registry document: modules.xml read into text as Windows text mode
// reads it, checked and parsed in place; the result every registry
// operation reports; where the text's lines end; the one walk over the
// children of Modules, and what a child names. Every mode reads the
// registry through here, once.
#ifndef MODREG_REGISTRY_DOCUMENT_H_
#define MODREG_REGISTRY_DOCUMENT_H_

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <rapidxml.hpp>

#include "platform/bytes.h"
#include "registry/module_entry.h"
#include "registry/scan.h"

namespace registry {

enum class RegistryStatus {
  kWritten,      // the registry was replaced (on a dry run: would be)
  kUnchanged,    // nothing to add or remove: read but not rewritten
  kCannotRead,   // missing or unreadable
  kMalformed,    // not a registry this tool can update
  kCannotWrite,  // the new registry could not be put in place
  kCannotLock,   // the registry's folder could not be locked
  kRefused,      // --strict: an entry to add has a problem, or a Module
                 // element kept stops every application from starting;
                 // nothing written
};

struct RegistryResult {
  RegistryStatus status = RegistryStatus::kUnchanged;
  std::string reason;  // for a failure: what went wrong
  // For a parse error: where in the text the parser stopped.
  std::optional<size_t> parse_offset;
  // No attribute value parsed from the text holds a byte to escape: the
  // printer may copy those as they are (PrintHints).
  bool plain_attributes = false;
};

// Returns a result of |status| that says |reason|.
RegistryResult RegistryFailure(RegistryStatus status, std::string reason);

// Turns the bytes of a registry file into the text ParseRegistry takes:
// folded as Windows text mode reads it, followed by one NUL byte. False,
// and |bytes| empty, when no text is left (an empty file).
bool PrepareRegistryText(ByteBuffer* bytes);

// Checks |text| (as PrepareRegistryText leaves it) and parses it in place
// into |doc|, which then points into it, and finds its Modules element,
// which must be the first element, as the framework reads it. |scanned| is the part of the text that the pre-parse
// scan walked while it was read. A failure is kMalformed, its reason
// naming no file; for a parse error or a refusal of the framework's
// reader, |parse_offset| says where in |text|.
RegistryResult ParseRegistry(ByteBuffer* text, const ScanProgress& scanned,
                             rapidxml::xml_document<char>* doc,
                             rapidxml::xml_node<char>** modules);

// A registry file read and parsed: |doc| points into |text|.
struct RegistryDocument {
  ByteBuffer text;
  std::unique_ptr<rapidxml::xml_document<char>> doc =
      std::make_unique<rapidxml::xml_document<char>>();
  rapidxml::xml_node<char>* modules = nullptr;  // the first element
  // The offsets of the text's line ends, when asked for, found before
  // parsing: the parser changes its text in place, line ends included.
  std::vector<size_t> line_ends;
  // Attribute values parsed from |text| hold no byte the printer escapes.
  bool plain_attributes = false;
  bool read = false;  // every byte of the file was read
};

// What a load may do besides reading and parsing.
struct LoadOptions {
  bool find_lines = false;  // fill RegistryDocument::line_ends
  // Each part of the file's bytes, as read and before anything changes
  // them (the backup is written from these); false stops taking parts.
  std::function<bool(const char* data, size_t size)> take_raw;
};

// Reads the file at |registry_path| once into |document|, folded as
// Windows text mode reads it, and parses it, finding its Modules element
// (ParseRegistry). A failure's reason names neither the file nor the
// step: kCannotRead with the system's reason, kMalformed with what is
// wrong and where (line and column, told from a second read of the
// file, since the parser has rewritten the text in place).
RegistryResult LoadRegistryFile(const std::string& registry_path,
                                const LoadOptions& options,
                                RegistryDocument* document);

// Returns the offsets of the line ends in |text|, folded as
// PrepareRegistryText folds it: each CR and LF, so that CR, LF and CR LF
// each end a line of the file.
std::vector<size_t> LineEnds(const ByteBuffer& text);

// Returns where |offset| lies in |text|: "line N, column M", both
// 1-based.
std::string DescribePosition(const char* text, size_t offset);

// Returns the 1-based line of |offset| (an offset into the parsed text),
// given the text's |line_ends| as LoadRegistryFile finds them.
size_t LineAt(const std::vector<size_t>& line_ends, size_t offset);

// Returns the 1-based line where |node|, a node of |document| loaded with
// its lines, begins: the line of its name.
size_t LineOf(const RegistryDocument& document,
              const rapidxml::xml_node<char>* node);

// A child of Modules as every reader of the registry walks them.
struct ModulesChild {
  rapidxml::xml_node<char>* node;
  const rapidxml::xml_attribute<char>* path;  // its first "path", or null
  bool is_module;  // a Module element: the only kind the framework loads
  // At or after the first Module element: where the product's old
  // entries are looked for, whatever their kind.
  bool from_first_module;
};

// Calls |visit| with each child of |modules| in order. |visit| may remove
// the child it is given from the tree.
template <typename Visit>
void WalkModules(rapidxml::xml_node<char>* modules, Visit&& visit) {
  bool seen_module = false;
  for (rapidxml::xml_node<char>* node = modules->first_node(); node;) {
    rapidxml::xml_node<char>* next = node->next_sibling();
    const bool is_module = IsModuleElement(node);
    seen_module = seen_module || is_module;
    visit(ModulesChild{node, PathAttribute(node), is_module,
                       seen_module});
    node = next;
  }
}

}  // namespace registry

#endif  // MODREG_REGISTRY_DOCUMENT_H_
