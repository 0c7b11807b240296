// Windows side: paths are narrow ANSI strings, converted to UTF-16 at each
// call into the system.
#include "platform/platform.h"

#include <windows.h>

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

HANDLE Handle(const OutputFile* file) {
  return reinterpret_cast<HANDLE>(static_cast<intptr_t>(file->handle));
}

}  // namespace

std::string DisplayName(const std::string& path) { return path; }

bool IsWow64() {
  BOOL wow64 = FALSE;
  return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

bool ReadWholeFile(const std::string& path, std::vector<char>* out,
                   std::string* error) {
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
  out->clear();
  // One byte to see the end of the file, one for a terminator.
  out->reserve(static_cast<size_t>(size.QuadPart) + 2);
  size_t used = 0;
  for (;;) {
    if (out->capacity() - used < 2) out->reserve(out->capacity() * 2 + 4096);
    out->resize(out->capacity() - 1);
    size_t room = out->size() - used;
    DWORD want = room > (1u << 30) ? (1u << 30) : static_cast<DWORD>(room);
    DWORD got = 0;
    if (!ReadFile(h, out->data() + used, want, &got, nullptr)) {
      *error = Reason();
      CloseHandle(h);
      return false;
    }
    if (got == 0) break;
    used += got;
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

bool ReplaceByRename(const std::string& source, const std::string& target,
                 std::string* error) {
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

bool LockRegistryFolder(const std::string& dir, std::string* error) {
  // A named mutex leaves nothing in the folder, and Windows hands it on
  // (abandoned) when its owner dies. Backslashes are not allowed in the
  // name past the namespace prefix.
  std::wstring name = L"Local\\modreg:" + Wide(dir);
  for (size_t i = 6; i < name.size(); ++i)
    if (name[i] == L'\\') name[i] = L'/';
  if (name.size() >= MAX_PATH) name.resize(MAX_PATH - 1);
  HANDLE mutex = CreateMutexW(nullptr, FALSE, name.c_str());
  if (!mutex) {
    *error = Reason();
    return false;
  }
  DWORD rc = WaitForSingleObject(mutex, INFINITE);
  if (rc != WAIT_OBJECT_0 && rc != WAIT_ABANDONED) {
    *error = Reason();
    CloseHandle(mutex);
    return false;
  }
  return true;
}

}  // namespace platform
