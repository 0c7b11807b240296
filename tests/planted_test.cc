// What another user may leave where the tool writes: the log's refusals
// (log-posix.cc), and the judgement of a folder and its parents
// (trust-posix.cc).
#include <gtest/gtest.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace {

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

TEST(OpenAppend, MissingFolderIsTheSystemsReason) {
  platform::OutputFile file;
  bool created = true;
  std::string error;
  EXPECT_FALSE(platform::OpenAppend(TempFolder() + "/none/run.log", &file,
                                    &created, &error));
  EXPECT_FALSE(created);
  EXPECT_EQ(error, "No such file or directory");
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
