// Whether others than root and this user may change a folder or a file
// on POSIX.
#include "platform/trust.h"

#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix.h"

namespace platform {
namespace {

// Whether users other than root and this process's user may change
// the file or folder |st|: its owner is another user, or its group or
// others may write it (in a folder: make, remove and rename entries).
// In a parent folder the sticky bit (as on /tmp) keeps them from
// renaming or removing the entries they do not own, the next folder on
// the way included, which is judged on its own.
bool OpenStat(const struct stat& st, bool parent) {
  if (st.st_uid != 0 && st.st_uid != geteuid()) return true;
  if (parent && (st.st_mode & S_ISVTX)) return false;
  return (st.st_mode & (S_IWGRP | S_IWOTH)) != 0;
}

}  // namespace

// Of the host path: a Wine prefix's folders and those above it. A folder
// is open when its owner is neither root nor this process's user, or its
// group or others may write in it; in a parent the sticky bit makes that
// write harmless.
bool FolderOpenToOthers(const std::string& dir, std::string* through,
                        std::string* error) {
  // The folder's name is resolved component by component, as the system
  // resolves it, from the root: every folder passed through (the ones
  // holding a link on the way included) is judged, since whoever may
  // change one of them may put another folder in the place of the next.
  std::string host = posix::HostPath(dir);
  if (host.empty() || host[0] != '/') {
    char cwd[PATH_MAX];
    if (!getcwd(cwd, sizeof cwd)) return posix::Fail(error);
    host = std::string(cwd) + "/" + host;
  }
  std::vector<std::string> rest;  // components still to go, last first
  posix::PushComponents(host, &rest);
  // (Copies of |root|: GCC 12 takes an assignment of "/" for an overlapping
  // copy.)
  const std::string root(1, '/');
  std::string at = root;  // the folder reached so far, without links
  std::string open;      // the last folder on the way found open
  int links = 0;
  struct stat st;
  if (stat("/", &st) != 0) return posix::Fail(error);
  if (OpenStat(st, !rest.empty())) open = root;
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
    if (lstat(next.c_str(), &st) != 0) return posix::Fail(error);
    if (S_ISLNK(st.st_mode)) {
      char target[PATH_MAX];
      ssize_t n = readlink(next.c_str(), target, sizeof target - 1);
      if (n < 0 || ++links > posix::kMaxLinks) {
        *error = n < 0 ? posix::Reason() : strerror(ELOOP);
        return false;
      }
      target[n] = '\0';
      if (target[0] == '/') at = root;
      posix::PushComponents(target, &rest);
      continue;
    }
    if (!S_ISDIR(st.st_mode)) {
      *error = strerror(ENOTDIR);
      return false;
    }
    at = next;
    if (OpenStat(st, !rest.empty())) open = at;
  }
  if (open.empty()) return false;
  // The folder itself is named by the caller; a parent here.
  through->clear();
  if (open != at) *through = open;
  return true;
}

// Its owner is neither root nor this process's user, or its group or
// others may write it; a symbolic link at |path| is followed, as the
// file's readers follow it.
bool FileOpenToOthers(const std::string& path, std::string* error) {
  // Followed, as the registry's readers follow a link there.
  struct stat st;
  if (stat(posix::HostPath(path).c_str(), &st) == 0) return OpenStat(st, false);
  if (errno != ENOENT && errno != ENOTDIR) posix::Fail(error);
  return false;
}

bool InputOpenToOthers(const InputFile& file, std::string* error) {
  struct stat st;
  if (fstat(static_cast<int>(file.handle), &st) != 0) return posix::Fail(error);
  return OpenStat(st, false);
}

// Its mode, and its owner and group where the process may set them.
bool TakeProtection(OutputFile* file, const std::string& target,
                    std::string* error) {
  struct stat st;
  if (stat(posix::HostPath(target).c_str(), &st) != 0) return true;
  int fd = static_cast<int>(file->handle);
  // Owner and group first: a change of owner may clear set-id bits. Only
  // root may give a file away; others keep their own.
  if (fchown(fd, st.st_uid, st.st_gid) != 0 && errno != EPERM)
    return posix::Fail(error);
  return fchmod(fd, st.st_mode & 07777) == 0 || posix::Fail(error);
}

}  // namespace platform
