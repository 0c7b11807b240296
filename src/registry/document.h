// The registry document: modules.xml read into text as Windows text mode
// reads it, checked and parsed in place; the result every registry
// operation reports; where the text's lines end; and what a child of
// Modules names. The update, the listing and the health check all read
// the registry through here.
#ifndef MODREG_REGISTRY_DOCUMENT_H_
#define MODREG_REGISTRY_DOCUMENT_H_

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <rapidxml.hpp>

#include "platform/bytes.h"
#include "registry/module_entry.h"
#include "registry/scan.h"

enum class RegistryStatus {
  kWritten,      // the registry was replaced (on a dry run: would be)
  kUnchanged,    // nothing to add or remove: read but not rewritten
  kCannotRead,   // missing or unreadable
  kMalformed,    // not a registry this tool can update
  kCannotWrite,  // the new registry could not be put in place
};

struct RegistryResult {
  RegistryStatus status = RegistryStatus::kUnchanged;
  std::string reason;  // for a failure: what went wrong
  // For a parse error: where in the text the parser stopped.
  std::optional<size_t> parse_offset;
  // No attribute value parsed from the text holds a byte to escape: the
  // printer may copy those as they are (PrintHints).
  bool plain_attributes = false;
  // When RegistryEdit::report is set and the registry is rewritten: the
  // children of Modules taken out, in order (path and configDir).
  std::vector<ModuleEntry> removed;
  // On a dry run that would rewrite: whether the children of Modules would
  // differ from the file's (elements, attributes, content or order).
  bool changed = false;
  // On a dry run that would rewrite: whether the bytes written would differ
  // from the file's, as they are on the disk (before text-mode folding).
  bool differs = false;
};

// Returns a result of |status| that says |reason|.
RegistryResult RegistryFailure(RegistryStatus status, std::string reason);

// Turns the bytes of a registry file into the text ParseRegistry takes:
// folded as Windows text mode reads it, followed by one NUL byte. False,
// and |bytes| empty, when no text is left (an empty file).
bool PrepareRegistryText(ByteBuffer* bytes);

// Checks |text| (as PrepareRegistryText leaves it) and parses it in place
// into |doc|, which then points into it, and finds its first top-level
// Modules element. |scanned| is the part of the text that the pre-parse
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
  rapidxml::xml_node<char>* modules = nullptr;  // the first top-level one
  // The offsets of the text's line ends, when asked for, found before
  // parsing: the parser changes its text in place, line ends included.
  std::vector<size_t> line_ends;
};

// Reads and parses the file at |RegistryPath| into |document| and finds
// its first top-level Modules element; with |find_lines|, its line ends
// too. A failure's reason names the file, after "cannot " and |doing| for
// a malformed one. With |raw|, that is set to the file's bytes as they
// were read.
RegistryResult LoadRegistryFile(const std::string& RegistryPath,
                                const char* doing, RegistryDocument* document,
                                ByteBuffer* raw = nullptr,
                                bool find_lines = false);

// Returns the offsets of the line ends in |text|, folded as
// PrepareRegistryText folds it: each CR and LF, so that CR, LF and CR LF
// each end a line of the file.
std::vector<size_t> LineEnds(const ByteBuffer& text);

// Returns the 1-based line of |offset| (an offset into the parsed text),
// given the text's |line_ends| as LoadRegistryFile finds them.
size_t LineAt(const std::vector<size_t>& line_ends, size_t offset);

// Returns the 1-based line where |node|, a node of |document| loaded with
// its lines, begins: the line of its name.
size_t LineOf(const RegistryDocument& document,
              const rapidxml::xml_node<char>* node);

// Returns the first "path" attribute of |node|, a child of Modules, or
// null when it has none: the module file the framework loads for it.
const rapidxml::xml_attribute<char>* PathAttribute(
    const rapidxml::xml_node<char>* node);

// Returns the entry a child of Modules names: its first "path" attribute,
// which it must have, and its first "configDir".
ModuleEntry EntryOf(const rapidxml::xml_node<char>* node);

#endif  // MODREG_REGISTRY_DOCUMENT_H_
