// The registry's lock on Windows: a named mutex for the folder, shared by
// every session.
#include "platform/platform.h"

#include "platform/win32.h"

namespace platform {
using namespace win32;
namespace {

// What a run needs of the lock: to wait for it (and so own it) and to
// release it.
constexpr DWORD kLockRights = SYNCHRONIZE | MUTEX_MODIFY_STATE;

// Grants kLockRights, and nothing else, to SYSTEM, the Administrators
// group and this process's user, whichever of them creates the lock: a
// mutex made by LocalSystem with its default descriptor would let
// administrators only read it.
bool MakeLockDescriptor(Descriptor* lock) {
  return WellKnownSid(WinLocalSystemSid, &lock->sids[0]) &&
         WellKnownSid(WinBuiltinAdministratorsSid, &lock->sids[1]) &&
         UserSid(&lock->sids[2]) && MakeDescriptor(kLockRights, false, lock);
}

// Opens the mutex |name| with kLockRights, creating it when there is none.
// Another run may create it between the two: CreateMutexW then asks for
// all rights on the existing one, the descriptor refuses them, and the
// open is tried again.
HANDLE OpenLock(const std::wstring& name, std::string* error) {
  Descriptor lock;
  if (!MakeLockDescriptor(&lock)) {
    *error = Reason();
    return nullptr;
  }
  HANDLE mutex = nullptr;
  for (int attempt = 0; attempt < 10 && !mutex; ++attempt) {
    mutex = OpenMutexW(kLockRights, FALSE, name.c_str());
    if (mutex || GetLastError() != ERROR_FILE_NOT_FOUND) break;
    mutex = CreateMutexW(&lock.attributes, FALSE, name.c_str());
    if (mutex || GetLastError() != ERROR_ACCESS_DENIED) break;
  }
  if (!mutex) *error = Reason();
  return mutex;
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

// Folds |path| to upper case as the file system compares names: the
// invariant locale without linguistic casing, one character for one.
bool UpperCase(std::wstring* path) {
  if (path->empty()) return true;
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

}  // namespace

bool LockRegistryFolder(const std::string& dir, unsigned wait_ms,
                        std::string* error) {
  // A named mutex leaves nothing in the folder, and Windows hands it on
  // (abandoned) when its owner dies. Global\ names are shared by every
  // session, so a service's run in session 0 and a user's run in theirs
  // take turns.
  // Without the folder there is no registry to guard, as on POSIX; reading
  // it will fail and say so.
  const std::wstring wide = Wide(dir);
  DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES ? IsMissing(GetLastError())
                                            : !(attributes &
                                                FILE_ATTRIBUTE_DIRECTORY))
    return true;
  // The folder is asked what it is through a handle that asks for no
  // rights and lets everyone else do anything with it meanwhile.
  HANDLE folder = CreateFileW(wide.c_str(), 0, kShareAll, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                              nullptr);
  if (folder == INVALID_HANDLE_VALUE) {
    DWORD code = GetLastError();
    if (IsMissing(code)) return true;  // gone since
    *error = Reason(code);
    return false;
  }
  std::wstring name;
  const bool named = LockName(folder, &name);
  DWORD code = GetLastError();
  CloseHandle(folder);
  if (!named) {
    *error = "cannot tell which folder it is: " + Reason(code);
    return false;
  }
  HANDLE mutex = OpenLock(name, error);
  if (!mutex) return false;
  DWORD start = GetTickCount();
  DWORD rc = WaitForSingleObject(mutex, wait_ms);
  // A run never releases the lock: it ends holding it, finished or killed,
  // and the next takes it over abandoned.
  if (rc == WAIT_OBJECT_0 || rc == WAIT_ABANDONED) return true;
  if (rc == WAIT_TIMEOUT) {
    *error = LockTimeoutReason(GetTickCount() - start);
  } else {
    *error = Reason();
  }
  CloseHandle(mutex);
  return false;
}

}  // namespace platform
