#include "run/driver.h"

#include <new>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "registry/backup.h"
#include "registry/check.h"
#include "registry/list.h"
#include "registry/update.h"
#include "run/layout.h"
#include "run/location.h"
#include "run/log.h"
#include "run/mask.h"
#include "run/modules.h"
#include "run/options.h"

namespace {

// The registry's line, through |say|; in the verbose report where its
// folder came from.
void SayRegistry(Sink* out, const RegistryPaths& paths,
                 void (*say)(Sink*, const std::string&) = Note) {
  say(out, "registry: " + platform::DisplayName(paths.RegistryPath));
  Note(out, "framework folder: " + paths.source);
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
int ChooseRegistry(const Options& options, RegistryPaths* paths, Sink* err,
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
                    std::string* dir, Sink* err) {
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

// Each line of |text|.
void SayText(Sink* out, const std::string& text) {
  size_t from = 0;
  for (size_t end; (end = text.find('\n', from)) != std::string::npos;
       from = end + 1)
    Say(out, text.substr(from, end - from));
}

// How an argument was read, when that was not plain.
void NoteReading(Sink* out, const std::string& note) {
  if (!note.empty()) Note(out, note);
}

// One line per entry, |word| and the entry, through |say| (Say or Note).
void SayEntries(void (*say)(Sink*, const std::string&), Sink* out,
                const std::string& word,
                const std::vector<ModuleEntry>& entries) {
  for (const ModuleEntry& entry : entries) say(out, word + EntryText(entry));
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
           const std::string& warning, RegistryResult* result, Sink* err) {
  bool OutOfMemory = false;
  try {
    *result = UpdateRegistryFile(paths.RegistryPath, edit);
  } catch (const std::bad_alloc&) {
    OutOfMemory = true;
  }
  if (!warning.empty() &&
      (OutOfMemory || result->status != RegistryStatus::kCannotRead))
    Report(err, kExitOk, "warning: " + warning);
  if (OutOfMemory && edit.dry_run)
    return Report(err, kExitOutOfMemory,
                  "cannot read " + platform::DisplayName(paths.RegistryPath) +
                      ": out of memory");
  if (OutOfMemory)
    return Report(err, kExitOutOfMemory,
                  "cannot update " + platform::DisplayName(paths.RegistryPath) +
                      ": out of memory; the registry is unchanged");
  int status = StatusOf(result->status);
  if (status != kExitOk) return Report(err, status, result->reason);
  return kExitOk;
}

// An unregistration has nothing to do without a registry: the framework
// may have been removed first. Only a registry that is not there counts;
// one that cannot be looked at is status 3, in |*status|.
bool NothingToUnregister(const RegistryPaths& paths, const RegistryEdit& edit,
                         Sink* out, int* status) {
  if (!edit.unregister) return false;
  std::string reason;
  platform::Presence presence = platform::LookUp(paths.RegistryPath, &reason);
  if (presence == platform::Presence::kExists) return false;
  *status = kExitOk;
  if (presence == platform::Presence::kError)
    *status = Report(out, kExitCannotRead,
                     "cannot read " + platform::DisplayName(paths.RegistryPath) +
                         ": " + reason);
  else
    Note(out, "result: no registry, nothing to remove");
  return true;
}

// What a registry folder that others may change lets them do.
const char kOpenFolderRisk[] =
    "can be changed by users who are not administrators: any of them can "
    "choose the modules every OpenNI application loads";

bool FolderOpen(const std::string& folder) {
  std::string ignored;
  return platform::FolderOpenToOthers(folder, &ignored);
}

// Says once when users who are not administrators may change the
// registry's folder.
void WarnOfOpenFolder(const std::string& folder, Sink* out) {
  if (FolderOpen(folder))
    Report(out, kExitOk, "warning: " + platform::DisplayName(folder) + " " +
                             kOpenFolderRisk);
}

// The pass's last steps, the backup and the registry update, under the
// registry folder's lock.
int UpdateRegistry(const RegistryPaths& paths, const RegistryEdit& edit,
                   Sink* out) {
  std::string error;
  std::string folder = RegistryFolder(paths.RegistryPath);
  SayRegistry(out, paths);
  if (!platform::LockRegistryFolder(folder, platform::kLockWaitMs, &error))
    return Report(out, kExitCannotLock,
                  "cannot lock " + platform::DisplayName(folder) + ": " + error);
  // Whatever a killed run left behind.
  platform::RemoveFile(RegistryTempPath(paths.RegistryPath));
  platform::RemoveFile(BackupTempPath(paths.BackupPath));
  int nothing = kExitOk;
  if (NothingToUnregister(paths, edit, out, &nothing)) return nothing;
  if (!edit.unregister) WarnOfOpenFolder(folder, out);

  BackupState backup;
  const std::string warning =
      BackupRegistry(paths.RegistryPath, paths.BackupPath, &backup);
  Note(out, backup == BackupState::kMade    ? "backup: made"
            : backup == BackupState::kThere ? "backup: already there"
                                            : "backup: not made");

  RegistryResult result;
  int status = Update(paths, edit, warning, &result, out);
  if (status != kExitOk || !Noting(out)) return status;
  SayEntries(Note, out, "removed: ", result.removed);
  // Entries to add always mean a rewrite.
  SayEntries(Note, out, "added: ", edit.entries);
  Note(out, result.status == RegistryStatus::kWritten ? "result: rewritten"
                                                       : "result: left as it was");
  return kExitOk;
}

// What UpdateRegistry would do, without locking or writing anything.
int DryRun(const RegistryPaths& paths, RegistryEdit edit, Sink* out) {
  SayRegistry(out, paths);
  int nothing = kExitOk;
  if (NothingToUnregister(paths, edit, out, &nothing)) return nothing;
  edit.dry_run = true;
  RegistryResult result;
  int status = Update(paths, edit, "", &result, out);
  if (status != kExitOk) return status;
  const bool written = result.status == RegistryStatus::kWritten;
  SayEntries(Say, out, "remove: ", result.removed);
  SayEntries(Say, out, "add: ", edit.entries);
  // The status tells whether the registry's bytes would change; the
  // report also whether its entries would.
  const bool differs = written && result.differs;
  Note(out, !written         ? "result: would be left as it was"
            : !differs       ? "result: would be rewritten, same bytes"
            : result.changed ? "result: would be rewritten, Modules changed"
                             : "result: would be rewritten, form changed");
  return differs ? kExitWouldChange : kExitOk;
}

// Reads the registry through |read| for a mode that only reads (|doing|
// it: "list", "check"): a lack of memory and a failure become their
// status and message, kExitOk when it was read.
template <typename Read>
int ReadRegistry(const RegistryPaths& paths, const char* doing, Sink* out,
                 Read read) {
  RegistryResult result;
  try {
    result = read();
  } catch (const std::bad_alloc&) {
    return Report(out, kExitOutOfMemory,
                  std::string("cannot ") + doing + " " +
                      platform::DisplayName(paths.RegistryPath) +
                      ": out of memory");
  }
  const int status = StatusOf(result.status);
  return status == kExitOk ? kExitOk : Report(out, status, result.reason);
}

int List(const RegistryPaths& paths, int bits, Sink* out) {
  std::vector<ModuleEntry> listed;
  std::vector<bool> is_module;
  if (int status = ReadRegistry(paths, "list", out, [&] {
        return ListRegistryFile(paths.RegistryPath, &listed, &is_module);
      }))
    return status;
  SayRegistry(out, paths, Say);
  // Module elements are checked together, as the framework loads them;
  // other children each on its own, for its files only.
  std::vector<ModuleEntry> modules;
  for (size_t i = 0; i < listed.size(); ++i)
    if (is_module[i]) modules.push_back(listed[i]);
  std::vector<CheckedModule> checked = CheckEntries(modules, bits);
  size_t next = 0;
  for (size_t i = 0; i < listed.size(); ++i) {
    const CheckedModule module = is_module[i]
                                     ? checked[next++]
                                     : CheckEntries({listed[i]}, bits)[0];
    Say(out, (module.findings.empty() ? std::string("module")
                                      : module.findings[0].kind) +
                 ": " + EntryText(listed[i]));
  }
  return kExitOk;
}

// One line per problem; in the verbose report the registry first and the
// modules that are fine too. Status 1 when there is a problem.
int Check(const RegistryPaths& paths, int bits, Sink* out) {
  std::vector<CheckedModule> checked;
  if (int status = ReadRegistry(paths, "check", out, [&] {
        return CheckRegistryFile(paths.RegistryPath, bits, &checked);
      }))
    return status;
  SayRegistry(out, paths);
  size_t problems = 0;
  const std::string folder = RegistryFolder(paths.RegistryPath);
  if (FolderOpen(folder)) {
    Say(out, "unsafe: " + platform::DisplayName(folder) + " (" +
                 kOpenFolderRisk + ")");
    ++problems;
  }
  for (const CheckedModule& module : checked) {
    problems += module.findings.size();
    for (const std::string& line : CheckLines(module, true))
      (module.findings.empty() ? Note : Say)(out, line);
  }
  return problems ? kExitProblems : kExitOk;
}

// After a registration, in the verbose report: the new entries, checked as
// --check checks them where the framework reads them. Changes no status.
void CheckAdded(const RegistryPaths& paths, size_t added, int bits,
                Sink* out) {
  std::vector<CheckedModule> checked;
  RegistryResult result = CheckRegistryFile(paths.RegistryPath, bits, &checked);
  if (!result.reason.empty() || checked.size() < added) {
    Note(out, "check: cannot check the added entries: " + result.reason);
    return;
  }
  size_t problems = 0;
  for (size_t i = checked.size() - added; i < checked.size(); ++i) {
    problems += checked[i].findings.size();
    for (const std::string& line : CheckLines(checked[i], true)) Note(out, line);
  }
  Note(out, problems ? "check: " + std::to_string(problems) +
                           " problem(s) with the added entries"
                     : std::string("check: the added entries are fine"));
}

// The files of the registry, and their temporary files, under either root
// and in the folder --openni or --openni-env names:
// a log appended to one of them would damage it.
std::vector<std::string> RegistryFiles(const Options& options) {
  std::vector<std::string> registries;
  for (const std::string& root : {InstallRoot, InstallRoot + " (x86)"})
    registries.push_back(root + "\\OpenNI\\Data\\modules.xml");
  // And the one --openni or --openni-env names, when it is known.
  if (!options.args.empty()) {
    const FrameworkFolder folder = ChooseFrameworkFolder(
        options.openni, options.openni_env, options.args[0]);
    if (folder.status == 0 && !folder.is_default)
      registries.push_back(RegistryPathsIn(folder.dir).RegistryPath);
  }
  std::vector<std::string> files;
  for (const std::string& registry : registries)
    files.insert(files.end(),
                 {registry, registry + ".old", RegistryTempPath(registry),
                  BackupTempPath(registry + ".old")});
  return files;
}

int Pass(int argc, const char* const* argv, Sink* out) {
  const Options options = ParseOptions(argc, argv);
  if (!options.log.empty())
    OpenLog(out, options.log, argc, argv, RegistryFiles(options));
  out->verbose = options.verbose;
  if (!options.error.empty())
    return Report(out, kExitUsage, options.error + "; " + kUsage);
  if (options.mode == Mode::kHelp) {
    SayText(out, kHelp);
    return kExitOk;
  }
  if (options.mode == Mode::kVersion) {
    Say(out, "modreg " MODREG_VERSION);
    return kExitOk;
  }
  // The pass: the command line first.
  if (options.args.size() < 2 && options.mode == Mode::kRegister) {
    fputs("Device unsupport. exit!\n", out->out);
    fflush(out->out);
    return kExitShortCommandLine;
  }
  const std::string ArchArgument = options.args[0];
  if (options.mode == Mode::kList || options.mode == Mode::kCheck) {
    if (ArchArgument == "x86") ApplyArchitectureRule(platform::IsWow64());
    NoteReading(out, ArchNote(ArchArgument, InstallRoot));
    RegistryPaths paths;
    if (int status = ChooseRegistry(options, &paths, out)) return status;
    const int bits = FrameworkBits(ArchArgument);
    return options.mode == Mode::kList ? List(paths, bits, out)
                                       : Check(paths, bits, out);
  }
  // The device mask, read before the architecture and the paths, so that a
  // refused mask touches nothing.
  std::optional<int32_t> mask = ReadDeviceMask(options.args[1]);
  if (!mask)
    return Report(out, kExitBadMask,
                  "invalid device mask \"" + options.args[1] +
                      "\": expected a decimal number in the signed 32-bit "
                      "range");
  const int32_t DeviceMask = *mask;
  // The architecture.
  if (ArchArgument == "x86") ApplyArchitectureRule(platform::IsWow64());
  NoteReading(out, ArchNote(ArchArgument, InstallRoot));
  NoteReading(out, MaskNote(options.args[1]));
  // The registry paths, before the product folder changes the root.
  RegistryPaths paths;
  std::string gone;
  if (int status = ChooseRegistry(options, &paths, out, &gone)) return status;
  if (!gone.empty()) {
    Note(out, "result: " + gone + ", nothing to remove");
    return kExitOk;
  }
  RegistryEdit edit;
  if (!options.product_dir.empty())
    if (int status = CheckProductDir(options.product_dir, paths,
                                     &edit.ProductDir, out))
      return status;
  // The product folder; the modules are in --product-dir when given.
  edit.ProductFolder = ChooseProductFolder(DeviceMask);
  if (!edit.ProductDir.empty()) InstallRoot = edit.ProductDir + "\\";
  // The module list: none to unregister.
  edit.unregister = options.mode == Mode::kUnregister;
  if (!edit.unregister) edit.entries = BuildModuleList(DeviceMask);
  if (std::optional<std::string> path = OverlongPath(edit.entries))
    return Report(out, kExitUsage, TooLong(*path));
  edit.report = Noting(out) || options.dry_run;
  if (options.dry_run) return DryRun(paths, edit, out);
  // The backup and the registry update; the verbose report then checks
  // what it added.
  int status = UpdateRegistry(paths, edit, out);
  if (status == kExitOk && Noting(out) && !edit.entries.empty())
    CheckAdded(paths, edit.entries.size(), FrameworkBits(ArchArgument), out);
  return status;
}

}  // namespace

int RunPass(int argc, const char* const* argv, FILE* out, FILE* err) {
  Sink sink;
  sink.out = out;
  sink.err = err;
  int status;
  try {
    status = Pass(argc, argv, &sink);
  } catch (const std::bad_alloc&) {
    status = Report(&sink, kExitOutOfMemory, "out of memory");
  }
  CloseLog(&sink, status);
  return status;
}
