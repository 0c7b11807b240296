// Looking files up on Windows: the path is used as it is.
#include "platform/lookup.h"

#include "platform/path-win32.h"
#include "platform/text-win32.h"
#include "platform/winpath.h"

namespace platform {
using namespace win32;

std::string DisplayName(const std::string& path) { return path; }

FileKind LookUpFile(const std::string& windows_path, std::string* host_path,
                    std::string* error) {
  if (!winpath::IsAbsolute(windows_path)) return FileKind::kRelative;
  *host_path = windows_path;
  DWORD attributes = GetFileAttributesW(Wide(windows_path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    DWORD code = GetLastError();
    *error = Reason(code);
    return IsMissing(code) ? FileKind::kMissing : FileKind::kUnreadable;
  }
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return FileKind::kFolder;
  if (attributes & FILE_ATTRIBUTE_DEVICE) return FileKind::kOther;
  return FileKind::kFile;
}

std::string ExpandShortNames(const std::string& path) {
  const std::wstring wide = Wide(path);
  if (wide.empty()) return path;
  return Utf8(LongNames(wide).c_str());
}

Presence LookUp(const std::string& path, std::string* error) {
  if (GetFileAttributesW(Wide(path).c_str()) != INVALID_FILE_ATTRIBUTES)
    return Presence::kExists;
  DWORD code = GetLastError();
  if (IsMissing(code)) return Presence::kMissing;
  *error = Reason(code);
  return Presence::kError;
}

}  // namespace platform
