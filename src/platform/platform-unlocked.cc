// The Windows platform without the registry folder's lock, for the test
// build modreg_unlocked.exe only (chosen at link time in place of
// platform-win32.cc): the concurrency test runs it to show that its
// rounds find what the lock prevents.
#include "platform/platform.h"

// The real lock, under another name, unused.
#define LockRegistryFolder LockRegistryFolderUnused
#include "platform/platform-win32.cc"
#undef LockRegistryFolder

namespace platform {

bool LockRegistryFolder(const std::string&, std::string*) { return true; }

}  // namespace platform
