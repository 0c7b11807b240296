// What the POSIX side's files share: drive C: is the drive_c folder of a
// Wine prefix, other drives its dosdevices; and the system's reasons.
// Included only by the *-posix.cc files.
#ifndef MODREG_PLATFORM_POSIX_H_
#define MODREG_PLATFORM_POSIX_H_

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace platform::posix {

// How often a new file is made again after something got in its way
// before giving up (CreateOutput, OpenAppend).
constexpr int kCreateAttempts = 8;

// The longest chain of symbolic links followed, as the system's limit.
constexpr int kMaxLinks = 40;

// Returns the system's reason for the last failure (errno).
inline std::string Reason() { return strerror(errno); }

// Sets |error| to the system's reason for the last failure, then closes
// |fd| when there is one; returns false.
inline bool Fail(std::string* error, int fd = -1) {
  *error = Reason();
  if (fd >= 0) close(fd);
  return false;
}

// Tells whether the open |fd| is the file that |name| names in |folder|
// (a link there taken as itself): the same device and inode.
inline bool AtName(int folder, const char* name, int fd) {
  struct stat opened, named;
  return fstat(fd, &opened) == 0 &&
         fstatat(folder, name, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
         opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

// Pushes the components of |path| onto |rest|, the last first, so that
// the first is on top; empty ones (of "//" or a leading "/") are left
// out.
void PushComponents(const std::string& path, std::vector<std::string>* rest);

// Returns the Wine prefix: $WINEPREFIX, or ~/.wine.
std::string WinePrefix();

// Returns the host folder of drive C:, the prefix's drive_c.
std::string DriveC();

// Maps Windows path |path| to the host file name: "C:\Program Files\x"
// -> "<prefix>/drive_c/Program Files/x", other drives through the
// prefix's dosdevices. Backslashes become slashes here only; the Windows
// form is what the registry holds.
std::string HostPath(const std::string& path);

}  // namespace platform::posix

#endif  // MODREG_PLATFORM_POSIX_H_
