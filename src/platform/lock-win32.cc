// The registry's lock on Windows: a file in the registry's folder that one
// run at a time has open, and that only this user and administrators may
// open; and, for the older runs of the tool, which know no such file, the
// named mutex for the folder that they take, shared by every session.
#include "platform/platform.h"

#include <aclapi.h>

#include "platform/win32.h"

namespace platform {
using namespace win32;
namespace {

// What this process holds of the registry's lock, until
// UnlockRegistryFolder.
struct HeldLock {
  HANDLE file = INVALID_HANDLE_VALUE;
  HANDLE mutex = nullptr;
};
HeldLock held;

// What a run needs of the older runs' mutex: to wait for it (and so own
// it) and to release it; and to read its owner.
constexpr DWORD kLockRights = SYNCHRONIZE | MUTEX_MODIFY_STATE;
constexpr DWORD kMutexRights = kLockRights | READ_CONTROL;

// Grants kMutexRights, and nothing else, to SYSTEM, the Administrators
// group and this process's user, whichever of them creates the mutex: a
// mutex made by LocalSystem with its default descriptor would let
// administrators only read it.
bool MakeLockDescriptor(Descriptor* lock) {
  return WellKnownSid(WinLocalSystemSid, &lock->sids[0]) &&
         WellKnownSid(WinBuiltinAdministratorsSid, &lock->sids[1]) &&
         UserSid(&lock->sids[2]) && MakeDescriptor(kMutexRights, false, lock);
}

// Opens the mutex |name| with kMutexRights, creating it when there is
// none. Another run may create it between the two: CreateMutexW then asks
// for all rights on the existing one, the descriptor refuses them, and
// the open is tried again. Null when it can be neither opened nor made.
HANDLE OpenLock(const std::wstring& name) {
  Descriptor lock;
  if (!MakeLockDescriptor(&lock)) return nullptr;
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
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (GetSecurityInfo(mutex, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION,
                      &owner, nullptr, nullptr, nullptr, &sd) !=
      ERROR_SUCCESS)
    return false;
  const bool trusted = IsTrustedOwner(owner);
  LocalFree(sd);
  return trusted;
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

// How one attempt at the lock file went.
enum class Attempt {
  kTaken,      // this run has it
  kBusy,       // another run has it
  kDenied,     // access denied: marked for deletion, a folder, or a file
               // this run may not write
  kNotItself,  // opened, but a link, a folder or a device, not the file
  kRetry,      // missing, then there: made by another meanwhile
  kCannotMake, // missing, and this process may make no file in the folder
  kGone,       // the folder is gone
  kFailed,     // |error| says why
};

// Whether the lock file just opened as |h| from |path| is a file on a
// disk, itself: no link, reparse point or folder (nor, under Wine, the
// file a POSIX link leads to).
bool IsLockFile(HANDLE h, const std::wstring& path) {
  BY_HANDLE_FILE_INFORMATION info;
  return GetFileType(h) == FILE_TYPE_DISK &&
         GetFileInformationByHandle(h, &info) &&
         !(info.dwFileAttributes &
           (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) &&
         OpenedItself(h, path);
}

// Opens the lock file |path| for this process alone, making it when
// missing with the descriptor |only|, and marks it for deletion: the
// system removes it when the handle closes, at the process's end too,
// and meanwhile no one else may open it. While this run has it open,
// without sharing, another's open fails with a sharing violation; once
// it is marked, with access denied.
Attempt OpenLockFile(const std::wstring& path, Descriptor* only,
                     HANDLE* file, std::string* error) {
  // A Windows link is opened itself, and refused; the file is marked only
  // once it is known to be itself.
  const DWORD access = GENERIC_READ | GENERIC_WRITE | DELETE;
  const DWORD flags = FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_OPEN_REPARSE_POINT;
  HANDLE h = CreateFileW(path.c_str(), access, 0, nullptr, OPEN_EXISTING,
                         flags, nullptr);
  const bool missing =
      h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_NOT_FOUND;
  if (missing)
    h = CreateFileW(path.c_str(), access, 0, &only->attributes, CREATE_NEW,
                    flags, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    if (missing && (code == ERROR_WRITE_PROTECT ||
                    (code == ERROR_ACCESS_DENIED &&
                     GetFileAttributesW(path.c_str()) ==
                         INVALID_FILE_ATTRIBUTES &&
                     IsMissing(GetLastError()))))
      return Attempt::kCannotMake;
    switch (code) {
      case ERROR_SHARING_VIOLATION:
        return Attempt::kBusy;
      case ERROR_ACCESS_DENIED:
        return Attempt::kDenied;
      case ERROR_FILE_EXISTS:
      case ERROR_ALREADY_EXISTS:
        return Attempt::kRetry;
      case ERROR_PATH_NOT_FOUND:
        return Attempt::kGone;
      default:
        *error = Reason(code);
        return Attempt::kFailed;
    }
  }
  if (!IsLockFile(h, path)) {
    CloseHandle(h);
    return Attempt::kNotItself;
  }
  // A leftover may be read-only, which no file marked for deletion may be
  // (a process that may write it anyway, such as root's under Wine, gets
  // this far).
  FILE_BASIC_INFO basic = {};  // times of zero stay as they are
  basic.FileAttributes = FILE_ATTRIBUTE_HIDDEN;
  SetFileInformationByHandle(h, FileBasicInfo, &basic, sizeof basic);
  FILE_DISPOSITION_INFO dispose = {TRUE};
  if (!SetFileInformationByHandle(h, FileDispositionInfo, &dispose,
                                  sizeof dispose)) {
    *error = Reason();
    CloseHandle(h);
    return Attempt::kFailed;
  }
  *file = h;
  return Attempt::kTaken;
}

// True when |path| is a folder, not a link or junction.
bool IsPlainFolder(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
         !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// Takes the lock file |path| into |held|, trying again every 10 ms while
// another run has it, until |wait_ms| after |start|. What is in its place
// goes, as itself: a link, or a leftover this run may not write (read-
// only); not more than a few times, and a folder never. True, and
// |*gone|, when the folder is gone. True without the file when this
// process may make no file in the folder: it cannot change the registry
// either, and its run fails there, as without the lock.
bool TakeLockFile(const std::string& path, unsigned wait_ms,
                  ULONGLONG start, bool* gone, std::string* error) {
  const std::wstring wide = Wide(path);
  Descriptor only;
  if (!MakeOwnerOnly(&only)) {
    *error = "making its security descriptor: " + Reason();
    return false;
  }
  for (int tries = 1;; ++tries) {
    const Attempt attempt = OpenLockFile(wide, &only, &held.file, error);
    if (attempt == Attempt::kTaken || attempt == Attempt::kCannotMake)
      return true;
    if (attempt == Attempt::kFailed) return false;
    if (attempt == Attempt::kGone) {
      *gone = true;
      return true;
    }
    if (attempt == Attempt::kDenied && IsPlainFolder(wide)) {
      *error = path + " is a folder";
      return false;
    }
    if (attempt == Attempt::kNotItself && !RemoveFile(path)) {
      *error = path + " is not a file, and cannot be removed as itself";
      return false;
    }
    // A file marked for deletion, or another run's, cannot be removed:
    // that is a wait.
    const bool removed = attempt == Attempt::kNotItself ||
                         (attempt == Attempt::kDenied && RemoveFile(path));
    if ((removed || attempt == Attempt::kRetry) && tries >= kCreateAttempts) {
      // Under Wine a POSIX link that leads nowhere is missing, yet no file
      // can be made in its place.
      *error = path + (removed ? " is put back as soon as it is removed"
                               : " cannot be opened as a file (a link "
                                 "that leads nowhere?)");
      return false;
    }
    if (removed || attempt == Attempt::kRetry) continue;
    tries = 0;
    const ULONGLONG waited = GetTickCount64() - start;
    if (waited >= wait_ms) {
      *error = LockTimeoutReason(waited);
      return false;
    }
    Sleep(10);
  }
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

bool LockRegistryFolder(const std::string& dir, unsigned wait_ms,
                        std::string* error) {
  // Without the folder there is no registry to guard, as on POSIX; reading
  // it will fail and say so.
  const std::wstring wide = Wide(dir);
  DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES ? IsMissing(GetLastError())
                                            : !(attributes &
                                                FILE_ATTRIBUTE_DIRECTORY))
    return true;
  // The file is one whatever the folder's spelling (links, 8.3 names,
  // case), and only those who may write the folder can make it.
  const ULONGLONG start = GetTickCount64();
  const bool slash = !dir.empty() && (dir.back() == '\\' || dir.back() == '/');
  bool gone = false;
  if (!TakeLockFile(dir + (slash ? "" : "\\") + kLockFileName, wait_ms, start,
                    &gone, error))
    return false;
  if (gone) return true;
  // An older run takes only the mutex: it is taken too, in what is left of
  // the wait. Global\ names are shared by every session, so a service's
  // run in session 0 and a user's run in theirs take turns; but any user
  // may make the mutex, and hold it, or keep this process from it: one
  // made by another user, or that this process may not open, is left
  // alone, and the file guards the registry alone.
  HANDLE mutex = OpenOlderRunsLock(wide);
  if (!mutex) return true;
  const ULONGLONG waited = GetTickCount64() - start;
  const DWORD rc = WaitForSingleObject(
      mutex, waited >= wait_ms ? 0 : static_cast<DWORD>(wait_ms - waited));
  // Windows hands a mutex on, abandoned, when its owner dies.
  if (rc == WAIT_OBJECT_0 || rc == WAIT_ABANDONED) {
    held.mutex = mutex;
    return true;
  }
  *error = rc == WAIT_TIMEOUT ? LockTimeoutReason(GetTickCount64() - start)
                              : Reason();
  CloseHandle(mutex);
  UnlockRegistryFolder();
  return false;
}

void UnlockRegistryFolder() {
  if (held.mutex) {
    ReleaseMutex(held.mutex);
    CloseHandle(held.mutex);
    held.mutex = nullptr;
  }
  // Marked for deletion: the file goes with the handle.
  if (held.file != INVALID_HANDLE_VALUE) {
    CloseHandle(held.file);
    held.file = INVALID_HANDLE_VALUE;
  }
}

}  // namespace platform
