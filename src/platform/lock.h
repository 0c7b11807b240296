// The registry's lock: one run at a time changes the registry in a
// folder.
#ifndef MODREG_PLATFORM_LOCK_H_
#define MODREG_PLATFORM_LOCK_H_

#include <string>

namespace platform {

// The longest a run waits for another run's lock on the registry.
constexpr unsigned kLockWaitMs = 60 * 1000;

// Why a run gave up on the lock after waiting |waited_ms|.
inline std::string LockTimeoutReason(unsigned long long waited_ms) {
  return "another run holds the registry's lock; gave up after waiting " +
         std::to_string((waited_ms + 500) / 1000) + " s";
}

// The registry's lock as a run holds it: taken by LockRegistryFolder,
// released by UnlockRegistryFolder or when the value ends, whatever way
// the run leaves; the system releases it when the process dies. Not
// copied: one value holds it.
struct RegistryLock {
  long long file = -1;    // the lock file, open; -1 while none is held
  long long folder = -1;  // POSIX: the folder, open with it
  long long mutex = 0;    // Windows: the older runs' mutex, when taken
  std::string name;       // the lock file's name in the folder
  bool alone = false;     // see RegistryLockHeldAlone
  RegistryLock() = default;
  RegistryLock(const RegistryLock&) = delete;
  RegistryLock& operator=(const RegistryLock&) = delete;
  ~RegistryLock();
};

// Takes into |lock| an exclusive lock that guards the registry in folder
// |dir|, held on the file |file_name| in |dir|, which no user but those
// whose runs take turns on it may open (on POSIX the folder's owner, whose
// file it is, and root; on Windows the user who made it, SYSTEM and
// administrators); one there that others could open is removed as itself
// and made anew. Waits while another process holds the lock, at most
// |wait_ms|, and then fails with LockTimeoutReason. A folder that does
// not exist holds no registry and needs no lock; nor does one this
// process may make no file in, as it may not change the registry either:
// true then, with nothing held.
bool LockRegistryFolder(const std::string& dir, const std::string& file_name,
                        unsigned wait_ms, RegistryLock* lock,
                        std::string* error);

// Tells whether |lock| is held, taken without setting aside a file that
// another run might have held: only then is every other run that may
// change the folder kept waiting, and a temporary file there a killed
// run's leftover.
bool RegistryLockHeldAlone(const RegistryLock& lock);

// Releases |lock|, if it is held. On POSIX its file goes with it (a
// killed run's is harmless: the next run takes the lock on it and removes
// it); on Windows the file stays, for the next run to lock, as no run may
// remove it (see lock-win32.cc).
void UnlockRegistryFolder(RegistryLock* lock);

}  // namespace platform

#endif  // MODREG_PLATFORM_LOCK_H_
