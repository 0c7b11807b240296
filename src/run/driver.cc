#include "run/driver.h"

#include <cstdlib>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/lock.h"
#include "platform/lookup.h"
#include "platform/process.h"
#include "platform/winpath.h"
#include "registry/backup.h"
#include "registry/check.h"
#include "registry/list.h"
#include "registry/update.h"
#include "platform/faults.h"
#include "registry/replace.h"
#include "run/log.h"
#include "run/query.h"
#include "run/options.h"
#include "run/report.h"
#include "run/status.h"
#include "run/workplace.h"

namespace {

// Each line of |text|.
void SayText(Sink* out, const std::string& text) {
  size_t from = 0;
  for (size_t end; (end = text.find('\n', from)) != std::string::npos;
       from = end + 1)
    Say(out, text.substr(from, end - from));
}

// The update itself, turning a lack of memory into its status. A failed
// backup's |warning| is reported first, unless the registry cannot be
// read: it could not be copied either, and the failure's one line says
// why.
int UpdateAndReport(const Workplace& place, const RegistryEdit& edit,
                    const std::string& warning, RegistryResult* result,
                    Sink* err) {
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

// Warns once of each part of the registry that users who are not
// administrators may change.
void WarnIfOpenToOthers(const Workplace& place, Sink* out) {
  for (const OpenToOthers& open : RegistryOpenToOthers(place))
    Report(out, kExitOk,
           "warning: " + platform::DisplayName(open.name) + " " + open.risk);
}

// Takes the registry folder's lock, which this run then holds until it
// ends; first whatever a killed run left behind goes.
int Lock(const Workplace& place, Sink* out) {
  std::string error;
  std::optional<bool> fault = faults::Intercept("lock", &error);
  if (fault ? !*fault
            : !platform::LockRegistryFolder(
                  place.registry_folder, kLockFileName,
                  faults::LockWaitMs(platform::kLockWaitMs), &error))
    return Report(out, kExitCannotLock,
                  "cannot lock " + platform::DisplayName(place.registry_folder) +
                      ": " + error);
  faults::Hold("hold-lock");
  platform::RemoveFile(TempPathFor(place.RegistryPath));
  platform::RemoveFile(TempPathFor(place.BackupPath));
  return kExitOk;
}

// Makes the registry's backup when there is none, and says how that
// went in the verbose report. Returns the warning of a backup not made,
// or empty.
std::string BackUp(const Workplace& place, Sink* out) {
  BackupState backup;
  const std::string warning =
      BackupRegistry(place.RegistryPath, place.BackupPath, &backup);
  Note(out, backup == BackupState::kMade    ? "backup: made"
            : backup == BackupState::kThere ? "backup: already there"
                                            : "backup: not made");
  return warning;
}

// After a registration without --strict, in the verbose report: the new
// entries, checked as --check checks them where the framework reads them:
// their files only, the entries before them counting as earlier ones. The
// registry is replaced by then: nothing here changes the status.
void CheckAdded(const Workplace& place, Sink* out) {
  std::vector<CheckedModule> checked;
  RegistryResult result;
  const size_t added = place.entries.size();
  try {
    result = CheckRegistryFile(place.RegistryPath, place.framework_bits,
                               &checked, added);
  } catch (const std::bad_alloc&) {
    result.reason = "out of memory";
  }
  if (!result.reason.empty() || checked.size() != added)
    Note(out, "check: cannot check the added entries: " +
                  (result.reason.empty() ? "the registry has changed"
                                         : result.reason));
  else
    SayCheck(checked, "the added entries", out);
}

// With --strict, before the backup and the write: the entries to add,
// checked as --check checks them in the registry as it would be written,
// the entries it keeps counting as earlier ones. Status 8 with its
// message when one of them has a problem, the registry untouched; else
// kExitOk, also when the registry cannot be read: the update says why.
int CheckBeforeWriting(const Workplace& place, const RegistryEdit& edit,
                       Sink* out) {
  std::vector<ModuleEntry> entries;
  std::vector<size_t> lines;
  if (!ReadKeptEntries(place.RegistryPath, edit, &entries, &lines)
           .reason.empty())
    return kExitOk;
  const size_t kept = entries.size();
  entries.insert(entries.end(), edit.entries.begin(), edit.entries.end());
  const std::string problem = SayCheck(
      CheckEntries(entries, place.framework_bits, kept, lines),
      "the entries to add", out);
  if (problem.empty()) return kExitOk;
  return Report(out, kExitAddedFaulty,
                "--strict: the check of the entries to add to " +
                    platform::DisplayName(place.RegistryPath) + " " + problem +
                    "; the registry is unchanged");
}

// The backup and the registry update, under the registry folder's lock;
// with |check_first| (--strict) the entries to add are checked before
// either.
int UpdateRegistry(const Workplace& place, const RegistryEdit& edit,
                   bool check_first, Sink* out) {
  SayRegistry(out, place);
  int status = Lock(place, out);
  if (status != kExitOk || NothingToUnregister(place, edit, out, &status))
    return status;
  if (!edit.unregister) WarnIfOpenToOthers(place, out);
  if (check_first && !edit.entries.empty())
    if (int refused = CheckBeforeWriting(place, edit, out)) return refused;

  const std::string warning = BackUp(place, out);

  RegistryResult result;
  status = UpdateAndReport(place, edit, warning, &result, out);
  if (status != kExitOk || !WantsNotes(out)) return status;
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
  int status = kExitOk;
  if (NothingToUnregister(place, edit, out, &status)) return status;
  edit.dry_run = true;
  RegistryResult result;
  status = UpdateAndReport(place, edit, "", &result, out);
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

// A registration or an unregistration, where |place| says: the backup and
// the update under the lock (without either for a dry run). With
// --strict the entries to add are checked first, and a problem is the
// status, with nothing written; otherwise, in the verbose report, what a
// registration added is checked after.
int Register(const Options& options, const Workplace& place, Sink* out) {
  RegistryEdit edit;
  edit.ProductFolder = place.ProductFolder;
  edit.ProductDir = place.ProductDir;
  edit.unregister = options.mode == Mode::kUnregister;
  edit.entries = place.entries;
  edit.report = WantsNotes(out) || options.dry_run;
  if (options.dry_run) return DryRun(place, edit, out);
  const int status = UpdateRegistry(place, edit, options.strict, out);
  if (status == kExitOk && !edit.entries.empty() && !options.strict &&
      WantsNotes(out))
    CheckAdded(place, out);
  return status;
}

// The entry |module| as a repair names it: its line, then its path and
// configDir, or that it has no path.
std::string RepairedText(const CheckedModule& module) {
  return "line " + std::to_string(module.line) + ": " +
         (module.has_path ? EntryText(module.entry) : "Module without path");
}

// --repair: takes out, under the lock and through the backup and the
// replace of a registration, the Module elements that stop every
// application from starting, and nothing else. With --dry-run, only says
// which, and is status 1 when there is one.
int Repair(const Options& options, const Workplace& place, Sink* out) {
  SayRegistry(out, place);
  if (!options.dry_run)
    if (int status = Lock(place, out)) return status;
  std::vector<CheckedModule> checked;
  if (int status = ReadAndReport(place, "repair", out, [&] {
        return CheckRegistryFile(place.RegistryPath, place.framework_bits,
                                 &checked, 0, "repair");
      }))
    return status;
  RegistryEdit edit;
  edit.unregister = true;  // rewritten when something goes
  std::vector<std::string> taken;
  for (size_t i = 0; i < checked.size(); ++i)
    for (const Finding& finding : checked[i].findings)
      if (finding.kind == kBreaksStartup) {
        edit.modules_at.push_back(i);
        taken.push_back(RepairedText(checked[i]));
        break;
      }
  if (taken.empty()) {
    Note(out, "result: nothing breaks start-up, left as it was");
    return kExitOk;
  }
  if (options.dry_run) {
    for (const std::string& text : taken) Say(out, "remove: " + text);
    return kExitFound;
  }
  const std::string warning = BackUp(place, out);
  RegistryResult result;
  if (int status = UpdateAndReport(place, edit, warning, &result, out))
    return status;
  for (const std::string& text : taken) Say(out, "removed: " + text);
  Note(out, "result: rewritten");
  return kExitOk;
}

// Whether |options| ask for a pass that works on a registry.
bool WorksOnRegistry(const Options& options) {
  if (!options.error.empty()) return false;
  switch (options.mode) {
    case Mode::kList:
    case Mode::kCheck:
    case Mode::kUnregister:
    case Mode::kRepair:
      return true;
    case Mode::kRegister:
    case Mode::kDetect:
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
    OpenLog(out, options.log, argc, argv, RegistryFiles(options, place));
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
  if (!place.nothing_to_do.empty() && options.mode != Mode::kDetect) {
    Note(out, "result: " + place.nothing_to_do + ", nothing to remove");
    return kExitOk;
  }
  // Act, and report.
  switch (options.mode) {
    case Mode::kList:
      return RunList(place, out);
    case Mode::kCheck:
      return RunCheck(place, out);
    case Mode::kDetect:
      return Detect(place, out);
    case Mode::kRepair:
      return Repair(options, place, out);
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
