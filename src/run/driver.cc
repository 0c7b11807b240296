#include "run/driver.h"

#include <cstdlib>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "registry/backup.h"
#include "registry/check.h"
#include "registry/list.h"
#include "registry/update.h"
#include "platform/faults.h"
#include "registry/replace.h"
#include "run/log.h"
#include "run/options.h"
#include "run/status.h"
#include "run/workplace.h"

namespace {

// The registry's line, through |say|; in the verbose report where its
// folder came from.
void SayRegistry(Sink* out, const Workplace& place,
                 void (*say)(Sink*, const std::string&) = Note) {
  say(out, "registry: " + platform::DisplayName(place.RegistryPath));
  Note(out, "framework folder: " + place.source);
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
int Update(const Workplace& place, const RegistryEdit& edit,
           const std::string& warning, RegistryResult* result, Sink* err) {
  bool out_of_memory = false;
  try {
    *result = UpdateRegistryFile(place.RegistryPath, edit);
  } catch (const std::bad_alloc&) {
    out_of_memory = true;
  }
  if (!warning.empty() &&
      (out_of_memory || result->status != RegistryStatus::kCannotRead))
    Report(err, kExitOk, "warning: " + warning);
  if (out_of_memory && edit.dry_run)
    return Report(err, kExitOutOfMemory,
                  "cannot read " + platform::DisplayName(place.RegistryPath) +
                      ": out of memory");
  if (out_of_memory)
    return Report(err, kExitOutOfMemory,
                  "cannot update " + platform::DisplayName(place.RegistryPath) +
                      ": out of memory; the registry is unchanged");
  int status = StatusOf(result->status);
  if (status != kExitOk) return Report(err, status, result->reason);
  return kExitOk;
}

// An unregistration has nothing to do without a registry: the framework
// may have been removed first. Only a registry that is not there counts;
// one that cannot be looked at is status 3, in |*status|.
bool NothingToUnregister(const Workplace& place, const RegistryEdit& edit,
                         Sink* out, int* status) {
  if (!edit.unregister) return false;
  std::string reason;
  platform::Presence presence = platform::LookUp(place.RegistryPath, &reason);
  if (presence == platform::Presence::kExists) return false;
  *status = kExitOk;
  if (presence == platform::Presence::kError)
    *status = Report(out, kExitCannotRead,
                     "cannot read " + platform::DisplayName(place.RegistryPath) +
                         ": " + reason);
  else
    Note(out, "result: no registry, nothing to remove");
  return true;
}

// What a registry folder that others may change lets them do, after
// |folder|'s name: which parent lets them, when one does.
std::string OpenFolderRisk(const std::string& folder,
                           const std::string& through) {
  return platform::DisplayName(folder) +
         " can be changed by users who are not administrators" +
         (through.empty() ? "" : ", through its parent " + through) +
         ": any of them can choose the modules every OpenNI application "
         "loads";
}

// Whether users who are not administrators may change the registry's
// folder; |*risk| then says so.
bool FolderOpen(const std::string& folder, std::string* risk) {
  std::string through, ignored;
  if (!platform::FolderOpenToOthers(folder, &through, &ignored)) return false;
  *risk = OpenFolderRisk(folder, through);
  return true;
}

// Says once when users who are not administrators may change the
// registry's folder.
void WarnOfOpenFolder(const std::string& folder, Sink* out) {
  std::string risk;
  if (FolderOpen(folder, &risk)) Report(out, kExitOk, "warning: " + risk);
}

// Takes the registry folder's lock, which this run then holds until it
// ends; first whatever a killed run left behind goes.
int Lock(const Workplace& place, Sink* out) {
  std::string error;
  std::optional<bool> fault = faults::Intercept("lock", &error);
  if (fault ? !*fault
            : !platform::LockRegistryFolder(
                  place.registry_folder,
                  faults::LockWaitMs(platform::kLockWaitMs), &error))
    return Report(out, kExitCannotLock,
                  "cannot lock " + platform::DisplayName(place.registry_folder) +
                      ": " + error);
  faults::Hold("hold-lock");
  platform::RemoveFile(TempPathFor(place.RegistryPath));
  platform::RemoveFile(TempPathFor(place.BackupPath));
  return kExitOk;
}

// The backup and the registry update, under the registry folder's lock.
int UpdateRegistry(const Workplace& place, const RegistryEdit& edit,
                   Sink* out) {
  SayRegistry(out, place);
  if (int status = Lock(place, out)) return status;
  int nothing = kExitOk;
  if (NothingToUnregister(place, edit, out, &nothing)) return nothing;
  if (!edit.unregister) WarnOfOpenFolder(place.registry_folder, out);

  BackupState backup;
  const std::string warning =
      BackupRegistry(place.RegistryPath, place.BackupPath, &backup);
  Note(out, backup == BackupState::kMade    ? "backup: made"
            : backup == BackupState::kThere ? "backup: already there"
                                            : "backup: not made");

  RegistryResult result;
  int status = Update(place, edit, warning, &result, out);
  if (status != kExitOk || !Noting(out)) return status;
  SayEntries(Note, out, "removed: ", result.removed);
  // Entries to add always mean a rewrite.
  SayEntries(Note, out, "added: ", edit.entries);
  Note(out, result.status == RegistryStatus::kWritten ? "result: rewritten"
                                                       : "result: left as it was");
  return kExitOk;
}

// What UpdateRegistry would do, without locking or writing anything.
int DryRun(const Workplace& place, RegistryEdit edit, Sink* out) {
  SayRegistry(out, place);
  int nothing = kExitOk;
  if (NothingToUnregister(place, edit, out, &nothing)) return nothing;
  edit.dry_run = true;
  RegistryResult result;
  int status = Update(place, edit, "", &result, out);
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
  return differs ? kExitFound : kExitOk;
}

// When the registry is missing at the default place while the variable
// of the framework of |place|'s width (the machine's value first) names
// another folder: which, and how to read the registry there. Else empty.
std::string VariableHint(const Workplace& place) {
  std::string reason, source;
  if (place.source != "the default" ||
      platform::LookUp(place.RegistryPath, &reason) !=
          platform::Presence::kMissing)
    return "";
  const std::string& name = place.framework_variable;
  const std::string value = ReadFrameworkVariable(name, &source);
  const std::optional<std::string> folder = AbsoluteFolder(value);
  if (value.empty() ||
      (folder && PathUnder(place.RegistryPath, *folder + "\\Data")))
    return "";
  return "; the framework's variable " + name + " names \"" + value +
         "\": add --openni-env to read the registry there";
}

// Reads the registry through |read| for a mode that only reads (|doing|
// it: "list", "check"): a lack of memory and a failure become their
// status and message, kExitOk when it was read.
template <typename Read>
int ReadRegistry(const Workplace& place, const char* doing, Sink* out,
                 Read read) {
  RegistryResult result;
  try {
    result = read();
  } catch (const std::bad_alloc&) {
    return Report(out, kExitOutOfMemory,
                  std::string("cannot ") + doing + " " +
                      platform::DisplayName(place.RegistryPath) +
                      ": out of memory");
  }
  const int status = StatusOf(result.status);
  if (status == kExitOk) return kExitOk;
  return Report(out, status,
                result.reason + (status == kExitCannotRead
                                     ? VariableHint(place)
                                     : std::string()));
}

int List(const Workplace& place, Sink* out) {
  std::vector<ListedChild> listed;
  if (int status = ReadRegistry(place, "list", out, [&] {
        return ListRegistryFile(place.RegistryPath, &listed);
      }))
    return status;
  SayRegistry(out, place, Say);
  // Module elements are checked together, as the framework loads them;
  // other children each on its own, for its files only.
  std::vector<ModuleEntry> modules;
  std::vector<size_t> lines;
  for (const ListedChild& child : listed)
    if (child.is_module && child.has_path) {
      modules.push_back(child.entry);
      lines.push_back(child.line);
    }
  const int bits = place.framework_bits;
  std::vector<CheckedModule> checked = CheckEntries(modules, bits, 0, lines);
  size_t next = 0;
  for (const ListedChild& child : listed) {
    if (!child.has_path) {  // as --check says it
      Say(out, CheckLines(PathlessModule(child.line), false)[0]);
      continue;
    }
    const CheckedModule module = child.is_module
                                     ? checked[next++]
                                     : CheckEntries({child.entry}, bits)[0];
    Say(out, (module.findings.empty() ? std::string("module")
                                      : module.findings[0].kind) +
                 ": " + EntryText(child.entry));
  }
  return kExitOk;
}

// One line per problem; in the verbose report the registry first and the
// modules that are fine too. Status 1 when there is a problem.
int Check(const Workplace& place, Sink* out) {
  std::vector<CheckedModule> checked;
  if (int status = ReadRegistry(place, "check", out, [&] {
        return CheckRegistryFile(place.RegistryPath, place.framework_bits,
                                 &checked);
      }))
    return status;
  SayRegistry(out, place);
  size_t problems = 0;
  std::string risk;
  if (FolderOpen(place.registry_folder, &risk)) {
    const std::string name = platform::DisplayName(place.registry_folder);
    // The folder's name first, then what others can do, in parentheses.
    Say(out, "unsafe: " + name + " (" + risk.substr(name.size() + 1) + ")");
    ++problems;
  }
  for (const CheckedModule& module : checked) {
    problems += module.findings.size();
    for (const std::string& line : CheckLines(module, true))
      (module.findings.empty() ? Note : Say)(out, line);
  }
  return problems ? kExitFound : kExitOk;
}

// After a registration: the new entries, checked as --check checks them
// where the framework reads them: their files only, the entries before
// them counting as earlier ones, each line in the verbose report. Returns
// what the check found ("found N problem(s), the first: LINE") or why it
// could not be made; empty when the entries are fine. The registry is
// replaced by then: only --strict makes this the status.
std::string CheckAdded(const Workplace& place, Sink* out) {
  std::vector<CheckedModule> checked;
  RegistryResult result;
  const size_t added = place.entries.size();
  try {
    result = CheckRegistryFile(place.RegistryPath, place.framework_bits,
                               &checked, added);
  } catch (const std::bad_alloc&) {
    result.reason = "out of memory";
  }
  if (!result.reason.empty() || checked.size() != added) {
    const std::string why =
        result.reason.empty() ? "the registry has changed" : result.reason;
    Note(out, "check: cannot check the added entries: " + why);
    return "could not be made: " + why;
  }
  size_t problems = 0;
  std::string first;
  for (const CheckedModule& module : checked) {
    problems += module.findings.size();
    for (const std::string& line : CheckLines(module, true)) {
      Note(out, line);
      if (first.empty() && !module.findings.empty()) first = line;
    }
  }
  if (!problems) {
    Note(out, "check: the added entries are fine");
    return "";
  }
  Note(out, "check: " + std::to_string(problems) +
                " problem(s) with the added entries");
  return "found " + std::to_string(problems) + " problem(s), the first: " +
         first;
}

// A registration or an unregistration, where |place| says: the backup and
// the update under the lock (without either for a dry run); then the
// check of what a registration added, in the verbose report, and with
// --strict as the status.
int Register(const Options& options, const Workplace& place, Sink* out) {
  RegistryEdit edit;
  edit.ProductFolder = place.ProductFolder;
  edit.ProductDir = place.ProductDir;
  edit.unregister = options.mode == Mode::kUnregister;
  edit.entries = place.entries;
  edit.report = Noting(out) || options.dry_run;
  if (options.dry_run) return DryRun(place, edit, out);
  const int status = UpdateRegistry(place, edit, out);
  if (status != kExitOk || edit.entries.empty() ||
      !(Noting(out) || options.strict))
    return status;
  const std::string problem = CheckAdded(place, out);
  if (problem.empty() || !options.strict) return status;
  return Report(out, kExitAddedFaulty,
                "--strict: the check of the entries added to " +
                    platform::DisplayName(place.RegistryPath) + " " + problem +
                    "; the registry stays as written");
}

// Whether |options| ask for a pass that works on a registry.
bool WorksOnRegistry(const Options& options) {
  if (!options.error.empty()) return false;
  switch (options.mode) {
    case Mode::kList:
    case Mode::kCheck:
    case Mode::kUnregister:
      return true;
    case Mode::kRegister:
      return options.args.size() >= 2;
    case Mode::kHelp:
    case Mode::kVersion:
      return false;
  }
  return false;
}

int Pass(int argc, const char* const* argv, Sink* out) {
  // The command line, and where the run works.
  const Options options = ParseOptions(argc, argv);
  Workplace place;
  std::string refusal;
  const int decided =
      WorksOnRegistry(options)
          ? DecideWorkplace(options, platform::IsWow64, &place, &refusal)
          : kExitOk;
  if (!options.log.empty())
    OpenLog(out, options.log, argc, argv, RegistryFiles(place));
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
  if (!WorksOnRegistry(options)) {
    // Kept word for word: installers may look for this message.
    fputs("Device unsupport. exit!\n", out->out);
    fflush(out->out);
    if (options.asked_help)
      Report(out, kExitOk, "for help, run modreg --help");
    return kExitShortCommandLine;
  }
  for (const std::string& note : place.notes) Note(out, note);
  if (decided != kExitOk) return Report(out, decided, refusal);
  if (!place.nothing_to_do.empty()) {
    Note(out, "result: " + place.nothing_to_do + ", nothing to remove");
    return kExitOk;
  }
  // Act, and report.
  switch (options.mode) {
    case Mode::kList:
      return List(place, out);
    case Mode::kCheck:
      return Check(place, out);
    default:
      return Register(options, place, out);
  }
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
  platform::UnlockRegistryFolder();
  CloseLog(&sink, status);
  return status;
}
