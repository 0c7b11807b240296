// The named mutex that older versions of the tool take on a registry
// folder, instead of the lock file. Included only by lock-win32.cc.
#ifndef MODREG_PLATFORM_LEGACY_MUTEX_WIN32_H_
#define MODREG_PLATFORM_LEGACY_MUTEX_WIN32_H_

#include <windows.h>

#include <string>

namespace platform::win32 {

// Takes the older runs' mutex for the registry folder |dir|, making it
// when missing, so that they wait for this run too; waits for it at most
// until |wait_ms| after |start| (GetTickCount64's). True with |*held| set,
// or null when there is none of the tool's to take; false with |error|
// set when the wait ran out or failed.
bool TakeLegacyMutex(const std::wstring& dir, ULONGLONG start,
                     unsigned wait_ms, HANDLE* held, std::string* error);

// Releases and closes |mutex|, from TakeLegacyMutex; null is nothing.
void ReleaseLegacyMutex(HANDLE mutex);

}  // namespace platform::win32

#endif  // MODREG_PLATFORM_LEGACY_MUTEX_WIN32_H_
