#include "run/modes.h"

#include <string>
#include <vector>

#include "platform/boot.h"
#include "platform/files.h"
#include "platform/lookup.h"
#include "registry/rollback.h"
#include "run/report.h"
#include "run/status.h"

namespace run {

void RunRollback(const Options&, const Workplace& place, Outcome* out) {
  SayRegistry(out, place);
  registry::RegistryTransaction t;
  t.site = place.site;
  const registry::RollbackOutcome o =
      registry::RollBackRegistry(&t, platform::BootTime());
  const std::string record = platform::DisplayName(place.site.undo_record);
  const std::string run = "the " + o.record.action + " of " + o.record.id;
  switch (o.kind) {
    case registry::RollbackKind::kNoRecord:
      return Note(out, "result: no undo record " + record +
                           ", nothing to put back");
    case registry::RollbackKind::kRefused:
      return Fail(out, kExitRecordRefused,
                    "cannot use the undo record " + record + ": " + o.why +
                        "; the registry is unchanged");
    case registry::RollbackKind::kFailed:
      // The record stays for another try.
      SayFailure(place, "roll back", o.result, o.out_of_memory, out, true);
      return;
    case registry::RollbackKind::kStale:
      Warn(out, "warning: the undo record " + record +
                 " is of an earlier start of the machine: not applied");
      break;
    case registry::RollbackKind::kAsBefore:
      Note(out, "result: as before " + run + ", left as it was");
      break;
    case registry::RollbackKind::kRestored:
      Note(out, "result: restored as before " + run);
      break;
    case registry::RollbackKind::kUndoneOwn:
      Warn(out, "warning: " + platform::DisplayName(place.site.RegistryPath) +
                 " was changed after " + run + ": only its own change undone (" +
                 std::to_string(o.undone.taken_out) + " of " +
                 std::to_string(o.record.added.size()) +
                 " added entries taken out, " +
                 std::to_string(o.undone.put_back) + " of " +
                 std::to_string(o.record.removed.size()) +
                 " removed put back" +
                 // How many of those went after an entry they would have
                 // shadowed, when any did.
                 (o.undone.put_after == 0
                      ? ""
                      : ", " + std::to_string(o.undone.put_after) +
                            " of them after an entry of the same file name "
                            "they would have shadowed") +
                 ")");
      Note(out, "result: rewritten");
      break;
  }
  if (!o.dropped)
    Warn(out, "warning: cannot remove the undo record " + record);
}

void RunCommit(const Options&, const Workplace& place, Outcome* out) {
  SayRegistry(out, place);
  registry::RegistryTransaction t;
  t.site = place.site;
  bool dropped = false;
  const registry::RegistryResult result =
      registry::ForgetUndoRecord(&t, &dropped);
  if (result.status == registry::RegistryStatus::kCannotLock) {
    SayFailure(place, "commit", result, false, out);
    return;
  }
  if (!result.reason.empty())
    return Fail(out, kExitCannotWrite, result.reason);
  const std::string record = platform::DisplayName(place.site.undo_record);
  Note(out, dropped ? "result: undo record " + record + " dropped"
                    : "result: no undo record " + record + ", nothing to drop");
}

void SayUndoRecords(const Workplace& place, Outcome* out) {
  std::vector<std::string> names;
  std::string error;
  if (!platform::ListFolder(place.site.folder, registry::kUndoPrefix,
                            &names, &error))
    return;
  const long long boot = platform::BootTime();
  for (const std::string& name : names) {
    const std::string path = place.site.folder + "\\" + name;
    registry::UndoRecord record;
    std::string why;
    const registry::UndoLoad load =
        registry::LoadUndoRecord(path, &record, &why);
    if (load == registry::UndoLoad::kMissing) continue;
    Say(out, "undo record left: " + platform::DisplayName(path) + " (" +
                 (load == registry::UndoLoad::kRefused
                      ? "refused: " + why
                      : record.action + " of " + record.id +
                            (registry::SameBoot(record.boot, boot)
                                 ? ""
                                 : ", of an earlier start of the machine: "
                                   "stale")) +
                 ")");
  }
}

}  // namespace run
