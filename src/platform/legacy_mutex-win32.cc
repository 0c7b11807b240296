// The lock that older versions of the tool, which know no lock file, take
// on a registry folder: a named mutex for the folder. Its name is in the
// Global namespace, shared by every session, so that a service's run in
// session 0 and a user's run in theirs take turns.
#include "platform/legacy_mutex-win32.h"

#include "platform/lock.h"
#include "platform/path-win32.h"
#include "platform/security-win32.h"
#include "platform/text-win32.h"

namespace platform::win32 {
namespace {

// What a run needs of the older runs' mutex: to wait for it (and so own
// it) and to release it; and to read its owner.
constexpr DWORD kMutexRights = SYNCHRONIZE | MUTEX_MODIFY_STATE | READ_CONTROL;

// Opens the mutex |name| with kMutexRights, creating it when there is
// none. Another run may create it between the two: CreateMutexW then asks
// for all rights on the existing one, the descriptor refuses them, and
// the open is tried again. Null when it can be neither opened nor made.
HANDLE OpenLock(const std::wstring& name) {
  // The mutex grants kMutexRights, and nothing else, to SYSTEM, the
  // Administrators group and this process's user, whichever of them
  // creates it: a mutex made by LocalSystem with its default descriptor
  // would let administrators only read it.
  Descriptor lock;
  if (!WellKnownSid(WinLocalSystemSid, &lock.sids[0]) ||
      !WellKnownSid(WinBuiltinAdministratorsSid, &lock.sids[1]) ||
      !UserSid(&lock.sids[2]) || !MakeDescriptor(kMutexRights, false, &lock))
    return nullptr;
  HANDLE mutex = nullptr;
  for (int attempt = 0; attempt < 10 && !mutex; ++attempt) {
    mutex = OpenMutexW(kMutexRights, FALSE, name.c_str());
    if (mutex || GetLastError() != ERROR_FILE_NOT_FOUND) break;
    mutex = CreateMutexW(&lock.attributes, FALSE, name.c_str());
    if (mutex || GetLastError() != ERROR_ACCESS_DENIED) break;
  }
  return mutex;
}

// True when the owner of |mutex| is this user, SYSTEM, Administrators or
// TrustedInstaller: a mutex of the lock's name made by another user (any
// user may make one in Global\) is none of the tool's.
bool OwnedByTrusted(HANDLE mutex) {
  std::vector<DWORD> sd;
  PSID owner = nullptr;
  BOOL defaulted = FALSE;
  return ReadSecurity(mutex, OWNER_SECURITY_INFORMATION, &sd) &&
         GetSecurityDescriptorOwner(sd.data(), &owner, &defaulted) &&
         IsTrustedOwner(owner);
}

// |value| as |count| hex digits.
std::wstring Hex(unsigned long long value, int count) {
  std::wstring digits(static_cast<size_t>(count), L'0');
  for (int i = count - 1; i >= 0; --i, value >>= 4)
    digits[static_cast<size_t>(i)] = L"0123456789abcdef"[value & 15];
  return digits;
}

// 64-bit FNV-1a of |text|'s UTF-16 units.
unsigned long long Hash(const std::wstring& text) {
  unsigned long long hash = 14695981039346656037ull;
  for (wchar_t c : text) {
    hash ^= static_cast<unsigned short>(c);
    hash *= 1099511628211ull;
  }
  return hash;
}

// Folds |path|, not empty, to upper case as the file system compares
// names: the invariant locale without linguistic casing, one character
// for one.
bool UpperCase(std::wstring* path) {
  const int size = static_cast<int>(path->size());
  std::wstring upper(path->size(), L'\0');
  if (LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, path->c_str(),
                    size, upper.data(), size, nullptr, nullptr, 0) != size)
    return false;
  *path = upper;
  return true;
}

// The lock's name for the open folder |h|, from what the folder is, not
// how it was spelled: its final path (links, junctions, 8.3 names, ".",
// "..", "/" and "\\?\" resolved), without the "\\?\" prefix, in upper
// case, backslashes as slashes (a backslash would name a namespace); when
// the system cannot say that path, its volume's serial number and its
// file index. A name past MAX_PATH keeps its beginning and ends with a
// hash of the whole.
bool LockName(HANDLE h, std::wstring* name) {
  const std::wstring prefix = L"Global\\modreg:";
  std::wstring path = PlainFinalPath(h);
  if (path.empty() || !UpperCase(&path)) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(h, &info)) return false;
    path = L"volume " + Hex(info.dwVolumeSerialNumber, 8) + L" file " +
           Hex(info.nFileIndexHigh, 8) + Hex(info.nFileIndexLow, 8);
  }
  for (wchar_t& c : path)
    if (c == L'\\') c = L'/';
  *name = prefix + path;
  if (name->size() >= MAX_PATH)
    *name = name->substr(0, MAX_PATH - 18) + L"#" + Hex(Hash(path), 16);
  return true;
}

// Opens the older runs' mutex for folder |dir|, making it when missing, so
// that they wait for this run too; null when it cannot be opened, or is
// not the tool's: its owner is another user.
HANDLE OpenOlderRunsLock(const std::wstring& dir) {
  // The folder is asked what it is through a handle that asks for no
  // rights and lets everyone else do anything with it meanwhile.
  HANDLE folder = CreateFileW(dir.c_str(), 0, kShareAll, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                              nullptr);
  if (folder == INVALID_HANDLE_VALUE) return nullptr;
  std::wstring name;
  const bool named = LockName(folder, &name);
  CloseHandle(folder);
  HANDLE mutex = named ? OpenLock(name) : nullptr;
  if (mutex && !OwnedByTrusted(mutex)) {
    CloseHandle(mutex);
    return nullptr;
  }
  return mutex;
}

}  // namespace

bool TakeLegacyMutex(const std::wstring& dir, ULONGLONG start,
                     unsigned wait_ms, HANDLE* held, std::string* error) {
  // Any user may make the mutex, and hold it, or keep this process from
  // it: one made by another user, or that this process may not open, is
  // left alone, and the lock file guards the registry alone.
  *held = nullptr;
  HANDLE mutex = OpenOlderRunsLock(dir);
  if (!mutex) return true;
  const ULONGLONG waited = GetTickCount64() - start;
  const DWORD rc = WaitForSingleObject(
      mutex, waited >= wait_ms ? 0 : static_cast<DWORD>(wait_ms - waited));
  // Windows hands a mutex on, abandoned, when its owner dies.
  if (rc == WAIT_OBJECT_0 || rc == WAIT_ABANDONED) {
    *held = mutex;
    return true;
  }
  *error = rc == WAIT_TIMEOUT ? LockTimeoutReason(GetTickCount64() - start)
                              : Reason();
  CloseHandle(mutex);
  return false;
}

void ReleaseLegacyMutex(HANDLE mutex) {
  if (!mutex) return;
  ReleaseMutex(mutex);
  CloseHandle(mutex);
}

}  // namespace platform::win32
