// Listing the registered modules without changing anything.
#ifndef MODREG_REGISTRY_LIST_H_
#define MODREG_REGISTRY_LIST_H_

#include <vector>

#include "registry/check.h"
#include "registry/document.h"

namespace registry {

// Returns every child of |document|'s Modules element that has a "path"
// attribute, and every Module element without one, in the file's order,
// checked for a framework of |bits|: a Module element as CheckDocument
// checks it, any other child on its own (without a line). The document
// must have its line ends.
std::vector<CheckedModule> ListDocument(const RegistryDocument& document,
                                        int bits);

}  // namespace registry

#endif  // MODREG_REGISTRY_LIST_H_
