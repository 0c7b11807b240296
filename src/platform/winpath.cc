#include "platform/winpath.h"

#include <algorithm>
#include <vector>

namespace platform::winpath {

namespace {

bool IsSlash(char c) { return c == '\\' || c == '/'; }

bool IsDriveLetter(char c) { return (c | 0x20) >= 'a' && (c | 0x20) <= 'z'; }

// |c|, a character of one byte, as Windows compares paths.
char FoldChar(char c) {
  if (c == '/') return '\\';
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// The first "\" or "/" of |path| at or after |from| (where a character
// begins), npos when there is none: never the second byte of a character.
size_t FindSlash(std::string_view path, size_t from, const CodePage& cp) {
  for (size_t at = from; at < path.size(); at += cp.CharSize(path, at))
    if (IsSlash(path[at])) return at;
  return std::string_view::npos;
}

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
  const bool prefix =
      path.size() > 3 && (path[2] == '?' || path[2] == '.') && slash(3);
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

std::string Folded(std::string_view path, const CodePage& cp) {
  std::string folded(path);
  for (size_t at = 0; at < folded.size(); at += cp.CharSize(folded, at))
    folded[at] = FoldChar(folded[at]);  // a lead byte folds to itself
  return folded;
}

bool Same(std::string_view a, std::string_view b, const CodePage& cp) {
  if (a.size() != b.size()) return false;
  // Folding keeps each byte's kind, so a character of |a| and the bytes of
  // |b| at its place are the same when folded alike.
  for (size_t at = 0; at < a.size();) {
    const size_t size = cp.CharSize(a, at);
    if (size == 2 ? a.compare(at, 2, b.substr(at, 2)) != 0
                  : FoldChar(a[at]) != FoldChar(b[at]))
      return false;
    at += size;
  }
  return true;
}

bool IsUnder(std::string_view path, std::string_view dir, const CodePage& cp) {
  if (dir.empty() || path.size() <= dir.size()) return false;
  // |dir| ends where a character of |path| does.
  size_t next = 0;
  while (next < dir.size()) next += cp.CharSize(path, next);
  return next == dir.size() && Same(path.substr(0, dir.size()), dir, cp) &&
         IsSlash(path[dir.size()]);
}

std::string_view LastComponent(std::string_view path, const CodePage& cp) {
  size_t after = 0;
  for (size_t at = FindSlash(path, 0, cp); at != std::string_view::npos;
       at = FindSlash(path, at + 1, cp))
    after = at + 1;
  return path.substr(after);
}

bool IsAbsolute(std::string_view path) {
  if (path.size() >= 3 && path[1] == ':' && IsSlash(path[2]))
    return IsDriveLetter(path[0]);
  return path.size() >= 3 && IsSlash(path[0]) && IsSlash(path[1]);
}

size_t RootLength(std::string_view path) { return RootLengthOf(path); }
size_t RootLength(std::wstring_view path) { return RootLengthOf(path); }

std::string ResolveDots(const std::string& path, size_t root,
                        const CodePage& cp) {
  std::vector<std::string> parts;
  for (size_t from = root; from <= path.size();) {
    size_t end = FindSlash(path, from, cp);
    if (end == std::string::npos) end = path.size();
    // Up to its last character that is neither a dot nor a blank.
    size_t kept = from;
    for (size_t at = from; at < end; at += cp.CharSize(path, at))
      if (cp.CharSize(path, at) == 2 || (path[at] != '.' && path[at] != ' '))
        kept = at + cp.CharSize(path, at);
    std::string part = path.substr(from, end - from);
    if (part != "." && part != "..")
      part.erase(kept - from);  // as Windows drops them
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

std::optional<std::string> AbsoluteFolder(const std::string& dir,
                                          const CodePage& cp) {
  std::string folder = dir;
  for (size_t at = FindSlash(folder, 0, cp); at != std::string::npos;
       at = FindSlash(folder, at + 1, cp))
    folder[at] = '\\';
  // \\?\ and \\.\ before a drive or UNC\server\share: the same folder.
  for (const char* prefix : {"\\\\?\\", "\\\\.\\"})
    if (folder.compare(0, 4, prefix) == 0) {
      if (Same(std::string_view(folder).substr(4, 4), "UNC\\", cp))
        folder.erase(2, 6);
      else if (folder.size() >= 7 && folder[5] == ':' && folder[6] == '\\')
        folder.erase(0, 4);
    }
  if (!IsAbsolute(folder)) return std::nullopt;
  // What "." and ".." leave as it is: the drive, or \\server\share, both
  // named.
  if (folder[1] == ':') return ResolveDots(folder, 2, cp);
  const size_t slash = FindSlash(folder, 2, cp);
  if (slash == 2 || slash == std::string::npos ||
      slash + 1 >= folder.size() || folder[slash + 1] == '\\')
    return std::nullopt;
  return ResolveDots(
      folder, std::min(FindSlash(folder, slash + 1, cp), folder.size()), cp);
}

std::string Normalized(const std::string& path, const CodePage& cp) {
  return AbsoluteFolder(path, cp).value_or(path);
}

bool IsRoot(const std::string& folder, const CodePage& cp) {
  const size_t from =
      folder.compare(0, 2, "\\\\") == 0 ? FindSlash(folder, 2, cp) + 1 : 0;
  return FindSlash(folder, from, cp) == std::string::npos;
}

bool ReservedDeviceName(std::string_view path, const CodePage& cp,
                        std::string* device) {
  if (path.size() >= 2 && IsSlash(path[0]) && IsSlash(path[1])) return false;
  std::string_view name = LastComponent(path, cp);
  if (name.size() == path.size() && path.size() >= 2 && path[1] == ':')
    name.remove_prefix(2);  // C:NUL
  // Up to an extension or a stream's colon: trailing dots, blanks and a
  // colon, which Windows drops, go with it.
  size_t stop = 0;
  while (stop < name.size() && name[stop] != '.' && name[stop] != ':')
    stop += cp.CharSize(name, stop);
  name = name.substr(0, stop);
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
    found = (digit >= '1' && digit <= '9') ||
            (!cp.IsDoubleByte() &&
             (digit == 0xb9 || digit == 0xb2 ||
              digit == 0xb3));  // superscript one, two, three
  }
  if (found) *device = upper;
  return found;
}

}  // namespace platform::winpath
