// The registry folder's lock on POSIX: flock on the folder itself.
#include "platform/platform.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>

#include "platform/posix.h"

namespace platform {

bool LockRegistryFolder(const std::string& dir, unsigned wait_ms,
                        std::string* error) {
  // The lock is on the folder itself, so it leaves no file behind; the
  // descriptor stays open until the process ends.
  int fd = open(posix::HostPath(dir).c_str(),
                O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  // Without the folder there is no registry to guard; reading it will
  // fail and say so.
  if (fd < 0 && (errno == ENOENT || errno == ENOTDIR)) return true;
  if (fd < 0) return posix::Fail(error);
  // flock has no time limit of its own: it is tried every few
  // milliseconds until the bound.
  const auto start = std::chrono::steady_clock::now();
  const auto bound = std::chrono::milliseconds(wait_ms);
  for (;;) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
    if (errno != EWOULDBLOCK && errno != EINTR) return posix::Fail(error, fd);
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

// A stand-in until the POSIX lock file: the descriptor stays open until
// the process ends.
void UnlockRegistryFolder() {}

}  // namespace platform
