// The module registry update: read modules.xml, drop the product's stale
// Module entries, append the new ones and replace the file.
#ifndef MODREG_REGISTRY_UPDATE_H_
#define MODREG_REGISTRY_UPDATE_H_

#include <optional>
#include <string>
#include <string_view>
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

// What a pass asks of the registry.
struct RegistryEdit {
  std::string ProductFolder;         // marks the entries to remove
  // When not empty, every entry whose path lies under this folder goes too
  // (winpath::IsUnder).
  std::string ProductDir;
  std::vector<ModuleEntry> entries;  // to append
  // Rewrite when an entry was removed even with none to append.
  bool unregister = false;
  // Read and edit in memory only; set |changed| and |differs|. Failures
  // say "cannot read", not "cannot update".
  bool dry_run = false;
  // Fill |removed|.
  bool report = false;
};

// Turns the bytes of a registry file into the text EditRegistry takes:
// folded as Windows text mode reads it, followed by one NUL byte. False,
// and |bytes| empty, when no text is left (an empty file).
bool PrepareRegistryText(ByteBuffer* bytes);

// Parses |text| (as PrepareRegistryText leaves it, parsed in place),
// removes from the first top-level Modules element every child, from its
// first Module element on, whose "path" attribute contains
// |ProductFolder|, and appends one Module element per entry. |doc| keeps
// pointers into |text| and |entries|. kWritten means that |doc| holds the
// document to write; kUnchanged that |entries| is empty. |scanned| is the
// part of the text that the pre-parse scan walked while it was read.
RegistryResult EditRegistry(ByteBuffer* text,
                            const std::string& ProductFolder,
                            const std::vector<ModuleEntry>& entries,
                            rapidxml::xml_document<char>* doc,
                            const ScanProgress& scanned = ScanProgress{});

// The two edits of EditRegistry on a parsed document: from the first
// Module child of |modules| on, every child whose first "path" attribute
// holds |folder|, or lies under folder |under| when that is not empty,
// goes, whatever its name or kind (returns how many, and adds them to
// |removed| when given); then one Module element per entry
// is appended.
size_t RemoveStaleEntries(rapidxml::xml_node<char>* modules,
                          const std::string& folder,
                          std::vector<rapidxml::xml_node<char>*>* removed =
                              nullptr,
                          const std::string& under = std::string());
void AppendEntries(rapidxml::xml_document<char>* doc,
                   rapidxml::xml_node<char>* modules,
                   const std::vector<ModuleEntry>& entries);

// Reads and parses the file at |RegistryPath| into |doc|, which points
// into |text|, and finds its first top-level Modules element. A failure's
// reason names the file, after "cannot " and |doing| for a malformed one.
// With |raw|, that is set to the file's bytes as they were read; with
// |line_ends|, to the offsets of the text's line ends before parsing (the
// parser changes its text in place, line ends included).
RegistryResult LoadRegistryFile(const std::string& RegistryPath,
                                ByteBuffer* text,
                                rapidxml::xml_document<char>* doc,
                                rapidxml::xml_node<char>** modules,
                                const char* doing = "update",
                                ByteBuffer* raw = nullptr,
                                std::vector<size_t>* line_ends = nullptr);

// Returns the offsets of the line ends (LF) in |text|, folded as
// PrepareRegistryText folds it.
std::vector<size_t> LineEnds(const ByteBuffer& text);

// Returns the 1-based line of each of |offsets| (offsets into the parsed
// text), given the text's |line_ends| as LoadRegistryFile sets them.
std::vector<size_t> LinesAt(const std::vector<size_t>& line_ends,
                            const std::vector<size_t>& offsets);

// Returns the entry a child of Modules names: its first "path" attribute, which
// it must have, and its first "configDir".
ModuleEntry EntryOf(const rapidxml::xml_node<char>* node);

// The whole update of the file at |RegistryPath|: rewritten when there
// are entries to append, or for an unregistration when one was removed,
// through a replacement (replace.h): on any failure the registry keeps
// its bytes. A failure's reason names the file.
RegistryResult UpdateRegistryFile(const std::string& RegistryPath,
                                  const RegistryEdit& edit);
// A registration: |entries| replace the product's stale entries.
RegistryResult UpdateRegistryFile(const std::string& RegistryPath,
                                  const std::string& ProductFolder,
                                  const std::vector<ModuleEntry>& entries);

#endif  // MODREG_REGISTRY_UPDATE_H_
