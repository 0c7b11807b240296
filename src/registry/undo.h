// The undo record of a registration or an unregistration: what the run
// changed in the registry, kept beside it until the installer that ran it
// drops it (--commit) or puts the registry back (--rollback).
//
// The calling sequence of a run that records (transaction.cc), holding the
// registry's lock:
//
//   platform::RemoveFile(path);      // an earlier record of the same ID
//   ... load, edit, print the new registry to its temporary file ...
//   WriteUndoRecord(path, record);   // durable, before the replace
//   ... replace the registry; when that fails, RemoveFile(path)
//
// and of a rollback (rollback.cc), holding the lock too:
//
//   LoadUndoRecord(path, &record, &why);    // refused: not the tool's own
//   switch (JudgeRegistry(record, bytes)) {
//     kAsWritten:    the registry replaced by record.before
//     kAsBefore:     nothing to do
//     kChangedAfter: UndoOwnChange(record, ...), then the document written
//   }
//   RemoveFile(path);
//
// A record is the tool's own only when it is a regular file, not a link,
// that no user but administrators (and the one running the tool) may
// change, judged on the file opened, which is the one read; it lives in
// the registry's folder, which only those who may write the registry may
// write.
#ifndef MODREG_REGISTRY_UNDO_H_
#define MODREG_REGISTRY_UNDO_H_

#include <string>
#include <vector>

#include <rapidxml.hpp>

#include "platform/bytes.h"
#include "registry/module_entry.h"
#include "registry/site.h"

namespace registry {

// The record's format; a record of another is refused.
constexpr int kUndoFormat = 1;

// A record's first line, its line end with it: every record begins so.
constexpr char kUndoMagic[] = "modreg undo record\n";

// The longest ID.
constexpr size_t kMaxUndoId = 64;

// A child of Modules a run took out: where it stood among the children
// (counted before the run), and its text as the printer writes it.
struct RemovedElement {
  size_t index = 0;
  std::string text;
};

struct UndoRecord {
  std::string id;
  std::string arch;     // the ARCH of the run
  std::string action;   // "registration" or "unregistration"
  long long boot = 0;   // when the machine started, as BootTime says
  std::string registry;  // the registry's path
  ByteBuffer before;     // the registry's bytes before the run
  // The bytes the run wrote: their size and SHA-256.
  unsigned long long after_size = 0;
  std::string after_digest;
  std::vector<RemovedElement> removed;  // in order
  std::vector<ModuleEntry> added;       // in order
};

// Tells whether |id| is an ID a record may have: 1 to kMaxUndoId
// letters, digits, "{", "}" and "-", not beginning with "-".
bool IsUndoId(const std::string& id);

// Tells whether boot times |a| and |b| are of the same start of the
// machine: they are measured, not stored by the system, and may differ by
// a little.
bool SameBoot(long long a, long long b);

// Returns |record| in the record's format, all but its |before| bytes,
// which follow it in the file.
std::string FormatUndoHeader(const UndoRecord& record);

// Reads a record from its file's |bytes|. False, with |why|, when they are
// not a whole record of this format.
bool ParseUndoRecord(const ByteBuffer& bytes, UndoRecord* record,
                     std::string* why);

// Writes |record| to |path| through a temporary file, owner-only, and
// flushes it to the disk before it takes the name. False with the failed
// step and the reason in |error|.
bool WriteUndoRecord(const std::string& path, const UndoRecord& record,
                     std::string* error);

enum class UndoLoad { kLoaded, kMissing, kRefused };

// Loads the record at |path|, when it is the tool's own and whole;
// kRefused with |why| when it is not (a link, not a regular file, one that
// others may change, damaged, of another format).
UndoLoad LoadUndoRecord(const std::string& path, UndoRecord* record,
                        std::string* why);

// How the registry's bytes |now| stand to what |record| saw and wrote.
enum class RegistryState { kAsWritten, kAsBefore, kChangedAfter };
RegistryState JudgeRegistry(const UndoRecord& record, const char* now,
                            size_t size);

// What UndoOwnChange did.
struct UndoneChange {
  size_t taken_out = 0;  // added elements found and taken out
  size_t put_back = 0;   // removed elements put back
  size_t put_after = 0;  // of those, put after an entry they would shadow
};

// Undoes |record|'s own change in the document |doc| whose Modules
// element is |modules|: takes out one Module element per added entry
// (the last with that path and configDir), then puts each removed child
// back where it stood, or at the end when fewer children are left,
// unless a child that prints as it does is there already. A Module put
// back goes after the last entry from its place on with its module's file
// name (ModuleFileName): the framework refuses an entry of a name an
// earlier one has, and a product registered since keeps loading. The
// put-back text is folded as a read of the registry folds it and parsed
// in |doc|'s memory, so that it prints as it did. Throws
// rapidxml::parse_error for a text that is not XML (a damaged record is
// refused before).
UndoneChange UndoOwnChange(const UndoRecord& record,
                           rapidxml::xml_document<char>* doc,
                           rapidxml::xml_node<char>* modules);

}  // namespace registry

#endif  // MODREG_REGISTRY_UNDO_H_
