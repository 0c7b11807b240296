// The registry's lock on Windows: a file in the registry's folder that
// lasts from run to run, for SYSTEM and administrators only (and, made by
// a run of no administrator, the user who made it), on which one run at a time holds an exclusive
// byte-range lock (LockFileEx); and, for the older runs of the tool, which
// know no such file, their mutex (legacy_mutex-win32.cc).
//
// No run marks the file for deletion: a handle that asks only to read
// its attributes passes any sharing and needs no right on the file (the
// folder's FILE_LIST_DIRECTORY grants it), and it would keep a name marked
// for deletion pending, which no one can open or make again until that
// handle closes. Such a handle can do nothing to a file no one removes: it
// takes no byte-range lock (that needs read or write access) and keeps no
// one from opening it.
#include "platform/lock.h"

#include "platform/files.h"
#include "platform/legacy_mutex-win32.h"
#include "platform/path-win32.h"
#include "platform/security-win32.h"
#include "platform/text-win32.h"

namespace platform {
using namespace win32;
namespace {

// How one attempt at the lock file went.
enum class Attempt {
  kOpened,     // open as |*file|, for its lock to be taken
  kBusy,       // an older run has it, unshared
  kDenied,     // access denied: marked for deletion, a folder, or a file
               // this user may not open
  kNotItself,  // opened, but a link, a folder, a device, or a file with
               // another name (a hard link), not the lock file
  kRetry,      // missing, then there: made by another meanwhile
  kCannotMake, // this process may make no file in the folder
  kGone,       // the folder is gone
  kFailed,     // |error| says why
};

// Reading is all a run asks of the lock file, and what LockFileEx needs;
// it shares reading, so that every run can open the file and wait for
// its lock, but neither writing nor deletion: no one may remove or rename
// the file while a run has it open, and a release before this one
// (1.0.0), which opens the file unshared and marks it for deletion, gets
// a sharing violation, which is a wait for it too.
constexpr DWORD kLockAccess = GENERIC_READ;
constexpr DWORD kLockSharing = FILE_SHARE_READ;

// Whether the lock file just opened as |h| from |path| is a file on a
// disk, itself: no link, reparse point or folder, nor a file with another
// name (nor, under Wine, the file a POSIX link leads to).
bool IsLockFile(HANDLE h, const std::wstring& path) {
  BY_HANDLE_FILE_INFORMATION info;
  return GetFileType(h) == FILE_TYPE_DISK &&
         GetFileInformationByHandle(h, &info) && info.nNumberOfLinks == 1 &&
         !(info.dwFileAttributes &
           (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) &&
         OpenedItself(h, path);
}

// What a run that may not open |path|, in the folder |dir|, has in front
// of it: a name marked for deletion (its attributes cannot be read
// either), a folder, or a file of another user's (or, this process
// being no administrator's, an administrator's); kCannotMake when this
// process may make no file in the folder: it does not open for
// FILE_ADD_FILE.
Attempt Denied(const std::wstring& dir, const std::wstring& path) {
  if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES)
    return Attempt::kDenied;  // marked for deletion, or just removed
  HANDLE h = CreateFileW(dir.c_str(), FILE_ADD_FILE, kShareAll, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return Attempt::kCannotMake;
  CloseHandle(h);
  return Attempt::kDenied;
}

// Gives the lock file open as |h| the descriptor |only| through its
// handle when |only| is an administrator's and the file's list grants
// anyone else: another may then neither open nor lock it. The owner is
// set where this process may; false with |error| set when the list
// cannot be.
bool KeepAdministratorsOnly(HANDLE h, Descriptor* only, std::string* error) {
  std::vector<DWORD> descriptor;
  if (only->owner.empty()) return true;
  if (!ReadSecurity(h, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                    &descriptor))
    return Fail(error, "reading the lock file's security descriptor: ");
  if (AdministratorsOnly(descriptor.data())) return true;
  HANDLE change = ReOpenFile(h, WRITE_DAC | WRITE_OWNER, kShareAll, 0);
  if (change == INVALID_HANDLE_VALUE)
    change = ReOpenFile(h, WRITE_DAC, kShareAll, 0);
  if (change == INVALID_HANDLE_VALUE)
    return Fail(error, "opening the lock file to set its DACL: ");
  SetKernelObjectSecurity(change, OWNER_SECURITY_INFORMATION,
                          &only->descriptor);
  const bool set = SetKernelObjectSecurity(
      change, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
      &only->descriptor);
  if (!set) *error = "setting the lock file's DACL: " + Reason();
  CloseHandle(change);
  return set;
}

// Opens the lock file |path| in the folder |dir| as |*file|, making it
// when missing, hidden, with the descriptor |only|. The file is never
// marked for deletion: it lasts, for the next run to lock.
Attempt OpenLockFile(const std::wstring& dir, const std::wstring& path,
                     Descriptor* only, HANDLE* file, std::string* error) {
  // A Windows link is opened itself, and refused.
  const DWORD flags = FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_OPEN_REPARSE_POINT;
  HANDLE h = CreateFileW(path.c_str(), kLockAccess, kLockSharing, nullptr,
                         OPEN_EXISTING, flags, nullptr);
  const bool missing =
      h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_NOT_FOUND;
  if (missing)
    h = CreateFileW(path.c_str(), kLockAccess, kLockSharing,
                    &only->attributes, CREATE_NEW, flags, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    if (missing && (code == ERROR_WRITE_PROTECT ||
                    (code == ERROR_ACCESS_DENIED &&
                     GetFileAttributesW(path.c_str()) ==
                         INVALID_FILE_ATTRIBUTES &&
                     IsMissing(GetLastError()))))
      return Attempt::kCannotMake;
    if (code == ERROR_SHARING_VIOLATION) return Attempt::kBusy;
    if (code == ERROR_ACCESS_DENIED) return Denied(dir, path);
    if (code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS)
      return Attempt::kRetry;
    if (code == ERROR_PATH_NOT_FOUND) return Attempt::kGone;
    *error = Reason(code);
    return Attempt::kFailed;
  }
  if (!IsLockFile(h, path)) {
    CloseHandle(h);
    return Attempt::kNotItself;
  }
  if (!missing && !KeepAdministratorsOnly(h, only, error)) {
    CloseHandle(h);
    return Attempt::kFailed;
  }
  *file = h;
  return Attempt::kOpened;
}

// True when |path| is a folder, not a link or junction.
bool IsPlainFolder(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
         !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// Waits 10 ms, or fails with LockTimeoutReason once |wait_ms| after
// |start| have passed.
bool WaitOnce(ULONGLONG start, unsigned wait_ms, std::string* error) {
  const ULONGLONG waited = GetTickCount64() - start;
  if (waited >= wait_ms) {
    *error = LockTimeoutReason(waited);
    return false;
  }
  Sleep(10);
  return true;
}

// Waits for the exclusive lock on the first byte of the open lock file
// |h| until |wait_ms| after |start|, trying again while another run holds
// it; on success it is held, in |lock|, otherwise |h| is closed.
bool AwaitLockBytes(HANDLE h, ULONGLONG start, unsigned wait_ms,
                    RegistryLock* lock, std::string* error) {
  for (;;) {
    OVERLAPPED at = {};
    if (LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1,
                   0, &at)) {
      lock->file = HandleNumber(h);
      return true;
    }
    const DWORD code = GetLastError();
    const bool busy = code == ERROR_LOCK_VIOLATION || code == ERROR_IO_PENDING;
    if (!busy) *error = Reason(code);
    if (!busy || !WaitOnce(start, wait_ms, error)) {
      CloseHandle(h);
      return false;
    }
  }
}

// Takes the lock file |path| in the folder |dir| into |lock|, trying
// again every 10 ms while another run has it, until |wait_ms| after
// |start|. What is in its place goes, as itself: a link, a hard link, or a
// file this user may not open and may remove (no run has it open); not
// more than a few times, and a folder never. True, and |*gone|, when the
// folder is gone. True without the file when this process may make no
// file in the folder: it cannot change the registry either, and its run
// fails there, as without the lock.
bool TakeLockFile(const std::wstring& dir, const std::string& path,
                  unsigned wait_ms, ULONGLONG start, bool* gone,
                  RegistryLock* lock, std::string* error) {
  const std::wstring wide = Wide(path);
  Descriptor only;
  if (!MakeOwnerOnly(&only))
    return Fail(error, "making its security descriptor: ");
  for (int tries = 1;; ++tries) {
    HANDLE file = INVALID_HANDLE_VALUE;
    const Attempt attempt = OpenLockFile(dir, wide, &only, &file, error);
    if (attempt == Attempt::kOpened)
      return AwaitLockBytes(file, start, wait_ms, lock, error);
    *gone = attempt == Attempt::kGone;
    if (*gone || attempt == Attempt::kCannotMake) return true;
    if (attempt == Attempt::kFailed) return false;
    if (attempt == Attempt::kDenied && IsPlainFolder(wide)) {
      *error = path + " is a folder";
      return false;
    }
    if (attempt == Attempt::kNotItself && !RemoveFile(path)) {
      *error = path + " is not a file, and cannot be removed as itself";
      return false;
    }
    // A file that a run has open, or marked for deletion, cannot be
    // removed: that is a wait.
    const bool removed = attempt == Attempt::kNotItself ||
                         (attempt == Attempt::kDenied &&
                          GetFileAttributesW(wide.c_str()) !=
                              INVALID_FILE_ATTRIBUTES &&
                          RemoveFile(path));
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
    if (!WaitOnce(start, wait_ms, error)) return false;
  }
}

}  // namespace

bool LockRegistryFolder(const std::string& dir, const std::string& file_name,
                        unsigned wait_ms, RegistryLock* lock,
                        std::string* error) {
  UnlockRegistryFolder(lock);  // one lock at a time
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
  if (!TakeLockFile(wide, dir + (slash ? "" : "\\") + file_name, wait_ms,
                    start, &gone, lock, error))
    return false;
  if (gone) return true;
  // An older run takes only the mutex: it is taken too, in what is left of
  // the wait.
  HANDLE mutex = nullptr;
  const bool taken = TakeLegacyMutex(wide, start, wait_ms, &mutex, error);
  lock->mutex = HandleNumber(mutex);
  if (!taken) UnlockRegistryFolder(lock);
  return taken;
}

bool RegistryLockHeldAlone(const RegistryLock& lock) {
  return Handle(lock.file) != INVALID_HANDLE_VALUE;
}

void UnlockRegistryFolder(RegistryLock* lock) {
  ReleaseLegacyMutex(Handle(lock->mutex));
  lock->mutex = 0;
  // The file stays, for the next run to lock.
  const HANDLE file = Handle(lock->file);
  if (file != INVALID_HANDLE_VALUE) {
    OVERLAPPED at = {};
    UnlockFileEx(file, 0, 1, 0, &at);
    CloseHandle(file);
    lock->file = -1;
  }
}

RegistryLock::~RegistryLock() { UnlockRegistryFolder(this); }

}  // namespace platform
