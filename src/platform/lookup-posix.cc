// Looking files up on POSIX as Wine finds them: the drive through
// $WINEPREFIX/dosdevices ("c:" is drive_c when the prefix has no
// dosdevices), "\\server\share" through dosdevices/unc, and each
// component matched without regard to case when the exact name is absent.
#include "platform/lookup.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

#include <vector>

#include "platform/posix.h"
#include "platform/winpath.h"

namespace platform {
namespace {

bool SameIgnoringCase(const char* a, const std::string& b) {
  return strlen(a) == b.size() && strncasecmp(a, b.c_str(), b.size()) == 0;
}

// |folder|/|name|, or the entry of |folder| whose name differs from |name|
// in case only. False with |kind| set when there is none or the folder
// cannot be read.
bool Component(const std::string& folder, const std::string& name,
               std::string* path, FileKind* kind, std::string* error) {
  struct stat st;
  *path = folder + "/" + name;
  if (lstat(path->c_str(), &st) == 0) return true;
  // Only a name that is not there is looked for in the folder's entries.
  DIR* dir = errno == ENOENT ? opendir(folder.c_str()) : nullptr;
  if (!dir) {
    *kind = errno == ENOENT || errno == ENOTDIR ? FileKind::kMissing
                                                : FileKind::kUnreadable;
    return posix::Fail(error);
  }
  const dirent* entry = readdir(dir);
  while (entry && !SameIgnoringCase(entry->d_name, name)) entry = readdir(dir);
  const bool found = entry != nullptr;
  if (found) *path = folder + "/" + entry->d_name;
  closedir(dir);
  if (!found) {
    *kind = FileKind::kMissing;
    *error = strerror(ENOENT);
  }
  return found;
}

}  // namespace

// The host file a path maps to, when that is another name.
std::string DisplayName(const std::string& path) {
  const std::string host = posix::HostPath(path);
  return host == path ? path : path + " (" + host + ")";
}

// No short names here: |path| itself.
std::string ExpandShortNames(const std::string& path) { return path; }

FileKind LookUpFile(const std::string& windows_path, std::string* host_path,
                    std::string* error) {
  if (!winpath::IsAbsolute(windows_path)) return FileKind::kRelative;
  // Components, separated by either slash; "\\?\" and "\\.\" dropped.
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t i = 0; i <= windows_path.size(); ++i) {
    if (i < windows_path.size() && windows_path[i] != '\\' &&
        windows_path[i] != '/')
      continue;
    std::string part = windows_path.substr(start, i - start);
    start = i + 1;
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (parts.size() > 1) parts.pop_back();
      continue;
    }
    parts.push_back(part);
  }
  if (windows_path[1] != ':' && !parts.empty() &&
      (parts[0] == "?" || parts[0] == "."))
    parts.erase(parts.begin());
  std::string root;
  const std::string dosdevices = posix::WinePrefix() + "/dosdevices";
  size_t first = 1;
  if (!parts.empty() && parts[0].size() == 2 && parts[0][1] == ':') {
    std::string drive = {static_cast<char>(tolower(parts[0][0])), ':'};
    struct stat st;
    root = dosdevices + "/" + drive;
    if (drive == "c:" && stat(dosdevices.c_str(), &st) != 0)
      root = posix::DriveC();
  } else if (parts.size() >= 3 && strcasecmp(parts[0].c_str(), "UNC") == 0) {
    root = dosdevices + "/unc";  // \\?\UNC\server\share\...
  } else if (parts.size() >= 2 && windows_path[1] != ':') {
    root = dosdevices + "/unc";  // \\server\share\...
    first = 0;
  } else {
    *error = strerror(ENOENT);
    return FileKind::kMissing;
  }
  std::string path = root;
  FileKind kind = FileKind::kMissing;
  for (size_t i = first; i < parts.size(); ++i) {
    const std::string folder = path;
    if (!Component(folder, parts[i], &path, &kind, error)) return kind;
  }
  *host_path = path;
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    *error = posix::Reason();
    return errno == ENOENT || errno == ENOTDIR ? FileKind::kMissing
                                               : FileKind::kUnreadable;
  }
  return S_ISREG(st.st_mode)   ? FileKind::kFile
         : S_ISDIR(st.st_mode) ? FileKind::kFolder
                               : FileKind::kOther;
}

Presence LookUp(const std::string& path, std::string* error) {
  struct stat st;
  if (stat(posix::HostPath(path).c_str(), &st) == 0) return Presence::kExists;
  if (errno == ENOENT || errno == ENOTDIR) return Presence::kMissing;
  *error = posix::Reason();
  return Presence::kError;
}

}  // namespace platform
