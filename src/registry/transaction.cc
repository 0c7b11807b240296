#include "registry/transaction.h"

#include <algorithm>
#include <new>
#include <optional>

#include "platform/faults.h"
#include "platform/files.h"
#include "platform/lock.h"
#include "platform/lookup.h"
#include "platform/trust.h"
#include "registry/backup.h"
#include "registry/commit.h"
#include "registry/printer.h"

namespace registry {

namespace {

// Tells whether the printed document would be the bytes |t| read (a dry
// run's, loaded with |keep_raw|).
bool PrintsAsRead(const RegistryTransaction& t) {
  PrintHints hints;
  if (t.document.plain_attributes) {
    hints.plain_begin = t.document.text.data();
    hints.plain_end = t.document.text.data() + t.document.text.size();
  }
  return PrintsAs(*t.document.doc, hints, t.raw.data(), t.raw.size());
}

// The children |removed| of |document| as values, each with its line
// when the document has its line ends.
std::vector<RemovedChild> Removed(
    const RegistryDocument& document,
    const std::vector<const rapidxml::xml_node<char>*>& removed) {
  std::vector<RemovedChild> children;
  for (const rapidxml::xml_node<char>* node : removed) {
    RemovedChild child;
    child.has_path = PathAttribute(node) != nullptr;
    if (child.has_path) child.entry = EntryOf(node);
    if (!document.line_ends.empty()) child.line = LineOf(document, node);
    children.push_back(std::move(child));
  }
  return children;
}

// The children |removed| of Modules, whose children before the edit were
// |before|, as an undo record keeps them: where each stood and its text.
std::vector<RemovedElement> Places(
    const std::vector<const rapidxml::xml_node<char>*>& before,
    const std::vector<const rapidxml::xml_node<char>*>& removed) {
  std::vector<RemovedElement> places;
  size_t index = 0;
  for (const rapidxml::xml_node<char>* node : removed) {
    while (index < before.size() && before[index] != node) ++index;
    places.push_back({index, PrintedNode(*node)});
  }
  return places;
}

// Loads, checks before writing and edits, as |plan| says; the edit's
// entries live in |edit|. False when the pass stops there: a failure, a
// refusal or a dry run, told in |o|.
bool LoadAndEdit(RegistryTransaction* t, const PassPlan& plan,
                 RegistryEdit* edit, PassOutcome* o) {
  LoadMode mode;
  mode.back_up = plan.write;
  mode.keep_raw = !plan.write || !plan.undo_path.empty();
  mode.find_lines = plan.check_first || plan.remove_breaking;
  o->result = LoadRegistry(t, mode);
  if (!o->result.reason.empty()) return false;
  RegistryDocument& document = t->document;
  if (plan.remove_breaking)
    for (const CheckedModule& module :
         StartupBreakers(CheckDocument(document, plan.bits)))
      edit->modules.push_back(module.node);
  std::vector<const rapidxml::xml_node<char>*> before;
  if (!plan.undo_path.empty())
    for (const rapidxml::xml_node<char>* node = document.modules->first_node();
         node; node = node->next_sibling())
      before.push_back(node);
  const EditOutcome edited =
      ApplyEdit(*edit, document.doc.get(), document.modules, !plan.write);
  if (!plan.undo_path.empty()) t->undo.removed = Places(before, edited.removed);
  o->loaded = true;
  o->rewrite = edited.rewrite;
  if (plan.report && edited.rewrite)
    o->removed = Removed(document, edited.removed);
  if (plan.check_first && !edit->entries.empty()) {
    o->checked_first =
        CheckAppended(document, plan.bits, edit->entries.size());
    // What it keeps must not stop the framework either.
    if (CountProblems(o->checked_first) == 0)
      o->breakers = StartupBreakers(CheckDocument(document, plan.bits),
                                    edit->entries.size());
    if (CountProblems(o->checked_first) > 0 || !o->breakers.empty()) {
      o->result.status = RegistryStatus::kRefused;
      return false;
    }
  }
  if (plan.write) return true;
  o->changed = edited.changed;
  o->differs = edited.rewrite && !PrintsAsRead(*t);
  return false;
}

// Names the backup, or drops it when |plan| keeps it only for a rewrite
// and there is none.
void SettleBackup(RegistryTransaction* t, const PassPlan& plan,
                  PassOutcome* o) {
  const bool failed = o->out_of_memory || !o->result.reason.empty();
  if (plan.back_up_only_if_rewritten && (failed || !o->rewrite)) {
    DropBackup(t);
    return;
  }
  o->backup_failure = KeepBackup(t);
  o->backup = t->backup_state;
}

// Writes |t|'s undo record, durably, with what it keeps of the pass:
// the registry's bytes before and the children it took out. False with
// the reason in |error|.
bool RecordUndo(RegistryTransaction& t, const PassPlan& plan, PassOutcome* o,
                std::string* error) {
  t.undo.before.swap(t.raw);
  t.undo.added = plan.edit.entries;
  std::string why;
  if (!WriteUndoRecord(plan.undo_path, t.undo, &why)) {
    *error = "its undo record " + plan.undo_path + ": " + why;
    return false;
  }
  o->recorded = true;
  return true;
}

// Writes the edited document and, with |check_after|, checks it where
// the written file has it: the appended entries, and what stops every
// application from starting.
void Commit(RegistryTransaction* t, const PassPlan& plan, PassOutcome* o) {
  std::vector<size_t> lines;
  const size_t added = plan.edit.entries.size();
  const bool check = plan.check_after && added > 0;
  CommitHooks hooks;
  hooks.module_lines = check ? &lines : nullptr;
  if (!plan.undo_path.empty())
    hooks.before_rename = [&](unsigned long long size,
                              const std::string& digest, std::string* error) {
      t->undo.after_size = size;
      t->undo.after_digest = digest;
      return RecordUndo(*t, plan, o, error);
    };
  try {
    o->result = CommitDocument(t->RegistryPath, t->document, hooks);
  } catch (const std::bad_alloc&) {
    // Before the rename: the registry kept its bytes.
    if (o->recorded) DropUndoRecord(plan.undo_path);
    o->recorded = false;
    o->out_of_memory = true;
    return;
  }
  if (o->recorded && !o->result.reason.empty()) {
    DropUndoRecord(plan.undo_path);  // the registry kept its bytes
    o->recorded = false;
  }
  if (!o->result.reason.empty() || !check) return;
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

bool LockRegistry(RegistryTransaction* t, unsigned wait_ms,
                  RegistryResult* result) {
  std::string error;
  std::optional<bool> fault = faults::Intercept("lock", &error);
  if (fault ? !*fault
            : !platform::LockRegistryFolder(
                  t->folder, t->lock_name, faults::LockWaitMs(wait_ms),
                  &error)) {
    *result = RegistryFailure(RegistryStatus::kCannotLock, error);
    return false;
  }
  faults::Hold("hold-lock");
  // Only a lock that keeps every other run waiting makes them leftovers.
  if (!platform::RegistryLockHeldAlone()) return true;
  platform::RemoveFile(TempPathFor(t->RegistryPath));
  platform::RemoveFile(TempPathFor(t->BackupPath));
  // Undo records' temporary files, of whatever ID.
  std::vector<std::string> names;
  std::string ignored;
  if (platform::ListFolder(t->folder, kUndoPrefix, &names, &ignored))
    for (const std::string& name : names)
      if (name.size() > 4 && name.compare(name.size() - 4, 4, ".tmp") == 0)
        platform::RemoveFile(t->folder + "\\" + name);
  return true;
}

RegistryResult LoadRegistry(RegistryTransaction* t, const LoadMode& mode) {
  if (mode.back_up) PrepareBackup(t);
  LoadOptions options;
  options.find_lines = mode.find_lines;
  const bool copying = t->backup_whole;
  if (copying || mode.keep_raw)
    options.take_raw = [t, copying, &mode](const char* data, size_t size) {
      if (mode.keep_raw) t->raw.insert(t->raw.end(), data, data + size);
      if (copying && t->backup_whole &&
          !WriteReplace(&t->backup, data, size, &t->backup_error))
        t->backup_whole = false;
      return t->backup_whole || mode.keep_raw;
    };
  return LoadRegistryFile(t->RegistryPath, options, &t->document);
}

std::vector<OpenPart> OpenParts(const RegistryTransaction& t) {
  std::vector<OpenPart> open;
  std::string through, ignored;
  if (platform::FolderOpenToOthers(t.folder, &through, &ignored))
    open.push_back({t.folder, through});
  if (platform::FileOpenToOthers(t.RegistryPath, &ignored))
    open.push_back({t.RegistryPath, ""});
  return open;
}

namespace {

// Whether the pass may go on to the registry: the lock taken when it
// writes, a registry there when it needs one; otherwise |o| says why not.
bool Begin(RegistryTransaction* t, const PassPlan& plan, PassOutcome* o) {
  if (plan.write &&
      !LockRegistry(t, plan.lock_wait_ms, &o->result))
    return false;
  // A later record of an ID replaces an earlier one, also when this pass
  // ends up writing nothing.
  if (!plan.undo_path.empty()) DropUndoRecord(plan.undo_path);
  if (plan.nothing_without_registry) {
    std::string reason;
    switch (platform::LookUp(t->RegistryPath, &reason)) {
      case platform::Presence::kExists:
        break;
      case platform::Presence::kMissing:
        o->no_registry = true;
        return false;
      case platform::Presence::kError:
        o->result = RegistryFailure(RegistryStatus::kCannotRead, reason);
        return false;
    }
  }
  if (plan.judge_others) o->open_parts = OpenParts(*t);
  return true;
}

// The pass after Begin; |o| tells what came of it.
void Run(RegistryTransaction* t, const PassPlan& plan, PassOutcome* o) {
  RegistryEdit edit = plan.edit;  // the document points into its entries
  bool go_on = false;
  try {
    go_on = LoadAndEdit(t, plan, &edit, o);
  } catch (const std::bad_alloc&) {
    // Whatever was read is let go: naming the backup may need memory.
    t->document.doc.reset();
    ByteBuffer().swap(t->document.text);
    o->out_of_memory = true;
    o->loaded = false;
  }
  if (!plan.write || o->result.status == RegistryStatus::kRefused) return;
  SettleBackup(t, plan, o);
  if (go_on && !o->out_of_memory && o->rewrite) Commit(t, plan, o);
}

}  // namespace

PassOutcome RunTransaction(RegistryTransaction* t, const PassPlan& plan) {
  PassOutcome o;
  if (Begin(t, plan, &o)) Run(t, plan, &o);
  DropBackup(t);  // what was prepared and not committed
  return o;
}

}  // namespace registry
