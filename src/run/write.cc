#include "run/write.h"

#include <new>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "registry/check.h"
#include "registry/transaction.h"
#include "registry/update.h"
#include "run/report.h"
#include "run/status.h"

namespace {

// An unregistration has nothing to do without a registry: the framework
// may have been removed first. Only a registry that is not there counts;
// one that cannot be looked at is status 3, in |*status|.
bool NothingToUnregister(const Options& options, const Workplace& place,
                         Sink* out, int* status) {
  if (options.mode != Mode::kUnregister) return false;
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
// ends.
int Lock(const Workplace& place, RegistryTransaction* t, Sink* out) {
  RegistryResult result;
  if (LockRegistry(t, platform::kLockWaitMs, &result)) return kExitOk;
  return Report(out, kExitCannotLock, FailureText(place, "lock", result));
}

// Names the backup, or drops it, and says how that went in the verbose
// report. Returns the warning of a backup not made, or empty.
std::string KeepAndSay(RegistryTransaction* t, Sink* out) {
  const std::string warning = KeepBackup(t);
  Note(out, t->backup_state == BackupState::kMade    ? "backup: made"
            : t->backup_state == BackupState::kThere ? "backup: already there"
                                                     : "backup: not made");
  return warning;
}

// Says each removed child of Modules, |word| first.
void SayRemoved(void (*say)(Sink*, const std::string&), Sink* out,
                const std::string& word,
                const std::vector<const rapidxml::xml_node<char>*>& removed) {
  for (const rapidxml::xml_node<char>* node : removed)
    say(out, word + EntryText(EntryOf(node)));
}

// The edit a registration or an unregistration of |place| makes.
RegistryEdit EditFor(const Options& options, const Workplace& place) {
  RegistryEdit edit;
  edit.ProductFolder = place.ProductFolder;
  edit.product_dir = place.ProductDir;
  edit.entries = place.entries;
  edit.removals_alone_written = options.mode == Mode::kUnregister;
  return edit;
}

// The registration's step before anything is written, with --strict: the
// entries to add, checked as --check checks them in the edited document,
// the entries kept counting as earlier ones. Status 8 with its message
// when one of them has a problem; else kExitOk.
int CheckBeforeWriting(const Workplace& place, const RegistryEdit& edit,
                       const RegistryTransaction& t, Sink* out) {
  const std::string problem = SayCheck(
      CheckAppended(t.document, place.framework_bits, edit.entries.size()),
      "the entries to add", out);
  if (problem.empty()) return kExitOk;
  return Report(out, kExitAddedFaulty,
                "--strict: the check of the entries to add to " +
                    platform::DisplayName(place.RegistryPath) + " " + problem +
                    "; the registry is unchanged");
}

// The out-of-memory failure of a pass that would write.
int OutOfMemory(const Workplace& place, Sink* out) {
  return Report(out, kExitOutOfMemory,
                "cannot update " + platform::DisplayName(place.RegistryPath) +
                    ": out of memory; the registry is unchanged");
}

// Writes the edited document, and says how that went. A failed backup's
// |warning| comes first.
int Commit(const Workplace& place, RegistryTransaction* t,
           const std::string& warning, std::vector<size_t>* module_lines,
           Sink* out) {
  if (!warning.empty()) Report(out, kExitOk, "warning: " + warning);
  RegistryResult result;
  try {
    result = CommitRegistry(t, module_lines);
  } catch (const std::bad_alloc&) {
    return OutOfMemory(place, out);
  }
  if (int status = StatusOf(result.status))
    return Report(out, status, FailureText(place, "update", result));
  return kExitOk;
}

// The registration or unregistration under the lock, on the document
// loaded once: the check of --strict, the backup, the edit, the commit,
// and, in the verbose report, what went, what came and the check of what
// came.
int Update(const Options& options, const Workplace& place,
           const RegistryEdit& edit, RegistryTransaction* t, Sink* out) {
  const bool check_first = options.strict && !edit.entries.empty();
  RegistryResult loaded;
  EditOutcome outcome;
  bool out_of_memory = false;
  try {
    LoadMode mode;
    mode.back_up = true;
    mode.find_lines = check_first;
    loaded = LoadRegistry(t, mode);
    if (loaded.reason.empty()) {
      outcome = ApplyEdit(edit, t->document.doc.get(), t->document.modules);
      if (check_first)
        if (int refused = CheckBeforeWriting(place, edit, *t, out))
          return refused;  // the prepared backup goes with the transaction
    }
  } catch (const std::bad_alloc&) {
    // Whatever was read is let go: naming the backup may need memory.
    t->document.doc.reset();
    ByteBuffer().swap(t->document.text);
    out_of_memory = true;
  }
  const std::string warning = KeepAndSay(t, out);
  if (out_of_memory || !loaded.reason.empty()) {
    if (!warning.empty() &&
        (out_of_memory || loaded.status != RegistryStatus::kCannotRead))
      Report(out, kExitOk, "warning: " + warning);
    if (out_of_memory) return OutOfMemory(place, out);
    return Report(out, StatusOf(loaded.status),
                  FailureText(place, "update", loaded));
  }
  const bool check_after =
      !options.strict && !edit.entries.empty() && WantsNotes(out);
  std::vector<size_t> lines;
  if (outcome.rewrite)
    if (int status = Commit(place, t, warning, check_after ? &lines : nullptr,
                            out))
      return status;
  if (!outcome.rewrite && !warning.empty())
    Report(out, kExitOk, "warning: " + warning);
  if (!WantsNotes(out)) return kExitOk;
  if (outcome.rewrite) SayRemoved(Note, out, "removed: ", outcome.removed);
  SayEntries(Note, out, "added: ", edit.entries);
  Note(out, outcome.rewrite ? "result: rewritten" : "result: left as it was");
  // After the replace: nothing here changes the status.
  if (check_after)
    SayCheck(CheckAppended(t->document, place.framework_bits,
                           edit.entries.size(), &lines),
             "the added entries", out);
  return kExitOk;
}

// What a registration or an unregistration would do, without locking or
// writing anything. Status 1 when the registry's bytes would change.
int DryRun(const Workplace& place, const RegistryEdit& edit,
           RegistryTransaction* t, Sink* out) {
  RegistryResult loaded;
  EditOutcome outcome;
  bool differs = false;
  try {
    LoadMode mode;
    mode.keep_raw = true;
    loaded = LoadRegistry(t, mode);
    if (loaded.reason.empty()) {
      outcome = ApplyEdit(edit, t->document.doc.get(), t->document.modules,
                          true);
      differs = outcome.rewrite && !PrintsAsRead(*t);
    }
  } catch (const std::bad_alloc&) {
    return Report(out, kExitOutOfMemory,
                  "cannot read " + platform::DisplayName(place.RegistryPath) +
                      ": out of memory");
  }
  if (!loaded.reason.empty())
    return Report(out, StatusOf(loaded.status),
                  FailureText(place, "read", loaded));
  if (outcome.rewrite) SayRemoved(Say, out, "remove: ", outcome.removed);
  SayEntries(Say, out, "add: ", edit.entries);
  // The status tells whether the registry's bytes would change; the
  // report also whether its entries would.
  Note(out, !outcome.rewrite ? "result: would be left as it was"
            : !differs       ? "result: would be rewritten, same bytes"
            : outcome.changed ? "result: would be rewritten, Modules changed"
                              : "result: would be rewritten, form changed");
  return differs ? kExitFound : kExitOk;
}

// The entry |module| as a repair names it: its line, then its path and
// configDir, or that it has no path.
std::string RepairedText(const CheckedModule& module) {
  return "line " + std::to_string(module.line) + ": " +
         (module.has_path ? EntryText(module.entry) : "Module without path");
}

}  // namespace

int RunRegister(const Options& options, const Workplace& place, Sink* out) {
  const RegistryEdit edit = EditFor(options, place);
  RegistryTransaction t = TransactionFor(place);
  SayRegistry(out, place);
  int status = kExitOk;
  if (!options.dry_run) status = Lock(place, &t, out);
  if (status == kExitOk && !NothingToUnregister(options, place, out, &status)) {
    if (options.dry_run) {
      status = DryRun(place, edit, &t, out);
    } else {
      if (options.mode != Mode::kUnregister) WarnIfOpenToOthers(place, out);
      status = Update(options, place, edit, &t, out);
    }
  }
  EndTransaction(&t);
  return status;
}

int RunRepair(const Options& options, const Workplace& place, Sink* out) {
  RegistryTransaction t = TransactionFor(place);
  SayRegistry(out, place);
  if (!options.dry_run)
    if (int status = Lock(place, &t, out)) return status;
  RegistryResult loaded;
  LoadMode mode;
  mode.back_up = !options.dry_run;
  mode.find_lines = true;
  try {
    loaded = LoadRegistry(&t, mode);
  } catch (const std::bad_alloc&) {
    EndTransaction(&t);
    return Report(out, kExitOutOfMemory,
                  "cannot repair " + platform::DisplayName(place.RegistryPath) +
                      ": out of memory");
  }
  if (!loaded.reason.empty()) {
    EndTransaction(&t);  // a repair that writes nothing backs up nothing
    return Report(out, StatusOf(loaded.status),
                  FailureText(place, "repair", loaded) +
                      (loaded.status == RegistryStatus::kCannotRead
                           ? VariableHint(place)
                           : std::string()));
  }
  RegistryEdit edit;
  std::vector<std::string> taken;
  for (const CheckedModule& module :
       CheckDocument(t.document, place.framework_bits))
    for (const Finding& finding : module.findings)
      if (finding.kind == kBreaksStartup) {
        edit.modules.push_back(module.node);
        taken.push_back(RepairedText(module));
        break;
      }
  int status = kExitOk;
  if (taken.empty()) {
    Note(out, "result: nothing breaks start-up, left as it was");
  } else if (options.dry_run) {
    for (const std::string& text : taken) Say(out, "remove: " + text);
    status = kExitFound;
  } else {
    const std::string warning = KeepAndSay(&t, out);
    ApplyEdit(edit, t.document.doc.get(), t.document.modules);
    status = Commit(place, &t, warning, nullptr, out);
    if (status == kExitOk) {
      for (const std::string& text : taken) Say(out, "removed: " + text);
      Note(out, "result: rewritten");
    }
  }
  EndTransaction(&t);
  return status;
}
