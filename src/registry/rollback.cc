#include "registry/rollback.h"

#include <new>

#include "platform/files.h"
#include "platform/lookup.h"
#include "registry/rewrite.h"

namespace registry {

namespace {

// Loads the registry, puts it back and says how, in |o|.
void PutBack(RegistryTransaction* t, RollbackOutcome* o) {
  PassPlan plan;
  plan.write = false;  // keeps the bytes read, makes no backup
  const RegistryResult loaded = LoadRegistry(t, plan);
  // Read whole, or changed since.
  const RegistryState state =
      t->document.read ? JudgeRegistry(o->record, t->raw.data(), t->raw.size())
                       : RegistryState::kChangedAfter;
  if (state == RegistryState::kAsBefore) {
    o->kind = RollbackKind::kAsBefore;
    return;
  }
  if (state == RegistryState::kAsWritten) {
    o->result = WriteBytes(t->site.RegistryPath, o->record.before.data(),
                            o->record.before.size());
  } else if (!loaded.reason.empty()) {
    o->result = loaded;
  } else {
    o->undone = UndoOwnChange(o->record, t->document.doc.get(),
                              t->document.modules);
    o->result = WriteDocument(t->site.RegistryPath, t->document);
  }
  o->kind = !o->result.reason.empty()             ? RollbackKind::kFailed
            : state == RegistryState::kAsWritten ? RollbackKind::kRestored
                                                 : RollbackKind::kUndoneOwn;
}

}  // namespace

RollbackOutcome RollBackRegistry(RegistryTransaction* t, long long boot_now) {
  RollbackOutcome o;
  const std::string& record_path = t->site.undo_record;
  std::string error;
  // Nothing recorded: nothing to lock for, and a framework folder that is
  // gone is no failure.
  if (platform::LookUp(record_path, &error) == platform::Presence::kMissing)
    return o;
  if (!LockRegistry(t, &o.result)) {
    o.kind = RollbackKind::kFailed;
    o.dropped = false;
    return o;
  }
  // Under the lock: the record loaded and judged, the registry put back.
  const UndoLoad load = LoadUndoRecord(record_path, &o.record, &o.why);
  if (load == UndoLoad::kMissing) return o;
  if (load == UndoLoad::kRefused) {
    o.kind = RollbackKind::kRefused;
  } else if (o.record.registry != t->site.RegistryPath) {
    o.kind = RollbackKind::kRefused;
    o.why = "it was written for another registry, " + o.record.registry;
  } else if (!SameBoot(o.record.boot, boot_now)) {
    o.kind = RollbackKind::kStale;
  } else {
    try {
      PutBack(t, &o);
    } catch (const std::bad_alloc&) {
      o.out_of_memory = true;
      o.kind = RollbackKind::kFailed;
    } catch (const rapidxml::parse_error& e) {
      o.kind = RollbackKind::kRefused;
      o.why = std::string("it is damaged: an element it keeps is no XML: ") +
              e.what();
    }
  }
  // A failed rollback keeps the record: it may be run again.
  o.dropped = o.kind != RollbackKind::kFailed &&
              o.kind != RollbackKind::kRefused &&
              platform::RemoveFile(record_path);
  return o;
}

RegistryResult ForgetUndoRecord(RegistryTransaction* t, bool* dropped) {
  RegistryResult result;
  const std::string& record_path = t->site.undo_record;
  std::string error;
  *dropped = false;
  if (platform::LookUp(record_path, &error) == platform::Presence::kMissing)
    return result;
  if (!LockRegistry(t, &result)) return result;
  // Another run may have dropped it while this one waited for the lock.
  if (platform::LookUp(record_path, &error) == platform::Presence::kMissing)
    return result;
  if (!platform::RemoveFile(record_path))
    return RegistryFailure(RegistryStatus::kCannotWrite,
                           "cannot remove the undo record " + record_path);
  *dropped = true;
  return result;
}

}  // namespace registry
