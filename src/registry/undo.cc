#include "registry/undo.h"

#include <cstring>

#include "platform/faults.h"
#include "platform/files.h"
#include "platform/lookup.h"
#include "platform/trust.h"
#include "registry/replace.h"
#include "registry/sha256.h"

namespace registry {

namespace {

// How far two measures of one boot time may lie apart, in seconds.
constexpr long long kBootSlack = 120;

// Appends the field |name| holding |value|: "NAME SIZE\n", the value's
// bytes, "\n". Every field says its size, so that no byte of a value (a
// line end in a path) can end it early.
void PutField(std::string* out, const char* name, const std::string& value) {
  *out += name;
  *out += ' ' + std::to_string(value.size()) + '\n';
  *out += value;
  *out += '\n';
}

// Reads the fields of a record, in order, from bytes that no field may
// run past.
struct FieldReader {
  const char* at;
  const char* end;
  std::string why;  // the first problem; empty while none

  bool Fail(const std::string& reason) {
    if (why.empty()) why = reason;
    return false;
  }

  // Reads the field |name| into |*value|.
  bool Take(const char* name, std::string* value) {
    const char* line_end =
        static_cast<const char*>(memchr(at, '\n', end - at));
    const size_t name_size = strlen(name);
    if (!why.empty()) return false;
    if (!line_end || static_cast<size_t>(line_end - at) <= name_size + 1 ||
        memcmp(at, name, name_size) != 0 || at[name_size] != ' ')
      return Fail(std::string("no \"") + name + "\" where it belongs");
    unsigned long long size = 0;
    for (const char* p = at + name_size + 1; p < line_end; ++p) {
      if (*p < '0' || *p > '9' || size > (1ull << 60))
        return Fail(std::string("the size of \"") + name + "\" is no number");
      size = size * 10 + static_cast<unsigned>(*p - '0');
    }
    at = line_end + 1;
    if (size >= static_cast<unsigned long long>(end - at) || at[size] != '\n')
      return Fail(std::string("\"") + name + "\" runs past the record's end");
    value->assign(at, static_cast<size_t>(size));
    at += size + 1;
    return true;
  }

  // Reads the field |name| as a decimal number no larger than |most|.
  bool TakeNumber(const char* name, unsigned long long most,
                  unsigned long long* number) {
    std::string text;
    if (!Take(name, &text)) return false;
    *number = 0;
    for (char c : text) {
      if (c < '0' || c > '9' || *number > most)
        return Fail(std::string("\"") + name + "\" is no number");
      *number = *number * 10 + static_cast<unsigned>(c - '0');
    }
    if (text.empty() || *number > most)
      return Fail(std::string("\"") + name + "\" is out of range");
    return true;
  }
};

// The entries and elements of a record, after its header fields.
bool TakeChanges(FieldReader* r, UndoRecord* record) {
  const auto left = [r] {
    return static_cast<unsigned long long>(r->end - r->at);
  };
  unsigned long long count = 0;
  if (!r->TakeNumber("removed", left(), &count)) return false;
  for (unsigned long long i = 0; i < count; ++i) {
    RemovedElement element;
    unsigned long long index = 0;
    if (!r->TakeNumber("index", 1ull << 40, &index) ||
        !r->Take("element", &element.text))
      return false;
    element.index = static_cast<size_t>(index);
    record->removed.push_back(std::move(element));
  }
  if (!r->TakeNumber("added", left(), &count)) return false;
  for (unsigned long long i = 0; i < count; ++i) {
    ModuleEntry entry;
    std::string has_config;
    if (!r->Take("path", &entry.path) || !r->Take("has-config", &has_config) ||
        !r->Take("config", &entry.configDir))
      return false;
    entry.hasConfigDir = has_config == "1";
    record->added.push_back(std::move(entry));
  }
  return true;
}

}  // namespace

bool IsUndoId(const std::string& id) {
  if (id.empty() || id.size() > kMaxUndoId || id[0] == '-') return false;
  static constexpr char kIdBytes[] =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789{}-";
  return id.find_first_not_of(kIdBytes) == std::string::npos;
}

bool SameBoot(long long a, long long b) {
  return a - b <= kBootSlack && b - a <= kBootSlack;
}

std::string FormatUndoHeader(const UndoRecord& record) {
  std::string out = kUndoMagic;
  PutField(&out, "format", std::to_string(kUndoFormat));
  PutField(&out, "id", record.id);
  PutField(&out, "arch", record.arch);
  PutField(&out, "action", record.action);
  PutField(&out, "boot", std::to_string(record.boot));
  PutField(&out, "registry", record.registry);
  PutField(&out, "written-size", std::to_string(record.after_size));
  PutField(&out, "written-sha256", record.after_digest);
  PutField(&out, "before-sha256",
           DigestOf(record.before.data(), record.before.size()));
  PutField(&out, "removed", std::to_string(record.removed.size()));
  for (const RemovedElement& element : record.removed) {
    PutField(&out, "index", std::to_string(element.index));
    PutField(&out, "element", element.text);
  }
  PutField(&out, "added", std::to_string(record.added.size()));
  for (const ModuleEntry& entry : record.added) {
    PutField(&out, "path", entry.path);
    PutField(&out, "has-config", entry.hasConfigDir ? "1" : "0");
    PutField(&out, "config", entry.configDir);
  }
  // The registry's bytes before follow: "before SIZE\n", them, "\n".
  out += "before " + std::to_string(record.before.size()) + '\n';
  return out;
}

bool ParseUndoRecord(const ByteBuffer& bytes, UndoRecord* record,
                     std::string* why) {
  const auto refuse = [why](std::string reason) {
    *why = std::move(reason);
    return false;
  };
  const size_t magic = sizeof kUndoMagic - 1;
  if (bytes.size() < magic || memcmp(bytes.data(), kUndoMagic, magic) != 0)
    return refuse("it is not an undo record");
  FieldReader r{bytes.data() + magic, bytes.data() + bytes.size(), ""};
  std::string format, before_digest, before;
  if (r.Take("format", &format) && format != std::to_string(kUndoFormat))
    return refuse("its format is " + format + ", not " +
                  std::to_string(kUndoFormat));
  unsigned long long number = 0;
  if (r.Take("id", &record->id) && r.Take("arch", &record->arch) &&
      r.Take("action", &record->action) &&
      r.TakeNumber("boot", 1ull << 62, &number)) {
    record->boot = static_cast<long long>(number);
    if (r.Take("registry", &record->registry) &&
        r.TakeNumber("written-size", 1ull << 62, &record->after_size) &&
        r.Take("written-sha256", &record->after_digest) &&
        r.Take("before-sha256", &before_digest) && TakeChanges(&r, record) &&
        r.Take("before", &before) && r.at != r.end)
      r.Fail("it goes on after the registry's bytes");
  }
  if (r.why.empty() && DigestOf(before.data(), before.size()) != before_digest)
    r.Fail("the registry's bytes in it are not those it was written with");
  if (!r.why.empty()) return refuse("it is damaged: " + r.why);
  record->before.assign(before.begin(), before.end());
  return true;
}

bool WriteUndoRecord(const std::string& path, const UndoRecord& record,
                     std::string* error) {
  const std::string header = FormatUndoHeader(record);
  Replacement r;
  // Protected as nothing: a new file, owner-only.
  bool ok = BeginReplace(path, "", ReplaceMode::kReplace, &r, error) &&
            WriteReplace(&r, header.data(), header.size(), error) &&
            WriteReplace(&r, record.before.data(), record.before.size(),
                         error) &&
            WriteReplace(&r, "\n", 1, error) && CommitReplace(&r, error);
  RollBackReplace(&r);
  if (!ok) *error = r.failed + ": " + *error;
  return ok;
}

UndoLoad LoadUndoRecord(const std::string& path, UndoRecord* record,
                        std::string* why) {
  const auto refuse = [why](std::string reason) {
    *why = std::move(reason);
    return UndoLoad::kRefused;
  };
  std::string error;
  const platform::Presence there = platform::LookUp(path, &error);
  if (there == platform::Presence::kMissing) return UndoLoad::kMissing;
  if (there == platform::Presence::kError) return refuse(error);
  platform::faults::Swap("swap-record", path);
  // What is judged is what is read: the file open, not its name, which
  // another may have pointed elsewhere since. Whoever else may change it
  // could choose what a rollback writes.
  platform::InputFile file;
  if (!platform::OpenInputAsItself(path, &file, &error)) return refuse(error);
  if (platform::InputOpenToOthers(file, &error) || !error.empty()) {
    platform::CloseInput(&file);
    return refuse(error.empty()
                      ? "users who are not administrators may change it"
                      : "cannot tell who may change it: " + error);
  }
  ByteBuffer bytes;
  if (!platform::ReadWholeInput(&file, &bytes, &error)) return refuse(error);
  return ParseUndoRecord(bytes, record, why) ? UndoLoad::kLoaded
                                             : UndoLoad::kRefused;
}

RegistryState JudgeRegistry(const UndoRecord& record, const char* now,
                            size_t size) {
  if (size == record.after_size && DigestOf(now, size) == record.after_digest)
    return RegistryState::kAsWritten;
  if (size == record.before.size() &&
      memcmp(now, record.before.data(), size) == 0)
    return RegistryState::kAsBefore;
  return RegistryState::kChangedAfter;
}

}  // namespace registry
