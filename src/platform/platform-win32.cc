// Windows side: paths are narrow ANSI strings, converted to UTF-16 at each
// call into the system.
#include "platform/platform.h"

#include <windows.h>

#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

namespace platform {
namespace {

std::string Reason(DWORD code = GetLastError()) {
  char* text = nullptr;
  DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER |
                               FORMAT_MESSAGE_FROM_SYSTEM |
                               FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, code, 0, reinterpret_cast<char*>(&text),
                           0, nullptr);
  std::string reason;
  if (n && text) {
    reason.assign(text, n);
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' ||
                               reason.back() == ' ' || reason.back() == '.'))
      reason.pop_back();
  }
  if (text) LocalFree(text);
  if (reason.empty()) reason = "error " + std::to_string(code);
  return reason;
}

// ANSI code page to UTF-16: first asks for the length, then converts.
std::wstring Wide(const std::string& path) {
  int n = MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, nullptr, 0);
  if (n <= 0) return std::wstring();
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide.data(), n);
  wide.resize(static_cast<size_t>(n) - 1);
  return wide;
}

#ifdef MODREG_LOCK_TEST
// modreg_faults.exe, the Windows test build of the tool, and only it,
// reads two settings for the tests of the lock. MODREG_FAULT is a list,
// separated by commas, of
//
//   hold-lock:S     once the lock is taken, says so on standard error and
//                   holds it S seconds
//   skip@lock       runs without the lock, to show what it prevents
//   hold-rename:S   waits S seconds before replacing the registry, so that
//                   runs started together all read it before any writes
//
// and MODREG_LOCK_WAIT_MS=N makes a run wait at most N ms for the lock.
// Any other value ends the run with status 125 before anything happens,
// so that a mistyped test cannot pass by accident.
struct LockTest {
  bool skip_lock = false;
  unsigned long hold_lock = 0;
  unsigned long hold_rename = 0;
};

[[noreturn]] void BadTestSetting(const char* name, const char* value) {
  fprintf(stderr, "modreg_faults: bad %s \"%s\"\n", name, value);
  exit(125);
}

// Whether |item| is |prefix| and digits; if so, the number in |*number|.
bool NumberAfter(const std::string& item, const char* prefix,
                 unsigned long* number) {
  size_t n = strlen(prefix);
  if (item.compare(0, n, prefix) != 0 || item.size() == n) return false;
  for (size_t i = n; i < item.size(); ++i)
    if (!isdigit(static_cast<unsigned char>(item[i]))) return false;
  *number = strtoul(item.c_str() + n, nullptr, 10);
  return true;
}

LockTest ReadLockTest() {
  LockTest test;
  const char* fault = getenv("MODREG_FAULT");
  std::string rest = fault ? fault : "";
  while (!rest.empty()) {
    size_t comma = rest.find(',');
    std::string item = rest.substr(0, comma);
    rest = comma == std::string::npos ? "" : rest.substr(comma + 1);
    if (item == "skip@lock") {
      test.skip_lock = true;
    } else if (!NumberAfter(item, "hold-lock:", &test.hold_lock) &&
               !NumberAfter(item, "hold-rename:", &test.hold_rename)) {
      BadTestSetting("MODREG_FAULT", fault);
    }
  }
  return test;
}

const LockTest kLockTest = ReadLockTest();

unsigned LockWaitMs(unsigned wait_ms) {
  static const char* setting = getenv("MODREG_LOCK_WAIT_MS");
  if (!setting || !*setting) return wait_ms;
  unsigned long ms = 0;
  if (!NumberAfter(setting, "", &ms))
    BadTestSetting("MODREG_LOCK_WAIT_MS", setting);
  return static_cast<unsigned>(ms);
}

const bool kWaitRead = (LockWaitMs(0), true);

bool SkipLock() { return kLockTest.skip_lock; }

void HoldLock() {
  if (!kLockTest.hold_lock) return;
  fprintf(stderr, "modreg_faults: holding the lock for %lu s\n",
          kLockTest.hold_lock);
  fflush(stderr);
  Sleep(kLockTest.hold_lock * 1000);
}

void HoldRename() { Sleep(kLockTest.hold_rename * 1000); }
#else
unsigned LockWaitMs(unsigned wait_ms) { return wait_ms; }
void HoldLock() {}
bool SkipLock() { return false; }
void HoldRename() {}
#endif

HANDLE Handle(const OutputFile* file) {
  return reinterpret_cast<HANDLE>(static_cast<intptr_t>(file->handle));
}

}  // namespace

std::string DisplayName(const std::string& path) { return path; }

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

bool CanOpenForReading(const std::string& path) {
  HANDLE h = CreateFileW(Wide(path).c_str(), GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  CloseHandle(h);
  return true;
}

bool PathExists(const std::string& path) {
  return GetFileAttributesW(Wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
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

bool CreateOutput(const std::string& path, OutputFile* file,
                  std::string* error) {
  HANDLE h = CreateFileW(Wide(path).c_str(), GENERIC_WRITE, 0, nullptr,
                         CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    *error = Reason();
    return false;
  }
  file->path = path;
  file->handle = static_cast<long long>(reinterpret_cast<intptr_t>(h));
  return true;
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

bool OpenAppend(const std::string& path, OutputFile* file, std::string* error) {
  // FILE_APPEND_DATA without FILE_WRITE_DATA: every write goes to the end.
  HANDLE h = CreateFileW(Wide(path).c_str(), FILE_APPEND_DATA,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    *error = Reason();
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

bool ReplaceByRename(const std::string& source, const std::string& target,
                 std::string* error) {
  HoldRename();
  if (!MoveFileExW(Wide(source).c_str(), Wide(target).c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    *error = Reason();
    return false;
  }
  return true;
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
  return DeleteFileW(Wide(path).c_str()) ||
         GetLastError() == ERROR_FILE_NOT_FOUND;
}

bool CopyFileBytes(const std::string& source, const std::string& target,
                   std::string* error) {
  if (!CopyFileW(Wide(source).c_str(), Wide(target).c_str(), FALSE)) {
    *error = Reason();
    return false;
  }
  return true;
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

}  // namespace

bool LockRegistryFolder(const std::string& dir, unsigned wait_ms,
                        std::string* error) {
  // A named mutex leaves nothing in the folder, and Windows hands it on
  // (abandoned) when its owner dies. Global\ names are shared by every
  // session, so a service's run in session 0 and a user's run in theirs
  // take turns. Backslashes are not allowed in the name past the
  // namespace prefix.
  if (SkipLock()) return true;
  std::wstring path = Wide(dir);
  for (wchar_t& c : path)
    if (c == L'\\') c = L'/';
  std::wstring name = L"Global\\modreg:" + path;
  if (name.size() >= MAX_PATH) name.resize(MAX_PATH - 1);
  HANDLE mutex = OpenLock(name, error);
  if (!mutex) return false;
  DWORD start = GetTickCount();
  DWORD rc = WaitForSingleObject(mutex, LockWaitMs(wait_ms));
  // A run never releases the lock: it ends holding it, finished or killed,
  // and the next takes it over abandoned.
  if (rc == WAIT_OBJECT_0 || rc == WAIT_ABANDONED) {
    HoldLock();
    return true;
  }
  if (rc == WAIT_TIMEOUT) {
    *error = LockTimeoutReason(GetTickCount() - start);
  } else {
    *error = Reason();
  }
  CloseHandle(mutex);
  return false;
}

namespace {

// The volume and index that identify the file at |path|.
bool FileIdentity(const std::string& path, BY_HANDLE_FILE_INFORMATION* info) {
  HANDLE h = CreateFileW(Wide(path).c_str(), 0,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  const bool known = GetFileInformationByHandle(h, info) != 0;
  CloseHandle(h);
  return known;
}

}  // namespace

bool SameFile(const std::string& a, const std::string& b) {
  BY_HANDLE_FILE_INFORMATION ia, ib;
  return FileIdentity(a, &ia) && FileIdentity(b, &ib) &&
         ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber &&
         ia.nFileIndexHigh == ib.nFileIndexHigh &&
         ia.nFileIndexLow == ib.nFileIndexLow;
}

// This 32-bit process is redirected as a 32-bit framework is; a 64-bit
// one finds System32 itself, which this process reaches as Sysnative.
bool FrameworkSystemFolder(int bits, std::string* system,
                           std::string* seen_as) {
  if (bits != 64 || !IsWow64()) return false;
  char windows[MAX_PATH];
  UINT n = GetSystemWindowsDirectoryA(windows, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return false;
  *system = std::string(windows, n) + "\\System32";
  *seen_as = std::string(windows, n) + "\\Sysnative";
  return true;
}

}  // namespace platform
