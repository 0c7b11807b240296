// The test build's faults, for the reliability tests. MODREG_FAULT lists
// the steps to break, separated by commas:
//
//   [kill@|skip@]step[:N]
//
// The Nth call of the step (the first without ":N") fails with the reason
// the system gives for such a fault. With "kill@" the process dies there
// instead, as if killed from outside; with "skip@" the step is left out
// and reported as done (meant for the lock, to show what it prevents).
// Steps:
//
//   read         reading the registry                     EIO
//   lock         locking the registry folder              ENOLCK
//   create-temp  creating the registry's temporary file   EACCES
//   write        one write to it, after half its bytes    ENOSPC
//   flush        flushing it to the disk                  EIO
//   close        closing it (the file is released)        EIO
//   rename       replacing the registry with it           EIO
//   backup-copy  copying the registry to the backup's
//                temporary file, after half the bytes     ENOSPC
//   backup-link  giving the backup its name               EPERM
//
// and three that are no failure: "hold-lock:S" holds the registry folder's
// lock S seconds once it is taken, after saying so on standard error;
// "hold-rename:S" waits S seconds before replacing the registry, so that
// runs started together without the lock all read it before any writes;
// "swap-record" puts the file MODREG_SWAP_SOURCE names (in its Windows
// form) in the place of the undo record just before it is opened, as
// another user might.
// MODREG_LOCK_WAIT_MS=N makes a run wait at most N ms for the lock.
//
// An unknown step or a bad number ends the process with status 125
// before anything else happens, so that a mistyped test cannot pass by
// accident.
#include "platform/faults.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/files.h"
#include "platform/process.h"

namespace platform::faults {
namespace {

struct Step {
  const char* name;
  int error;  // errno value of the failure
};

const Step kSteps[] = {
    {"read", EIO},         {"lock", ENOLCK},        {"create-temp", EACCES},
    {"write", ENOSPC},     {"flush", EIO},          {"close", EIO},
    {"rename", EIO},       {"backup-copy", ENOSPC}, {"backup-link", EPERM},
    {"hold-lock", 0},      {"hold-rename", 0},      {"swap-record", 0},
};

struct Rule {
  const Step* step = nullptr;
  long nth = 1;
  Action action = Action::kFail;
  long calls = 0;
};

[[noreturn]] void BadSetting(const char* name, const std::string& item) {
  fprintf(stderr, "modreg_faults: bad %s \"%s\"\n", name, item.c_str());
  exit(125);
}

// |text| as a whole number, or -1.
long Number(const std::string& text) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
    return -1;
  return strtol(text.c_str(), nullptr, 10);
}

Rule ParseRule(std::string item) {
  Rule rule;
  const std::string whole = item;
  for (auto [prefix, action] : {std::pair{"kill@", Action::kKill},
                                std::pair{"skip@", Action::kSkip}})
    if (item.compare(0, 5, prefix) == 0) {
      rule.action = action;
      item.erase(0, 5);
    }
  size_t colon = item.find(':');
  if (colon != std::string::npos) {
    rule.nth = Number(item.substr(colon + 1));
    if (rule.nth < 1) BadSetting("MODREG_FAULT item", whole);
    item.erase(colon);
  }
  for (const Step& step : kSteps)
    if (item == step.name) rule.step = &step;
  if (!rule.step) BadSetting("MODREG_FAULT item", whole);
  return rule;
}

std::vector<Rule>& Rules() {
  static std::vector<Rule> rules = [] {
    std::vector<Rule> parsed;
    const char* setting = getenv("MODREG_FAULT");
    std::string rest = setting ? setting : "";
    while (!rest.empty()) {
      size_t comma = rest.find(',');
      std::string item = rest.substr(0, comma);
      rest = comma == std::string::npos ? "" : rest.substr(comma + 1);
      if (!item.empty()) parsed.push_back(ParseRule(item));
    }
    return parsed;
  }();
  return rules;
}

// Read before main runs, so that a bad setting stops the tool before it
// touches anything.
const bool kRulesRead = (Rules(), LockWaitMs(0), true);

}  // namespace

Action At(const char* step, std::string* error) {
  Action action = Action::kNone;
  for (Rule& rule : Rules()) {
    if (strcmp(rule.step->name, step) != 0 || ++rule.calls != rule.nth)
      continue;
    if (rule.action == Action::kKill) return Action::kKill;
    action = rule.action;
    *error = strerror(rule.step->error);
  }
  return action;
}

std::optional<bool> Intercept(const char* step, std::string* error) {
  const Action action = At(step, error);
  if (action == Action::kKill) Die();
  if (action == Action::kNone) return std::nullopt;
  return action == Action::kSkip;
}

void Hold(const char* step) {
  for (const Rule& rule : Rules()) {
    if (strcmp(rule.step->name, step) != 0) continue;
    if (strcmp(step, "hold-lock") == 0) {
      fprintf(stderr, "modreg_faults: holding the lock for %ld s\n",
              rule.nth);
      fflush(stderr);
    }
    std::this_thread::sleep_for(std::chrono::seconds(rule.nth));
  }
}

void Swap(const char* step, const std::string& path) {
  std::string ignored;
  if (At(step, &ignored) == Action::kNone) return;
  const char* source = getenv("MODREG_SWAP_SOURCE");
  if (!source) BadSetting("MODREG_SWAP_SOURCE", "");
  std::string error;
  if (!platform::ReplaceByRename(source, path, &error)) {
    fprintf(stderr, "modreg_faults: cannot swap in %s: %s\n", source,
            error.c_str());
    exit(125);
  }
}

unsigned LockWaitMs(unsigned wait_ms) {
  static const char* setting = getenv("MODREG_LOCK_WAIT_MS");
  if (!setting || !*setting) return wait_ms;
  const long ms = Number(setting);
  if (ms < 0) BadSetting("MODREG_LOCK_WAIT_MS", setting);
  return static_cast<unsigned>(ms);
}

void Die() { platform::KillProcess(); }

}  // namespace platform::faults
