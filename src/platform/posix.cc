// The Wine prefix's mapping of Windows paths to host files.
#include "platform/posix.h"

#include <ctype.h>

#include <cstdlib>

#include "platform/winpath.h"

namespace platform::posix {

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

// Other drives where Wine keeps them: "D:\x" is
// "<prefix>/dosdevices/d:/x", a link the prefix's drive configuration made;
// "\\server\share\x" is "<prefix>/dosdevices/unc/server/share/x".
std::string HostPath(const std::string& path) {
  // "." and ".." as Windows reads them: never above the drive or the
  // share's server, so never out of the prefix.
  const bool rooted =
      path.size() >= 2 && (path[1] == ':' || (path[0] == '\\' && path[1] == '\\'));
  std::string rest = rooted ? winpath::ResolveDots(path, 2, winpath::Utf8()) : path;
  if (rest.size() >= 2 && (rest[0] == 'C' || rest[0] == 'c') && rest[1] == ':')
    rest = DriveC() + rest.substr(2);
  else if (rest.size() >= 2 && rest[0] == '\\' && rest[1] == '\\')
    rest = WinePrefix() + "/dosdevices/unc/" + rest.substr(2);
  else if (rest.size() >= 2 && rest[1] == ':' &&
           isalpha(static_cast<unsigned char>(rest[0])))
    rest = WinePrefix() + "/dosdevices/" +
           static_cast<char>(tolower(static_cast<unsigned char>(rest[0]))) +
           ":" + rest.substr(2);
  for (char& c : rest)
    if (c == '\\') c = '/';
  return rest;
}

}  // namespace platform::posix
