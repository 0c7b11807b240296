// POSIX side: drive C: is the drive_c folder of a Wine prefix.
#include "platform/platform.h"

#include <ctype.h>
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <strings.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdlib>

namespace platform {
namespace {

std::string Reason() { return strerror(errno); }

std::string WinePrefix() {
  const char* prefix = getenv("WINEPREFIX");
  if (prefix && *prefix) return prefix;
  const char* home = getenv("HOME");
  return std::string(home ? home : "") + "/.wine";
}

std::string DriveC() { return WinePrefix() + "/drive_c"; }

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

// "C:\Program Files\x" -> "<prefix>/drive_c/Program Files/x", other drives
// as DosDevicePath. Backslashes become slashes here only; the Windows form
// is what the registry holds.
std::string HostPath(const std::string& path) {
  // "." and ".." as Windows reads them: never above the drive or the
  // share's server, so never out of the prefix.
  const bool rooted =
      path.size() >= 2 && (path[1] == ':' || (path[0] == '\\' && path[1] == '\\'));
  std::string rest = rooted ? ResolveDots(path, 2) : path;
  if (rest.size() >= 2 && (rest[0] == 'C' || rest[0] == 'c') && rest[1] == ':')
    rest = DriveC() + rest.substr(2);
  else if (std::string other = DosDevicePath(rest); !other.empty())
    rest = other;
  for (char& c : rest)
    if (c == '\\') c = '/';
  return rest;
}

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t n = write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// Windows-1252's characters for bytes 0x80 to 0x9F; the five it leaves
// undefined stand for the control characters of their own value, as
// Windows converts them.
const char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// The next character of UTF-8 |text| at |*at|, or -1 when it is not
// well formed there.
long NextCodePoint(const std::string& text, size_t* at) {
  const unsigned char lead = static_cast<unsigned char>(text[(*at)++]);
  if (lead < 0x80) return lead;
  const int more = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC2 ? 1 : -1;
  if (more < 0 || lead > 0xF4) return -1;
  long c = lead & (0x3F >> more);
  for (int i = 0; i < more; ++i, ++*at) {
    if (*at >= text.size() || (text[*at] & 0xC0) != 0x80) return -1;
    c = c << 6 | (text[*at] & 0x3F);
  }
  const long least[] = {0, 0x80, 0x800, 0x10000};
  if (c < least[more] || (c >= 0xD800 && c < 0xE000) || c > 0x10FFFF)
    return -1;
  return c;
}

void AppendUtf8(long c, std::string* out) {
  if (c < 0x80) {
    *out += static_cast<char>(c);
  } else if (c < 0x800) {
    *out += static_cast<char>(0xC0 | c >> 6);
    *out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    *out += static_cast<char>(0xE0 | c >> 12);
    *out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    *out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

}  // namespace

std::vector<std::string> CommandLine(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

bool ToAnsi(const std::string& text, std::string* ansi) {
  ansi->clear();
  for (size_t at = 0; at < text.size();) {
    const long c = NextCodePoint(text, &at);
    if (c < 0) return false;
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
      *ansi += static_cast<char>(c);
      continue;
    }
    size_t i = 0;
    while (i < 32 && kCp1252High[i] != c) ++i;
    if (i == 32) return false;
    *ansi += static_cast<char>(0x80 + i);
  }
  return true;
}

std::string FromAnsi(const std::string& ansi) {
  std::string text;
  for (unsigned char c : ansi)
    AppendUtf8(c >= 0x80 && c < 0xA0 ? kCp1252High[c - 0x80] : c, &text);
  return text;
}

bool ProcessEnvironment(const std::string& name, std::string* value) {
  const char* own = getenv(name.c_str());
  if (!own) return false;
  *value = own;
  return true;
}

std::string DisplayName(const std::string& path) {
  const std::string host = HostPath(path);
  return host == path ? path : path + " (" + host + ")";
}

bool MachineEnvironment(const std::string&, std::string*) { return false; }

bool IsWow64() {
  struct stat st;
  return stat((DriveC() + "/windows/syswow64").c_str(), &st) == 0 &&
         S_ISDIR(st.st_mode);
}

bool ReadWholeFile(const std::string& path, ByteBuffer* out,
                   std::string* error, const ReadFilter& filter) {
  int fd = open(HostPath(path).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    *error = Reason();
    return false;
  }
  struct stat st;
  if (fstat(fd, &st) != 0) {
    *error = Reason();
    close(fd);
    return false;
  }
  if (S_ISDIR(st.st_mode)) {
    *error = strerror(EISDIR);
    close(fd);
    return false;
  }
  // One byte to see the end of the file, one after the bytes read.
  out->clear();
  ResizeBuffer(out, static_cast<unsigned long long>(st.st_size) + 2ull);
  size_t used = 0;
  for (;;) {
    // The file may have grown since it was measured.
    if (out->size() - used < 2) ResizeBuffer(out, out->size() * 2ull + 4096);
    size_t want = out->size() - 1 - used;
    ssize_t n = read(fd, out->data() + used, want < kReadPart ? want : kReadPart);
    if (n < 0) {
      if (errno == EINTR) continue;
      *error = Reason();
      close(fd);
      return false;
    }
    if (n == 0) break;
    size_t end = used + static_cast<size_t>(n);
    used = filter ? filter(out->data(), used, end) : end;
  }
  out->resize(used);
  close(fd);
  return true;
}

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
  if (errno != ENOENT) {
    *kind = errno == ENOTDIR ? FileKind::kMissing : FileKind::kUnreadable;
    *error = Reason();
    return false;
  }
  DIR* dir = opendir(folder.c_str());
  if (!dir) {
    *kind = errno == ENOENT || errno == ENOTDIR ? FileKind::kMissing
                                                : FileKind::kUnreadable;
    *error = Reason();
    return false;
  }
  bool found = false;
  while (const dirent* entry = readdir(dir)) {
    if (SameIgnoringCase(entry->d_name, name)) {
      *path = folder + "/" + entry->d_name;
      found = true;
      break;
    }
  }
  closedir(dir);
  if (!found) {
    *kind = FileKind::kMissing;
    *error = strerror(ENOENT);
  }
  return found;
}

}  // namespace

FileKind LookUpFile(const std::string& windows_path, std::string* host_path,
                    std::string* error) {
  if (!IsAbsoluteWindowsPath(windows_path)) return FileKind::kRelative;
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
  const std::string dosdevices = WinePrefix() + "/dosdevices";
  size_t first = 1;
  if (!parts.empty() && parts[0].size() == 2 && parts[0][1] == ':') {
    std::string drive = {static_cast<char>(tolower(parts[0][0])), ':'};
    struct stat st;
    root = dosdevices + "/" + drive;
    if (drive == "c:" && stat(dosdevices.c_str(), &st) != 0)
      root = DriveC();
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
    *error = Reason();
    return errno == ENOENT || errno == ENOTDIR ? FileKind::kMissing
                                               : FileKind::kUnreadable;
  }
  return S_ISREG(st.st_mode)   ? FileKind::kFile
         : S_ISDIR(st.st_mode) ? FileKind::kFolder
                               : FileKind::kOther;
}

Presence LookUp(const std::string& path, std::string* error) {
  struct stat st;
  if (stat(HostPath(path).c_str(), &st) == 0) return Presence::kExists;
  if (errno == ENOENT || errno == ENOTDIR) return Presence::kMissing;
  *error = Reason();
  return Presence::kError;
}

// How often CreateOutput removes what is in the way before it gives up.
constexpr int kCreateAttempts = 8;

bool CreateOutput(const std::string& path, OutputFile* file,
                  std::string* error) {
  // A file size limit must fail the write (EFBIG), not kill the process
  // before it can report.
  signal(SIGXFSZ, SIG_IGN);
  const std::string host = HostPath(path);
  // O_EXCL never opens what is there, a link included (and O_NOFOLLOW
  // says so twice); whatever is in the way goes, as itself.
  for (int attempt = 1;; ++attempt) {
    int fd = open(host.c_str(),
                  O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0) {
      file->path = path;
      file->handle = fd;
      return true;
    }
    if (errno != EEXIST || attempt == kCreateAttempts ||
        (unlink(host.c_str()) != 0 && errno != ENOENT)) {
      *error = Reason();
      return false;
    }
  }
}

bool WriteOutput(OutputFile* file, const char* data, size_t size,
                 std::string* error) {
  if (!WriteAll(static_cast<int>(file->handle), data, size)) {
    *error = Reason();
    return false;
  }
  return true;
}

bool FlushOutput(OutputFile* file, std::string* error) {
  if (fsync(static_cast<int>(file->handle)) != 0) {
    *error = Reason();
    return false;
  }
  return true;
}

bool CloseOutput(OutputFile* file, std::string* error) {
  if (file->handle < 0) return true;
  int rc = close(static_cast<int>(file->handle));
  file->handle = -1;
  if (rc != 0) {
    *error = Reason();
    return false;
  }
  return true;
}

namespace {

// Why the log just opened as |fd| is not written: empty when it is a
// regular file with one link, owned by this process's user or root.
std::string LogRefusal(int fd) {
  struct stat st;
  if (fstat(fd, &st) != 0) return Reason();
  if (!S_ISREG(st.st_mode)) return "it is not a regular file";
  if (st.st_nlink != 1)
    return "it has " + std::to_string(st.st_nlink) +
           " hard links: not written";
  if (st.st_uid != geteuid() && st.st_uid != 0)
    return "it is owned by user " + std::to_string(st.st_uid) +
           ", not by this user or root";
  return std::string();
}

// Why |host| could not be opened, |code| being the open's errno: a link
// there is named as such (O_NOFOLLOW's ELOOP), and so is anything else
// that is not a regular file (a FIFO without a reader gives ENXIO).
std::string OpenRefusal(const std::string& host, int code) {
  struct stat st;
  if (lstat(host.c_str(), &st) == 0) {
    if (S_ISLNK(st.st_mode)) return "it is a symbolic link: not followed";
    if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode))
      return "it is not a regular file";
  }
  return strerror(code);
}

}  // namespace

bool OpenAppend(const std::string& path, OutputFile* file, bool* created,
                std::string* error) {
  signal(SIGXFSZ, SIG_IGN);  // as for CreateOutput
  const std::string host = HostPath(path);
  *created = false;
  // An existing log is opened only as itself (O_NOFOLLOW), without
  // waiting for a reader (O_NONBLOCK: a FIFO planted there) or becoming
  // a terminal's (O_NOCTTY); a missing one is made new (O_EXCL), never
  // through a link. Between the two another process may make or remove
  // it: both are tried again, a few times.
  int fd = -1;
  for (int attempt = 1; fd < 0; ++attempt) {
    fd = open(host.c_str(),
              O_WRONLY | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY |
                  O_CLOEXEC);
    if (fd >= 0) break;
    if (errno != ENOENT) {
      *error = OpenRefusal(host, errno);
      return false;
    }
    fd = open(host.c_str(),
              O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY |
                  O_CLOEXEC,
              0600);
    if (fd >= 0) {
      *created = true;
      break;
    }
    if (errno != EEXIST || attempt == kCreateAttempts) {
      *error = OpenRefusal(host, errno);
      return false;
    }
  }
  std::string refusal = LogRefusal(fd);
  // Writes wait again, as to any file.
  if (refusal.empty() && fcntl(fd, F_SETFL, O_APPEND) != 0) refusal = Reason();
  if (!refusal.empty()) {
    close(fd);
    *error = refusal;
    return false;
  }
  file->path = path;
  file->handle = fd;
  return true;
}

bool AppendLine(OutputFile* file, const std::string& line, std::string* error) {
  const std::string text = line + "\n";
  return WriteOutput(file, text.data(), text.size(), error);
}

namespace {

// Makes a new name in the folder of host path |path| durable.
void SyncFolderOf(const std::string& path) {
  std::string dir = path.substr(0, path.find_last_of('/') + 1);
  int fd = open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    fsync(fd);
    close(fd);
  }
}

}  // namespace

namespace {

// Whether users other than root and this process's user may change
// folder |st|: its owner is another user, or its group or others may
// write in it. In a parent folder the sticky bit (as on /tmp) keeps them
// from renaming or removing the entries they do not own, the next folder
// on the way included, which is judged on its own.
bool OpenFolderStat(const struct stat& st, bool parent) {
  if (st.st_uid != 0 && st.st_uid != geteuid()) return true;
  if (parent && (st.st_mode & S_ISVTX)) return false;
  return (st.st_mode & (S_IWGRP | S_IWOTH)) != 0;
}

// The longest chain of symbolic links followed, as the system's limit.
constexpr int kMaxLinks = 40;

}  // namespace

bool FolderOpenToOthers(const std::string& dir, std::string* through,
                        std::string* error) {
  // The folder's name is resolved component by component, as the system
  // resolves it, from the root: every folder passed through (the ones
  // holding a link on the way included) is judged, since whoever may
  // change one of them may put another folder in the place of the next.
  std::string host = HostPath(dir);
  if (host.empty() || host[0] != '/') {
    char cwd[PATH_MAX];
    if (!getcwd(cwd, sizeof cwd)) {
      *error = Reason();
      return false;
    }
    host = std::string(cwd) + "/" + host;
  }
  std::vector<std::string> rest;  // components still to go, last first
  auto push = [&rest](const std::string& path) {
    size_t end = path.size();
    while (end > 0) {
      size_t start = path.find_last_of('/', end - 1);
      start = start == std::string::npos ? 0 : start + 1;
      if (end > start) rest.push_back(path.substr(start, end - start));
      end = start == 0 ? 0 : start - 1;
    }
  };
  push(host);
  // (Copies of |root|: GCC 12 takes an assignment of "/" for an overlapping
  // copy.)
  const std::string root(1, '/');
  std::string at = root;  // the folder reached so far, without links
  std::string open;      // the last folder on the way found open
  int links = 0;
  struct stat st;
  if (stat("/", &st) != 0) {
    *error = Reason();
    return false;
  }
  if (OpenFolderStat(st, !rest.empty())) open = root;
  while (!rest.empty()) {
    const std::string part = rest.back();
    rest.pop_back();
    if (part == ".") continue;
    if (part == "..") {
      at = at.substr(0, at.find_last_of('/'));
      if (at.empty()) at = root;
      continue;
    }
    std::string next = at == root ? std::string() : at;
    next += '/';
    next += part;
    if (lstat(next.c_str(), &st) != 0) {
      *error = Reason();
      return false;
    }
    if (S_ISLNK(st.st_mode)) {
      char target[PATH_MAX];
      ssize_t n = readlink(next.c_str(), target, sizeof target - 1);
      if (n < 0 || ++links > kMaxLinks) {
        *error = n < 0 ? Reason() : strerror(ELOOP);
        return false;
      }
      target[n] = '\0';
      if (target[0] == '/') at = root;
      push(target);
      continue;
    }
    if (!S_ISDIR(st.st_mode)) {
      *error = strerror(ENOTDIR);
      return false;
    }
    at = next;
    if (OpenFolderStat(st, !rest.empty())) open = at;
  }
  if (open.empty()) return false;
  // The folder itself is named by the caller; a parent here.
  through->clear();
  if (open != at) *through = open;
  return true;
}

bool TakeProtection(OutputFile* file, const std::string& target,
                    std::string* error) {
  struct stat st;
  if (stat(HostPath(target).c_str(), &st) != 0) return true;
  int fd = static_cast<int>(file->handle);
  // Owner and group first: a change of owner may clear set-id bits. Only
  // root may give a file away; others keep their own.
  if (fchown(fd, st.st_uid, st.st_gid) != 0 && errno != EPERM) {
    *error = Reason();
    return false;
  }
  if (fchmod(fd, st.st_mode & 07777) != 0) {
    *error = Reason();
    return false;
  }
  return true;
}

bool ReplacedFile(const std::string& path, std::string* file,
                  std::string* error) {
  *file = path;
  std::string host = HostPath(path);
  struct stat st;
  if (lstat(host.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return true;
  std::string dir = host.substr(0, host.find_last_of('/') + 1);
  std::string through, ignored;
  if (FolderOpenToOthers(dir.empty() ? "." : dir, &through, &ignored)) {
    *error = "it is a symbolic link in a folder that others may change; "
             "not followed";
    return false;
  }
  char real[PATH_MAX];
  // A link that leads nowhere is replaced by nothing: the read fails first.
  if (realpath(host.c_str(), real)) *file = real;
  return true;
}

bool ReplaceByRename(const std::string& source, const std::string& target,
                 std::string* error) {
  std::string from = HostPath(source);
  std::string to = HostPath(target);
  if (rename(from.c_str(), to.c_str()) != 0) {
    *error = Reason();
    return false;
  }
  SyncFolderOf(to);
  return true;
}

bool RenameNoReplace(const std::string& source, const std::string& target,
                     std::string* error) {
  std::string from = HostPath(source);
  if (link(from.c_str(), HostPath(target).c_str()) != 0) {
    *error = Reason();
    return false;
  }
  unlink(from.c_str());
  SyncFolderOf(from);
  return true;
}

bool RemoveFile(const std::string& path) {
  // unlink removes a link, never what it leads to; the mode of a file
  // does not matter, only the folder's.
  return unlink(HostPath(path).c_str()) == 0 || errno == ENOENT;
}

bool OpenInput(const std::string& path, InputFile* file, std::string* error) {
  int fd = open(HostPath(path).c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st;
  if (fd >= 0 && fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    close(fd);
    fd = -1;
    errno = EISDIR;
  }
  if (fd < 0) {
    *error = Reason();
    return false;
  }
  file->handle = fd;
  return true;
}

bool ReadInput(InputFile* file, char* data, size_t size, size_t* got,
               std::string* error) {
  for (;;) {
    ssize_t n = read(static_cast<int>(file->handle), data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *error = Reason();
      return false;
    }
    *got = static_cast<size_t>(n);
    return true;
  }
}

void CloseInput(InputFile* file) {
  if (file->handle >= 0) close(static_cast<int>(file->handle));
  file->handle = -1;
}

bool LockRegistryFolder(const std::string& dir, unsigned wait_ms,
                        std::string* error) {
  // The lock is on the folder itself, so it leaves no file behind; the
  // descriptor stays open until the process ends.
  int fd = open(HostPath(dir).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  // Without the folder there is no registry to guard; reading it will
  // fail and say so.
  if (fd < 0 && (errno == ENOENT || errno == ENOTDIR)) return true;
  if (fd < 0) {
    *error = Reason();
    return false;
  }
  // flock has no time limit of its own: it is tried every few
  // milliseconds until the bound.
  const auto start = std::chrono::steady_clock::now();
  const auto bound = std::chrono::milliseconds(wait_ms);
  for (;;) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
    if (errno != EWOULDBLOCK && errno != EINTR) {
      *error = Reason();
      close(fd);
      return false;
    }
    auto waited = std::chrono::steady_clock::now() - start;
    if (waited >= bound) {
      *error = LockTimeoutReason(static_cast<unsigned long long>(
          std::chrono::duration_cast<std::chrono::milliseconds>(waited)
              .count()));
      close(fd);
      return false;
    }
    usleep(10 * 1000);
  }
}

bool IsOpenAs(const OutputFile& file, const std::string& path) {
  struct stat sa, sb;
  return fstat(static_cast<int>(file.handle), &sa) == 0 &&
         stat(HostPath(path).c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

// Lookups here find System32 itself, as a 64-bit process does.
bool FrameworkSystemFolder(int bits, std::string* system,
                           std::string* seen_as) {
  if (bits != 32 || !IsWow64()) return false;
  *system = "C:\\windows\\system32";
  *seen_as = "C:\\windows\\syswow64";
  return true;
}

void HardenProcess() {}

void KillProcess() {
  raise(SIGKILL);
  _exit(137);  // not reached
}

}  // namespace platform
