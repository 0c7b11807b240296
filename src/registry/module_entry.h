// The Module element: one module as the registry holds it, its names, and
// reading and appending one.
//
// Names: the tool's own follow one style: types and functions in
// PascalCase, variables and members in snake_case, constants kLikeThis,
// macros MODREG_LIKE_THIS. Six long-standing names keep their spelling
// wherever they stand: InstallRoot, RegistryPath, BackupPath, DeviceMask,
// ProductFolder and ModuleEntry with its fields path, configDir and
// hasConfigDir; so do the framework's names in the registry (Modules,
// Module, path, configDir).
#ifndef MODREG_REGISTRY_MODULE_ENTRY_H_
#define MODREG_REGISTRY_MODULE_ENTRY_H_

#include <string>
#include <vector>

#include <rapidxml.hpp>

namespace registry {

struct ModuleEntry {
  std::string path;       // full path of the module library
  std::string configDir;  // full path of its configuration directory
  bool hasConfigDir = false;
  bool operator==(const ModuleEntry&) const = default;
};

// Tells whether |node| is a Module element: the only kind of child of
// Modules the framework loads.
bool IsModuleElement(const rapidxml::xml_node<char>* node);

// Returns the first "path" attribute of |node|, a child of Modules, or
// null when it has none: the module file the framework loads for it.
const rapidxml::xml_attribute<char>* PathAttribute(
    const rapidxml::xml_node<char>* node);

// Returns the entry a child of Modules names: its first "path" attribute,
// which it must have, and its first "configDir".
ModuleEntry EntryOf(const rapidxml::xml_node<char>* node);

// Appends to |modules| one Module element per entry, its "path" and, when
// it has one, its "configDir". |doc| points into |entries|.
void AppendEntries(rapidxml::xml_document<char>* doc,
                   rapidxml::xml_node<char>* modules,
                   const std::vector<ModuleEntry>& entries);

}  // namespace registry

#endif  // MODREG_REGISTRY_MODULE_ENTRY_H_
