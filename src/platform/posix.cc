// The Wine prefix's mapping of Windows paths to host files.
#include "platform/posix.h"

#include <ctype.h>

#include <cstdlib>

#include "platform/winpath.h"

namespace platform::posix {
namespace {

// Where Wine keeps another drive: "D:\x" is "<prefix>/dosdevices/d:/x",
// a link the prefix's drive configuration made; "\\server\share\x" is
// "<prefix>/dosdevices/unc/server/share/x". Empty for a path on no drive.
std::string DosDevicePath(const std::string& path) {
  if (path.size() >= 2 && path[0] == '\\' && path[1] == '\\')
    return WinePrefix() + "/dosdevices/unc/" + path.substr(2);
  if (path.size() >= 2 && path[1] == ':' && isalpha(static_cast<unsigned char>(path[0])))
    return WinePrefix() + "/dosdevices/" +
           static_cast<char>(tolower(static_cast<unsigned char>(path[0]))) +
           ":" + path.substr(2);
  return std::string();
}

}  // namespace

void PushComponents(const std::string& path, std::vector<std::string>* rest) {
  size_t end = path.size();
  while (end > 0) {
    size_t start = path.find_last_of('/', end - 1);
    start = start == std::string::npos ? 0 : start + 1;
    if (end > start) rest->push_back(path.substr(start, end - start));
    end = start == 0 ? 0 : start - 1;
  }
}

std::string WinePrefix() {
  const char* prefix = getenv("WINEPREFIX");
  if (prefix && *prefix) return prefix;
  const char* home = getenv("HOME");
  return std::string(home ? home : "") + "/.wine";
}

std::string DriveC() { return WinePrefix() + "/drive_c"; }

// Other drives as DosDevicePath.
std::string HostPath(const std::string& path) {
  // "." and ".." as Windows reads them: never above the drive or the
  // share's server, so never out of the prefix.
  const bool rooted =
      path.size() >= 2 && (path[1] == ':' || (path[0] == '\\' && path[1] == '\\'));
  std::string rest = rooted ? winpath::ResolveDots(path, 2, winpath::Utf8()) : path;
  if (rest.size() >= 2 && (rest[0] == 'C' || rest[0] == 'c') && rest[1] == ':')
    rest = DriveC() + rest.substr(2);
  else if (std::string other = DosDevicePath(rest); !other.empty())
    rest = other;
  for (char& c : rest)
    if (c == '\\') c = '/';
  return rest;
}

}  // namespace platform::posix
