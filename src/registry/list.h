// Listing the registered modules without changing anything.
#ifndef MODREG_REGISTRY_LIST_H_
#define MODREG_REGISTRY_LIST_H_

#include <string>
#include <vector>

#include "registry/module_entry.h"
#include "registry/update.h"

// Reads the file at |RegistryPath| and sets |listed| to every child of its
// Modules element that has a "path" attribute, in the file's order, each
// with its first "path" and "configDir". Writes nothing. Failures as for
// UpdateRegistryFile, a malformed file's said as "cannot list". When
// |is_module| is given, it tells for each listed entry whether it is a
// Module element, the only ones the framework loads.
RegistryResult ListRegistryFile(const std::string& RegistryPath,
                                std::vector<ModuleEntry>* listed,
                                std::vector<bool>* is_module = nullptr);

#endif  // MODREG_REGISTRY_LIST_H_
