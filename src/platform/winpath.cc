#include "platform/winpath.h"

#include <algorithm>
#include <vector>

namespace winpath {

namespace {

bool IsSlash(char c) { return c == '\\' || c == '/'; }

bool IsDriveLetter(char c) { return (c | 0x20) >= 'a' && (c | 0x20) <= 'z'; }

// |c| as Windows compares paths.
char FoldChar(char c) {
  if (c == '/') return '\\';
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

std::string Folded(std::string_view path) {
  std::string folded(path);
  for (char& c : folded) c = FoldChar(c);
  return folded;
}

bool Same(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(),
                    [](char x, char y) { return FoldChar(x) == FoldChar(y); });
}

bool IsUnder(std::string_view path, std::string_view dir) {
  if (dir.empty() || path.size() <= dir.size()) return false;
  return Same(path.substr(0, dir.size()), dir) && IsSlash(path[dir.size()]);
}

std::string_view LastComponent(std::string_view path) {
  return path.substr(path.find_last_of("\\/") + 1);
}

bool IsAbsolute(std::string_view path) {
  if (path.size() >= 3 && path[1] == ':' && IsSlash(path[2]))
    return IsDriveLetter(path[0]);
  return path.size() >= 3 && IsSlash(path[0]) && IsSlash(path[1]);
}

namespace {

template <class Char>
size_t RootLengthOf(std::basic_string_view<Char> path) {
  const auto slash = [&](size_t at) {
    return at < path.size() && (path[at] == '\\' || path[at] == '/');
  };
  const auto drive = [&](size_t at) {
    return path.size() > at + 2 && path[at] < 0x80 && path[at + 1] == ':' &&
           IsDriveLetter(static_cast<char>(path[at])) && slash(at + 2);
  };
  if (drive(0) || !slash(0) || !slash(1)) return drive(0) ? 3 : 0;
  // "\\?\" or "\\.\" before a drive, or before "UNC\" and a share.
  const bool prefix = path.size() > 3 && (path[2] == '?' || path[2] == '.') &&
                      slash(3);
  if (prefix && drive(4)) return 7;
  size_t at = prefix && path.size() > 7 && (path[4] | 0x20) == 'u' &&
                      (path[5] | 0x20) == 'n' && (path[6] | 0x20) == 'c' &&
                      slash(7)
                  ? 8
                  : 2;
  for (int part = 0; part < 2 && at < path.size(); ++part, ++at)
    while (at < path.size() && !slash(at)) ++at;  // the server, the share
  return at > path.size() ? path.size() : at;
}

}  // namespace

size_t RootLength(std::string_view path) { return RootLengthOf(path); }
size_t RootLength(std::wstring_view path) { return RootLengthOf(path); }

std::string ResolveDots(const std::string& path, size_t root) {
  std::vector<std::string> parts;
  for (size_t from = root; from <= path.size();) {
    size_t end = path.find_first_of("\\/", from);
    if (end == std::string::npos) end = path.size();
    std::string part = path.substr(from, end - from);
    if (part != "." && part != "..")
      part.erase(part.find_last_not_of(". ") + 1);  // as Windows drops them
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    from = end + 1;
  }
  std::string resolved = path.substr(0, root);
  for (const std::string& part : parts) resolved += "\\" + part;
  return resolved;
}

std::optional<std::string> AbsoluteFolder(const std::string& dir) {
  std::string folder = dir;
  std::replace(folder.begin(), folder.end(), '/', '\\');
  // \\?\ and \\.\ before a drive or UNC\server\share: the same folder.
  for (const char* prefix : {"\\\\?\\", "\\\\.\\"})
    if (folder.compare(0, 4, prefix) == 0) {
      if (Same(std::string_view(folder).substr(4, 4), "UNC\\"))
        folder.erase(2, 6);
      else if (folder.size() >= 7 && folder[5] == ':' && folder[6] == '\\')
        folder.erase(0, 4);
    }
  if (!IsAbsolute(folder)) return std::nullopt;
  // What "." and ".." leave as it is: the drive, or \\server\share, both
  // named.
  if (folder[1] == ':') return ResolveDots(folder, 2);
  const size_t slash = folder.find('\\', 2);
  if (slash == 2 || slash == std::string::npos ||
      slash + 1 >= folder.size() || folder[slash + 1] == '\\')
    return std::nullopt;
  return ResolveDots(folder,
                     std::min(folder.find('\\', slash + 1), folder.size()));
}

std::string Normalized(const std::string& path) {
  return AbsoluteFolder(path).value_or(path);
}

bool IsRoot(const std::string& folder) {
  const size_t from =
      folder.compare(0, 2, "\\\\") == 0 ? folder.find('\\', 2) + 1 : 0;
  return folder.find('\\', from) == std::string::npos;
}

bool ReservedDeviceName(std::string_view path, std::string* device) {
  if (path.size() >= 2 && IsSlash(path[0]) && IsSlash(path[1])) return false;
  std::string_view name = LastComponent(path);
  if (name.size() == path.size() && path.size() >= 2 && path[1] == ':')
    name.remove_prefix(2);  // C:NUL
  // Up to an extension or a stream's colon: trailing dots, blanks and a
  // colon, which Windows drops, go with it.
  name = name.substr(0, name.find_first_of(".:"));
  while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
  std::string upper(name);
  for (char& c : upper)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  const std::string_view stem = std::string_view(upper).substr(0, 3);
  bool found = false;
  if (upper.size() == 3) {
    found = stem == "CON" || stem == "PRN" || stem == "AUX" || stem == "NUL";
  } else if (upper.size() == 4 && (stem == "COM" || stem == "LPT")) {
    const unsigned char digit = static_cast<unsigned char>(upper[3]);
    found = (digit >= '1' && digit <= '9') || digit == 0xb9 || digit == 0xb2 ||
            digit == 0xb3;  // superscript one, two, three
  }
  if (found) *device = upper;
  return found;
}

}  // namespace winpath
