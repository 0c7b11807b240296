#include "run/write.h"

#include <string>
#include <vector>

#include "platform/boot.h"
#include "platform/lookup.h"
#include "registry/transaction.h"
#include "registry/update.h"
#include "run/report.h"
#include "run/status.h"

namespace run {

namespace {

// Says how the backup went, in the verbose report.
void SayBackup(const registry::PassOutcome& o, Outcome* out) {
  if (o.backup == registry::BackupState::kNone) return;
  Note(out, o.backup == registry::BackupState::kMade    ? "backup: made"
            : o.backup == registry::BackupState::kThere ? "backup: already there"
                                              : "backup: not made");
}

// Warns of a backup not made, unless the registry could not be read
// either: the failure's one line says why.
void WarnOfBackup(const Workplace& place, const registry::PassOutcome& o,
                  Outcome* out) {
  if (!o.backup_failure ||
      (!o.out_of_memory &&
       o.result.status == registry::RegistryStatus::kCannotRead))
    return;
  const registry::BackupFailure& failed = *o.backup_failure;
  Warn(out, "warning: cannot back up " +
                 platform::DisplayName(place.site.RegistryPath) + ": " +
                 (failed.rename_failed
                      ? "renaming " + failed.temp + " to " +
                            place.site.BackupPath
                      : "copying it to " + failed.temp) +
                 ": " + failed.error);
}

// Says each removed child of Modules, |word| first.
void SayRemoved(SayFunction say, Outcome* out,
                const std::string& word, const registry::PassOutcome& o) {
  for (const registry::RemovedChild& child : o.removed) say(out, word + EntryText(child.entry));
}

// The plan of a registration (|unregistering| false) or an
// unregistration of |place|, with its undo record when --undo asks.
registry::PassPlan PlanFor(const Options& options, const Workplace& place,
                           bool unregistering) {
  registry::PassPlan plan;
  plan.edit.ProductFolder = place.ProductFolder;
  plan.edit.product_dir = place.product_dir;
  plan.edit.entries = place.entries;
  plan.edit.removals_alone_written = unregistering;
  plan.nothing_without_registry = unregistering;
  plan.judge_others = !unregistering && !options.dry_run;
  plan.bits = place.framework_bits;
  plan.write = options.mode->writes && !options.dry_run;
  plan.check_first = options.strict && !options.dry_run;
  plan.check_after = !options.strict && WantsReport(options);
  plan.report = WantsReport(options) || options.dry_run;
  if (!options.undo.empty()) {
    plan.undo_id = options.undo;
    plan.undo_arch = options.args[0];
    plan.undo_action = unregistering ? "unregistration" : "registration";
    plan.boot = platform::BootTime();
  }
  return plan;
}

// What a registration or an unregistration did, said in the order it
// happened: the check of --strict, the backup, the failure or what went
// and came, and in the verbose report the check of what came.
void SayUpdate(const Options& options, const Workplace& place,
              const registry::PassOutcome& o, Outcome* out) {
  if (o.no_registry) return Note(out, "result: no registry, nothing to remove");
  for (const registry::OpenPart& part : o.open_parts)
    Warn(out, "warning: " + platform::DisplayName(part.name) + " " +
                             OpenRisk(part));
  const std::string problem =
      options.strict && !o.checked_first.empty()
          ? SayCheck(o.checked_first, "the entries to add", out)
          : std::string();
  if (options.strict)
    for (const registry::CheckedModule& breaker : o.breakers)
      Note(out, "check: " + BreakerText(breaker));
  if (o.result.status == registry::RegistryStatus::kRefused && !problem.empty())
    return Fail(out, kExitAddedFaulty,
                  "--strict: the check of the entries to add to " +
                      platform::DisplayName(place.site.RegistryPath) + " " +
                      problem + "; the registry is unchanged");
  if (o.result.status == registry::RegistryStatus::kRefused)
    return Fail(out, kExitAddedFaulty,
                  "--strict: in " + platform::DisplayName(place.site.RegistryPath) +
                      ", " + BreakerText(o.breakers[0]) +
                      "; the registry is unchanged");
  SayBackup(o, out);
  WarnOfBackup(place, o, out);
  if (SayFailure(place, "update", o.result, o.out_of_memory, out, true) ||
      !WantsReport(options))
    return;
  SayRemoved(Note, out, "removed: ", o);
  SayEntries(Note, out, "added: ", place.entries);
  Note(out, o.rewrite ? "result: rewritten" : "result: left as it was");
  if (o.recorded)
    Note(out, "undo: recorded in " + platform::DisplayName(place.site.undo_record));
  // After the replace: nothing here changes the status.
  if (!o.check_after_failed.empty())
    Note(out, "check: cannot check the added entries: " + o.check_after_failed);
  else if (o.rewrite && !options.strict && !place.entries.empty())
    SayCheck(o.checked_after, "the added entries", out);
  if (!options.strict)
    for (const registry::CheckedModule& breaker : o.breakers)
      Note(out, "check: " + BreakerText(breaker));
}

// What a dry run found: what would go and come. Status 1 when the
// registry's bytes would change.
void SayDryRun(const Workplace& place, const registry::PassOutcome& o, Outcome* out) {
  if (o.no_registry) return Note(out, "result: no registry, nothing to remove");
  if (SayFailure(place, "read", o.result, o.out_of_memory, out)) return;
  SayRemoved(Say, out, "remove: ", o);
  SayEntries(Say, out, "add: ", place.entries);
  // The status tells whether the registry's bytes would change; the
  // report also whether its entries would.
  Note(out, !o.rewrite    ? "result: would be left as it was"
            : !o.differs  ? "result: would be rewritten, same bytes"
            : o.changed   ? "result: would be rewritten, Modules changed"
                          : "result: would be rewritten, form changed");
  if (o.differs) out->status = kExitFound;
}

// The child |removed| as a repair names it: its line, then the element as
// printed, which support can put back by hand.
std::string RepairedText(const registry::RemovedChild& removed) {
  return "line " + std::to_string(removed.line) + ": " + removed.text;
}

// What a repair did or, with --dry-run, would do.
void SayRepair(const Options& options, const Workplace& place,
              const registry::PassOutcome& o, Outcome* out) {
  if (!o.loaded &&
      SayFailure(place, "repair", o.result, o.out_of_memory, out, false, true))
    return;
  if (o.removed.empty())
    return Note(out, "result: nothing breaks start-up, left as it was");
  if (options.dry_run) {
    for (const registry::RemovedChild& child : o.removed)
      Say(out, "remove: " + RepairedText(child));
    out->status = kExitFound;
    return;
  }
  SayBackup(o, out);
  WarnOfBackup(place, o, out);
  if (SayFailure(place, "update", o.result, o.out_of_memory, out, true))
    return;
  for (const registry::RemovedChild& child : o.removed)
    Say(out, "removed: " + RepairedText(child));
  Note(out, "result: rewritten");
}

// A registration or an unregistration where |place| says, or its dry run.
void RunUpdate(const Options& options, const Workplace& place,
               bool unregistering, Outcome* out) {
  SayRegistry(out, place);
  registry::RegistryTransaction t;
  t.site = place.site;
  const registry::PassOutcome o =
      registry::RunTransaction(&t, PlanFor(options, place, unregistering));
  if (options.dry_run)
    SayDryRun(place, o, out);
  else
    SayUpdate(options, place, o, out);
}

}  // namespace

void RunRegister(const Options& options, const Workplace& place,
                 Outcome* out) {
  RunUpdate(options, place, false, out);
}

void RunUnregister(const Options& options, const Workplace& place,
                   Outcome* out) {
  RunUpdate(options, place, true, out);
}

void RunRepair(const Options& options, const Workplace& place, Outcome* out) {
  SayRegistry(out, place);
  registry::PassPlan plan;
  plan.remove_breaking = true;
  plan.bits = place.framework_bits;
  plan.write = options.mode->writes && !options.dry_run;
  plan.back_up_only_if_rewritten = true;
  plan.report = true;
  registry::RegistryTransaction t;
  t.site = place.site;
  SayRepair(options, place, registry::RunTransaction(&t, plan), out);
}

}  // namespace run
