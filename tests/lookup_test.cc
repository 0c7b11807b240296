// The POSIX lookup of module paths in a Wine prefix (files-posix.cc).
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "platform/lookup.h"

namespace {

using platform::FileKind;

void Make(const std::string& path) { fclose(fopen(path.c_str(), "w")); }

TEST(LookUpFile, FindsPathsAsWineDoes) {
  char tmpl[] = "/tmp/modreg-lookup-XXXXXX";
  const std::string prefix = mkdtemp(tmpl);
  const std::string c = prefix + "/drive_c", d = prefix + "/other";
  for (const std::string& dir :
       {c, c + "/Program Files", c + "/Program Files/HALDEToF", d,
        prefix + "/share", prefix + "/dosdevices", prefix + "/dosdevices/unc",
        prefix + "/dosdevices/unc/server"})
    mkdir(dir.c_str(), 0755);
  Make(c + "/Program Files/HALDEToF/SensorModule.dll");
  Make(d + "/X.dll");
  Make(prefix + "/share/Y.dll");
  symlink("loop", (c + "/loop").c_str());
  const char* old = getenv("WINEPREFIX");
  const std::string saved = old ? old : "";
  setenv("WINEPREFIX", prefix.c_str(), 1);

  struct Case {
    const char* name;
    const char* path;
    FileKind kind;
    const char* host;  // below the prefix, when a file is found
    bool dosdevices = true;
  } cases[] = {
      {"a file, spelled as it is, through dosdevices",
       R"(C:\Program Files\HALDEToF\SensorModule.dll)", FileKind::kFile,
       "/dosdevices/c:/Program Files/HALDEToF/SensorModule.dll"},
      {"every component in another case",
       R"(c:\PROGRAM FILES\haldetof\sensormodule.DLL)", FileKind::kFile,
       "/dosdevices/c:/Program Files/HALDEToF/SensorModule.dll"},
      {". and .. on the way",
       R"(C:\Program Files\.\x\..\HALDEToF\SensorModule.dll)", FileKind::kFile,
       "/dosdevices/c:/Program Files/HALDEToF/SensorModule.dll"},
      {"a folder, in forward slashes", "C:/Program Files/HALDEToF/",
       FileKind::kFolder, nullptr},
      {"no such file", R"(C:\Program Files\HALDEToF\none.dll)",
       FileKind::kMissing, nullptr},
      {"a file taken for a folder on the way",
       R"(C:\Program Files\HALDEToF\SensorModule.dll\x)", FileKind::kMissing,
       nullptr},
      {"another drive, through its link, in another case", R"(d:\x.DLL)",
       FileKind::kFile, "/dosdevices/d:/X.dll"},
      {"a drive dosdevices has no link for", R"(E:\X.dll)",
       FileKind::kMissing, nullptr},
      {"a share through dosdevices/unc, the server in another case",
       R"(\\SERVER\share\y.dll)", FileKind::kFile,
       "/dosdevices/unc/server/share/Y.dll"},
      {R"(a share in the \\?\UNC\ form)", R"(\\?\UNC\server\share\Y.dll)",
       FileKind::kFile, "/dosdevices/unc/server/share/Y.dll"},
      {R"(a drive in the \\?\ form)", R"(\\?\D:\X.dll)", FileKind::kFile,
       "/dosdevices/d:/X.dll"},
      {"no such share", R"(\\server\none\Y.dll)", FileKind::kMissing,
       nullptr},
      {"a bare name, which the loader searches for", "SensorModule.dll",
       FileKind::kRelative, nullptr},
      {"in the drive's current folder", "C:SensorModule.dll",
       FileKind::kRelative, nullptr},
      {"from the current drive's root",
       R"(\Program Files\HALDEToF\SensorModule.dll)", FileKind::kRelative,
       nullptr},
      {"a link to itself: no lookup gets past it", R"(C:\loop)",
       FileKind::kUnreadable, nullptr},
      // Without dosdevices C: is drive_c, and no other drive exists.
      {"no dosdevices: C: is drive_c",
       R"(c:\program files\haldetof\SENSORMODULE.dll)", FileKind::kFile,
       "/drive_c/Program Files/HALDEToF/SensorModule.dll", false},
      {"no dosdevices: no other drive", R"(D:\X.dll)", FileKind::kMissing,
       nullptr, false},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(std::string(k.name) + ": " + k.path);
    const std::string links[][2] = {{"../drive_c", "/dosdevices/c:"},
                                    {"../other", "/dosdevices/d:"},
                                    {"../../../share",
                                     "/dosdevices/unc/server/share"}};
    for (const auto& link : links) {
      unlink((prefix + link[1]).c_str());
      if (k.dosdevices) symlink(link[0].c_str(), (prefix + link[1]).c_str());
    }
    if (!k.dosdevices) {
      rmdir((prefix + "/dosdevices/unc/server").c_str());
      rmdir((prefix + "/dosdevices/unc").c_str());
      rmdir((prefix + "/dosdevices").c_str());
    }
    std::string host, error;
    EXPECT_EQ(platform::LookUpFile(k.path, &host, &error), k.kind);
    if (k.host) {
      EXPECT_EQ(host, prefix + k.host);
    }
    if (k.kind == FileKind::kUnreadable) {
      EXPECT_NE(error, "");
    }
  }
  if (old) setenv("WINEPREFIX", saved.c_str(), 1);
  else unsetenv("WINEPREFIX");
  std::string rm = "rm -rf '" + prefix + "'";
  EXPECT_EQ(system(rm.c_str()), 0);
}

}  // namespace
