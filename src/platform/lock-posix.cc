// The registry folder's lock on POSIX: flock on a file in the folder that
// only this process's user and root may open, so that no other user can
// hold it.
#include "platform/lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>

#include "platform/posix.h"

namespace platform {
namespace {

// The lock this process holds: its folder and its file, open; -1 for
// none.
struct HeldLock {
  int folder = -1;
  int file = -1;
  std::string name;  // the file's in the folder
};
HeldLock held;

// Whether the lock file |st| is one that only this user and root can
// open: a regular file with no other link, of theirs, closed to others.
bool Trusted(const struct stat& st) {
  return S_ISREG(st.st_mode) && st.st_nlink == 1 &&
         (st.st_uid == geteuid() || st.st_uid == 0) &&
         (st.st_mode & (S_IRWXG | S_IRWXO)) == 0;
}

// Tells whether the open |fd| is the file that |name| names in |folder|.
bool AtName(int folder, const char* name, int fd) {
  struct stat opened, named;
  return fstat(fd, &opened) == 0 &&
         fstatat(folder, name, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
         posix::SameFile(opened, named);
}

// Whether |code| says this process may not make or remove files in the
// folder.
bool Denied(int code) {
  return code == EACCES || code == EPERM || code == EROFS;
}

enum class Opened { kFile, kNoLock, kFailed };

// Opens the lock file |name| in |folder| as |*fd|: a missing one is made, an
// untrusted one removed as itself (when it is still what was looked at)
// and made anew. Between these steps another run may make or remove it:
// they are tried again, a few times. kNoLock when this process may not
// make the file: it may not change the registry either.
Opened OpenLockFile(int folder, const char* name, int* fd,
                    std::string* error) {
  constexpr int kOpen =
      O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  for (int attempt = 1;; ++attempt) {
    *fd = openat(folder, name, kOpen);
    if (*fd < 0 && errno == ENOENT) {
      *fd = openat(folder, name, kOpen | O_CREAT | O_EXCL, 0600);
      if (*fd >= 0) return Opened::kFile;
      if (Denied(errno)) return Opened::kNoLock;
    }
    struct stat st;
    if (*fd >= 0) {
      if (fstat(*fd, &st) != 0) {
        posix::Fail(error, *fd);
        return Opened::kFailed;
      }
      if (Trusted(st)) return Opened::kFile;
      if (AtName(folder, name, *fd) && unlinkat(folder, name, 0) != 0 &&
          Denied(errno)) {
        close(*fd);
        return Opened::kNoLock;
      }
      close(*fd);
    } else if (errno != ENOENT && errno != EEXIST) {
      // What cannot be opened: a link (O_NOFOLLOW's ELOOP), a socket
      // (ENXIO), a file of another user's (EACCES). Removed as itself,
      // unless it is a folder or a trusted file.
      const int code = errno;
      if (fstatat(folder, name, &st, AT_SYMLINK_NOFOLLOW) != 0 ||
          S_ISDIR(st.st_mode) || Trusted(st)) {
        // A trusted file that this process may not open is root's, and
        // this process is not root's: it needs the lock only if it may
        // change the folder.
        if (code == EACCES && faccessat(folder, ".", W_OK, AT_EACCESS) != 0)
          return Opened::kNoLock;
        *error = strerror(code);
        return Opened::kFailed;
      }
      if (unlinkat(folder, name, 0) != 0 && Denied(errno))
        return Opened::kNoLock;
    }
    if (attempt == posix::kCreateAttempts) {
      *error = std::string(name) +
               " was made or removed by others each time this run took it";
      return Opened::kFailed;
    }
  }
}

// Waits for the flock on |fd| until |bound| after |start|; false with
// |error| set when it is not had by then.
bool AwaitFlock(int fd, std::chrono::steady_clock::time_point start,
                std::chrono::milliseconds bound, std::string* error) {
  // flock has no time limit of its own: it is tried every few
  // milliseconds until the bound.
  for (;;) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
    if (errno != EWOULDBLOCK && errno != EINTR) return posix::Fail(error);
    auto waited = std::chrono::steady_clock::now() - start;
    if (waited >= bound) {
      *error = LockTimeoutReason(static_cast<unsigned long long>(
          std::chrono::duration_cast<std::chrono::milliseconds>(waited)
              .count()));
      return false;
    }
    usleep(10 * 1000);
  }
}

}  // namespace

// A lock (flock) on the file |file_name| in |dir|, made for this process's
// user only; one there that another user could open (a link, a file with
// other hard links, of another user's or that others may open, anything
// but a regular file) is removed as itself and made anew.
bool LockRegistryFolder(const std::string& dir, const std::string& file_name,
                        unsigned wait_ms, std::string* error) {
  UnlockRegistryFolder();  // one lock at a time
  // The folder stays open with the lock, so that the file removed at the
  // end is the one in the folder locked, whatever happens to its name.
  const int folder = open(posix::HostPath(dir).c_str(),
                          O_PATH | O_DIRECTORY | O_CLOEXEC);
  // Without the folder there is no registry to guard; reading it will
  // fail and say so.
  if (folder < 0 && (errno == ENOENT || errno == ENOTDIR)) return true;
  if (folder < 0) return posix::Fail(error);
  const auto start = std::chrono::steady_clock::now();
  for (;;) {
    int fd = -1;
    const Opened opened = OpenLockFile(folder, file_name.c_str(), &fd, error);
    if (opened != Opened::kFile) {
      close(folder);
      return opened == Opened::kNoLock;
    }
    if (!AwaitFlock(fd, start, std::chrono::milliseconds(wait_ms), error)) {
      close(fd);
      close(folder);
      return false;
    }
    // The run that held it may have removed it at its end: the lock is
    // then on the file made after it.
    if (AtName(folder, file_name.c_str(), fd)) {
      held = {folder, fd, file_name};
      return true;
    }
    close(fd);
  }
}

void UnlockRegistryFolder() {
  if (held.file < 0) return;
  if (AtName(held.folder, held.name.c_str(), held.file))
    unlinkat(held.folder, held.name.c_str(), 0);
  close(held.file);
  close(held.folder);
  held = HeldLock();
}

}  // namespace platform
