// The module registry update: read modules.xml, drop the product's stale
// Module entries, append the new ones and replace the file.
#ifndef MODREG_REGISTRY_UPDATE_H_
#define MODREG_REGISTRY_UPDATE_H_

#include <string>
#include <vector>

#include <rapidxml.hpp>

#include "platform/bytes.h"
#include "registry/document.h"
#include "registry/module_entry.h"
#include "registry/scan.h"

// What a pass asks of the registry.
struct RegistryEdit {
  std::string ProductFolder;         // marks the entries to remove
  // Empty for a repair, which removes no product's entries.
  // When not empty, every entry whose path lies under this folder goes too
  // (winpath::IsUnder).
  std::string ProductDir;
  std::vector<ModuleEntry> entries;  // to append
  // Rewrite when an entry was removed even with none to append (an
  // unregistration, a repair).
  bool unregister = false;
  // The places among the Module elements (counting those alone, from 0)
  // of the elements to remove whatever their path: a repair's.
  std::vector<size_t> modules_at;
  // Read and edit in memory only; set |changed| and |differs|. Failures
  // say "cannot read", not "cannot update".
  bool dry_run = false;
  // Fill |removed|.
  bool report = false;
};

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

// Removes, from the first Module child of |modules| on, every child whose
// first "path" attribute holds |folder|, or lies under folder |under| when
// that is not empty (the path read as Windows reads it), whatever its
// name or kind: the first of EditRegistry's two edits. Returns how many went, and adds them to |removed| when given.
size_t RemoveStaleEntries(rapidxml::xml_node<char>* modules,
                          const std::string& folder,
                          std::vector<rapidxml::xml_node<char>*>* removed =
                              nullptr,
                          const std::string& under = std::string());

// Reads the registry at |RegistryPath| and sets |kept| to the Module
// elements with a path that |edit|'s removal of stale entries leaves, in
// order, and |lines| to where each begins: the entries that come before
// the appended ones once the registry is written. Writes nothing.
RegistryResult ReadKeptEntries(const std::string& RegistryPath,
                               const RegistryEdit& edit,
                               std::vector<ModuleEntry>* kept,
                               std::vector<size_t>* lines);

// Appends to |modules| one Module element per entry, its "path" and, when
// it has one, its "configDir": the second of EditRegistry's two edits.
// |doc| points into |entries|.
void AppendEntries(rapidxml::xml_document<char>* doc,
                   rapidxml::xml_node<char>* modules,
                   const std::vector<ModuleEntry>& entries);

// Updates the file at |RegistryPath| as |edit| asks: rewritten when there
// are entries to append, or for an unregistration when one was removed,
// through a replacement (replace.h): on any failure the registry keeps
// its bytes. A failure's reason names the file.
RegistryResult UpdateRegistryFile(const std::string& RegistryPath,
                                  const RegistryEdit& edit);

#endif  // MODREG_REGISTRY_UPDATE_H_
