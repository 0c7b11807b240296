// What another user may leave where the tool writes: the log's refusals
// (log-posix.cc), the registry's lock (lock-posix.cc), and the judgement
// of a file, a folder and its parents (trust-posix.cc).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/lock.h"
#include "platform/log_file.h"
#include "platform/trust.h"

namespace {

// The lock file's name the tool gives LockRegistryFolder.
constexpr char kLockFileName[] = "modules.xml.lock";

// A new folder in /tmp, removed with all it holds at the test's end.
std::string TempFolder() {
  static struct Made {
    std::vector<std::string> folders;
    ~Made() {
      std::error_code ignored;
      for (const std::string& folder : folders)
        std::filesystem::remove_all(folder, ignored);
    }
  } made;
  char tmpl[] = "/tmp/modreg-planted-XXXXXX";
  made.folders.push_back(mkdtemp(tmpl));
  return made.folders.back();
}

void Write(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string FileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// User nobody's ids, for a file or folder of another user's; only root
// can give one away.
bool Nobody(uid_t* uid, gid_t* gid) {
  const passwd* entry = getpwnam("nobody");
  if (geteuid() != 0 || !entry) return false;
  *uid = entry->pw_uid;
  *gid = entry->pw_gid;
  return true;
}

const char kVictim[] = "another user's file\n";

TEST(OpenAppend, WritesOnlyARegularFileOfItsOwn) {
  uid_t nobody_uid = 0;
  gid_t nobody_gid = 0;
  const bool can_give = Nobody(&nobody_uid, &nobody_gid);
  struct Case {
    const char* name;
    std::function<void(const std::string& log, const std::string& victim)>
        plant;
    const char* refusal;  // in the reason; nullptr: opened
    bool created;
    bool needs_root = false;
  } cases[] = {
      {"nothing there", nullptr, nullptr, true},
      {"a file of its own", [](auto& log, auto&) { Write(log, "earlier\n"); },
       nullptr, false},
      {"a symbolic link to a file",
       [](auto& log, auto& victim) { symlink(victim.c_str(), log.c_str()); },
       "it is a symbolic link: not followed", false},
      {"a symbolic link that leads nowhere",
       [](auto& log, auto& victim) {
         symlink((victim + ".made").c_str(), log.c_str());
       },
       "it is a symbolic link: not followed", false},
      {"a hard link of a file",
       [](auto& log, auto& victim) { link(victim.c_str(), log.c_str()); },
       "it has 2 hard links: not written", false},
      {"a FIFO", [](auto& log, auto&) { mkfifo(log.c_str(), 0666); },
       "it is not a regular file", false},
      {"a folder", [](auto& log, auto&) { mkdir(log.c_str(), 0755); },
       "Is a directory", false},
      {"a file of another user's",
       [&](auto& log, auto&) {
         Write(log, kVictim);
         EXPECT_EQ(chown(log.c_str(), nobody_uid, nobody_gid), 0);
       },
       "is owned by user", false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.needs_root && !can_give) continue;
    const std::string dir = TempFolder();
    const std::string log = dir + "/run.log", victim = dir + "/victim";
    Write(victim, kVictim);
    if (c.plant) c.plant(log, victim);
    struct stat before;
    const bool was = lstat(log.c_str(), &before) == 0;

    platform::OutputFile file;
    bool created = false;
    std::string error;
    const bool opened = platform::OpenAppend(log, &file, &created, &error);
    if (opened) platform::AppendLine(&file, "a line", &error);
    // Its beginning, through the handle: the file as it now is.
    char start[64];
    size_t got = 0;
    if (opened) {
      EXPECT_TRUE(platform::ReadLogAt(file, 0, start, sizeof start, &got,
                                      &error)) << error;
    }
    platform::CloseOutput(&file, &error);

    EXPECT_EQ(FileText(victim), kVictim);
    EXPECT_NE(access((victim + ".made").c_str(), F_OK), 0);
    struct stat after;
    ASSERT_EQ(lstat(log.c_str(), &after) == 0, was || opened);
    if (c.refusal) {
      EXPECT_FALSE(opened);
      EXPECT_NE(error.find(c.refusal), std::string::npos) << error;
      EXPECT_EQ(after.st_ino, before.st_ino);
      EXPECT_EQ(after.st_mode, before.st_mode);
      continue;
    }
    ASSERT_TRUE(opened) << error;
    EXPECT_EQ(created, c.created);
    EXPECT_EQ(FileText(log), std::string(c.created ? "" : "earlier\n") +
                             "a line\n");
    EXPECT_EQ(std::string(start, got), FileText(log));
    if (c.created) {
      EXPECT_EQ(after.st_mode & 07777, 0600u);
    }
  }
}

TEST(OpenAppend, RefusesADevice) {
  platform::OutputFile file;
  bool created = true;
  std::string error;
  EXPECT_FALSE(platform::OpenAppend("/dev/null", &file, &created, &error));
  EXPECT_FALSE(created);
  EXPECT_EQ(error, "it is not a regular file");
}

// The registry is read only when it is a regular file, a link to one
// too; anything else at its name is refused at once, never waited on (a
// FIFO without a writer would hold the open, or the read, forever: the
// alarm ends the test then).
TEST(OpenInput, ReadsOnlyARegularFile) {
  struct Case {
    const char* name;
    std::function<void(const std::string&, const std::string&)> plant;
    const char* refusal;  // null: read
  } cases[] = {
      {"a file", [](auto& at, auto&) { Write(at, "<Modules/>"); }, nullptr},
      {"a symbolic link to a file",
       [](auto& at, auto& file) { symlink(file.c_str(), at.c_str()); },
       nullptr},
      {"a FIFO", [](auto& at, auto&) { mkfifo(at.c_str(), 0600); },
       "it is not a regular file"},
      {"a symbolic link to a FIFO",
       [](auto& at, auto& file) {
         mkfifo((file + ".fifo").c_str(), 0600);
         symlink((file + ".fifo").c_str(), at.c_str());
       },
       "it is not a regular file"},
      {"a symbolic link to a device",
       [](auto& at, auto&) { symlink("/dev/zero", at.c_str()); },
       "it is not a regular file"},
      {"a socket",
       [](auto& at, auto&) {
         const int s = socket(AF_UNIX, SOCK_STREAM, 0);
         sockaddr_un address = {};
         address.sun_family = AF_UNIX;
         snprintf(address.sun_path, sizeof address.sun_path, "%s", at.c_str());
         EXPECT_EQ(bind(s, reinterpret_cast<sockaddr*>(&address),
                        sizeof address), 0);
         close(s);
       },
       "it is not a regular file"},
      {"a folder", [](auto& at, auto&) { mkdir(at.c_str(), 0755); },
       "Is a directory"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string dir = TempFolder();
    const std::string at = dir + "/modules.xml", file = dir + "/file";
    Write(file, "<Modules/>");
    c.plant(at, file);
    alarm(10);
    ByteBuffer bytes;
    std::string error;
    const bool read = platform::ReadWholeFile(at, &bytes, &error);
    alarm(0);
    if (!c.refusal) {
      ASSERT_TRUE(read) << error;
      EXPECT_EQ(std::string(bytes.data(), bytes.size()), "<Modules/>");
      continue;
    }
    EXPECT_FALSE(read);
    EXPECT_EQ(error, c.refusal);
  }
}

TEST(OpenAppend, MissingFolderIsTheSystemsReason) {
  platform::OutputFile file;
  bool created = true;
  std::string error;
  EXPECT_FALSE(platform::OpenAppend(TempFolder() + "/none/run.log", &file,
                                    &created, &error));
  EXPECT_FALSE(created);
  EXPECT_EQ(error, "No such file or directory");
}

// Links on the way to the log's folder: top/real is a folder, the rest
// as a case plants; a link is of this user's unless it is given to user
// nobody.
TEST(OpenAppend, FollowsOnlyItsOwnLinksOnTheWay) {
  uid_t nobody_uid = 0;
  gid_t nobody_gid = 0;
  const bool can_give = Nobody(&nobody_uid, &nobody_gid);
  struct Link {
    const char* name;    // below top
    const char* target;  // "@" stands for top
    bool nobody = false;
  };
  struct Case {
    const char* name;
    std::vector<Link> links;
    const char* log;      // below top; "./" first: relative to top
    const char* refusal;  // the reason, "@" for top; nullptr: logged
    const char* written = nullptr;  // below top, when logged
  } cases[] = {
      {"a link of its own", {{"l", "real"}}, "l/run.log", nullptr,
       "real/run.log"},
      {"an absolute link of its own", {{"l", "@/real"}}, "l/run.log",
       nullptr, "real/run.log"},
      {"a link of its own to a link of its own",
       {{"l", "m"}, {"m", "real"}}, "l/run.log", nullptr, "real/run.log"},
      {"a link of its own, then .. out of where it leads",
       {{"l", "real/sub"}}, "l/../run.log", nullptr, "real/run.log"},
      {"a link of another user's", {{"l", "real", true}}, "l/run.log",
       "a link on the way, @/l, belongs to another user: not followed"},
      {"an absolute link of another user's", {{"l", "@/real", true}},
       "l/run.log",
       "a link on the way, @/l, belongs to another user: not followed"},
      {"another user's link, reached through a link of its own",
       {{"l", "other"}, {"other/x", "../real", true}}, "l/x/run.log",
       "a link on the way, @/other/x, belongs to another user: not "
       "followed"},
      {"another user's link, after an absolute link of its own",
       {{"l", "@/other"}, {"other/x", "../real", true}}, "l/x/run.log",
       "a link on the way, @/other/x, belongs to another user: not "
       "followed"},
      {"another user's link on a relative path",
       {{"l", "real", true}}, "./l/run.log",
       "a link on the way, ./l, belongs to another user: not followed"},
      {"a link of its own on a relative path", {{"l", "real"}},
       "./l/run.log", nullptr, "real/run.log"},
      {"a loop of links", {{"l", "m"}, {"m", "l"}}, "l/run.log",
       "Too many levels of symbolic links"},
      {"a link to a file", {{"l", "real/file"}}, "l/run.log",
       "Not a directory"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    bool needs_root = false;
    for (const Link& link : c.links) needs_root |= link.nobody;
    if (needs_root && !can_give) continue;
    const std::string top = TempFolder();
    auto at_top = [&top](std::string text) {
      const size_t at = text.find('@');
      return at == std::string::npos ? text : text.replace(at, 1, top);
    };
    for (const char* dir : {"/real", "/real/sub", "/other"})
      ASSERT_EQ(mkdir((top + dir).c_str(), 0755), 0);
    Write(top + "/real/file", kVictim);
    for (const Link& link : c.links) {
      const std::string name = top + "/" + link.name;
      ASSERT_EQ(symlink(at_top(link.target).c_str(), name.c_str()), 0);
      if (link.nobody) {
        ASSERT_EQ(lchown(name.c_str(), nobody_uid, nobody_gid), 0);
      }
    }
    char cwd[4096];
    ASSERT_TRUE(getcwd(cwd, sizeof cwd));
    const bool relative = c.log[0] == '.';
    if (relative) {
      ASSERT_EQ(chdir(top.c_str()), 0);
    }
    platform::OutputFile file;
    bool created = false;
    std::string error;
    const bool opened = platform::OpenAppend(
        relative ? std::string(c.log + 2) : top + "/" + c.log, &file,
        &created, &error);
    if (opened) platform::AppendLine(&file, "a line", &error);
    platform::CloseOutput(&file, &error);
    ASSERT_EQ(chdir(cwd), 0);
    EXPECT_EQ(FileText(top + "/real/file"), kVictim);
    if (c.refusal) {
      EXPECT_FALSE(opened);
      EXPECT_FALSE(created);
      EXPECT_EQ(error, at_top(c.refusal));
      EXPECT_NE(access((top + "/real/run.log").c_str(), F_OK), 0);
      continue;
    }
    ASSERT_TRUE(opened) << error;
    EXPECT_TRUE(created);
    EXPECT_EQ(FileText(top + "/" + c.written), "a line\n");
  }
}

// Tells whether another open of |path| can take an exclusive flock on
// it now (and lets it go again).
bool Lockable(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool taken = flock(fd, LOCK_EX | LOCK_NB) == 0;
  close(fd);
  return taken;
}

TEST(LockRegistryFolder, HoldsAFileOfItsOwnAndRemovesItWhenDone) {
  const std::string dir = TempFolder();
  const std::string lock = dir + "/" + kLockFileName;
  std::string error;
  platform::RegistryLock held;
  ASSERT_TRUE(platform::LockRegistryFolder(dir, kLockFileName, 0, &held, &error)) << error;
  struct stat st;
  ASSERT_EQ(lstat(lock.c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  EXPECT_EQ(st.st_uid, geteuid());
  EXPECT_FALSE(Lockable(lock));
  platform::UnlockRegistryFolder(&held);
  EXPECT_NE(access(lock.c_str(), F_OK), 0);
  platform::UnlockRegistryFolder(&held);  // nothing held: nothing to do
  {
    platform::RegistryLock again;
    ASSERT_TRUE(
        platform::LockRegistryFolder(dir, kLockFileName, 0, &again, &error))
        << error;
    EXPECT_FALSE(Lockable(lock));
  }
  // Released, and its file gone, when its value ended.
  EXPECT_NE(access(lock.c_str(), F_OK), 0);
}

TEST(LockRegistryFolder, MissingFolderNeedsNoLock) {
  const std::string dir = TempFolder() + "/none";
  std::string error;
  platform::RegistryLock held;
  EXPECT_TRUE(platform::LockRegistryFolder(dir, kLockFileName, 0, &held, &error)) << error;
  EXPECT_NE(access(dir.c_str(), F_OK), 0);
  platform::UnlockRegistryFolder(&held);
}

// Another process holds every lock it can take: on the folder, on the
// registry, and on whatever is at the lock file's name that it could
// open. None of them delays the lock, which is then on a file of this
// user's only; what was planted is removed as itself.
TEST(LockRegistryFolder, OthersLocksDoNotHoldItUp) {
  uid_t nobody_uid = 0;
  gid_t nobody_gid = 0;
  const bool can_give = Nobody(&nobody_uid, &nobody_gid);
  struct Case {
    const char* name;
    // Plants at |lock|; returns the path the other process opens and
    // locks, empty for none.
    std::function<std::string(const std::string& lock,
                              const std::string& victim)>
        plant;
    bool needs_root = false;
  } cases[] = {
      {"nothing there", [](auto&, auto&) { return std::string(); }},
      {"a file others may read",
       [](auto& lock, auto&) {
         Write(lock, "");
         chmod(lock.c_str(), 0644);
         return lock;
       }},
      {"a file its group may read",
       [](auto& lock, auto&) {
         Write(lock, "");
         chmod(lock.c_str(), 0640);
         return lock;
       }},
      {"a hard link of another file",
       [](auto& lock, auto& victim) {
         link(victim.c_str(), lock.c_str());
         return victim;
       }},
      {"a symbolic link to a file of its own",
       [](auto& lock, auto& victim) {
         symlink(victim.c_str(), lock.c_str());
         return victim;
       }},
      {"a symbolic link that leads nowhere",
       [](auto& lock, auto& victim) {
         symlink((victim + ".made").c_str(), lock.c_str());
         return std::string();
       }},
      {"a FIFO",
       [](auto& lock, auto&) {
         mkfifo(lock.c_str(), 0600);
         return std::string();
       }},
      {"a file of another user's",
       [&](auto& lock, auto&) {
         Write(lock, "");
         chmod(lock.c_str(), 0600);
         EXPECT_EQ(chown(lock.c_str(), nobody_uid, nobody_gid), 0);
         return lock;
       },
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.needs_root && !can_give) continue;
    const std::string dir = TempFolder();
    const std::string lock = dir + "/" + kLockFileName;
    const std::string victim = TempFolder() + "/victim";
    Write(dir + "/modules.xml", "<Modules />\n");
    Write(victim, kVictim);
    chmod(victim.c_str(), 0600);
    std::vector<int> others;
    for (const std::string& path : {dir, dir + "/modules.xml",
                                    c.plant(lock, victim)}) {
      if (path.empty()) continue;
      others.push_back(open(path.c_str(), O_RDONLY | O_CLOEXEC));
      ASSERT_EQ(flock(others.back(), LOCK_EX | LOCK_NB), 0) << path;
    }

    std::string error;
    platform::RegistryLock held;
    EXPECT_TRUE(platform::LockRegistryFolder(dir, kLockFileName, 0, &held, &error)) << error;
    struct stat st;
    ASSERT_EQ(lstat(lock.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_nlink, 1u);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(st.st_uid, geteuid());
    EXPECT_FALSE(Lockable(lock));
    platform::UnlockRegistryFolder(&held);
    EXPECT_NE(access(lock.c_str(), F_OK), 0);
    EXPECT_EQ(FileText(victim), kVictim);
    ASSERT_EQ(lstat(victim.c_str(), &st), 0);
    EXPECT_EQ(st.st_nlink, 1u);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_NE(access((victim + ".made").c_str(), F_OK), 0);
    for (int fd : others) close(fd);
  }
}

// Makes the lock file |lock| as a run makes it and holds it as that run
// would; returns its descriptor, or -1.
int HoldAsAnotherRun(const std::string& lock) {
  Write(lock, "");
  chmod(lock.c_str(), 0600);
  const int fd = open(lock.c_str(), O_RDWR | O_CLOEXEC);
  return fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0 ? fd : -1;
}

// Runs take turns: a lock file of this user's held by another run is
// waited for, at most the bound, and stays as it is.
TEST(LockRegistryFolder, WaitsForAnotherRunsLock) {
  const std::string dir = TempFolder();
  const std::string lock = dir + "/" + kLockFileName;
  const int other = HoldAsAnotherRun(lock);
  ASSERT_GE(other, 0);
  struct stat before, after;
  ASSERT_EQ(lstat(lock.c_str(), &before), 0);
  std::string error;
  platform::RegistryLock held;
  EXPECT_FALSE(platform::LockRegistryFolder(dir, kLockFileName, 30, &held, &error));
  EXPECT_EQ(error.rfind("another run holds the registry's lock; gave up "
                        "after waiting ",
                        0),
            0u)
      << error;
  ASSERT_EQ(lstat(lock.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  platform::UnlockRegistryFolder(&held);  // none was taken: the file stays
  EXPECT_EQ(access(lock.c_str(), F_OK), 0);
  close(other);
}

// A run waits on the file of another, which removes it at its end and
// lets go: the waiting run's lock is then on a file at the name, not on
// the one removed (where a third run would not see it).
TEST(LockRegistryFolder, TakesItAnewWhenTheHolderRemovedIt) {
  const std::string dir = TempFolder();
  const std::string lock = dir + "/" + kLockFileName;
  // The other run's lock, as it holds it (not this process's, which the
  // child would inherit).
  const int other = HoldAsAnotherRun(lock);
  ASSERT_GE(other, 0);
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // The waiting run; says when it holds the lock, then holds it until
    // it is killed (or in a minute, should the test have stopped early).
    alarm(60);
    close(other);  // the other run's, not this one's
    std::string reason;
    platform::RegistryLock held;
    char said = platform::LockRegistryFolder(dir, kLockFileName, 30000, &held, &reason) ? 'y' : 'n';
    if (write(ready[1], &said, 1) != 1) _exit(1);
    pause();
    _exit(0);
  }
  struct Reap {
    pid_t pid;
    ~Reap() {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
  };
  {
    Reap reap{child};
    close(ready[1]);
    usleep(300 * 1000);  // the child opens the file and waits on it
    unlink(lock.c_str());
    close(other);
    pollfd wait = {ready[0], POLLIN, 0};
    char said = 0;
    ASSERT_EQ(poll(&wait, 1, 30000), 1);
    ASSERT_EQ(read(ready[0], &said, 1), 1);
    EXPECT_EQ(said, 'y');
    EXPECT_EQ(access(lock.c_str(), F_OK), 0);
    EXPECT_FALSE(Lockable(lock));
  }
  close(ready[0]);
  // The killed run's file is left; its lock went with it.
  EXPECT_TRUE(Lockable(lock));
}

// What a run made of the lock in |dir| as it stands: "taken" with the
// lock file's owner ("owner", "root", or a number), its mode, whether it
// is still the file |before| (an inode, 0 for none) and whether the lock
// was had alone; or the reason it gave up, up to the time waited.
std::string TryLock(const std::string& dir, uid_t owner, ino_t before) {
  const std::string lock = dir + "/" + kLockFileName;
  std::string error;
  platform::RegistryLock held;
  if (!platform::LockRegistryFolder(dir, kLockFileName, 50, &held, &error))
    return "gave up: " + error.substr(0, error.find(" after waiting"));
  struct stat st;
  std::ostringstream said;
  if (lstat(lock.c_str(), &st) != 0) return "taken, but no file";
  said << "taken, "
       << (st.st_uid == owner ? std::string("owner's")
           : st.st_uid == 0   ? std::string("root's")
                              : std::to_string(st.st_uid))
       << ", mode " << std::oct << (st.st_mode & 07777)
       << (st.st_ino == before ? ", the same file" : ", a new file")
       << (platform::RegistryLockHeldAlone(held) ? ", alone" : ", not alone");
  platform::UnlockRegistryFolder(&held);
  return said.str();
}

// What TryLock says of a run in |dir| as the user |owner|, in a child.
std::string TryLockAs(const std::string& dir, uid_t owner, gid_t group,
                      ino_t before) {
  int said[2];
  if (pipe(said) != 0) return "no pipe";
  const pid_t child = fork();
  if (child == 0) {
    close(said[0]);
    std::string text = setgid(group) == 0 && setuid(owner) == 0
                           ? TryLock(dir, owner, before)
                           : "cannot become the owner";
    _exit(write(said[1], text.data(), text.size()) ==
                  static_cast<ssize_t>(text.size())
              ? 0
              : 1);
  }
  close(said[1]);
  std::string text;
  char buffer[256];
  for (ssize_t n; (n = read(said[0], buffer, sizeof buffer)) > 0;)
    text.append(buffer, static_cast<size_t>(n));
  close(said[0]);
  waitpid(child, nullptr, 0);
  return text;
}

// Runs of root and of the folder's owner take turns on the lock, either
// way: a lock file of the owner's is root's to wait for, not to remove,
// one root makes or takes becomes the owner's, and the owner waits for a
// file of root's that it cannot open. Another user's file is set aside,
// and the lock then had not alone.
TEST(LockRegistryFolder, RootAndTheFoldersOwnerTakeTurns) {
  uid_t owner = 0;
  gid_t group = 0;
  if (!Nobody(&owner, &group)) GTEST_SKIP() << "needs root and user nobody";
  const uid_t kNoFile = static_cast<uid_t>(-1), kStranger = owner + 4242;
  struct Case {
    const char* name;
    uid_t file_uid;  // the lock file's owner before the run, or kNoFile
    bool held;       // another run holds it
    bool as_owner;   // the run is the owner's, not root's
    const char* said;
  } cases[] = {
      {"root, no file", kNoFile, false, false,
       "taken, owner's, mode 600, a new file, alone"},
      {"root, the owner's file, held", owner, true, false,
       "gave up: another run holds the registry's lock; gave up"},
      {"root, the owner's file", owner, false, false,
       "taken, owner's, mode 600, the same file, alone"},
      {"root, a file of root's", 0, false, false,
       "taken, owner's, mode 600, the same file, alone"},
      {"root, another user's file, held", kStranger, true, false,
       "taken, owner's, mode 600, a new file, not alone"},
      {"the owner, no file", kNoFile, false, true,
       "taken, owner's, mode 600, a new file, alone"},
      {"the owner, a file of root's, held", 0, true, true,
       "gave up: another run holds the registry's lock; gave up"},
      {"the owner, a file of root's", 0, false, true,
       "gave up: another run holds the registry's lock; gave up"},
      {"the owner, its file, held by root", owner, true, true,
       "gave up: another run holds the registry's lock; gave up"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string dir = TempFolder();
    const std::string lock = dir + "/" + kLockFileName;
    ASSERT_EQ(chown(dir.c_str(), owner, group), 0);
    ino_t before = 0;
    int other = -1;
    if (c.file_uid != kNoFile) {
      other = HoldAsAnotherRun(lock);
      ASSERT_GE(other, 0);
      ASSERT_EQ(fchown(other, c.file_uid, 0), 0);
      if (!c.held) flock(other, LOCK_UN);
      struct stat st;
      ASSERT_EQ(fstat(other, &st), 0);
      before = st.st_ino;
    }
    EXPECT_EQ(c.as_owner ? TryLockAs(dir, owner, group, before)
                         : TryLock(dir, owner, before),
              c.said);
    if (other >= 0) close(other);
  }
}

TEST(FileOpenToOthers, JudgesTheFileItself) {
  uid_t nobody_uid = 0;
  gid_t nobody_gid = 0;
  const bool can_give = Nobody(&nobody_uid, &nobody_gid);
  struct Case {
    const char* name;
    mode_t mode;
    bool nobody;
    bool open;
    bool linked = false;  // judged through a symbolic link to it
  } cases[] = {
      {"644", 0644, false, false},
      {"600", 0600, false, false},
      {"444", 0444, false, false},
      {"664: its group writes", 0664, false, true},
      {"646: others write", 0646, false, true},
      {"666", 0666, false, true},
      {"another user's, 644", 0644, true, true},
      {"another user's, 600", 0600, true, true},
      {"a link to a 666 file", 0666, false, true, true},
      {"a link to a 644 file", 0644, false, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.nobody && !can_give) continue;
    const std::string dir = TempFolder();
    std::string file = dir + "/modules.xml";
    Write(file, "<Modules />\n");
    ASSERT_EQ(chmod(file.c_str(), c.mode), 0);
    if (c.nobody) {
      ASSERT_EQ(chown(file.c_str(), nobody_uid, nobody_gid), 0);
    }
    if (c.linked) {
      ASSERT_EQ(symlink(file.c_str(), (dir + "/link.xml").c_str()), 0);
      file = dir + "/link.xml";
    }
    std::string error;
    EXPECT_EQ(platform::FileOpenToOthers(file, &error), c.open);
    EXPECT_EQ(error, "");
  }
}

TEST(FileOpenToOthers, MissingFileIsNotOpen) {
  const std::string dir = TempFolder();
  std::string error;
  EXPECT_FALSE(platform::FileOpenToOthers(dir + "/none.xml", &error));
  EXPECT_FALSE(platform::FileOpenToOthers(dir + "/none/none.xml", &error));
  Write(dir + "/file", "");
  EXPECT_FALSE(platform::FileOpenToOthers(dir + "/file/none.xml", &error));
  EXPECT_EQ(error, "");
}

// A tree: top/a/b/data, each folder 0755, each mode and owner then
// changed as a case says, judged as |dir| names it.
TEST(FolderOpenToOthers, JudgesTheFolderAndEveryParent) {
  uid_t nobody_uid = 0;
  gid_t nobody_gid = 0;
  const bool can_give = Nobody(&nobody_uid, &nobody_gid);
  struct Change {
    const char* folder;  // below top
    mode_t mode;
    bool nobody = false;
  };
  struct Case {
    const char* name;
    std::vector<Change> changes;
    const char* dir;      // below top
    bool open;
    const char* through;  // below top; "" for the folder itself
    std::vector<const char*> links = {};  // "name>target" below top
  } cases[] = {
      {"every folder 755", {}, "a/b/data", false, ""},
      {"the folder 777", {{"a/b/data", 0777}}, "a/b/data", true, ""},
      {"the folder 775: its group writes", {{"a/b/data", 0775}}, "a/b/data",
       true, ""},
      {"the folder 757: others write", {{"a/b/data", 0757}}, "a/b/data",
       true, ""},
      {"the folder sticky and 1777: they may still make files in it",
       {{"a/b/data", 01777}}, "a/b/data", true, ""},
      {"the folder 700", {{"a/b/data", 0700}}, "a/b/data", false, ""},
      {"its parent 777", {{"a/b", 0777}}, "a/b/data", true, "a/b"},
      {"its parent 775", {{"a/b", 0775}}, "a/b/data", true, "a/b"},
      {"a parent higher up 777", {{"a", 0777}}, "a/b/data", true, "a"},
      {"the nearest of two open parents", {{"a", 0777}, {"a/b", 0777}},
       "a/b/data", true, "a/b"},
      {"the folder before its open parent",
       {{"a/b", 0777}, {"a/b/data", 0777}}, "a/b/data", true, ""},
      {"its parent sticky and 1777: as /tmp", {{"a/b", 01777}}, "a/b/data",
       false, ""},
      {"its parent sticky and 1775", {{"a/b", 01775}}, "a/b/data", false,
       ""},
      {"the folder another user's", {{"a/b/data", 0755, true}}, "a/b/data",
       true, ""},
      {"its parent another user's", {{"a/b", 0755, true}}, "a/b/data", true,
       "a/b"},
      {"its parent another user's and sticky", {{"a/b", 01777, true}},
       "a/b/data", true, "a/b"},
      {"named with . and ..", {{"a/b", 0777}}, "a/./b/../b/data", true,
       "a/b"},
      {"reached through a link in an open folder", {{"o", 0777}}, "o/l",
       true, "o", {"o/l>../a/b/data"}},
      {"a link to a folder whose parent is open", {{"a/b", 0777}}, "l", true,
       "a/b", {"l>a/b/data"}},
      {"a link to a safe folder, from a safe folder", {}, "o/l", false, "",
       {"o/l>../a/b/data"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    bool needs_root = false;
    for (const Change& change : c.changes) needs_root |= change.nobody;
    if (needs_root && !can_give) continue;
    const std::string top = TempFolder();
    chmod(top.c_str(), 0755);
    for (const char* dir : {"/a", "/a/b", "/a/b/data", "/o"})
      ASSERT_EQ(mkdir((top + dir).c_str(), 0755), 0);
    for (const std::string link : c.links) {
      const size_t arrow = link.find('>');
      ASSERT_EQ(symlink(link.substr(arrow + 1).c_str(),
                        (top + "/" + link.substr(0, arrow)).c_str()),
                0);
    }
    for (const Change& change : c.changes) {
      const std::string path = top + "/" + change.folder;
      ASSERT_EQ(chmod(path.c_str(), change.mode), 0);
      if (change.nobody) {
        ASSERT_EQ(chown(path.c_str(), nobody_uid, -1), 0);
      }
    }
    std::string through = "unset", error;
    EXPECT_EQ(platform::FolderOpenToOthers(top + "/" + c.dir, &through,
                                           &error),
              c.open)
        << error;
    EXPECT_EQ(error, "");
    if (c.open) {
      EXPECT_EQ(through, *c.through ? top + "/" + c.through : "");
    }
  }
}

TEST(FolderOpenToOthers, CannotTellWithoutTheFolder) {
  std::string through, error;
  EXPECT_FALSE(platform::FolderOpenToOthers(TempFolder() + "/none", &through,
                                            &error));
  EXPECT_EQ(error, "No such file or directory");
}

}  // namespace
