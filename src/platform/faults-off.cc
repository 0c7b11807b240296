// The tool's own build: no step ever breaks.
#include "platform/faults.h"

#include <cstdlib>

namespace platform::faults {

Action At(const char*, std::string*) { return Action::kNone; }
std::optional<bool> Intercept(const char*, std::string*) { return std::nullopt; }
void Hold(const char*) {}
void Swap(const char*, const std::string&) {}
unsigned LockWaitMs(unsigned wait_ms) { return wait_ms; }
void Die() { std::abort(); }

}  // namespace platform::faults
