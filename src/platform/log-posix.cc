// The POSIX log: appended to, and written only when it is this user's own
// file.
#include "platform/platform.h"

#include <fcntl.h>
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
  const std::string host = posix::HostPath(path);
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
    if (fd >= 0 || errno != ENOENT) break;
    fd = open(host.c_str(),
              O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY |
                  O_CLOEXEC,
              0600);
    if (fd >= 0) {
      *created = true;
      break;
    }
    if (errno != EEXIST || attempt == posix::kCreateAttempts) break;
  }
  if (fd < 0) {
    *error = OpenRefusal(host, errno);
    return false;
  }
  std::string refusal = LogRefusal(fd);
  // Writes wait again, as to any file.
  if (refusal.empty() && fcntl(fd, F_SETFL, O_APPEND) != 0)
    refusal = posix::Reason();
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

}  // namespace platform
