// The registry's lock on Windows: a file in the registry's folder that one
// run at a time has open, marked for deletion, and that only this user and
// administrators may open; and, for the older runs of the tool, which know
// no such file, their mutex (legacy_mutex-win32.cc).
#include "platform/lock.h"

#include "platform/files.h"
#include "platform/legacy_mutex-win32.h"
#include "platform/win32_path.h"
#include "platform/win32_security.h"
#include "platform/win32_text.h"

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

}  // namespace

bool LockRegistryFolder(const std::string& dir, const std::string& file_name,
                        unsigned wait_ms, std::string* error) {
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
  if (!TakeLockFile(dir + (slash ? "" : "\\") + file_name, wait_ms, start,
                    &gone, error))
    return false;
  if (gone) return true;
  // An older run takes only the mutex: it is taken too, in what is left of
  // the wait.
  if (!TakeLegacyMutex(wide, start, wait_ms, &held.mutex, error)) {
    UnlockRegistryFolder();
    return false;
  }
  return true;
}

void UnlockRegistryFolder() {
  ReleaseLegacyMutex(held.mutex);
  held.mutex = nullptr;
  // Marked for deletion: the file goes with the handle.
  if (held.file != INVALID_HANDLE_VALUE) {
    CloseHandle(held.file);
    held.file = INVALID_HANDLE_VALUE;
  }
}

}  // namespace platform
