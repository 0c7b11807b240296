// POSIX files: read, written and put in place by rename.
#include "platform/files.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "platform/posix.h"
#include "platform/trust.h"

namespace platform {
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

// Why the file |st| describes, which is not a regular file, is not read:
// a folder is the system's EISDIR, the rest not a regular file.
bool NotRegular(const struct stat& st, std::string* error) {
  *error = S_ISDIR(st.st_mode) ? strerror(EISDIR) : "it is not a regular file";
  return false;
}

// Takes the descriptor |fd| open() returned as |file| when it is a
// regular file's (told from it, not from the name); otherwise closes it.
// False with the reason when it is not, or when the open failed.
bool TakeRegular(int fd, InputFile* file, std::string* error) {
  if (fd < 0) return posix::Fail(error);
  struct stat st;
  if (fstat(fd, &st) != 0) return posix::Fail(error, fd);
  if (!S_ISREG(st.st_mode)) {
    close(fd);
    return NotRegular(st, error);
  }
  file->handle = fd;
  return true;
}

}  // namespace

bool CreateOutput(const std::string& path, OutputFile* file,
                  std::string* error) {
  // A file size limit must fail the write (EFBIG), not kill the process
  // before it can report.
  signal(SIGXFSZ, SIG_IGN);
  const std::string host = posix::HostPath(path);
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
    if (errno != EEXIST || attempt == posix::kCreateAttempts ||
        (unlink(host.c_str()) != 0 && errno != ENOENT))
      return posix::Fail(error);
  }
}

// Going on after a signal.
bool WriteOutput(OutputFile* file, const char* data, size_t size,
                 std::string* error) {
  while (size > 0) {
    ssize_t n = write(static_cast<int>(file->handle), data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return posix::Fail(error);
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool FlushOutput(OutputFile* file, std::string* error) {
  return fsync(static_cast<int>(file->handle)) == 0 || posix::Fail(error);
}

bool CloseOutput(OutputFile* file, std::string* error) {
  if (file->handle < 0) return true;
  int rc = close(static_cast<int>(file->handle));
  file->handle = -1;
  return rc == 0 || posix::Fail(error);
}

// A symbolic link at |path| stays: the file it leads to is replaced.
bool ReplacedFile(const std::string& path, std::string* file,
                  std::string* error) {
  *file = path;
  std::string host = posix::HostPath(path);
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
  std::string from = posix::HostPath(source);
  std::string to = posix::HostPath(target);
  if (rename(from.c_str(), to.c_str()) != 0) return posix::Fail(error);
  SyncFolderOf(to);
  return true;
}

bool RenameNoReplace(const std::string& source, const std::string& target,
                     std::string* error) {
  std::string from = posix::HostPath(source);
  if (link(from.c_str(), posix::HostPath(target).c_str()) != 0)
    return posix::Fail(error);
  unlink(from.c_str());
  SyncFolderOf(from);
  return true;
}

bool RemoveFile(const std::string& path) {
  // unlink removes a link, never what it leads to; the mode of a file
  // does not matter, only the folder's.
  return unlink(posix::HostPath(path).c_str()) == 0 || errno == ENOENT;
}

// By device and inode.
bool IsOpenAs(const OutputFile& file, const std::string& path) {
  struct stat sa, sb;
  return fstat(static_cast<int>(file.handle), &sa) == 0 &&
         stat(posix::HostPath(path).c_str(), &sb) == 0 &&
         sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// Only a regular file is read: a FIFO, a device or a socket at the name
// is refused before it is opened (stat), and again from the descriptor
// (fstat) should one have taken the name meanwhile; O_NONBLOCK keeps
// that open from waiting for a FIFO's writer (a regular file's reads
// ignore it).
bool OpenInput(const std::string& path, InputFile* file, std::string* error) {
  const std::string host = posix::HostPath(path);
  struct stat st;
  if (stat(host.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
    return NotRegular(st, error);
  int fd = open(host.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  return TakeRegular(fd, file, error);
}

bool OpenInputAsItself(const std::string& path, InputFile* file,
                       std::string* error) {
  int fd = open(posix::HostPath(path).c_str(),
                O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0 && errno == ELOOP) {
    *error = "it is a link";
    return false;
  }
  return TakeRegular(fd, file, error);
}

bool ListFolder(const std::string& dir, const std::string& prefix,
                std::vector<std::string>* names, std::string* error) {
  names->clear();
  DIR* folder = opendir(posix::HostPath(dir).c_str());
  if (!folder) return errno == ENOENT || posix::Fail(error);
  while (const dirent* entry = readdir(folder))
    if (strncmp(entry->d_name, prefix.c_str(), prefix.size()) == 0)
      names->push_back(entry->d_name);
  closedir(folder);
  std::sort(names->begin(), names->end());
  return true;
}

bool InputSize(InputFile* file, unsigned long long* size, std::string* error) {
  struct stat st;
  if (fstat(static_cast<int>(file->handle), &st) != 0)
    return posix::Fail(error);
  *size = static_cast<unsigned long long>(st.st_size);
  return true;
}

bool ReadInput(InputFile* file, char* data, size_t size, size_t* got,
               std::string* error) {
  for (;;) {
    ssize_t n = read(static_cast<int>(file->handle), data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return posix::Fail(error);
    *got = static_cast<size_t>(n);
    return true;
  }
}

void CloseInput(InputFile* file) {
  if (file->handle >= 0) close(static_cast<int>(file->handle));
  file->handle = -1;
}

}  // namespace platform
