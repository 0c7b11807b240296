// The POSIX log: appended to, and written only when it is this user's own
// file, in a folder reached through no other user's link.
#include "platform/log_file.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix.h"

namespace platform {
namespace {

// Why the log just opened as |fd| is not written: empty when it is a
// regular file with one link, owned by this process's user or root.
std::string LogRefusal(int fd) {
  struct stat st;
  if (fstat(fd, &st) != 0) return posix::Reason();
  if (!S_ISREG(st.st_mode)) return "it is not a regular file";
  if (st.st_nlink != 1)
    return "it has " + std::to_string(st.st_nlink) +
           " hard links: not written";
  if (st.st_uid != geteuid() && st.st_uid != 0)
    return "it is owned by user " + std::to_string(st.st_uid) +
           ", not by this user or root";
  return std::string();
}

// Why |name| in |folder| could not be opened, |code| being the open's
// errno: a link there is named as such (O_NOFOLLOW's ELOOP), and so is
// anything else that is not a regular file (a FIFO without a reader
// gives ENXIO).
std::string OpenRefusal(int folder, const std::string& name, int code) {
  struct stat st;
  if (fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
    if (S_ISLNK(st.st_mode)) return "it is a symbolic link: not followed";
    if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode))
      return "it is not a regular file";
  }
  return strerror(code);
}

// Opens the folder of host path |host| as itself, from the root (or the
// current folder for a relative path), one component at a time, as
// |*folder|, and sets |name| to the last component, the log's name in
// it. A symbolic link on the way is followed only when root or this
// process's user owns it: another user's, in a folder of theirs (their
// temporary folder), could lead anywhere. On failure false, with |error|
// set.
bool OpenLogFolder(const std::string& host, int* folder, std::string* name,
                   std::string* error) {
  if (host.empty()) {
    *error = strerror(ENOENT);
    return false;
  }
  const size_t slash = host.find_last_of('/');
  *name = slash == std::string::npos ? host : host.substr(slash + 1);
  if (name->empty()) name->push_back('.');  // a folder: refused as one
  const bool absolute = host[0] == '/';
  // The links followed and the folders reached so far, as a path.
  std::string at = absolute ? "" : ".";
  *folder = open(absolute ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (*folder < 0) return posix::Fail(error);
  std::vector<std::string> rest;  // components still to go, last first
  if (slash != std::string::npos)
    posix::PushComponents(host.substr(0, slash), &rest);
  int links = 0;
  while (!rest.empty()) {
    const std::string part = rest.back();
    rest.pop_back();
    if (part == ".") continue;
    // Whatever is there, a link too, as itself.
    const int next =
        openat(*folder, part.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    struct stat st;
    if (next < 0 || fstat(next, &st) != 0) {
      posix::Fail(error, next);
      close(*folder);
      return false;
    }
    const std::string path = at + "/" + part;
    if (S_ISDIR(st.st_mode)) {
      close(*folder);
      *folder = next;
      at = path;
      continue;
    }
    char target[PATH_MAX];
    ssize_t size = -1;
    if (!S_ISLNK(st.st_mode)) {
      *error = strerror(ENOTDIR);
    } else if (st.st_uid != 0 && st.st_uid != geteuid()) {
      *error = "a link on the way, " + path +
               ", belongs to another user: not followed";
    } else if (++links > posix::kMaxLinks) {
      *error = strerror(ELOOP);
    } else {
      // Read from the link opened, not from its name: the one judged.
      size = readlinkat(next, "", target, sizeof target);
      if (size < 0 || size == sizeof target)
        *error = strerror(size < 0 ? errno : ENAMETOOLONG);
    }
    close(next);
    if (size < 0 || size == sizeof target) {
      close(*folder);
      return false;
    }
    if (target[0] == '/') {
      close(*folder);
      *folder = open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
      if (*folder < 0) return posix::Fail(error);
      at.clear();
    }
    posix::PushComponents(std::string(target, static_cast<size_t>(size)),
                          &rest);
  }
  return true;
}

}  // namespace

// Each folder on the way is opened as itself, from the root, and a
// symbolic link on the way followed only when root or this process's user
// owns it (a link of another user's is refused, naming it). An existing
// log is written when this process's user or root owns it.
bool OpenAppend(const std::string& path, OutputFile* file, bool* created,
                std::string* error) {
  signal(SIGXFSZ, SIG_IGN);  // as for CreateOutput
  *created = false;
  std::string name;
  int folder = -1;
  if (!OpenLogFolder(posix::HostPath(path), &folder, &name, error))
    return false;
  // An existing log is opened only as itself (O_NOFOLLOW), without
  // waiting for a reader (O_NONBLOCK: a FIFO planted there) or becoming
  // a terminal's (O_NOCTTY); a missing one is made new (O_EXCL), never
  // through a link. Between the two another process may make or remove
  // it: both are tried again, a few times.
  int fd = -1;
  for (int attempt = 1; fd < 0; ++attempt) {
    fd = openat(folder, name.c_str(),
                O_RDWR | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY |
                    O_CLOEXEC);
    if (fd >= 0 || errno != ENOENT) break;
    fd = openat(folder, name.c_str(),
                O_RDWR | O_APPEND | O_CREAT | O_EXCL | O_NOFOLLOW |
                    O_NOCTTY | O_CLOEXEC,
                0600);
    *created = fd >= 0;
    if (*created || errno != EEXIST || attempt == posix::kCreateAttempts) break;
  }
  std::string refusal =
      fd < 0 ? OpenRefusal(folder, name, errno) : LogRefusal(fd);
  // Writes wait again, as to any file.
  if (refusal.empty() && fcntl(fd, F_SETFL, O_APPEND) != 0)
    refusal = posix::Reason();
  if (!refusal.empty()) {
    // A new log refused leaves nothing behind: the file just made, when
    // it is still at the name.
    if (*created && posix::AtName(folder, name.c_str(), fd))
      unlinkat(folder, name.c_str(), 0);
    *created = false;
    if (fd >= 0) close(fd);
    close(folder);
    *error = refusal;
    return false;
  }
  close(folder);
  file->path = path;
  file->handle = fd;
  return true;
}

bool ReadLogAt(const OutputFile& file, unsigned long long offset, char* data,
               size_t size, size_t* got, std::string* error) {
  for (;;) {
    const ssize_t n = pread(static_cast<int>(file.handle), data, size,
                            static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return posix::Fail(error);
    *got = static_cast<size_t>(n);
    return true;
  }
}

bool AppendLine(OutputFile* file, const std::string& line, std::string* error) {
  const std::string text = line + "\n";
  return WriteOutput(file, text.data(), text.size(), error);
}

}  // namespace platform
