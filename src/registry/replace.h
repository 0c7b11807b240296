// Putting a file's new bytes under its name in one step, so that the name
// holds the old bytes or all the new ones, never part of them.
//
// The calling sequence:
//
//   Replacement r;
//   if (!BeginReplace(path, protect_as, ReplaceMode::kReplace, &r,
//                     &error)) ...
//   while (...)
//     if (!WriteReplace(&r, data, size, &error)) ...
//   if (!CommitReplace(&r, &error)) ...
//   RollBackReplace(&r);  // on every way out; does nothing after a commit
//
// BeginReplace creates the temporary file TempPathFor(target) beside the
// target: new (whatever was at that name, a killed run's leftover or a
// planted link, goes as itself), with owner-only access, and with the
// protection of |protect_as| (the target, or for the backup the registry) before its
// first byte. CommitReplace flushes it to the disk, closes it and renames
// it to the target: over it (kReplace), or only when nothing is there
// (kCreateOnly, the backup).
//
// What a failure leaves: the target as it was and no temporary file. A
// process killed on the way leaves the temporary file; the next run,
// holding the registry's lock, removes it before it starts.
#ifndef MODREG_REGISTRY_REPLACE_H_
#define MODREG_REGISTRY_REPLACE_H_

#include <string>

#include "platform/files.h"

namespace registry {

enum class ReplaceMode {
  kReplace,     // the registry: replaced
  kCreateOnly,  // the backup: never replaces a file that is there
};

struct Replacement {
  ReplaceMode mode = ReplaceMode::kReplace;
  std::string target;  // the name the bytes take
  std::string temp;    // where they are written first
  platform::OutputFile file;
  bool committed = false;
  // After a failure: the step that failed, as messages name it: "create
  // TEMP", "protect TEMP as FILE", "write TEMP", "flush TEMP", "close TEMP"
  // or "rename TEMP to TARGET" (FILE is the file whose protection the bytes
  // take: the target, or the registry for its backup); empty while none
  // has.
  std::string failed;
  bool rename_failed = false;  // the step that failed is the rename
};

// Returns the temporary file a replacement of |path| is written through.
inline std::string TempPathFor(const std::string& path) { return path + ".tmp"; }

// Creates the temporary file for |target| (see above), protected as
// |protect_as| (empty: owner-only, as created). On failure nothing is left; |error| is the system's reason.
bool BeginReplace(const std::string& target, const std::string& protect_as,
                  ReplaceMode mode, Replacement* r, std::string* error);

// Appends |size| bytes to the temporary file.
bool WriteReplace(Replacement* r, const char* data, size_t size,
                  std::string* error);

// Flushes, closes and renames the temporary file to the target. On
// failure the temporary file is removed and the target is as it was.
bool CommitReplace(Replacement* r, std::string* error);

// Closes and removes the temporary file unless it was committed.
void RollBackReplace(Replacement* r);

}  // namespace registry

#endif  // MODREG_REGISTRY_REPLACE_H_
