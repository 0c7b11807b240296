// The POSIX platform with faults injected on demand, for the test build
// modreg_faults only (chosen at link time in place of platform-posix.cc).
//
// MODREG_FAULT lists the steps to break, separated by commas:
//
//   [kill@|skip@]step[:N]
//
// The Nth call of the step (the first without ":N") fails with the reason
// the system gives for such a fault. With "kill@" the process dies there
// by SIGKILL instead, as if killed from outside; with "skip@" the step is
// left out and reported as done (meant for the lock, to show what it
// prevents). Steps:
//
//   read         reading the registry                     EIO
//   lock         locking the registry folder              ENOLCK
//   create-temp  creating the registry's temporary file   EACCES
//   write        one write to it, after half its bytes    ENOSPC
//   flush        flushing it to the disk                  EIO
//   close        closing it (the descriptor is released)  EIO
//   rename       replacing the registry with it           EIO
//   backup-copy  copying the registry to the backup's
//                temporary file, after half the bytes     ENOSPC
//   backup-link  giving the backup its name               EPERM
//
// and two that are no failure: "hold-lock:S" holds the registry folder's
// lock S seconds once it is taken, after saying so on standard error;
// "hold-rename:S" waits S seconds before replacing the registry, so that
// runs started together without the lock all read it before any writes.
// MODREG_LOCK_WAIT_MS=N makes a run wait at most N ms for the lock.
//
// An unknown step or a bad number ends the process with status 125
// before anything else happens, so that a mistyped test cannot pass by
// accident.
#include "platform/platform.h"

// Everything platform-posix.cc includes, ahead of the rename below.
#include <ctype.h>
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <string.h>
#include <sys/file.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

// The real operations get their own output file type: with the shared one,
// their calls to each other would also find the wrappers below.
namespace platform_real {
struct OutputFile {
  std::string path;
  long long handle = -1;
};
using platform::FileKind;
using platform::IsAbsoluteWindowsPath;
using platform::kReadPart;
using platform::Presence;
using platform::LockTimeoutReason;
using platform::ReadFilter;
}  // namespace platform_real

// The real operations, as platform_real::*.
#define platform platform_real
#include "platform/platform-posix.cc"
#undef platform

namespace platform {
namespace {

struct Step {
  const char* name;
  int error;  // errno value of the failure
};

const Step kSteps[] = {
    {"read", EIO},         {"lock", ENOLCK},        {"create-temp", EACCES},
    {"write", ENOSPC},     {"flush", EIO},          {"close", EIO},
    {"rename", EIO},       {"backup-copy", ENOSPC}, {"backup-link", EPERM},
    {"hold-lock", 0},      {"hold-rename", 0},
};

struct Rule {
  const Step* step;
  long nth = 1;
  enum { kFail, kKill, kSkip } action = kFail;
  long calls = 0;
};

[[noreturn]] void BadSetting(const std::string& item) {
  fprintf(stderr, "modreg_faults: bad MODREG_FAULT item \"%s\"\n",
          item.c_str());
  exit(125);
}

Rule ParseRule(std::string item) {
  Rule rule;
  const std::string whole = item;
  if (item.compare(0, 5, "kill@") == 0) {
    rule.action = Rule::kKill;
    item.erase(0, 5);
  } else if (item.compare(0, 5, "skip@") == 0) {
    rule.action = Rule::kSkip;
    item.erase(0, 5);
  }
  size_t colon = item.find(':');
  if (colon != std::string::npos) {
    char* end = nullptr;
    rule.nth = strtol(item.c_str() + colon + 1, &end, 10);
    if (colon + 1 == item.size() || *end != '\0' || rule.nth < 1)
      BadSetting(whole);
    item.erase(colon);
  }
  rule.step = nullptr;
  for (const Step& step : kSteps)
    if (item == step.name) rule.step = &step;
  if (!rule.step) BadSetting(whole);
  return rule;
}

std::vector<Rule> ParseRules(const char* setting) {
  std::vector<Rule> rules;
  if (!setting) return rules;
  std::string rest = setting;
  while (!rest.empty()) {
    size_t comma = rest.find(',');
    std::string item = rest.substr(0, comma);
    rest = comma == std::string::npos ? "" : rest.substr(comma + 1);
    if (!item.empty()) rules.push_back(ParseRule(item));
  }
  return rules;
}

std::vector<Rule>& Rules() {
  static std::vector<Rule> rules = ParseRules(getenv("MODREG_FAULT"));
  return rules;
}

// Read before main runs, so that a bad setting stops the tool before it
// touches anything.
const bool kRulesRead = (Rules(), true);

// MODREG_LOCK_WAIT_MS, or |wait_ms| when it is unset.
unsigned LockWaitMs(unsigned wait_ms) {
  static const char* setting = getenv("MODREG_LOCK_WAIT_MS");
  if (!setting || !*setting) return wait_ms;
  char* end = nullptr;
  unsigned long ms = strtoul(setting, &end, 10);
  if (*end || !isdigit(static_cast<unsigned char>(*setting))) {
    fprintf(stderr, "modreg_faults: bad MODREG_LOCK_WAIT_MS \"%s\"\n",
            setting);
    exit(125);
  }
  return static_cast<unsigned>(ms);
}

const bool kWaitRead = (LockWaitMs(0), true);

// Sleeps as long as each "hold-lock:S" (or "hold-rename:S") asks.
void Hold(const char* step) {
  for (const Rule& rule : Rules()) {
    if (strcmp(rule.step->name, step) != 0) continue;
    if (strcmp(step, "hold-lock") == 0) {
      fprintf(stderr, "modreg_faults: holding the lock for %ld s\n",
              rule.nth);
      fflush(stderr);
    }
    sleep(static_cast<unsigned>(rule.nth));
  }
}

enum class Hit { kNone, kFail, kKill, kSkip };

// An output file as the real operations hold it, and back.
struct RealFile {
  explicit RealFile(OutputFile* file) : file(file) {
    real.path = file->path;
    real.handle = file->handle;
  }
  ~RealFile() {
    file->path = real.path;
    file->handle = real.handle;
  }
  OutputFile* file;
  platform_real::OutputFile real;
};

// Counts a call of |name|; says whether this one is to break.
Hit Reached(const char* name, int* error) {
  Hit hit = Hit::kNone;
  for (Rule& rule : Rules()) {
    if (strcmp(rule.step->name, name) != 0) continue;
    if (++rule.calls != rule.nth) continue;
    *error = rule.step->error;
    if (rule.action == Rule::kKill) return Hit::kKill;
    hit = rule.action == Rule::kSkip ? Hit::kSkip : Hit::kFail;
  }
  return hit;
}

[[noreturn]] void Die() {
  raise(SIGKILL);
  _exit(137);  // not reached
}

bool Fail(int code, std::string* error) {
  errno = code;
  *error = strerror(code);
  return false;
}

// For a step that is all or nothing: nothing when it is to be done,
// otherwise its result (after failing, or dying, instead).
std::optional<bool> Intercepted(const char* name, std::string* error) {
  int code = 0;
  switch (Reached(name, &code)) {
    case Hit::kNone:
      return std::nullopt;
    case Hit::kKill:
      Die();
    case Hit::kSkip:
      return true;
    case Hit::kFail:
      return Fail(code, error);
  }
  return std::nullopt;
}

}  // namespace

bool IsWow64() { return platform_real::IsWow64(); }

bool MachineEnvironment(const std::string& name, std::string* value) {
  return platform_real::MachineEnvironment(name, value);
}

bool ReadWholeFile(const std::string& path, ByteBuffer* out,
                   std::string* error, const ReadFilter& filter) {
  if (auto done = Intercepted("read", error)) return *done;
  return platform_real::ReadWholeFile(path, out, error, filter);
}

FileKind LookUpFile(const std::string& windows_path, std::string* host_path,
                    std::string* error) {
  return platform_real::LookUpFile(windows_path, host_path, error);
}

Presence LookUp(const std::string& path, std::string* error) {
  return platform_real::LookUp(path, error);
}

bool ReplacedFile(const std::string& path, std::string* file,
                  std::string* error) {
  return platform_real::ReplacedFile(path, file, error);
}

bool TakeProtection(OutputFile* file, const std::string& target,
                    std::string* error) {
  RealFile real(file);
  return platform_real::TakeProtection(&real.real, target, error);
}

bool FolderOpenToOthers(const std::string& dir, std::string* error) {
  return platform_real::FolderOpenToOthers(dir, error);
}

bool CreateOutput(const std::string& path, OutputFile* file,
                  std::string* error) {
  if (auto done = Intercepted("create-temp", error)) return *done;
  RealFile real(file);
  return platform_real::CreateOutput(path, &real.real, error);
}

bool WriteOutput(OutputFile* file, const char* data, size_t size,
                 std::string* error) {
  int code = 0;
  Hit hit = Reached("write", &code);
  RealFile real(file);
  if (hit == Hit::kNone)
    return platform_real::WriteOutput(&real.real, data, size, error);
  if (hit == Hit::kSkip) return true;
  // A disk that fills up takes part of the data first.
  std::string ignored;
  platform_real::WriteOutput(&real.real, data, size / 2, &ignored);
  if (hit == Hit::kKill) Die();
  return Fail(code, error);
}

bool FlushOutput(OutputFile* file, std::string* error) {
  if (auto done = Intercepted("flush", error)) return *done;
  RealFile real(file);
  return platform_real::FlushOutput(&real.real, error);
}

bool CloseOutput(OutputFile* file, std::string* error) {
  if (file->handle < 0) return true;
  int code = 0;
  Hit hit = Reached("close", &code);
  RealFile real(file);
  if (hit == Hit::kNone) return platform_real::CloseOutput(&real.real, error);
  if (hit == Hit::kSkip) return true;
  // close() releases the descriptor even when it reports an error.
  std::string ignored;
  platform_real::CloseOutput(&real.real, &ignored);
  if (hit == Hit::kKill) Die();
  return Fail(code, error);
}

// The log's operations fail for real only.
bool OpenAppend(const std::string& path, OutputFile* file, std::string* error) {
  RealFile real(file);
  return platform_real::OpenAppend(path, &real.real, error);
}

bool AppendLine(OutputFile* file, const std::string& line, std::string* error) {
  RealFile real(file);
  return platform_real::AppendLine(&real.real, line, error);
}

bool ReplaceByRename(const std::string& source, const std::string& target,
                     std::string* error) {
  Hold("hold-rename");
  if (auto done = Intercepted("rename", error)) return *done;
  return platform_real::ReplaceByRename(source, target, error);
}

bool RenameNoReplace(const std::string& source, const std::string& target,
                     std::string* error) {
  if (auto done = Intercepted("backup-link", error)) return *done;
  return platform_real::RenameNoReplace(source, target, error);
}

bool RemoveFile(const std::string& path) {
  return platform_real::RemoveFile(path);
}

bool CopyFileBytes(const std::string& source, const std::string& target,
                   std::string* error) {
  int code = 0;
  Hit hit = Reached("backup-copy", &code);
  if (hit == Hit::kNone)
    return platform_real::CopyFileBytes(source, target, error);
  if (hit == Hit::kSkip) return true;
  // Half the bytes reach the target before the disk is full.
  ByteBuffer bytes;
  if (!platform_real::ReadWholeFile(source, &bytes, error, nullptr))
    return false;
  platform_real::OutputFile out;
  if (!platform_real::CreateOutput(target, &out, error)) return false;
  std::string ignored;
  platform_real::WriteOutput(&out, bytes.data(), bytes.size() / 2, &ignored);
  if (hit == Hit::kKill) Die();
  platform_real::CloseOutput(&out, &ignored);
  return Fail(code, error);
}

std::string DisplayName(const std::string& path) {
  return platform_real::DisplayName(path);
}

bool LockRegistryFolder(const std::string& dir, unsigned wait_ms,
                        std::string* error) {
  if (auto done = Intercepted("lock", error)) return *done;
  if (!platform_real::LockRegistryFolder(dir, LockWaitMs(wait_ms), error))
    return false;
  Hold("hold-lock");
  return true;
}

bool SameFile(const std::string& a, const std::string& b) {
  return platform_real::SameFile(a, b);
}

bool FrameworkSystemFolder(int bits, std::string* system,
                           std::string* seen_as) {
  return platform_real::FrameworkSystemFolder(bits, system, seen_as);
}

}  // namespace platform
