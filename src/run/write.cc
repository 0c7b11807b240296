#include "run/write.h"

#include <string>
#include <vector>

#include "platform/boot.h"
#include "platform/lock.h"
#include "platform/lookup.h"
#include "registry/transaction.h"
#include "registry/update.h"
#include "run/report.h"
#include "run/status.h"

namespace run {

namespace {

// Says how the backup went, in the verbose report.
void SayBackup(const registry::PassOutcome& o, Sink* out) {
  if (o.backup == registry::BackupState::kNone) return;
  Note(out, o.backup == registry::BackupState::kMade    ? "backup: made"
            : o.backup == registry::BackupState::kThere ? "backup: already there"
                                              : "backup: not made");
}

// Warns of a backup not made, unless the registry could not be read
// either: the failure's one line says why.
void WarnOfBackup(const Workplace& place, const registry::PassOutcome& o,
                  Sink* out) {
  if (!o.backup_failure ||
      (!o.out_of_memory &&
       o.result.status == registry::RegistryStatus::kCannotRead))
    return;
  const registry::BackupFailure& failed = *o.backup_failure;
  Report(out, kExitOk,
         "warning: cannot back up " + platform::DisplayName(place.RegistryPath) +
             ": " +
             (failed.rename_failed
                  ? "renaming " + failed.temp + " to " + place.BackupPath
                  : "copying it to " + failed.temp) +
             ": " + failed.error);
}

// The failure of a pass that writes, said; kExitOk when there is none.
int SayFailure(const Workplace& place, const registry::PassOutcome& o, Sink* out) {
  if (o.out_of_memory)
    return Report(out, kExitOutOfMemory,
                  "cannot update " + platform::DisplayName(place.RegistryPath) +
                      ": out of memory; the registry is unchanged");
  const int status = StatusOf(o.result.status);
  if (status == kExitOk) return kExitOk;
  return Report(out, status, FailureText(place, "update", o.result));
}

// Says each removed child of Modules, |word| first.
void SayRemoved(void (*say)(Sink*, const std::string&), Sink* out,
                const std::string& word, const registry::PassOutcome& o) {
  for (const registry::RemovedChild& child : o.removed) say(out, word + EntryText(child.entry));
}

// The plan of a registration or an unregistration of |place|.
registry::PassPlan PlanFor(const Options& options, const Workplace& place, Sink* out) {
  registry::PassPlan plan;
  plan.edit.ProductFolder = place.ProductFolder;
  plan.edit.product_dir = place.product_dir;
  plan.edit.entries = place.entries;
  plan.edit.removals_alone_written = options.mode == Mode::kUnregister;
  plan.lock_wait_ms = platform::kLockWaitMs;
  plan.nothing_without_registry = options.mode == Mode::kUnregister;
  plan.judge_others = options.mode != Mode::kUnregister && !options.dry_run;
  plan.bits = place.framework_bits;
  plan.write = !options.dry_run;
  plan.check_first = options.strict && !options.dry_run;
  plan.check_after = !options.strict && WantsNotes(out);
  plan.report = WantsNotes(out) || options.dry_run;
  return plan;
}

// What a registration or an unregistration did, said in the order it
// happened: the check of --strict, the backup, the failure or what went
// and came, and in the verbose report the check of what came.
int SayUpdate(const Options& options, const Workplace& place,
              const registry::PassOutcome& o, Sink* out) {
  if (o.result.status == registry::RegistryStatus::kCannotLock)
    return Report(out, kExitCannotLock, FailureText(place, "lock", o.result));
  if (o.no_registry) {
    Note(out, "result: no registry, nothing to remove");
    return kExitOk;
  }
  for (const registry::OpenPart& part : o.open_parts)
    Report(out, kExitOk, "warning: " + platform::DisplayName(part.name) + " " +
                             OpenRisk(part));
  const std::string problem =
      options.strict && !o.checked_first.empty()
          ? SayCheck(o.checked_first, "the entries to add", out)
          : std::string();
  if (options.strict)
    for (const registry::CheckedModule& breaker : o.breakers)
      Note(out, "check: " + BreakerText(breaker));
  if (o.result.status == registry::RegistryStatus::kRefused && !problem.empty())
    return Report(out, kExitAddedFaulty,
                  "--strict: the check of the entries to add to " +
                      platform::DisplayName(place.RegistryPath) + " " +
                      problem + "; the registry is unchanged");
  if (o.result.status == registry::RegistryStatus::kRefused)
    return Report(out, kExitAddedFaulty,
                  "--strict: in " + platform::DisplayName(place.RegistryPath) +
                      ", " + BreakerText(o.breakers[0]) +
                      "; the registry is unchanged");
  SayBackup(o, out);
  WarnOfBackup(place, o, out);
  if (int status = SayFailure(place, o, out)) return status;
  if (!WantsNotes(out)) return kExitOk;
  SayRemoved(Note, out, "removed: ", o);
  SayEntries(Note, out, "added: ", place.entries);
  Note(out, o.rewrite ? "result: rewritten" : "result: left as it was");
  if (o.recorded)
    Note(out, "undo: recorded in " + platform::DisplayName(place.undo_record));
  // After the replace: nothing here changes the status.
  if (!o.check_after_failed.empty())
    Note(out, "check: cannot check the added entries: " + o.check_after_failed);
  else if (o.rewrite && !options.strict && !place.entries.empty())
    SayCheck(o.checked_after, "the added entries", out);
  if (!options.strict)
    for (const registry::CheckedModule& breaker : o.breakers)
      Note(out, "check: " + BreakerText(breaker));
  return kExitOk;
}

// What a dry run found: what would go and come. Status 1 when the
// registry's bytes would change.
int SayDryRun(const Workplace& place, const registry::PassOutcome& o, Sink* out) {
  if (o.no_registry) {
    Note(out, "result: no registry, nothing to remove");
    return kExitOk;
  }
  if (o.out_of_memory)
    return Report(out, kExitOutOfMemory,
                  "cannot read " + platform::DisplayName(place.RegistryPath) +
                      ": out of memory");
  if (int status = StatusOf(o.result.status))
    return Report(out, status, FailureText(place, "read", o.result));
  SayRemoved(Say, out, "remove: ", o);
  SayEntries(Say, out, "add: ", place.entries);
  // The status tells whether the registry's bytes would change; the
  // report also whether its entries would.
  Note(out, !o.rewrite    ? "result: would be left as it was"
            : !o.differs  ? "result: would be rewritten, same bytes"
            : o.changed   ? "result: would be rewritten, Modules changed"
                          : "result: would be rewritten, form changed");
  return o.differs ? kExitFound : kExitOk;
}

// The child |removed| as a repair names it: its line, then its path and
// configDir, or that it has no path.
std::string RepairedText(const registry::RemovedChild& removed) {
  return "line " + std::to_string(removed.line) + ": " +
         (removed.has_path ? EntryText(removed.entry) : "Module without path");
}

// What a repair did or, with --dry-run, would do.
int SayRepair(const Options& options, const Workplace& place,
              const registry::PassOutcome& o, Sink* out) {
  if (o.result.status == registry::RegistryStatus::kCannotLock)
    return Report(out, kExitCannotLock, FailureText(place, "lock", o.result));
  if (!o.loaded && o.out_of_memory)
    return Report(out, kExitOutOfMemory,
                  "cannot repair " + platform::DisplayName(place.RegistryPath) +
                      ": out of memory");
  if (!o.loaded)
    return Report(out, StatusOf(o.result.status),
                  FailureText(place, "repair", o.result) +
                      (o.result.status == registry::RegistryStatus::kCannotRead
                           ? VariableHint(place)
                           : std::string()));
  if (o.removed.empty()) {
    Note(out, "result: nothing breaks start-up, left as it was");
    return kExitOk;
  }
  if (options.dry_run) {
    for (const registry::RemovedChild& child : o.removed)
      Say(out, "remove: " + RepairedText(child));
    return kExitFound;
  }
  SayBackup(o, out);
  WarnOfBackup(place, o, out);
  if (int status = SayFailure(place, o, out)) return status;
  for (const registry::RemovedChild& child : o.removed)
    Say(out, "removed: " + RepairedText(child));
  Note(out, "result: rewritten");
  return kExitOk;
}

}  // namespace

int RunRegister(const Options& options, const Workplace& place, Sink* out) {
  SayRegistry(out, place);
  registry::RegistryTransaction t = TransactionFor(place);
  registry::PassPlan plan = PlanFor(options, place, out);
  if (!options.undo.empty()) {
    plan.undo_path = place.undo_record;
    t.undo.id = options.undo;
    t.undo.arch = options.args[0];
    t.undo.action =
        options.mode == Mode::kUnregister ? "unregistration" : "registration";
    t.undo.registry = place.RegistryPath;
    t.undo.boot = platform::BootTime();
  }
  const registry::PassOutcome o = registry::RunTransaction(&t, plan);
  return options.dry_run ? SayDryRun(place, o, out)
                         : SayUpdate(options, place, o, out);
}

int RunRepair(const Options& options, const Workplace& place, Sink* out) {
  SayRegistry(out, place);
  registry::PassPlan plan;
  plan.remove_breaking = true;
  plan.bits = place.framework_bits;
  plan.write = !options.dry_run;
  plan.lock_wait_ms = platform::kLockWaitMs;
  plan.back_up_only_if_rewritten = true;
  plan.report = true;
  registry::RegistryTransaction t = TransactionFor(place);
  return SayRepair(options, place, registry::RunTransaction(&t, plan), out);
}

}  // namespace run
