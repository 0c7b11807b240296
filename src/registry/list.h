// Listing the registered modules without changing anything.
#ifndef MODREG_REGISTRY_LIST_H_
#define MODREG_REGISTRY_LIST_H_

#include <string>
#include <vector>

#include "registry/document.h"
#include "registry/module_entry.h"

namespace registry {

// A child of Modules as --list shows it.
struct ListedChild {
  ModuleEntry entry;       // its first "path" and "configDir"
  bool is_module = false;  // a Module element, the only kind the framework loads
  bool has_path = true;    // false only for a Module element
  size_t line = 0;         // where it begins in the file
};

// Returns every child of |document|'s Modules element that has a "path"
// attribute, and every Module element without one, in the file's order;
// the document must have its line ends.
std::vector<ListedChild> ListDocument(const RegistryDocument& document);

}  // namespace registry

#endif  // MODREG_REGISTRY_LIST_H_
