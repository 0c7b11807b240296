#include "registry/transaction.h"

#include <new>
#include <optional>

#include "platform/faults.h"
#include "platform/files.h"
#include "platform/lookup.h"
#include "platform/trust.h"
#include "registry/backup.h"
#include "registry/rewrite.h"
#include "registry/printer.h"

namespace registry {

namespace {

// Loads, edits and checks before writing, as |plan| says; the edit's
// entries live in |edit|, and the children it took out, where they stood,
// in |places| for the undo record. False when the pass stops there: a
// failure, a refusal or a dry run, told in |o|.
bool LoadAndEdit(RegistryTransaction* t, const PassPlan& plan,
                 RegistryEdit* edit, std::vector<RemovedElement>* places,
                 PassOutcome* o) {
  o->result = LoadRegistry(t, plan);
  if (!o->result.reason.empty()) return false;
  RegistryDocument& document = t->document;
  if (plan.repair)
    for (const CheckedModule& module :
         StartupBreakers(CheckDocument(document, plan.bits)))
      edit->modules.push_back(module.node);
  const EditOutcome edited =
      ApplyEdit(*edit, document.doc.get(), document.modules, !plan.write);
  // The children taken out as an undo record keeps them: where each stood
  // and its text.
  if (!plan.undo_id.empty())
    for (size_t i = 0; i < edited.removed.size(); ++i)
      places->push_back({edited.removed_at[i], PrintedNode(*edited.removed[i])});
  o->loaded = true;
  o->rewrite = edited.rewrite;
  // The children taken out as values, each with its line when the
  // document has its line ends.
  if ((plan.report || plan.repair) && edited.rewrite)
    for (const rapidxml::xml_node<char>* node : edited.removed)
      o->removed.push_back(
          {PathAttribute(node) ? EntryOf(node) : ModuleEntry{},
           document.line_ends.empty() ? 0 : LineOf(document, node),
           PrintedOnOneLine(*node)});
  if (plan.check_first && !edit->entries.empty()) {
    o->checked_first =
        CheckAppended(document, plan.bits, edit->entries.size());
    // What it keeps must not stop the framework either.
    const bool refused = CountProblems(o->checked_first) > 0;
    if (!refused)
      o->breakers = StartupBreakers(CheckDocument(document, plan.bits),
                                    edit->entries.size());
    if (refused || !o->breakers.empty()) {
      o->result.status = RegistryStatus::kRefused;
      return false;
    }
  }
  if (plan.write) return true;
  o->changed = edited.changed;
  // Whether the printed document would differ from the bytes read (kept
  // for a dry run).
  PrintHints hints;
  if (document.plain_attributes)
    hints.plain = {document.text.data(), document.text.size()};
  o->differs = edited.rewrite &&
               !PrintsAs(*document.doc, hints, t->raw.data(), t->raw.size());
  return false;
}

// Names the backup, or drops it when |plan| keeps it only for a rewrite
// and there is none.
void SettleBackup(RegistryTransaction* t, const PassPlan& plan,
                  PassOutcome* o) {
  const bool failed = o->out_of_memory || !o->result.reason.empty();
  if (plan.repair && (failed || !o->rewrite))
    return DropBackup(t);
  o->backup_failure = KeepBackup(t);
  o->backup = t->backup_state;
}

// Writes the undo record of |plan|'s run at |t|'s site, durably: the
// registry's bytes before, the children the edit took out (|places|), the
// entries it added, and the bytes written, |size| and |digest|. False
// with the reason in |error|.
bool RecordUndo(RegistryTransaction* t, const PassPlan& plan,
                std::vector<RemovedElement> places, unsigned long long size,
                const std::string& digest, std::string* error) {
  const UndoRecord record{plan.undo_id, plan.undo_arch, plan.undo_action,
                          plan.boot, t->site.RegistryPath, std::move(t->raw),
                          size, digest, std::move(places), plan.edit.entries};
  if (WriteUndoRecord(t->site.undo_record, record, error)) return true;
  *error = "its undo record " + t->site.undo_record + ": " + *error;
  return false;
}

// Writes the edited document, with its undo record when |plan| keeps
// one, and, with |check_after|, checks it where the written file has it:
// the appended entries, and what stops every application from starting.
void WriteEdited(RegistryTransaction* t, const PassPlan& plan,
                 std::vector<RemovedElement>* places, PassOutcome* o) {
  std::vector<size_t> lines;
  const size_t added = plan.edit.entries.size();
  const bool check = plan.check_after && added > 0;
  WriteHooks hooks;
  hooks.module_lines = check ? &lines : nullptr;
  if (!plan.undo_id.empty())
    hooks.before_rename = [&](unsigned long long size,
                              const std::string& digest, std::string* error) {
      o->recorded =
          RecordUndo(t, plan, std::move(*places), size, digest, error);
      return o->recorded;
    };
  try {
    o->result = WriteDocument(t->site.RegistryPath, t->document, hooks);
  } catch (const std::bad_alloc&) {
    o->out_of_memory = true;  // before the rename
  }
  // Failed before the rename: the registry kept its bytes.
  if (o->out_of_memory || !o->result.reason.empty()) {
    if (o->recorded) platform::RemoveFile(t->site.undo_record);
    o->recorded = false;
    return;
  }
  if (!check) return;
  try {
    std::vector<CheckedModule> all =
        CheckDocument(t->document, plan.bits, &lines);
    o->breakers = StartupBreakers(all, added);
    o->checked_after.assign(std::make_move_iterator(all.end() - added),
                            std::make_move_iterator(all.end()));
  } catch (const std::bad_alloc&) {
    o->check_after_failed = "out of memory";
  }
}

}  // namespace

bool LockRegistry(RegistryTransaction* t, RegistryResult* result) {
  std::string error;
  const RegistrySite& site = t->site;
  std::optional<bool> fault = platform::faults::Intercept("lock", &error);
  if (fault ? !*fault
            : !platform::LockRegistryFolder(
                  site.folder, kLockFileName,
                  platform::faults::LockWaitMs(platform::kLockWaitMs),
                  &t->lock, &error)) {
    *result = RegistryFailure(RegistryStatus::kCannotLock, error);
    return false;
  }
  platform::faults::Hold("hold-lock");
  // Only a lock that keeps every other run waiting makes them leftovers.
  if (!platform::RegistryLockHeldAlone(t->lock)) return true;
  platform::RemoveFile(TempPathFor(site.RegistryPath));
  platform::RemoveFile(TempPathFor(site.BackupPath));
  // Undo records' temporary files, of whatever ID.
  std::vector<std::string> names;
  std::string ignored;
  if (platform::ListFolder(site.folder, kUndoPrefix, &names, &ignored))
    for (const std::string& name : names)
      if (name.size() > 4 && name.compare(name.size() - 4, 4, ".tmp") == 0)
        platform::RemoveFile(site.folder + "\\" + name);
  return true;
}

RegistryResult LoadRegistry(RegistryTransaction* t, const PassPlan& plan) {
  const bool keep_raw = !plan.write || !plan.undo_id.empty();
  if (plan.write) PrepareBackup(t);
  LoadOptions options;
  options.find_lines = plan.check_first || plan.repair;
  // Copying to the backup until a write fails, and not at all without one.
  if (t->backup_whole || keep_raw)
    options.take_raw = [t, keep_raw](const char* data, size_t size) {
      if (keep_raw) t->raw.insert(t->raw.end(), data, data + size);
      if (t->backup_whole &&
          !WriteReplace(&t->backup, data, size, &t->backup_error))
        t->backup_whole = false;
      return t->backup_whole || keep_raw;
    };
  return LoadRegistryFile(t->site.RegistryPath, options, &t->document);
}

std::vector<OpenPart> OpenParts(const RegistrySite& site) {
  std::vector<OpenPart> open;
  std::string through, ignored;
  if (platform::FolderOpenToOthers(site.folder, &through, &ignored))
    open.push_back({site.folder, through});
  if (platform::FileOpenToOthers(site.RegistryPath, &ignored))
    open.push_back({site.RegistryPath, ""});
  return open;
}

namespace {

// Whether the pass may go on to the registry: the lock taken when it
// writes, a registry there when it needs one; otherwise |o| says why not.
bool Begin(RegistryTransaction* t, const PassPlan& plan, PassOutcome* o) {
  if (plan.write && !LockRegistry(t, &o->result)) return false;
  // A later record of an ID replaces an earlier one, also when this pass
  // ends up writing nothing.
  if (!plan.undo_id.empty()) platform::RemoveFile(t->site.undo_record);
  if (plan.nothing_without_registry) {
    std::string reason;
    const platform::Presence there =
        platform::LookUp(t->site.RegistryPath, &reason);
    o->no_registry = there == platform::Presence::kMissing;
    if (there == platform::Presence::kError)
      o->result = RegistryFailure(RegistryStatus::kCannotRead, reason);
    if (there != platform::Presence::kExists) return false;
  }
  if (plan.judge_others) o->open_parts = OpenParts(t->site);
  return true;
}

// The pass after Begin; |o| tells what came of it.
void Run(RegistryTransaction* t, const PassPlan& plan, PassOutcome* o) {
  RegistryEdit edit = plan.edit;  // the document points into its entries
  std::vector<RemovedElement> places;
  bool go_on = false;
  try {
    go_on = LoadAndEdit(t, plan, &edit, &places, o);
  } catch (const std::bad_alloc&) {
    // Whatever was read is let go: naming the backup may need memory.
    t->document.doc.reset();
    ByteBuffer().swap(t->document.text);
    o->out_of_memory = true;
    o->loaded = false;
  }
  if (!plan.write || o->result.status == RegistryStatus::kRefused) return;
  SettleBackup(t, plan, o);
  if (go_on && !o->out_of_memory && o->rewrite) WriteEdited(t, plan, &places, o);
}

}  // namespace

PassOutcome RunTransaction(RegistryTransaction* t, const PassPlan& plan) {
  PassOutcome o;
  if (Begin(t, plan, &o)) Run(t, plan, &o);
  DropBackup(t);  // what was prepared and not committed
  return o;
}

}  // namespace registry
