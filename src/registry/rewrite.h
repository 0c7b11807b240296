// Rewriting the registry: its new bytes, a printed document or bytes
// kept from before, put in place, through a temporary file beside it and one rename
// (replace.h). A registry that is a link has the file it leads to
// replaced, and the link stays.
#ifndef MODREG_REGISTRY_REWRITE_H_
#define MODREG_REGISTRY_REWRITE_H_

#include <functional>
#include <string>
#include <vector>

#include "registry/document.h"

namespace registry {

// What a rewrite does besides writing.
struct WriteHooks {
  // Set to the line of the written file on which each Module element of
  // Modules begins, in order.
  std::vector<size_t>* module_lines = nullptr;
  // Called once every byte is in the temporary file, before it takes the
  // registry's name, with their count and SHA-256; false (with |error|)
  // stops the rewrite, and the registry keeps its bytes.
  std::function<bool(unsigned long long size, const std::string& digest,
                     std::string* error)>
      before_rename;
};

// Prints |document| and replaces the registry at |registry_path| with it
// in one step. On failure the registry keeps its bytes; the result is
// kCannotWrite with the failed step and the reason.
RegistryResult WriteDocument(const std::string& registry_path,
                              const RegistryDocument& document,
                              const WriteHooks& hooks = WriteHooks{});

// Replaces the registry at |registry_path| with the |size| bytes at
// |data|, as WriteDocument does.
RegistryResult WriteBytes(const std::string& registry_path, const char* data,
                           size_t size);

}  // namespace registry

#endif  // MODREG_REGISTRY_REWRITE_H_
