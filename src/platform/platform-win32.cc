// Windows side: paths are UTF-8 strings, converted to UTF-16 at each call
// into the system; every file is opened through the wide calls.
#include "platform/platform.h"

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

// The C runtime's own reader of the UTF-16 command line (msvcrt.dll).
struct StartupInfo {
  int new_mode;
};
extern "C" int __wgetmainargs(int* argc, wchar_t*** argv, wchar_t*** env,
                              int expand_wildcards, StartupInfo* info);

namespace platform {
namespace {

// UTF-16 to UTF-8.
std::string Utf8(const wchar_t* text, int size = -1) {
  int n = WideCharToMultiByte(CP_UTF8, 0, text, size, nullptr, 0, nullptr,
                              nullptr);
  if (n <= 0) return std::string();
  std::string utf8(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, size, utf8.data(), n, nullptr,
                      nullptr);
  if (size < 0) utf8.resize(static_cast<size_t>(n) - 1);  // the NUL
  return utf8;
}

std::string Reason(DWORD code = GetLastError()) {
  wchar_t* text = nullptr;
  DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER |
                               FORMAT_MESSAGE_FROM_SYSTEM |
                               FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, code, 0, reinterpret_cast<wchar_t*>(&text),
                           0, nullptr);
  std::string reason = n && text ? Utf8(text, static_cast<int>(n)) : "";
  while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' ||
                             reason.back() == ' ' || reason.back() == '.'))
    reason.pop_back();
  if (text) LocalFree(text);
  if (reason.empty()) reason = "error " + std::to_string(code);
  return reason;
}

// |text| in |code_page| to UTF-16: first asks for the length, then
// converts. Empty when |text| is not valid there.
std::wstring WideFrom(UINT code_page, const std::string& text) {
  int n = MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, text.c_str(),
                              -1, nullptr, 0);
  if (n <= 0) return std::wstring();
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(code_page, 0, text.c_str(), -1, wide.data(), n);
  wide.resize(static_cast<size_t>(n) - 1);
  return wide;
}

// A path as the tool holds it (UTF-8) to the system's UTF-16.
std::wstring Wide(const std::string& path) { return WideFrom(CP_UTF8, path); }

HANDLE Handle(const OutputFile* file) {
  return reinterpret_cast<HANDLE>(static_cast<intptr_t>(file->handle));
}

}  // namespace

std::string DisplayName(const std::string& path) { return path; }

bool MachineEnvironment(const std::string& name, std::string* value) {
  HKEY key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                    L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\"
                    L"Environment",
                    0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
    return false;
  const std::wstring wide_name = Wide(name);
  DWORD type = 0, size = 0;
  bool found = false;
  std::wstring raw;
  // The value may change between the two calls: ask again while it grows.
  for (int tries = 0; tries < 4; ++tries) {
    LONG rc = RegQueryValueExW(key, wide_name.c_str(), nullptr, &type,
                               nullptr, &size);
    if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ))
      break;
    raw.assign(size / sizeof(wchar_t) + 1, L'\0');
    DWORD got = size;
    rc = RegQueryValueExW(key, wide_name.c_str(), nullptr, &type,
                          reinterpret_cast<BYTE*>(raw.data()), &got);
    if (rc == ERROR_MORE_DATA) continue;
    if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ))
      break;
    raw.resize(wcsnlen(raw.c_str(), got / sizeof(wchar_t)));  // the NUL goes
    found = true;
    break;
  }
  RegCloseKey(key);
  if (!found) return false;
  if (type == REG_EXPAND_SZ) {
    DWORD n = ExpandEnvironmentStringsW(raw.c_str(), nullptr, 0);
    if (n == 0) return false;
    std::wstring expanded(n, L'\0');
    n = ExpandEnvironmentStringsW(raw.c_str(), expanded.data(), n);
    if (n == 0 || n > expanded.size()) return false;
    expanded.resize(n - 1);
    raw = expanded;
  }
  *value = Utf8(raw.c_str());
  return true;
}

bool ProcessEnvironment(const std::string& name, std::string* value) {
  const wchar_t* own = _wgetenv(Wide(name).c_str());
  if (!own) return false;
  *value = Utf8(own);
  return true;
}

std::vector<std::string> CommandLine(int argc, char** argv) {
  // The C runtime's |argv| went through the ANSI code page, which cannot
  // spell every name: the command line again, as UTF-16.
  int count = 0;
  wchar_t** wide = nullptr;
  wchar_t** environment = nullptr;
  StartupInfo info = {};
  std::vector<std::string> args;
  if (__wgetmainargs(&count, &wide, &environment, 0, &info) != 0 || !wide) {
    args.assign(argv, argv + argc);
    return args;
  }
  for (int i = 0; i < count; ++i) args.push_back(Utf8(wide[i]));
  return args;
}

bool ToAnsi(const std::string& text, std::string* ansi) {
  const std::wstring wide = Wide(text);
  if (wide.empty() != text.empty()) return false;  // not UTF-8
  BOOL defaulted = FALSE;
  int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.c_str(), -1,
                              nullptr, 0, nullptr, &defaulted);
  if (n <= 0 || defaulted) return false;
  ansi->assign(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.c_str(), -1,
                      ansi->data(), n, nullptr, &defaulted);
  ansi->resize(static_cast<size_t>(n) - 1);
  // The way back must give the same characters: no best fit slipped in.
  return !defaulted && WideFrom(CP_ACP, *ansi) == wide;
}

std::string FromAnsi(const std::string& ansi) {
  return Utf8(WideFrom(CP_ACP, ansi).c_str());
}

bool IsWow64() {
  BOOL wow64 = FALSE;
  return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

bool ReadWholeFile(const std::string& path, ByteBuffer* out,
                   std::string* error, const ReadFilter& filter) {
  HANDLE h = CreateFileW(Wide(path).c_str(), GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    *error = Reason();
    return false;
  }
  LARGE_INTEGER size;
  if (!GetFileSizeEx(h, &size)) {
    *error = Reason();
    CloseHandle(h);
    return false;
  }
  // One byte to see the end of the file, one after the bytes read.
  out->clear();
  ResizeBuffer(out, static_cast<unsigned long long>(size.QuadPart) + 2ull);
  size_t used = 0;
  for (;;) {
    // The file may have grown since it was measured.
    if (out->size() - used < 2) ResizeBuffer(out, out->size() * 2ull + 4096);
    size_t room = out->size() - 1 - used;
    DWORD want = static_cast<DWORD>(room < kReadPart ? room : kReadPart);
    DWORD got = 0;
    if (!ReadFile(h, out->data() + used, want, &got, nullptr)) {
      *error = Reason();
      CloseHandle(h);
      return false;
    }
    if (got == 0) break;
    size_t end = used + got;
    used = filter ? filter(out->data(), used, end) : end;
  }
  out->resize(used);
  CloseHandle(h);
  return true;
}

FileKind LookUpFile(const std::string& windows_path, std::string* host_path,
                    std::string* error) {
  if (!IsAbsoluteWindowsPath(windows_path)) return FileKind::kRelative;
  *host_path = windows_path;
  DWORD attributes = GetFileAttributesW(Wide(windows_path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    DWORD code = GetLastError();
    *error = Reason(code);
    return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND
               ? FileKind::kMissing
               : FileKind::kUnreadable;
  }
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return FileKind::kFolder;
  if (attributes & FILE_ATTRIBUTE_DEVICE) return FileKind::kOther;
  return FileKind::kFile;
}

namespace {

bool IsMissing(DWORD code) {
  return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
}

// The name under which the system knows the open |h|, with links and
// junctions on the way resolved; empty on failure.
std::wstring FinalPath(HANDLE h) {
  wchar_t name[MAX_PATH * 2];
  DWORD n = GetFinalPathNameByHandleW(h, name, MAX_PATH * 2,
                                      FILE_NAME_NORMALIZED);
  return n == 0 || n >= MAX_PATH * 2 ? std::wstring() : std::wstring(name, n);
}

// Whether the open |h| is the file at |path| and not one a link there
// leads to: the folder of |path| and the name in it, each as the system
// resolves it. FILE_FLAG_OPEN_REPARSE_POINT opens a Windows link itself;
// Wine shows a POSIX symbolic link as the file it leads to, under that
// file's own name.
bool OpenedItself(HANDLE h, const std::wstring& path) {
  size_t slash = path.find_last_of(L"\\/");
  std::wstring dir = slash == std::wstring::npos ? L"." : path.substr(0, slash);
  std::wstring name = path.substr(slash == std::wstring::npos ? 0 : slash + 1);
  HANDLE folder = CreateFileW(dir.empty() ? L"\\" : dir.c_str(),
                              FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE |
                                  FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (folder == INVALID_HANDLE_VALUE) return false;
  std::wstring expected = FinalPath(folder);
  CloseHandle(folder);
  if (expected.empty()) return false;
  if (expected.back() != L'\\') expected += L'\\';
  expected += name;
  std::wstring opened = FinalPath(h);
  return !opened.empty() &&
         CompareStringOrdinal(expected.c_str(), -1, opened.c_str(), -1,
                              TRUE) == CSTR_EQUAL;
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
  HANDLE h = CreateFileW(path.c_str(), access,
                         FILE_SHARE_READ | FILE_SHARE_WRITE |
                             FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING,
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

// Sets the attributes of the open file |h|; none is "normal".
bool SetAttributes(HANDLE h, DWORD attributes) {
  FILE_BASIC_INFO basic = {};  // times of zero stay as they are
  basic.FileAttributes = attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
  return SetFileInformationByHandle(h, FileBasicInfo, &basic, sizeof basic);
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

// How often CreateOutput removes what is in the way before it gives up.
constexpr int kCreateAttempts = 8;

}  // namespace

Presence LookUp(const std::string& path, std::string* error) {
  if (GetFileAttributesW(Wide(path).c_str()) != INVALID_FILE_ATTRIBUTES)
    return Presence::kExists;
  DWORD code = GetLastError();
  if (IsMissing(code)) return Presence::kMissing;
  *error = Reason(code);
  return Presence::kError;
}

namespace {

// The SIDs of this process's user and of a well-known group.
bool UserSid(std::vector<BYTE>* sid);
bool WellKnownSid(WELL_KNOWN_SID_TYPE type, std::vector<BYTE>* sid);

// A protected DACL that lets this process's user, SYSTEM and
// Administrators read, write, delete the file and change its permissions
// and owner, and no one else anything, with the buffers it points to.
// (Wine makes it mode 0660, less the umask: it maps an entry for a user
// of the token to the group's bits too.)
struct OwnerOnly {
  SECURITY_DESCRIPTOR descriptor;
  std::vector<DWORD> acl;  // DWORDs: an ACL must be aligned
  std::vector<BYTE> sids[3];
  SECURITY_ATTRIBUTES attributes;
};

constexpr DWORD kOwnerRights = FILE_GENERIC_READ | FILE_GENERIC_WRITE |
                               DELETE | WRITE_DAC | WRITE_OWNER;

bool MakeOwnerOnly(OwnerOnly* only) {
  if (!UserSid(&only->sids[0]) ||
      !WellKnownSid(WinLocalSystemSid, &only->sids[1]) ||
      !WellKnownSid(WinBuiltinAdministratorsSid, &only->sids[2]))
    return false;
  DWORD acl_size = sizeof(ACL);
  for (auto& sid : only->sids)
    acl_size += sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) +
                GetLengthSid(sid.data());
  only->acl.assign(acl_size / sizeof(DWORD) + 1, 0);
  ACL* acl = reinterpret_cast<ACL*>(only->acl.data());
  if (!InitializeAcl(acl, acl_size, ACL_REVISION)) return false;
  for (auto& sid : only->sids)
    if (!AddAccessAllowedAce(acl, ACL_REVISION, kOwnerRights, sid.data()))
      return false;
  // Protected: nothing the folder passes on is added.
  if (!InitializeSecurityDescriptor(&only->descriptor,
                                    SECURITY_DESCRIPTOR_REVISION) ||
      !SetSecurityDescriptorDacl(&only->descriptor, TRUE, acl, FALSE) ||
      !SetSecurityDescriptorControl(&only->descriptor, SE_DACL_PROTECTED,
                                    SE_DACL_PROTECTED))
    return false;
  only->attributes = {sizeof(SECURITY_ATTRIBUTES), &only->descriptor, FALSE};
  return true;
}

}  // namespace

bool CreateOutput(const std::string& path, OutputFile* file,
                  std::string* error) {
  // CREATE_NEW opens nothing that is there, and with
  // FILE_FLAG_OPEN_REPARSE_POINT a link there is not followed either;
  // whatever is in the way goes, as itself. READ_CONTROL and WRITE_DAC
  // are the owner's anyway: TakeProtection sets the DACL through this
  // handle.
  // Created for this user and administrators only, before TakeProtection
  // gives it the old file's DACL.
  const std::wstring wide = Wide(path);
  OwnerOnly only;
  if (!MakeOwnerOnly(&only)) {
    *error = "making its security descriptor: " + Reason();
    return false;
  }
  for (int attempt = 1;; ++attempt) {
    HANDLE h = CreateFileW(wide.c_str(), GENERIC_WRITE | READ_CONTROL |
                           WRITE_DAC, 0, &only.attributes, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                           nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      file->path = path;
      file->handle = static_cast<long long>(reinterpret_cast<intptr_t>(h));
      return true;
    }
    DWORD code = GetLastError();
    if ((code != ERROR_FILE_EXISTS && code != ERROR_ALREADY_EXISTS) ||
        attempt == kCreateAttempts || RemoveItself(path) != ERROR_SUCCESS) {
      *error = Reason(code);
      return false;
    }
  }
}

bool WriteOutput(OutputFile* file, const char* data, size_t size,
                 std::string* error) {
  while (size > 0) {
    DWORD want = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
    DWORD done = 0;
    if (!WriteFile(Handle(file), data, want, &done, nullptr) || done == 0) {
      *error = Reason();
      return false;
    }
    data += done;
    size -= done;
  }
  return true;
}

bool FlushOutput(OutputFile* file, std::string* error) {
  if (!FlushFileBuffers(Handle(file))) {
    *error = Reason();
    return false;
  }
  return true;
}

bool CloseOutput(OutputFile* file, std::string* error) {
  if (file->handle < 0) return true;
  BOOL ok = CloseHandle(Handle(file));
  file->handle = -1;
  if (!ok) {
    *error = Reason();
    return false;
  }
  return true;
}

namespace {

// Defined with the folder's judgement and the lock, below.
bool IsWellKnown(PSID sid, WELL_KNOWN_SID_TYPE type);
bool IsTrustedInstaller(PSID sid);

// SYSTEM, Administrators and TrustedInstaller: the owners that only
// administrators act as.
bool IsAdministrative(PSID sid) {
  return IsWellKnown(sid, WinLocalSystemSid) ||
         IsWellKnown(sid, WinBuiltinAdministratorsSid) ||
         IsTrustedInstaller(sid);
}

// |sid| as text ("S-1-5-7"), for a message.
std::string SidText(PSID sid) {
  char* text = nullptr;
  std::string name = ConvertSidToStringSidA(sid, &text) && text
                         ? std::string(text)
                         : std::string("an unknown user");
  if (text) LocalFree(text);
  return name;
}


// Why the log just opened as |h| from |path| is not written: empty when
// it is a file on a disk, not a link or reparse point (nor, under Wine,
// the file a POSIX link leads to: its handle's final name is another
// one), with one link, owned by this process's user, SYSTEM,
// Administrators or TrustedInstaller.
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
  if (info.nNumberOfLinks != 1)
    return "it has " + std::to_string(info.nNumberOfLinks) +
           " hard links: not written";
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR sd = nullptr;
  DWORD rc = GetSecurityInfo(h, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION,
                             &owner, nullptr, nullptr, nullptr, &sd);
  if (rc != ERROR_SUCCESS) return Reason(rc);
  std::vector<BYTE> user;
  std::string refusal;
  if (!owner || (!IsAdministrative(owner) &&
                 !(UserSid(&user) && EqualSid(owner, user.data()))))
    refusal = "it is owned by " +
              (owner ? SidText(owner) : std::string("no one")) +
              ", not by this user or an administrator";
  LocalFree(sd);
  return refusal;
}

}  // namespace

bool OpenAppend(const std::string& path, OutputFile* file, bool* created,
                std::string* error) {
  const std::wstring wide = Wide(path);
  *created = false;
  // FILE_APPEND_DATA without FILE_WRITE_DATA: every write goes to the end.
  // READ_CONTROL reads the owner through this handle. A link or
  // reparse point is opened as itself, and refused; a named pipe's server
  // may not act as this process (SECURITY_ANONYMOUS). Shared with every
  // other opener: the log may be the registry, opened before the lock.
  const DWORD access = FILE_APPEND_DATA | READ_CONTROL | FILE_READ_ATTRIBUTES |
                       SYNCHRONIZE;
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  const DWORD flags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT |
                      SECURITY_SQOS_PRESENT | SECURITY_ANONYMOUS;
  OwnerOnly only;
  HANDLE h = INVALID_HANDLE_VALUE;
  for (int attempt = 1; h == INVALID_HANDLE_VALUE; ++attempt) {
    h = CreateFileW(wide.c_str(), access, share, nullptr, OPEN_EXISTING, flags,
                    nullptr);
    if (h != INVALID_HANDLE_VALUE) break;
    DWORD code = GetLastError();
    if (code != ERROR_FILE_NOT_FOUND) {
      *error = Reason(code);
      return false;
    }
    // A missing log is made new, for this user and administrators only.
    if (attempt == 1 && !MakeOwnerOnly(&only)) {
      *error = "making its security descriptor: " + Reason();
      return false;
    }
    h = CreateFileW(wide.c_str(), access, share, &only.attributes, CREATE_NEW,
                    flags, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      *created = true;
      break;
    }
    code = GetLastError();
    if (code != ERROR_FILE_EXISTS && code != ERROR_ALREADY_EXISTS) {
      *error = Reason(code);
      return false;
    }
    // Wine shows a POSIX link that leads nowhere as missing, yet will not
    // make a file in its place.
    if (attempt == kCreateAttempts) {
      *error = "it cannot be opened as a file (a link that leads nowhere?): "
               "not followed";
      return false;
    }
  }
  const std::string refusal = LogRefusal(h, wide);
  if (!refusal.empty()) {
    CloseHandle(h);
    *error = refusal;
    return false;
  }
  file->path = path;
  file->handle = static_cast<long long>(reinterpret_cast<intptr_t>(h));
  return true;
}

bool AppendLine(OutputFile* file, const std::string& line, std::string* error) {
  const std::string text = line + "\r\n";
  // Windows appends each write whole; Wine finds the end and then writes
  // there, so that two processes can write at the same place. Appenders
  // take turns on a lock of one byte far past any data (it keeps no one
  // from writing the file); without the lock the line is written anyway.
  OVERLAPPED at = {};
  at.Offset = 0xFFFFFFFE;
  at.OffsetHigh = 0x7FFFFFFF;
  const bool locked =
      LockFileEx(Handle(file), LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &at);
  const bool ok = WriteOutput(file, text.data(), text.size(), error);
  if (locked) UnlockFileEx(Handle(file), 0, 1, 0, &at);
  return ok;
}

namespace {

// The attributes a replaced file keeps.
constexpr DWORD kKeptAttributes =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
    FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// The security descriptor of |path|, as |parts| ask; DWORDs for alignment.
bool ReadSecurity(const std::wstring& path, SECURITY_INFORMATION parts,
                  std::vector<DWORD>* descriptor) {
  DWORD size = 0;
  GetFileSecurityW(path.c_str(), parts, nullptr, 0, &size);
  if (size == 0) return false;
  descriptor->assign(size / sizeof(DWORD) + 1, 0);
  return GetFileSecurityW(path.c_str(), parts, descriptor->data(),
                          static_cast<DWORD>(descriptor->size() *
                                             sizeof(DWORD)),
                          &size);
}

}  // namespace

bool TakeProtection(OutputFile* file, const std::string& target,
                    std::string* error) {
  const std::wstring from = Wide(target);
  DWORD attributes = GetFileAttributesW(from.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    DWORD code = GetLastError();
    if (IsMissing(code)) return true;
    *error = Reason(code);
    return false;
  }
  std::vector<DWORD> descriptor;
  if (!ReadSecurity(from, OWNER_SECURITY_INFORMATION |
                              GROUP_SECURITY_INFORMATION |
                              DACL_SECURITY_INFORMATION,
                    &descriptor)) {
    *error = "reading the security descriptor of " + target + ": " + Reason();
    return false;
  }
  // Everything is set through the file's own handles, never by its name,
  // which another user of the folder could have moved. The DACL needs
  // WRITE_DAC, the owner's right; owner and group need WRITE_OWNER, which
  // only some may have: they are kept where the process may set them.
  PSECURITY_DESCRIPTOR sd = descriptor.data();
  // A DACL that inherits nothing from the folder (its protected flag set)
  // stays so, and one that inherits stays open to the folder's entries.
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  if (!GetSecurityDescriptorControl(sd, &control, &revision)) {
    *error = "reading the security descriptor of " + target + ": " + Reason();
    return false;
  }
  const SECURITY_INFORMATION dacl =
      DACL_SECURITY_INFORMATION | (control & SE_DACL_PROTECTED
                                       ? PROTECTED_DACL_SECURITY_INFORMATION
                                       : UNPROTECTED_DACL_SECURITY_INFORMATION);
  if (!SetKernelObjectSecurity(Handle(file), dacl, sd)) {
    *error = "setting the DACL of " + file->path + ": " + Reason();
    return false;
  }
  HANDLE owner = ReOpenFile(Handle(file), WRITE_OWNER,
                            FILE_SHARE_READ | FILE_SHARE_WRITE |
                                FILE_SHARE_DELETE,
                            0);
  if (owner != INVALID_HANDLE_VALUE) {
    if (!SetKernelObjectSecurity(owner, OWNER_SECURITY_INFORMATION |
                                            GROUP_SECURITY_INFORMATION, sd))
      SetKernelObjectSecurity(owner, GROUP_SECURITY_INFORMATION, sd);
    CloseHandle(owner);
  }
  if (!SetAttributes(Handle(file), attributes & kKeptAttributes)) {
    *error = "setting the attributes of " + file->path + ": " + Reason();
    return false;
  }
  return true;
}

bool ReplacedFile(const std::string& path, std::string* file,
                  std::string*) {
  // MoveFileExW replaces a link itself, like any file.
  *file = path;
  return true;
}

namespace {

// Whether a replace of |target| that failed with |code| failed because
// another program has a file open: a sharing violation, or access denied
// while this process may delete the target (Windows replaces no file that
// is open, whatever its sharing; Wine says access denied for both). A
// target this process may not delete, or that is a folder, is no program's
// doing.
bool InUse(DWORD code, const std::wstring& target) {
  if (code == ERROR_SHARING_VIOLATION) return true;
  if (code != ERROR_ACCESS_DENIED) return false;
  HANDLE h = CreateFileW(target.c_str(), DELETE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE)
    return GetLastError() == ERROR_SHARING_VIOLATION;
  CloseHandle(h);
  return true;
}

}  // namespace

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
  if (readonly && !SetAttributesOf(to, attributes & ~FILE_ATTRIBUTE_READONLY)) {
    *error = "clearing the read-only attribute of " + target + ": " +
             Reason();
    return false;
  }
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
  if (!MoveFileExW(Wide(source).c_str(), Wide(target).c_str(),
                   MOVEFILE_WRITE_THROUGH)) {
    *error = Reason();
    return false;
  }
  return true;
}

bool RemoveFile(const std::string& path) {
  return RemoveItself(path) == ERROR_SUCCESS;
}

bool OpenInput(const std::string& path, InputFile* file, std::string* error) {
  HANDLE h = CreateFileW(Wide(path).c_str(), GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    *error = Reason();
    return false;
  }
  file->handle = static_cast<long long>(reinterpret_cast<intptr_t>(h));
  return true;
}

bool ReadInput(InputFile* file, char* data, size_t size, size_t* got,
               std::string* error) {
  DWORD n = 0;
  HANDLE h = reinterpret_cast<HANDLE>(static_cast<intptr_t>(file->handle));
  DWORD want = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
  if (!ReadFile(h, data, want, &n, nullptr)) {
    *error = Reason();
    return false;
  }
  *got = n;
  return true;
}

void CloseInput(InputFile* file) {
  if (file->handle >= 0)
    CloseHandle(reinterpret_cast<HANDLE>(static_cast<intptr_t>(file->handle)));
  file->handle = -1;
}

namespace {

// Rights that let a user create, change, remove or rename files in a
// folder, or give them to others, whether held on the folder itself or
// passed on to the files in it.
constexpr DWORD kChangeRights = FILE_WRITE_DATA | FILE_APPEND_DATA |
                                FILE_DELETE_CHILD | DELETE | WRITE_DAC |
                                WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL |
                                MAXIMUM_ALLOWED;

bool IsWellKnown(PSID sid, WELL_KNOWN_SID_TYPE type) {
  BYTE known[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof known;
  return CreateWellKnownSid(type, nullptr, known, &size) &&
         EqualSid(sid, known);
}

bool IsTrustedInstaller(PSID sid) {
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  PSID installer = nullptr;
  if (!AllocateAndInitializeSid(&nt, 6, 80, 956008885, 3418522649u,
                                1831038044, 1853292631, 2271478464u, 0, 0,
                                &installer))
    return false;
  bool same = EqualSid(sid, installer);
  FreeSid(installer);
  return same;
}

}  // namespace

namespace {

// Rights in a parent folder that let a user remove or rename what is in
// it, the next folder on the way included, or take the folder over.
// Making a new folder there (as Authenticated Users may in C:\) changes
// nothing on the way.
constexpr DWORD kParentChangeRights = FILE_DELETE_CHILD | DELETE | WRITE_DAC |
                                      WRITE_OWNER | GENERIC_ALL |
                                      MAXIMUM_ALLOWED;

// Wine shows the files of the POSIX user running it as owned by the
// token's user, and those of other users as Anonymous's: there this
// process's user is the owner root is on POSIX. On Windows an elevated
// process's user has unelevated processes too.
bool UnderWine() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// Judges folder |dir| (a |parent|: what is in it) in |*open|: whether
// users other than administrators may change it. False with |error| set
// when its descriptor cannot be read.
bool JudgeFolder(const std::wstring& dir, bool parent, PSID user, bool* open,
                 std::string* error) {
  std::vector<DWORD> descriptor;
  if (!ReadSecurity(dir,
                    OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                    &descriptor)) {
    *error = Reason();
    return false;
  }
  PSECURITY_DESCRIPTOR sd = descriptor.data();
  BOOL present = FALSE, defaulted = FALSE;
  ACL* acl = nullptr;
  PSID owner = nullptr;
  if (!GetSecurityDescriptorDacl(sd, &present, &acl, &defaulted) ||
      !GetSecurityDescriptorOwner(sd, &owner, &defaulted)) {
    *error = Reason();
    return false;
  }
  *open = true;
  // An owner may change the DACL, whatever it says.
  if (!owner || (!IsAdministrative(owner) &&
                 !(user && UnderWine() && EqualSid(owner, user))))
    return true;
  // No DACL at all lets everyone do everything.
  if (!present || !acl) return true;
  for (DWORD i = 0; i < acl->AceCount; ++i) {
    ACCESS_ALLOWED_ACE* ace = nullptr;
    if (!GetAce(acl, i, reinterpret_cast<void**>(&ace))) continue;
    if (ace->Header.AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
    // An entry for subfolders only gives nothing on the files here; in a
    // parent no entry for what is made later gives anything on the
    // folder that is there.
    BYTE flags = ace->Header.AceFlags;
    if ((flags & INHERIT_ONLY_ACE) &&
        (parent || !(flags & OBJECT_INHERIT_ACE)))
      continue;
    if (!(ace->Mask & (parent ? kParentChangeRights : kChangeRights)))
      continue;
    PSID sid = &ace->SidStart;
    if (EqualSid(sid, owner) || IsAdministrative(sid) ||
        IsWellKnown(sid, WinCreatorOwnerSid))
      continue;
    return true;
  }
  *open = false;
  return true;
}

// The length of the root of full path |path|: "C:\", "\\server\share\",
// "\\?\C:\", "\\?\UNC\server\share\".
size_t RootLength(const std::wstring& path) {
  size_t at = 0;
  bool unc = path.compare(0, 2, L"\\\\") == 0;
  if (path.compare(0, 4, L"\\\\?\\") == 0) {
    at = 4;
    unc = path.compare(4, 4, L"UNC\\") == 0;
    if (unc) at = 8;
  } else if (unc) {
    at = 2;
  }
  if (!unc) return path.size() >= at + 3 ? at + 3 : path.size();
  // Past the server's and the share's names.
  for (int part = 0; part < 2 && at != std::wstring::npos; ++part) {
    at = path.find(L'\\', at);
    if (at != std::wstring::npos) ++at;
  }
  return at == std::wstring::npos ? path.size() : at;
}

// The folders of full path |path|, itself first, up to its root, which
// keeps its backslash ("C:\").
std::vector<std::wstring> FoldersUp(std::wstring path) {
  const size_t root = RootLength(path);
  while (path.size() > root && (path.back() == L'\\' || path.back() == L'/'))
    path.pop_back();
  std::vector<std::wstring> folders{path};
  while (path.size() > root) {
    size_t slash = path.find_last_of(L"\\/");
    path.resize(slash == std::wstring::npos || slash < root ? root
                                                            : slash);
    folders.push_back(path);
  }
  return folders;
}

// |wide| in the ANSI code page, for a message.
std::string Narrow(const std::wstring& wide) {
  int n = WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, nullptr, 0,
                              nullptr, nullptr);
  if (n <= 0) return std::string();
  std::string narrow(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, narrow.data(), n, nullptr,
                      nullptr);
  narrow.resize(static_cast<size_t>(n) - 1);
  return narrow;
}

}  // namespace

bool FolderOpenToOthers(const std::string& dir, std::string* through,
                        std::string* error) {
  const std::wstring name = Wide(dir);
  wchar_t full[MAX_PATH * 2];
  DWORD n = GetFullPathNameW(name.c_str(), MAX_PATH * 2, full, nullptr);
  if (n == 0 || n >= MAX_PATH * 2) {
    *error = n == 0 ? Reason() : "the folder's name is too long";
    return false;
  }
  // The folders on the way as named, then, when a junction or link on
  // the way leads elsewhere, those the system reaches: each list begins
  // with the folder itself.
  std::vector<std::wstring> folders = FoldersUp(std::wstring(full, n));
  size_t reached_at = folders.size();
  HANDLE h = CreateFileW(name.c_str(), FILE_READ_ATTRIBUTES,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                         nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    std::wstring final_path = FinalPath(h);
    CloseHandle(h);
    if (final_path.compare(0, 8, L"\\\\?\\UNC\\") == 0)
      final_path = L"\\" + final_path.substr(7);
    else if (final_path.compare(0, 4, L"\\\\?\\") == 0)
      final_path = final_path.substr(4);
    std::vector<std::wstring> reached = FoldersUp(final_path);
    if (!final_path.empty() &&
        CompareStringOrdinal(reached[0].c_str(), -1, folders[0].c_str(), -1,
                             TRUE) != CSTR_EQUAL)
      folders.insert(folders.end(), reached.begin(), reached.end());
  }
  std::vector<BYTE> user;
  PSID user_sid = UserSid(&user) ? user.data() : nullptr;
  for (size_t i = 0; i < folders.size(); ++i) {
    const bool itself = i == 0 || i == reached_at;
    bool open = false;
    if (!JudgeFolder(folders[i], !itself, user_sid, &open, error))
      return false;
    if (!open) continue;
    through->clear();
    if (!itself) *through = Narrow(folders[i]);
    return true;
  }
  return false;
}

namespace {

// What a run needs of the lock: to wait for it (and so own it) and to
// release it.
constexpr DWORD kLockRights = SYNCHRONIZE | MUTEX_MODIFY_STATE;

// The lock's security descriptor, with the buffers it points to.
struct LockDescriptor {
  SECURITY_DESCRIPTOR descriptor;
  std::vector<DWORD> acl;  // DWORDs: an ACL must be aligned
  SECURITY_ATTRIBUTES attributes;
};

// The user of this process's token.
bool UserSid(std::vector<BYTE>* sid) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
    return false;
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::vector<DWORD> info(size / sizeof(DWORD) + 1);
  bool ok = size && GetTokenInformation(token, TokenUser, info.data(), size,
                                        &size);
  CloseHandle(token);
  if (!ok) return false;
  PSID user = reinterpret_cast<TOKEN_USER*>(info.data())->User.Sid;
  BYTE* bytes = static_cast<BYTE*>(user);
  sid->assign(bytes, bytes + GetLengthSid(user));
  return true;
}

bool WellKnownSid(WELL_KNOWN_SID_TYPE type, std::vector<BYTE>* sid) {
  DWORD size = SECURITY_MAX_SID_SIZE;
  sid->resize(size);
  return CreateWellKnownSid(type, nullptr, sid->data(), &size);
}

// Grants kLockRights, and nothing else, to SYSTEM, the Administrators
// group and this process's user, whichever of them creates the lock: a
// mutex made by LocalSystem with its default descriptor would let
// administrators only read it.
bool MakeLockDescriptor(LockDescriptor* lock) {
  std::vector<BYTE> sids[3];
  if (!WellKnownSid(WinLocalSystemSid, &sids[0]) ||
      !WellKnownSid(WinBuiltinAdministratorsSid, &sids[1]) ||
      !UserSid(&sids[2]))
    return false;
  DWORD size = sizeof(ACL);
  for (auto& sid : sids)
    size += sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) +
            GetLengthSid(sid.data());
  lock->acl.assign(size / sizeof(DWORD) + 1, 0);
  ACL* acl = reinterpret_cast<ACL*>(lock->acl.data());
  if (!InitializeAcl(acl, size, ACL_REVISION)) return false;
  for (auto& sid : sids)
    if (!AddAccessAllowedAce(acl, ACL_REVISION, kLockRights, sid.data()))
      return false;
  if (!InitializeSecurityDescriptor(&lock->descriptor,
                                    SECURITY_DESCRIPTOR_REVISION) ||
      !SetSecurityDescriptorDacl(&lock->descriptor, TRUE, acl, FALSE))
    return false;
  lock->attributes = {sizeof(SECURITY_ATTRIBUTES), &lock->descriptor, FALSE};
  return true;
}

// Opens the mutex |name| with kLockRights, creating it when there is none.
// Another run may create it between the two: CreateMutexW then asks for
// all rights on the existing one, the descriptor refuses them, and the
// open is tried again.
HANDLE OpenLock(const std::wstring& name, std::string* error) {
  LockDescriptor lock;
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
  std::wstring path = FinalPath(h);
  if (path.compare(0, 8, L"\\\\?\\UNC\\") == 0)
    path.replace(0, 8, L"\\\\");
  else if (path.compare(0, 4, L"\\\\?\\") == 0)
    path.erase(0, 4);
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
  HANDLE folder = CreateFileW(wide.c_str(), 0,
                              FILE_SHARE_READ | FILE_SHARE_WRITE |
                                  FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr);
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

bool IsOpenAs(const OutputFile& file, const std::string& path) {
  // A short (8.3) name taken to the long one first, which the final path
  // of a handle gives; neither call opens the file.
  std::wstring name = Wide(path);
  DWORD n = GetLongPathNameW(name.c_str(), nullptr, 0);
  std::wstring long_name(n, L'\0');
  if (n && GetLongPathNameW(name.c_str(), long_name.data(), n) == n - 1) {
    long_name.resize(n - 1);
    name = long_name;
  }
  return OpenedItself(Handle(&file), name);
}

// This 32-bit process is redirected as a 32-bit framework is; a 64-bit
// one finds System32 itself, which this process reaches as Sysnative.
bool FrameworkSystemFolder(int bits, std::string* system,
                           std::string* seen_as) {
  if (bits != 64 || !IsWow64()) return false;
  wchar_t windows[MAX_PATH];
  UINT n = GetSystemWindowsDirectoryW(windows, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return false;
  *system = Utf8(windows, static_cast<int>(n)) + "\\System32";
  *seen_as = Utf8(windows, static_cast<int>(n)) + "\\Sysnative";
  return true;
}

namespace {

// The redirection trust policy: PROCESS_MITIGATION_POLICY's value and
// PROCESS_MITIGATION_REDIRECTION_TRUST_POLICY's flag, which older headers
// lack.
constexpr int kRedirectionTrustPolicy = 16;
constexpr DWORD kEnforceRedirectionTrust = 1;
using SetPolicy = BOOL(WINAPI*)(int policy, void* buffer, SIZE_T size);

}  // namespace

void HardenProcess() {
  // Looked up, not imported: older Windows has no such call, and then
  // nothing is done.
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  FARPROC found =
      kernel ? GetProcAddress(kernel, "SetProcessMitigationPolicy") : nullptr;
  if (!found) return;
  SetPolicy set;
  static_assert(sizeof set == sizeof found);
  memcpy(&set, &found, sizeof set);
  // A system that does not know the policy refuses it; that is all.
  DWORD flags = kEnforceRedirectionTrust;
  set(kRedirectionTrustPolicy, &flags, sizeof flags);
}

void KillProcess() {
  TerminateProcess(GetCurrentProcess(), 137);
  ExitProcess(137);  // not reached
}

}  // namespace platform
