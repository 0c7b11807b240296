// The points where the test build of the tool, modreg_faults, breaks a
// step on demand (tests/reliability/faults.cc says how MODREG_FAULT asks
// for it). The tool links faults-off.cc instead, where nothing ever
// breaks. Each step is named where it is taken; adding a step or a
// platform call needs no other change.
#ifndef MODREG_PLATFORM_FAULTS_H_
#define MODREG_PLATFORM_FAULTS_H_

#include <optional>
#include <string>

namespace platform::faults {

enum class Action {
  kNone,  // take the step
  kFail,  // fail it, with the reason the system gives for such a fault
  kKill,  // die there, as if killed from outside
  kSkip,  // leave it out and report it done
};

// Counts one call of |step| and says what to do with it; for kFail sets
// |error| to the reason.
Action At(const char* step, std::string* error);

// For a step that is all or nothing: nothing when it is to be taken;
// otherwise its result (false after failing; true when skipped). Dies
// for kKill.
std::optional<bool> Intercept(const char* step, std::string* error);

// Waits as long as "hold-lock:S" or "hold-rename:S" asks at |step|.
void Hold(const char* step);

// At |step|, when MODREG_FAULT names it, puts the file that
// MODREG_SWAP_SOURCE names (a test's forged file, in its Windows form) in
// the place of |path|: what another user might do between a look at a
// name and its open.
void Swap(const char* step, const std::string& path);

// How long to wait for the registry's lock: MODREG_LOCK_WAIT_MS when set,
// otherwise |wait_ms|.
unsigned LockWaitMs(unsigned wait_ms);

// Ends the process at once, as SIGKILL or TerminateProcess would.
[[noreturn]] void Die();

}  // namespace platform::faults

#endif  // MODREG_PLATFORM_FAULTS_H_
