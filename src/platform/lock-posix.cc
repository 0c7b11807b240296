// The registry folder's lock on POSIX: flock on a file in the folder that
// belongs to the folder's owner and that only they and root may open, so
// that runs of root and of the owner take turns, and no other user can
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

// Whether the lock file |st| is one that only this user, root and the
// folder's owner |owner| can open: a regular file with no other link, of
// one of theirs, closed to others.
bool Trusted(const struct stat& st, uid_t owner) {
  return S_ISREG(st.st_mode) && st.st_nlink == 1 &&
         (st.st_uid == geteuid() || st.st_uid == 0 || st.st_uid == owner) &&
         (st.st_mode & (S_IRWXG | S_IRWXO)) == 0;
}

// Whether |code| says this process may not make or remove files in the
// folder.
bool Denied(int code) {
  return code == EACCES || code == EPERM || code == EROFS;
}

enum class Opened {
  kFile,    // |*fd| is the lock file
  kBusy,    // a trusted file this process may not open: root's, while
            // root's run gives it to the folder's owner, or an older run's
  kNoLock,  // this process may make no file in the folder
  kFailed,  // |error| says why
};

// Opens the lock file |name| in |folder| (of the user |owner|) as |*fd|: a
// missing one is made for the folder's owner, an untrusted one removed as
// itself (when it is still what was looked at) and made anew; a regular
// file removed so clears |*alone|, since another user's run may have
// held it. Between these steps another run may make or remove it: they
// are tried again, a few times. kNoLock when this process may not make
// the file: it may not change the registry either.
Opened OpenLockFile(int folder, uid_t owner, const char* name, int* fd,
                    bool* alone, std::string* error) {
  constexpr int kOpen =
      O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  for (int attempt = 1;; ++attempt) {
    *fd = openat(folder, name, kOpen);
    if (*fd < 0 && errno == ENOENT) {
      *fd = openat(folder, name, kOpen | O_CREAT | O_EXCL, 0600);
      if (*fd < 0 && Denied(errno)) return Opened::kNoLock;
    }
    struct stat st;
    if (*fd >= 0) {
      if (fstat(*fd, &st) != 0) {
        posix::Fail(error, *fd);
        return Opened::kFailed;
      }
      if (Trusted(st, owner)) {
        // Given to the folder's owner when this process is root's: the
        // owner's runs can then open it, and wait for root's. Another
        // user's process may give no file away, and needs not.
        if (geteuid() == 0 && st.st_uid != owner)
          (void)!fchown(*fd, owner, static_cast<gid_t>(-1));
        return Opened::kFile;
      }
      if (posix::AtName(folder, name, *fd)) {
        if (unlinkat(folder, name, 0) != 0 && Denied(errno)) {
          close(*fd);
          return Opened::kNoLock;
        }
        if (S_ISREG(st.st_mode)) *alone = false;
      }
      close(*fd);
    } else if (errno != ENOENT && errno != EEXIST) {
      // What cannot be opened: a link (O_NOFOLLOW's ELOOP), a socket
      // (ENXIO), a file of another user's (EACCES). Removed as itself,
      // unless it is a folder or a trusted file.
      const int code = errno;
      if (fstatat(folder, name, &st, AT_SYMLINK_NOFOLLOW) != 0 ||
          S_ISDIR(st.st_mode) || Trusted(st, owner)) {
        // A trusted file that this process may not open is root's, or the
        // folder owner's and this process is another user's: a run of
        // theirs may hold it. This process needs the lock only if it may
        // change the folder: make files in it.
        if (code == EACCES)
          return faccessat(folder, ".", W_OK, AT_EACCESS) == 0
                     ? Opened::kBusy
                     : Opened::kNoLock;
        *error = strerror(code);
        return Opened::kFailed;
      }
      if (unlinkat(folder, name, 0) != 0 && Denied(errno))
        return Opened::kNoLock;
      if (S_ISREG(st.st_mode)) *alone = false;
    }
    if (attempt == posix::kCreateAttempts) {
      *error = std::string(name) +
               " was made or removed by others each time this run took it";
      return Opened::kFailed;
    }
  }
}

// Waits 10 ms, or fails with LockTimeoutReason once |wait_ms| after
// |start| have passed.
bool WaitOnce(std::chrono::steady_clock::time_point start, unsigned wait_ms,
              std::string* error) {
  using namespace std::chrono;
  const auto waited =
      duration_cast<milliseconds>(steady_clock::now() - start).count();
  if (waited >= wait_ms) {
    *error = LockTimeoutReason(waited);
    return false;
  }
  usleep(10 * 1000);
  return true;
}

// Waits for the flock on |fd| until |bound_ms| after |start|; false with
// |error| set when it is not had by then.
bool AwaitFlock(int fd, std::chrono::steady_clock::time_point start,
                unsigned bound_ms, std::string* error) {
  // flock has no time limit of its own: it is tried every few
  // milliseconds until the bound.
  for (;;) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
    if (errno != EWOULDBLOCK && errno != EINTR) return posix::Fail(error);
    if (!WaitOnce(start, bound_ms, error)) return false;
  }
}

}  // namespace

// A lock (flock) on the file |file_name| in |dir|, made for the folder's
// owner only; one there that another user could open (a link, a file with
// other hard links, of a user who is not this one, root or the folder's
// owner, or that others may open, anything but a regular file) is removed
// as itself and made anew.
bool LockRegistryFolder(const std::string& dir, const std::string& file_name,
                        unsigned wait_ms, RegistryLock* lock,
                        std::string* error) {
  UnlockRegistryFolder(lock);  // one lock at a time
  // The folder stays open with the lock, so that the file removed at the
  // end is the one in the folder locked, whatever happens to its name.
  const int folder = open(posix::HostPath(dir).c_str(),
                          O_PATH | O_DIRECTORY | O_CLOEXEC);
  // Without the folder there is no registry to guard; reading it will
  // fail and say so.
  if (folder < 0 && (errno == ENOENT || errno == ENOTDIR)) return true;
  if (folder < 0) return posix::Fail(error);
  struct stat folder_st;
  if (fstat(folder, &folder_st) != 0) return posix::Fail(error, folder);
  const auto start = std::chrono::steady_clock::now();
  bool alone = true;
  for (;;) {
    int fd = -1;
    const Opened opened = OpenLockFile(folder, folder_st.st_uid,
                                       file_name.c_str(), &fd, &alone, error);
    if (opened == Opened::kBusy && WaitOnce(start, wait_ms, error)) continue;
    if (opened != Opened::kFile) {
      close(folder);
      return opened == Opened::kNoLock;
    }
    if (!AwaitFlock(fd, start, wait_ms, error)) {
      close(fd);
      close(folder);
      return false;
    }
    // The run that held it may have removed it at its end: the lock is
    // then on the file made after it.
    if (posix::AtName(folder, file_name.c_str(), fd)) {
      lock->folder = folder;
      lock->file = fd;
      lock->name = file_name;
      lock->alone = alone;
      return true;
    }
    close(fd);
  }
}

bool RegistryLockHeldAlone(const RegistryLock& lock) {
  return lock.file >= 0 && lock.alone;
}

void UnlockRegistryFolder(RegistryLock* lock) {
  if (lock->file < 0) return;
  const int folder = static_cast<int>(lock->folder);
  const int file = static_cast<int>(lock->file);
  if (posix::AtName(folder, lock->name.c_str(), file))
    unlinkat(folder, lock->name.c_str(), 0);
  close(file);
  close(folder);
  lock->file = lock->folder = -1;
  lock->alone = false;
}

RegistryLock::~RegistryLock() { UnlockRegistryFolder(this); }

}  // namespace platform
