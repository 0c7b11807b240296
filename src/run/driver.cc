#include "run/driver.h"

#include <new>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "registry/backup.h"
#include "registry/list.h"
#include "registry/update.h"
#include "run/layout.h"
#include "run/location.h"
#include "run/mask.h"
#include "run/modules.h"
#include "run/options.h"

namespace {

int Report(FILE* err, int status, const std::string& message) {
  fprintf(err, "modreg: %s\n", message.c_str());
  fflush(err);
  return status;
}

void Say(FILE* out, const std::string& line) {
  fprintf(out, "%s\n", line.c_str());
}

// The registry's line, and with --verbose where its folder came from.
void SayRegistry(FILE* out, const RegistryPaths& paths, bool verbose) {
  Say(out, "registry: " + platform::DisplayName(paths.RegistryPath));
  if (verbose) Say(out, "framework folder: " + paths.source);
}

std::string TooLong(const std::string& path) {
  return "path too long (" + std::to_string(path.size()) +
         " characters, at most " + std::to_string(kMaxPathChars) +
         "): " + path;
}

// The registry the command line names (after the architecture rule); a
// non-zero status when its folder is unknown, not absolute, or makes a
// file name longer than Windows takes. An unregistration whose variable
// is set nowhere has nothing to do, as without a registry: the
// framework's removal takes its variable too. Then |gone| says why.
int ChooseRegistry(const Options& options, RegistryPaths* paths, FILE* err,
                   std::string* gone = nullptr) {
  const FrameworkFolder folder = ChooseFrameworkFolder(
      options.openni, options.openni_env, options.args[0]);
  if (folder.unset && gone && options.mode == Mode::kUnregister) {
    *gone = folder.error;
    return kExitOk;
  }
  if (folder.status != 0) return Report(err, folder.status, folder.error);
  if (folder.is_default) {
    *paths = GetRegistryPaths();
  } else {
    *paths = RegistryPathsIn(folder.dir);
    paths->source = folder.source;
  }
  // The longest name a pass gives a file.
  const std::string longest = BackupTempPath(paths->BackupPath);
  if (longest.size() > kMaxPathChars)
    return Report(err, kExitUsage, TooLong(longest));
  return kExitOk;
}

// --product-dir, checked: absolute, not a drive's or share's root, and
// not holding the framework's folder, whose own entries would go with the
// product's.
int CheckProductDir(const std::string& value, const RegistryPaths& paths,
                    std::string* dir, FILE* err) {
  const std::optional<std::string> folder = AbsoluteFolder(value);
  if (!folder)
    return Report(err, kExitUsage,
                  "--product-dir \"" + value + "\" is not an absolute path");
  const std::string data = RegistryFolder(paths.RegistryPath);
  const std::string framework = RegistryFolder(data);
  if (IsRootFolder(*folder) || PathUnder(framework + "\\", *folder))
    return Report(err, kExitUsage,
                  "--product-dir \"" + value +
                      "\" would take the framework's own entries: it is a "
                      "root or holds " + framework);
  *dir = *folder;
  return kExitOk;
}

std::string EntryText(const ModuleEntry& entry) {
  if (!entry.hasConfigDir) return entry.path;
  return entry.path + " configDir: " + entry.configDir;
}

// One line per entry: |word| and the entry.
void SayEntries(FILE* out, const std::string& word,
                const std::vector<ModuleEntry>& entries) {
  for (const ModuleEntry& entry : entries) Say(out, word + EntryText(entry));
}

int StatusOf(RegistryStatus status) {
  switch (status) {
    case RegistryStatus::kWritten:
    case RegistryStatus::kUnchanged:
      return kExitOk;
    case RegistryStatus::kCannotRead:
      return kExitCannotRead;
    case RegistryStatus::kMalformed:
      return kExitMalformed;
    case RegistryStatus::kCannotWrite:
      return kExitCannotWrite;
  }
  return kExitCannotWrite;
}

// The update itself, turning a lack of memory into its status. A failed
// backup's |warning| is reported first, unless the registry cannot be
// read: it could not be copied either, and the failure's one line says
// why.
int Update(const RegistryPaths& paths, const RegistryEdit& edit,
           const std::string& warning, RegistryResult* result, FILE* err) {
  bool OutOfMemory = false;
  try {
    *result = UpdateRegistryFile(paths.RegistryPath, edit);
  } catch (const std::bad_alloc&) {
    OutOfMemory = true;
  }
  if (!warning.empty() &&
      (OutOfMemory || result->status != RegistryStatus::kCannotRead))
    Report(err, kExitOk, "warning: " + warning);
  if (OutOfMemory)
    return Report(err, kExitOutOfMemory,
                  "cannot update " + platform::DisplayName(paths.RegistryPath) +
                      ": out of memory; the registry is unchanged");
  int status = StatusOf(result->status);
  if (status != kExitOk) return Report(err, status, result->reason);
  return kExitOk;
}

// An unregistration has nothing to do without a registry: the framework
// may have been removed first.
bool NothingToUnregister(const RegistryPaths& paths, const RegistryEdit& edit,
                         bool verbose, FILE* out) {
  if (!edit.unregister || platform::PathExists(paths.RegistryPath))
    return false;
  if (verbose) Say(out, "result: no registry, nothing to remove");
  return true;
}

// Stages 7 and 8, under the registry folder's lock.
int UpdateRegistry(const RegistryPaths& paths, const RegistryEdit& edit,
                   bool verbose, FILE* out, FILE* err) {
  std::string error;
  std::string folder = RegistryFolder(paths.RegistryPath);
  if (verbose) SayRegistry(out, paths, verbose);
  if (!platform::LockRegistryFolder(folder, platform::kLockWaitMs, &error))
    return Report(err, kExitCannotLock,
                  "cannot lock " + platform::DisplayName(folder) + ": " + error);
  // Whatever a killed run left behind.
  platform::RemoveFile(RegistryTempPath(paths.RegistryPath));
  platform::RemoveFile(BackupTempPath(paths.BackupPath));
  if (NothingToUnregister(paths, edit, verbose, out)) return kExitOk;

  BackupState backup;
  const std::string warning =
      BackupRegistry(paths.RegistryPath, paths.BackupPath, &backup);
  if (verbose)
    Say(out, backup == BackupState::kMade    ? "backup: made"
             : backup == BackupState::kThere ? "backup: already there"
                                             : "backup: not made");

  RegistryResult result;
  int status = Update(paths, edit, warning, &result, err);
  if (status != kExitOk || !verbose) return status;
  SayEntries(out, "removed: ", result.removed);
  // Entries to add always mean a rewrite.
  SayEntries(out, "added: ", edit.entries);
  Say(out, result.status == RegistryStatus::kWritten ? "result: rewritten"
                                                      : "result: left as it was");
  return kExitOk;
}

// What UpdateRegistry would do, without locking or writing anything.
int DryRun(const RegistryPaths& paths, RegistryEdit edit, bool verbose,
           FILE* out, FILE* err) {
  if (verbose) SayRegistry(out, paths, verbose);
  if (NothingToUnregister(paths, edit, verbose, out)) return kExitOk;
  edit.dry_run = true;
  RegistryResult result;
  int status = Update(paths, edit, "", &result, err);
  if (status != kExitOk) return status;
  const bool written = result.status == RegistryStatus::kWritten;
  SayEntries(out, "remove: ", result.removed);
  SayEntries(out, "add: ", edit.entries);
  if (verbose)
    Say(out, !written        ? "result: would be left as it was"
             : result.changed ? "result: would be rewritten, Modules changed"
                              : "result: would be rewritten, Modules as it is");
  return result.changed ? kExitWouldChange : kExitOk;
}

int List(const RegistryPaths& paths, bool verbose, FILE* out, FILE* err) {
  std::vector<ModuleEntry> listed;
  RegistryResult result;
  try {
    result = ListRegistryFile(paths.RegistryPath, &listed);
  } catch (const std::bad_alloc&) {
    return Report(err, kExitOutOfMemory,
                  "cannot list " + platform::DisplayName(paths.RegistryPath) +
                      ": out of memory");
  }
  int status = StatusOf(result.status);
  if (status != kExitOk) return Report(err, status, result.reason);
  SayRegistry(out, paths, verbose);
  for (const ModuleEntry& entry : listed)
    Say(out, (platform::PathExists(entry.path) ? "module: " : "missing: ") +
                 EntryText(entry));
  return kExitOk;
}

int Pass(int argc, const char* const* argv, FILE* out, FILE* err) {
  const Options options = ParseOptions(argc, argv);
  if (!options.error.empty())
    return Report(err, kExitUsage, options.error + "; " + kUsage);
  if (options.mode == Mode::kHelp) {
    fputs(kHelp, out);
    return kExitOk;
  }
  if (options.mode == Mode::kVersion) {
    Say(out, "modreg " MODREG_VERSION);
    return kExitOk;
  }
  // 1. Command line.
  if (options.args.size() < 2 && options.mode == Mode::kRegister) {
    fputs("Device unsupport. exit!\n", out);
    fflush(out);
    return kExitShortCommandLine;
  }
  const std::string ArchArgument = options.args[0];
  if (options.mode == Mode::kList) {
    if (ArchArgument == "x86") ApplyArchitectureRule(platform::IsWow64());
    RegistryPaths paths;
    if (int status = ChooseRegistry(options, &paths, err)) return status;
    return List(paths, options.verbose, out, err);
  }
  // 4 (read first, so that a refused mask touches nothing).
  std::optional<int32_t> mask = ReadDeviceMask(options.args[1]);
  if (!mask)
    return Report(err, kExitBadMask,
                  "invalid device mask \"" + options.args[1] +
                      "\": expected a decimal number in the signed 32-bit "
                      "range");
  const int32_t DeviceMask = *mask;
  // 2. Architecture.
  if (ArchArgument == "x86") ApplyArchitectureRule(platform::IsWow64());
  // 3. Registry paths, before the product folder changes the root.
  RegistryPaths paths;
  std::string gone;
  if (int status = ChooseRegistry(options, &paths, err, &gone)) return status;
  if (!gone.empty()) {
    if (options.verbose) Say(out, "result: " + gone + ", nothing to remove");
    return kExitOk;
  }
  RegistryEdit edit;
  if (!options.product_dir.empty())
    if (int status = CheckProductDir(options.product_dir, paths,
                                     &edit.ProductDir, err))
      return status;
  // 5. Product folder; the modules are in --product-dir when given.
  edit.ProductFolder = ChooseProductFolder(DeviceMask);
  if (!edit.ProductDir.empty()) InstallRoot = edit.ProductDir + "\\";
  // 6. Module list: none to unregister.
  edit.unregister = options.mode == Mode::kUnregister;
  if (!edit.unregister) edit.entries = BuildModuleList(DeviceMask);
  if (std::optional<std::string> path = OverlongPath(edit.entries))
    return Report(err, kExitUsage, TooLong(*path));
  edit.report = options.verbose || options.dry_run;
  if (options.dry_run)
    return DryRun(paths, edit, options.verbose, out, err);
  // 7 and 8.
  return UpdateRegistry(paths, edit, options.verbose, out, err);
}

}  // namespace

int RunPass(int argc, const char* const* argv, FILE* out, FILE* err) {
  try {
    return Pass(argc, argv, out, err);
  } catch (const std::bad_alloc&) {
    return Report(err, kExitOutOfMemory, "out of memory");
  }
}
