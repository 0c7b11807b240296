// Putting a registry's new bytes in place: a printed document or bytes
// kept from before, through a temporary file beside it and one rename
// (replace.h). A registry that is a link has the file it leads to
// replaced, and the link stays.
#ifndef MODREG_REGISTRY_COMMIT_H_
#define MODREG_REGISTRY_COMMIT_H_

#include <functional>
#include <string>
#include <vector>

#include "registry/document.h"

namespace registry {

// What a commit does besides writing.
struct CommitHooks {
  // Set to the line of the written file on which each Module element of
  // Modules begins, in order.
  std::vector<size_t>* module_lines = nullptr;
  // Called once every byte is in the temporary file, before it takes the
  // registry's name, with their count and SHA-256; false (with |error|)
  // stops the commit, and the registry keeps its bytes.
  std::function<bool(unsigned long long size, const std::string& digest,
                     std::string* error)>
      before_rename;
};

// Prints |document| and replaces the registry at |registry_path| with it
// in one step. On failure the registry keeps its bytes; the result is
// kCannotWrite with the failed step and the reason.
RegistryResult CommitDocument(const std::string& registry_path,
                              const RegistryDocument& document,
                              const CommitHooks& hooks = CommitHooks{});

// Replaces the registry at |registry_path| with the |size| bytes at
// |data|, as CommitDocument does.
RegistryResult CommitBytes(const std::string& registry_path, const char* data,
                           size_t size);

}  // namespace registry

#endif  // MODREG_REGISTRY_COMMIT_H_
