// Files on Windows: reading them, writing a new one and putting it in the
// place of the old.
#include "platform/files.h"

#include <algorithm>

#include "platform/path-win32.h"
#include "platform/security-win32.h"
#include "platform/text-win32.h"

namespace platform {
using namespace win32;

namespace {

// Opens |path| to read as |file|, shared with every other opener; a named
// pipe's server may not act as this process (SECURITY_ANONYMOUS).
// Anything but a file on a disk (a pipe, a console, a device) is refused
// from its handle, before it is read. |itself|: a link (any reparse point)
// is opened as itself and refused, and so is a folder.
bool OpenToRead(const std::wstring& path, bool itself, InputFile* file,
                std::string* error) {
  const DWORD flags =
      itself ? FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS
             : FILE_FLAG_SEQUENTIAL_SCAN;
  HANDLE h =
      CreateFileW(path.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                  flags | SECURITY_SQOS_PRESENT | SECURITY_ANONYMOUS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return Fail(error);
  BY_HANDLE_FILE_INFORMATION info = {};  // no attributes unless |itself|
  const char* refused = nullptr;
  if (GetFileType(h) != FILE_TYPE_DISK ||
      (itself && !GetFileInformationByHandle(h, &info)))
    refused = "it is not a regular file";
  else if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
    refused = "it is a link";
  else if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
    refused = "it is a folder, not a regular file";
  if (refused) {
    CloseHandle(h);
    *error = refused;
    return false;
  }
  file->handle = HandleNumber(h);
  return true;
}

// Opens |path| itself, a link or junction included, never what it leads
// to; a folder only when it is a link or junction.
HANDLE OpenItself(const std::wstring& path, DWORD access) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return INVALID_HANDLE_VALUE;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) &&
      !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    SetLastError(ERROR_ACCESS_DENIED);  // as DeleteFileW says of a folder
    return INVALID_HANDLE_VALUE;
  }
  HANDLE h = CreateFileW(path.c_str(), access, kShareAll, nullptr,
                         OPEN_EXISTING,
                         FILE_FLAG_OPEN_REPARSE_POINT |
                             FILE_FLAG_BACKUP_SEMANTICS,
                         nullptr);
  if (h != INVALID_HANDLE_VALUE && !OpenedItself(h, path)) {
    CloseHandle(h);
    SetLastError(ERROR_CANT_ACCESS_FILE);
    return INVALID_HANDLE_VALUE;
  }
  return h;
}

// Sets the attributes of |path| itself, never of what a link there leads
// to.
bool SetAttributesOf(const std::wstring& path, DWORD attributes) {
  HANDLE h = OpenItself(path, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES);
  if (h == INVALID_HANDLE_VALUE) return false;
  bool ok = SetAttributes(h, attributes);
  DWORD code = GetLastError();
  CloseHandle(h);
  SetLastError(code);
  return ok;
}

// Removes |path| as itself; on failure, the system's error code. A
// read-only file loses the attribute first: Windows deletes no read-only
// file.
DWORD RemoveItself(const std::string& path) {
  HANDLE h = OpenItself(Wide(path), DELETE | FILE_READ_ATTRIBUTES |
                                        FILE_WRITE_ATTRIBUTES);
  if (h == INVALID_HANDLE_VALUE) {
    DWORD code = GetLastError();
    return IsMissing(code) ? ERROR_SUCCESS : code;
  }
  FILE_BASIC_INFO basic;
  if (GetFileInformationByHandleEx(h, FileBasicInfo, &basic, sizeof basic) &&
      (basic.FileAttributes & FILE_ATTRIBUTE_READONLY))
    SetAttributes(h, basic.FileAttributes & ~FILE_ATTRIBUTE_READONLY);
  FILE_DISPOSITION_INFO dispose = {TRUE};
  DWORD code = SetFileInformationByHandle(h, FileDispositionInfo, &dispose,
                                          sizeof dispose)
                   ? ERROR_SUCCESS
                   : GetLastError();
  CloseHandle(h);
  return code;
}

// Whether a replace of |target| that failed with |code| failed because
// another program has a file open: a sharing violation, or access denied
// while this process may delete the target (Windows replaces no file that
// is open, whatever its sharing; Wine says access denied for both). A
// target this process may not delete, or that is a folder, is no program's
// doing.
bool InUse(DWORD code, const std::wstring& target) {
  if (code == ERROR_SHARING_VIOLATION) return true;
  if (code != ERROR_ACCESS_DENIED) return false;
  HANDLE h = CreateFileW(target.c_str(), DELETE, kShareAll, nullptr,
                         OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE)
    return GetLastError() == ERROR_SHARING_VIOLATION;
  CloseHandle(h);
  return true;
}

}  // namespace

// A folder is refused before it is opened.
bool OpenInput(const std::string& path, InputFile* file, std::string* error) {
  const std::wstring wide = Wide(path);
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES &&
      (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    *error = "it is a folder, not a regular file";
    return false;
  }
  return OpenToRead(wide, false, file, error);
}

bool OpenInputAsItself(const std::string& path, InputFile* file,
                       std::string* error) {
  return OpenToRead(Wide(path), true, file, error);
}

bool ListFolder(const std::string& dir, const std::string& prefix,
                std::vector<std::string>* names, std::string* error) {
  names->clear();
  WIN32_FIND_DATAW found;
  HANDLE h = FindFirstFileW(Wide(dir + "\\" + prefix + "*").c_str(), &found);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    return IsMissing(code) || Fail(error, code);
  }
  do names->push_back(Utf8(found.cFileName));
  while (FindNextFileW(h, &found));
  FindClose(h);
  std::sort(names->begin(), names->end());
  return true;
}

bool ReadInput(InputFile* file, char* data, size_t size, size_t* got,
               std::string* error) {
  DWORD n = 0;
  DWORD want = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
  if (!ReadFile(Handle(file->handle), data, want, &n, nullptr))
    return Fail(error);
  *got = n;
  return true;
}

void CloseInput(InputFile* file) {
  if (file->handle >= 0) CloseHandle(Handle(file->handle));
  file->handle = -1;
}

bool InputSize(InputFile* file, unsigned long long* size, std::string* error) {
  LARGE_INTEGER bytes;
  if (!GetFileSizeEx(Handle(file->handle), &bytes)) return Fail(error);
  *size = static_cast<unsigned long long>(bytes.QuadPart);
  return true;
}

bool CreateOutput(const std::string& path, OutputFile* file,
                  std::string* error) {
  // CREATE_NEW opens nothing that is there, and with
  // FILE_FLAG_OPEN_REPARSE_POINT a link there is not followed either;
  // whatever is in the way goes, as itself. READ_CONTROL and WRITE_DAC
  // are the owner's anyway: TakeProtection sets the DACL through this
  // handle.
  // Created for administrators only (and this user, when the run is no
  // administrator's) as MakeOwnerOnly says, before TakeProtection
  // gives it the old file's DACL.
  const std::wstring wide = Wide(path);
  Descriptor only;
  if (!MakeOwnerOnly(&only))
    return Fail(error, "making its security descriptor: ");
  for (int attempt = 1;; ++attempt) {
    HANDLE h = CreateFileW(wide.c_str(), GENERIC_WRITE | READ_CONTROL |
                           WRITE_DAC, 0, &only.attributes, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                           nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      file->path = path;
      file->handle = HandleNumber(h);
      return true;
    }
    DWORD code = GetLastError();
    if ((code != ERROR_FILE_EXISTS && code != ERROR_ALREADY_EXISTS) ||
        attempt == kCreateAttempts || RemoveItself(path) != ERROR_SUCCESS)
      return Fail(error, code);
  }
}

bool WriteOutput(OutputFile* file, const char* data, size_t size,
                 std::string* error) {
  while (size > 0) {
    DWORD want = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
    DWORD done = 0;
    if (!WriteFile(Handle(file->handle), data, want, &done, nullptr) ||
        done == 0)
      return Fail(error);
    data += done;
    size -= done;
  }
  return true;
}

bool FlushOutput(OutputFile* file, std::string* error) {
  return FlushFileBuffers(Handle(file->handle)) || Fail(error);
}

bool CloseOutput(OutputFile* file, std::string* error) {
  if (file->handle < 0) return true;
  BOOL ok = CloseHandle(Handle(file->handle));
  file->handle = -1;
  return ok || Fail(error);
}

bool ReplacedFile(const std::string& path, std::string* file,
                  std::string*) {
  // MoveFileExW replaces a link itself, like any file.
  *file = path;
  return true;
}

bool ReplaceByRename(const std::string& source, const std::string& target,
                 std::string* error) {
  // Windows replaces no read-only file, nor one that is open: the
  // attribute comes off the old registry just before the replace (the new
  // one carries it already), and back on when the replace fails.
  const std::wstring from = Wide(source);
  const std::wstring to = Wide(target);
  DWORD attributes = GetFileAttributesW(to.c_str());
  bool readonly = attributes != INVALID_FILE_ATTRIBUTES &&
                  (attributes & FILE_ATTRIBUTE_READONLY);
  if (readonly && !SetAttributesOf(to, attributes & ~FILE_ATTRIBUTE_READONLY))
    return Fail(error, "clearing the read-only attribute of " + target + ": ");
  // A scanner, an indexer or a program reading the registry holds it for
  // a moment: the replace is tried again, after 10 ms, then twice as long
  // each time up to half a second, for kReplaceWaitMs in all.
  const ULONGLONG start = GetTickCount64();
  DWORD pause = 10;
  for (;;) {
    if (MoveFileExW(from.c_str(), to.c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
      return true;
    const DWORD code = GetLastError();
    const ULONGLONG waited = GetTickCount64() - start;
    const bool in_use = InUse(code, to);
    if (!in_use || waited >= kReplaceWaitMs) {
      *error = in_use ? "the file is in use by another program; gave up "
                        "after waiting " +
                            std::to_string((waited + 500) / 1000) + " s (" +
                            Reason(code) + ")"
                      : Reason(code);
      if (readonly) SetAttributesOf(to, attributes);
      return false;
    }
    Sleep(static_cast<DWORD>(
        waited + pause > kReplaceWaitMs ? kReplaceWaitMs - waited : pause));
    pause = pause * 2 > 500 ? 500 : pause * 2;
  }
}

bool RenameNoReplace(const std::string& source, const std::string& target,
                     std::string* error) {
  return MoveFileExW(Wide(source).c_str(), Wide(target).c_str(),
                     MOVEFILE_WRITE_THROUGH) ||
         Fail(error);
}

bool RemoveFile(const std::string& path) {
  return RemoveItself(path) == ERROR_SUCCESS;
}

// By the name under which the system knows |file| (links resolved, case
// aside) against the resolved folder of |path| and the name in it.
bool IsOpenAs(const OutputFile& file, const std::string& path) {
  // A short (8.3) name taken to the long one first, which the final path
  // of a handle gives; neither call opens the file.
  return OpenedItself(Handle(file.handle), LongNames(Wide(path)));
}

}  // namespace platform
