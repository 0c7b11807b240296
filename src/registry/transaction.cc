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
#include "registry/printer.h"
#include "registry/textmode.h"

namespace registry {

namespace {

// Counts the line ends of the written bytes, as they go, to tell the line
// of each offset in |starts| (ascending, recorded before those bytes are
// written).
struct LineCounter {
  const std::vector<unsigned long long>* starts = nullptr;
  std::vector<size_t>* lines = nullptr;
  unsigned long long base = 0;  // bytes counted so far
  size_t line_ends = 0;
  size_t next = 0;  // the first start not yet reached

  void Take(const char* data, size_t size) {
    size_t at = 0;
    for (; next < starts->size() && (*starts)[next] < base + size; ++next) {
      const size_t upto = static_cast<size_t>((*starts)[next] - base);
      line_ends += std::count(data + at, data + upto, '\n');
      at = upto;
      lines->push_back(line_ends + 1);
    }
    line_ends += std::count(data + at, data + size, '\n');
    base += size;
  }
};

// Prints the document through |r|; false with |error| when a write fails.
bool PrintThrough(const RegistryTransaction& t, Replacement* r,
                  std::vector<size_t>* module_lines, std::string* error) {
  PrintHints hints;
  if (t.document.plain_attributes) {
    hints.plain_begin = t.document.text.data();
    hints.plain_end = t.document.text.data() + t.document.text.size();
  }
  TextOutput out;
  std::vector<unsigned long long> starts;
  LineCounter counter{&starts, module_lines};
  if (module_lines) {
    hints.children_of = t.document.modules;
    hints.at_child = [&](const rapidxml::xml_node<char>* node) {
      if (IsModuleElement(node)) starts.push_back(counter.base + out.used);
    };
  }
  InitTextOutput(&out, [&](const char* data, size_t size) {
    if (module_lines) counter.Take(data, size);
    return WriteReplace(r, data, size, error);
  });
  PrintDocument(*t.document.doc, &out, hints);
  return FinishTextOutput(&out);
}

// Prints |t|'s document and replaces the registry with it in one step
// (replace.h); a registry that is a link has the file it leads to
// replaced. With |module_lines|, sets it to the line of the written file
// on which each Module element begins, in order. On failure
// the registry keeps its bytes; the result is kCannotWrite with the
// failed step and the reason.
RegistryResult CommitRegistry(RegistryTransaction* t,
                              std::vector<size_t>* module_lines) {
  // A registry that is a link: the file it leads to is replaced, from a
  // temporary file beside it, and the link stays.
  std::string path, error;
  if (!platform::ReplacedFile(t->RegistryPath, &path, &error))
    return RegistryFailure(RegistryStatus::kCannotWrite,
                           "cannot replace " + t->RegistryPath + ": " + error);
  Replacement r;
  bool ok = BeginReplace(path, path, ReplaceMode::kReplace, &r, &error);
  if (ok) {
    try {
      ok = PrintThrough(*t, &r, module_lines, &error);
    } catch (...) {
      RollBackReplace(&r);
      throw;
    }
    ok = ok && CommitReplace(&r, &error);
  }
  RollBackReplace(&r);
  if (!ok)
    return RegistryFailure(RegistryStatus::kCannotWrite,
                           "cannot " + FailedStepText(r) + ": " + error);
  RegistryResult result;
  result.status = RegistryStatus::kWritten;
  return result;
}

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

// Loads, checks before writing and edits, as |plan| says; the edit's
// entries live in |edit|. False when the pass stops there: a failure, a
// refusal or a dry run, told in |o|.
bool LoadAndEdit(RegistryTransaction* t, const PassPlan& plan,
                 RegistryEdit* edit, PassOutcome* o) {
  LoadMode mode;
  mode.back_up = plan.write;
  mode.keep_raw = !plan.write;
  mode.find_lines = plan.check_first || plan.remove_breaking;
  o->result = LoadRegistry(t, mode);
  if (!o->result.reason.empty()) return false;
  RegistryDocument& document = t->document;
  if (plan.remove_breaking)
    for (const CheckedModule& module :
         StartupBreakers(CheckDocument(document, plan.bits)))
      edit->modules.push_back(module.node);
  const EditOutcome edited =
      ApplyEdit(*edit, document.doc.get(), document.modules, !plan.write);
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

// Writes the edited document and, with |check_after|, checks it where
// the written file has it: the appended entries, and what stops every
// application from starting.
void Commit(RegistryTransaction* t, const PassPlan& plan, PassOutcome* o) {
  std::vector<size_t> lines;
  const size_t added = plan.edit.entries.size();
  const bool check = plan.check_after && added > 0;
  try {
    o->result = CommitRegistry(t, check ? &lines : nullptr);
  } catch (const std::bad_alloc&) {
    o->out_of_memory = true;
    return;
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

// Takes the lock of |t|'s folder, waiting at most |wait_ms| for another
// run's, and, when it keeps every other run waiting, removes what a
// killed run left: the temporary files of the registry and of its backup. False with |result| kCannotLock and the
// system's reason.
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
  return true;
}

}  // namespace

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
  if (plan.write && !LockRegistry(t, plan.lock_wait_ms, &o->result))
    return false;
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
