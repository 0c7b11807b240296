#include "registry/rewrite.h"

#include <algorithm>

#include "platform/files.h"
#include "registry/printer.h"
#include "registry/replace.h"
#include "registry/sha256.h"
#include "registry/textmode.h"

namespace registry {

namespace {

// Counts the line ends of the written bytes, as they go, to tell the line
// of each offset in |starts| (ascending, recorded before those bytes are
// written).
struct LineCounter {
  const std::vector<unsigned long long>* starts = nullptr;
  std::vector<size_t>* lines = nullptr;
  unsigned long long base = 0;  // bytes counted so far
  size_t line_ends = 0;
  size_t next = 0;  // the first start not yet reached

  void Take(const char* data, size_t size) {
    size_t at = 0;
    for (; next < starts->size() && (*starts)[next] < base + size; ++next) {
      const size_t upto = static_cast<size_t>((*starts)[next] - base);
      line_ends += std::count(data + at, data + upto, '\n');
      at = upto;
      lines->push_back(line_ends + 1);
    }
    line_ends += std::count(data + at, data + size, '\n');
    base += size;
  }
};

// Prints |document| through |r|, taking the written bytes' digest into
// |digest| unless it is null; false with |error| when a write fails.
bool PrintThrough(const RegistryDocument& document, Replacement* r,
                  std::vector<size_t>* module_lines, Sha256* digest,
                  std::string* error) {
  PrintHints hints;
  if (document.plain_attributes)
    hints.plain = {document.text.data(), document.text.size()};
  TextOutput out;
  std::vector<unsigned long long> starts;
  LineCounter counter{&starts, module_lines};
  if (module_lines) {
    hints.children_of = document.modules;
    hints.at_child = [&](const rapidxml::xml_node<char>* node) {
      if (IsModuleElement(node)) starts.push_back(counter.base + out.used);
    };
  }
  InitTextOutput(&out, [&](const char* data, size_t size) {
    if (module_lines) counter.Take(data, size);
    if (digest) AddSha256(digest, data, size);
    return WriteReplace(r, data, size, error);
  });
  PrintDocument(*document.doc, &out, hints);
  return FinishTextOutput(&out);
}

// Writes the registry through a temporary file with |write|, then, after
// |hooks|' before_rename, renames it to the registry. |write| is given a
// digest to take only for before_rename: without it, none is taken.
RegistryResult Rewrite(
    const std::string& registry_path, const WriteHooks& hooks,
    const std::function<bool(Replacement*, Sha256*, std::string*)>& write) {
  // A registry that is a link: the file it leads to is replaced, from a
  // temporary file beside it, and the link stays.
  std::string path, error;
  if (!platform::ReplacedFile(registry_path, &path, &error))
    return RegistryFailure(RegistryStatus::kCannotWrite,
                           "cannot replace " + registry_path + ": " + error);
  Replacement r;
  Sha256 digest;
  std::string hook_error;
  bool ok = BeginReplace(path, path, ReplaceMode::kReplace, &r, &error);
  if (ok) {
    try {
      ok = write(&r, hooks.before_rename ? &digest : nullptr, &error);
    } catch (...) {
      RollBackReplace(&r);
      throw;
    }
    const unsigned long long size = digest.total;
    if (ok && hooks.before_rename &&
        !hooks.before_rename(size, FinishSha256(&digest), &hook_error)) {
      RollBackReplace(&r);
      return RegistryFailure(RegistryStatus::kCannotWrite, hook_error);
    }
    ok = ok && CommitReplace(&r, &error);
  }
  RollBackReplace(&r);
  if (!ok)
    return RegistryFailure(RegistryStatus::kCannotWrite,
                           "cannot " + r.failed + ": " + error);
  return {RegistryStatus::kWritten, "", std::nullopt, false};
}

}  // namespace

RegistryResult WriteDocument(const std::string& registry_path,
                              const RegistryDocument& document,
                              const WriteHooks& hooks) {
  return Rewrite(registry_path, hooks,
                [&](Replacement* r, Sha256* digest, std::string* error) {
                  return PrintThrough(document, r, hooks.module_lines, digest,
                                      error);
                });
}

RegistryResult WriteBytes(const std::string& registry_path, const char* data,
                           size_t size) {
  return Rewrite(registry_path, WriteHooks{},
                [&](Replacement* r, Sha256*, std::string* error) {
                  return WriteReplace(r, data, size, error);
                });
}

}  // namespace registry
