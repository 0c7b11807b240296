// Files on Windows by handle: final paths, long names, and what a handle
// is.
#include "platform/path-win32.h"

#include "platform/winpath.h"

namespace platform::win32 {

std::wstring FinalPath(HANDLE h) {
  wchar_t name[MAX_PATH * 2];
  DWORD n = GetFinalPathNameByHandleW(h, name, MAX_PATH * 2,
                                      FILE_NAME_NORMALIZED);
  return n == 0 || n >= MAX_PATH * 2 ? std::wstring() : std::wstring(name, n);
}

std::wstring PlainFinalPath(HANDLE h) {
  std::wstring path = FinalPath(h);
  if (path.compare(0, 8, L"\\\\?\\UNC\\") == 0)
    path.replace(0, 8, L"\\\\");
  else if (path.compare(0, 4, L"\\\\?\\") == 0)
    path.erase(0, 4);
  return path;
}

bool SetAttributes(HANDLE h, DWORD attributes) {
  FILE_BASIC_INFO basic = {};  // times of zero stay as they are
  basic.FileAttributes = attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
  return SetFileInformationByHandle(h, FileBasicInfo, &basic, sizeof basic);
}

std::wstring LongNames(const std::wstring& path) {
  // The longest part of |path| that exists, asked for its long names.
  const size_t root = winpath::RootLength(path);
  std::wstring part = path;
  for (;;) {
    DWORD n = GetLongPathNameW(part.c_str(), nullptr, 0);
    std::wstring long_name(n, L'\0');
    if (n && GetLongPathNameW(part.c_str(), long_name.data(), n) == n - 1) {
      long_name.resize(n - 1);
      return long_name + path.substr(part.size());
    }
    size_t slash = part.find_last_of(L"\\/");
    if (slash == std::wstring::npos || slash < root) return path;
    part.resize(slash);
  }
}

bool OpenedAs(HANDLE h, const std::wstring& folder, const std::wstring& rest) {
  HANDLE at = CreateFileW(folder.c_str(), FILE_READ_ATTRIBUTES, kShareAll,
                          nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                          nullptr);
  if (at == INVALID_HANDLE_VALUE) return false;
  std::wstring expected = FinalPath(at);
  CloseHandle(at);
  if (expected.empty()) return false;
  if (expected.back() != L'\\') expected += L'\\';
  expected += rest;
  const std::wstring opened = FinalPath(h);
  return !opened.empty() &&
         CompareStringOrdinal(expected.c_str(), -1, opened.c_str(), -1,
                              TRUE) == CSTR_EQUAL;
}

// |path| split into its folder, as a name to open, and the name in it.
// The folder of "C:\\name" is "C:\\", never "C:", which names the current
// folder of drive C:; that of "name" is ".".
bool OpenedItself(HANDLE h, const std::wstring& path) {
  const size_t slash = path.find_last_of(L"\\/");
  if (slash == std::wstring::npos) {
    const bool drive = path.size() >= 2 && path[1] == L':';  // "C:name"
    return OpenedAs(h, drive ? path.substr(0, 2) : L".",
                    path.substr(drive ? 2 : 0));
  }
  const bool root = slash == 0 || slash < winpath::RootLength(path);
  return OpenedAs(h, path.substr(0, root ? slash + 1 : slash),
                  path.substr(slash + 1));
}

}  // namespace platform::win32
