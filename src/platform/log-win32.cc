// The log on Windows: opened to append to only when it is this user's or
// an administrator's own file, and written a whole line at a time.
#include "platform/log_file.h"

#include <windows.h>  // before sddl.h, which needs it
#include <sddl.h>

#include "platform/path-win32.h"
#include "platform/security-win32.h"
#include "platform/text-win32.h"
#include "platform/winpath.h"

namespace platform {
using namespace win32;
namespace {

// |sid| as text ("S-1-5-7"), for a message.
std::string SidText(PSID sid) {
  char* text = nullptr;
  std::string name = ConvertSidToStringSidA(sid, &text) && text
                         ? std::string(text)
                         : std::string("an unknown user");
  if (text) LocalFree(text);
  return name;
}

// Tells whether the open |h| was reached from |path| as it is spelled,
// through no link or junction on the way: its final name is |path| made
// full, with long names for short ones, after the final name of its root
// (a drive that is a network share or another drive's folder is one by
// the user's own choice, not another user's doing).
bool ReachedAsSpelled(HANDLE h, const std::wstring& path) {
  wchar_t full[MAX_PATH * 2];
  DWORD n = GetFullPathNameW(path.c_str(), MAX_PATH * 2, full, nullptr);
  if (n == 0 || n >= MAX_PATH * 2) return false;
  const std::wstring spelled = LongNames(std::wstring(full, n));
  const size_t root_length = winpath::RootLength(spelled);
  return OpenedAs(h, spelled.substr(0, root_length),
                  spelled.substr(root_length));
}

// Why the log just opened as |h| from |path| is not written: empty when
// it is a file on a disk, not a link or reparse point (nor, under Wine,
// the file a POSIX link leads to: its handle's final name is another
// one), reached through no link or junction, with one link, owned by
// this process's user, SYSTEM, Administrators or TrustedInstaller.
std::string LogRefusal(HANDLE h, const std::wstring& path) {
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileType(h) != FILE_TYPE_DISK) return "it is not a regular file";
  if (!GetFileInformationByHandle(h, &info)) return Reason();
  if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
    return "it is a link or reparse point: not followed";
  if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
    return "it is not a regular file";
  if (!OpenedItself(h, path))
    return "it is a link or reparse point: not followed";
  // Anyone who may change a folder on the way could have made it a link
  // to where they please.
  if (!ReachedAsSpelled(h, path))
    return "it is reached through a link or junction: not followed";
  if (info.nNumberOfLinks != 1)
    return "it has " + std::to_string(info.nNumberOfLinks) +
           " hard links: not written";
  std::vector<DWORD> sd;
  PSID owner = nullptr;
  BOOL defaulted = FALSE;
  if (!ReadSecurity(h, OWNER_SECURITY_INFORMATION, &sd) ||
      !GetSecurityDescriptorOwner(sd.data(), &owner, &defaulted))
    return Reason();
  if (IsTrustedFileOwner(owner)) return "";
  return "it is owned by " + (owner ? SidText(owner) : std::string("no one")) +
         ", not by this user or an administrator";
}

// Opens the log |path| as |*h|, or makes it new, for this user and
// administrators only, when it is missing (|*created| then true; the
// handle may then delete it). False with |error| set when neither can be
// done.
bool OpenOrMake(const std::wstring& path, HANDLE* h, bool* created,
                std::string* error) {
  // FILE_APPEND_DATA without FILE_WRITE_DATA: every write goes to the end.
  // FILE_READ_DATA reads its beginning (ReadLogAt) and READ_CONTROL the
  // owner through this handle. A link or
  // reparse point is opened as itself, and refused; a named pipe's server
  // may not act as this process (SECURITY_ANONYMOUS). Shared with every
  // other opener: the log may be the registry, opened before the lock.
  const DWORD access = FILE_APPEND_DATA | FILE_READ_DATA | READ_CONTROL |
                       FILE_READ_ATTRIBUTES | SYNCHRONIZE;
  const DWORD flags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT |
                      SECURITY_SQOS_PRESENT | SECURITY_ANONYMOUS;
  Descriptor only;
  for (int attempt = 1;; ++attempt) {
    *h = CreateFileW(path.c_str(), access, kShareAll, nullptr, OPEN_EXISTING,
                     flags, nullptr);
    if (*h != INVALID_HANDLE_VALUE) return true;
    DWORD code = GetLastError();
    if (code != ERROR_FILE_NOT_FOUND) return Fail(error, code);
    if (attempt == 1 && !MakeOwnerOnly(&only))
      return Fail(error, "making its security descriptor: ");
    *h = CreateFileW(path.c_str(), access | DELETE, kShareAll, &only.attributes,
                     CREATE_NEW, flags, nullptr);
    *created = *h != INVALID_HANDLE_VALUE;
    if (*created) return true;
    code = GetLastError();
    if (code != ERROR_FILE_EXISTS && code != ERROR_ALREADY_EXISTS)
      return Fail(error, code);
    // Wine shows a POSIX link that leads nowhere as missing, yet will not
    // make a file in its place.
    if (attempt == kCreateAttempts) {
      *error = "it cannot be opened as a file (a link that leads nowhere?): "
               "not followed";
      return false;
    }
  }
}

}  // namespace

bool OpenAppend(const std::string& path, OutputFile* file, bool* created,
                std::string* error) {
  const std::wstring wide = Wide(path);
  *created = false;
  HANDLE h = INVALID_HANDLE_VALUE;
  if (!OpenOrMake(wide, &h, created, error)) return false;
  const std::string refusal = LogRefusal(h, wide);
  if (!refusal.empty()) {
    // A log this open made goes again, through its handle: never another
    // file of the name.
    FILE_DISPOSITION_INFO dispose = {TRUE};
    if (*created)
      SetFileInformationByHandle(h, FileDispositionInfo, &dispose,
                                 sizeof dispose);
    CloseHandle(h);
    *created = false;
    *error = refusal;
    return false;
  }
  file->path = path;
  file->handle = HandleNumber(h);
  return true;
}

// At |offset| given with the read: the handle's own position is not
// where lines go (FILE_APPEND_DATA writes at the end).
bool ReadLogAt(const OutputFile& file, unsigned long long offset, char* data,
               size_t size, size_t* got, std::string* error) {
  OVERLAPPED at = {};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  const DWORD want =
      size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
  DWORD n = 0;
  if (!ReadFile(Handle(file.handle), data, want, &n, &at) &&
      GetLastError() != ERROR_HANDLE_EOF)
    return Fail(error);
  *got = n;
  return true;
}

// Lines end in CR LF.
bool AppendLine(OutputFile* file, const std::string& line, std::string* error) {
  const std::string text = line + "\r\n";
  // Windows appends each write whole; Wine finds the end and then writes
  // there, so that two processes can write at the same place. Appenders
  // take turns on a lock of one byte far past any data (it keeps no one
  // from writing the file); without the lock the line is written anyway.
  OVERLAPPED at = {};
  at.Offset = 0xFFFFFFFE;
  at.OffsetHigh = 0x7FFFFFFF;
  const HANDLE h = Handle(file->handle);
  const bool locked = LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &at);
  const bool ok = WriteOutput(file, text.data(), text.size(), error);
  if (locked) UnlockFileEx(h, 0, 1, 0, &at);
  return ok;
}

}  // namespace platform
