#include "run/modes.h"

#include <string>
#include <vector>

#include "platform/boot.h"
#include "platform/lookup.h"
#include "registry/transaction.h"
#include "run/report.h"
#include "run/status.h"

namespace run {

namespace {

// Says how the backup went, in the verbose report, and warns of a backup
// not made, unless the registry could not be read either: the failure's
// one line says why.
void SayBackup(const Workplace& place, const registry::PassOutcome& o,
               Outcome* out) {
  if (o.backup != registry::BackupState::kNone)
    Note(out, o.backup == registry::BackupState::kMade    ? "backup: made"
              : o.backup == registry::BackupState::kThere ? "backup: already there"
                                                          : "backup: not made");
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
  // The undo record's fields: read only when there is an undo_id.
  plan.undo_id = options.undo;
  plan.undo_arch = options.args[0];
  plan.undo_action = unregistering ? "unregistration" : "registration";
  if (!options.undo.empty()) plan.boot = platform::BootTime();
  return plan;
}

// What a registration or an unregistration did, said in the order it
// happened: the check of --strict, the backup, the failure or what went
// and came, and in the verbose report the check of what came.
void SayUpdate(const Options& options, const Workplace& place,
              const registry::PassOutcome& o, Outcome* out) {
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
  if (o.result.status == registry::RegistryStatus::kRefused)
    return Fail(out, kExitAddedFaulty,
                (problem.empty()
                     ? "--strict: in "
                     : "--strict: the check of the entries to add to ") +
                    platform::DisplayName(place.site.RegistryPath) +
                    (problem.empty() ? ", " + BreakerText(o.breakers[0])
                                     : " " + problem) +
                    "; the registry is unchanged");
  SayBackup(place, o, out);
  if (SayFailure(place, "update", o.result, o.out_of_memory, out, true) ||
      !WantsReport(options))
    return;
  for (const registry::RemovedChild& child : o.removed)
    Note(out, "removed: " + EntryText(child.entry));
  for (const registry::ModuleEntry& entry : place.entries)
    Note(out, "added: " + EntryText(entry));
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
  if (SayFailure(place, "read", o.result, o.out_of_memory, out)) return;
  for (const registry::RemovedChild& child : o.removed)
    Say(out, "remove: " + EntryText(child.entry));
  for (const registry::ModuleEntry& entry : place.entries)
    Say(out, "add: " + EntryText(entry));
  // The status tells whether the registry's bytes would change; the
  // report also whether its entries would.
  Note(out, !o.rewrite    ? "result: would be left as it was"
            : !o.differs  ? "result: would be rewritten, same bytes"
            : o.changed   ? "result: would be rewritten, Modules changed"
                          : "result: would be rewritten, form changed");
  if (o.differs) out->status = kExitFound;
}

// What a repair did or, with --dry-run, would do. Each child removed is
// named by its line, then the element as printed, which support can put
// back by hand.
void SayRepair(const Options& options, const Workplace& place,
              const registry::PassOutcome& o, Outcome* out) {
  if (!o.loaded &&
      SayFailure(place, "repair", o.result, o.out_of_memory, out, false, true))
    return;
  if (o.removed.empty())
    return Note(out, "result: nothing breaks start-up, left as it was");
  if (!options.dry_run) {
    SayBackup(place, o, out);
    if (SayFailure(place, "update", o.result, o.out_of_memory, out, true))
      return;
  }
  for (const registry::RemovedChild& child : o.removed)
    Say(out, (options.dry_run ? "remove: line " : "removed: line ") +
                 std::to_string(child.line) + ": " + child.text);
  if (options.dry_run)
    out->status = kExitFound;
  else
    Note(out, "result: rewritten");
}

}  // namespace

void RunUpdate(const Options& options, const Workplace& place, Outcome* out) {
  SayRegistry(out, place);
  registry::RegistryTransaction t;
  t.site = place.site;
  const registry::PassOutcome o = registry::RunTransaction(
      // The mode that adds no entries is the unregistration.
      &t, PlanFor(options, place, !options.mode->entries));
  if (o.no_registry)
    Note(out, "result: no registry, nothing to remove");
  else if (options.dry_run)
    SayDryRun(place, o, out);
  else
    SayUpdate(options, place, o, out);
}

void RunRepair(const Options& options, const Workplace& place, Outcome* out) {
  SayRegistry(out, place);
  registry::PassPlan plan;
  plan.repair = true;
  plan.bits = place.framework_bits;
  plan.write = options.mode->writes && !options.dry_run;
  registry::RegistryTransaction t;
  t.site = place.site;
  SayRepair(options, place, registry::RunTransaction(&t, plan), out);
}

}  // namespace run
