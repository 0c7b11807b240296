#include "platform/winpath.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Absolute folders as the options name them, each resolved and told a
// root or not; a path Windows takes as absolute may still name no folder.
TEST(WinPath, AbsoluteFolders) {
  struct Case {
    const char* dir;
    const char* folder;  // null: refused
    bool root;
    bool absolute;  // as winpath::IsAbsolute takes it
  } cases[] = {
      {"C:\\OpenNI", "C:\\OpenNI", false, true},
      {"c:\\Open NI\\\\", "c:\\Open NI", false, true},
      {"D:/a/b/", "D:\\a\\b", false, true},
      {"C:\\", "C:", true, true},
      {"Z:/", "Z:", true, true},
      {"\\\\srv\\share\\OpenNI\\", "\\\\srv\\share\\OpenNI", false, true},
      {"//srv/share/", "\\\\srv\\share", true, true},
      {"C:\\a\\..\\..\\b\\.", "C:\\b", false, true},
      {"C:\\.\\..", "C:", true, true},
      {"\\\\srv\\share\\..\\..\\x", "\\\\srv\\share\\x", false, true},
      {"\\\\srv", nullptr, false, true},
      {"\\\\srv\\", nullptr, false, true},
      {"\\\\\\share", nullptr, false, true},
      {"C:OpenNI", nullptr, false, false},
      {"C:", nullptr, false, false},
      {"\\OpenNI", nullptr, false, false},
      {"OpenNI", nullptr, false, false},
      {"1:\\x", nullptr, false, false},
      // Trailing dots and blanks of a component go, as Windows drops them;
      // the \\?\ and \\.\ forms name the same folders.
      {"C:\\Program Files.", "C:\\Program Files", false, true},
      {"C:\\Program Files \\x. .\\", "C:\\Program Files\\x", false, true},
      {"C:\\a\\...\\b", "C:\\a\\b", false, true},
      {"\\\\?\\C:\\Program Files", "C:\\Program Files", false, true},
      {"\\\\.\\c:\\", "c:", true, true},
      {"\\\\?\\UNC\\srv\\share\\x", "\\\\srv\\share\\x", false, true},
      {"", nullptr, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dir);
    EXPECT_EQ(winpath::IsAbsolute(c.dir), c.absolute);
    std::optional<std::string> folder = winpath::AbsoluteFolder(c.dir);
    ASSERT_EQ(folder.has_value(), c.folder != nullptr);
    if (!folder) continue;
    EXPECT_EQ(*folder, c.folder);
    EXPECT_EQ(winpath::IsRoot(*folder), c.root);
  }
}

// The root of a full path, as the Windows side's final paths and long
// names begin; UTF-16 text measured as UTF-8 is.
TEST(WinPath, RootLength) {
  struct Case {
    const char* path;
    size_t root;
  } cases[] = {
      {"C:\\", 3},
      {"C:\\Program Files\\x", 3},
      {"d:/x", 3},
      {"\\\\srv\\share\\x\\y", 12},
      {"//srv/share/x", 12},
      {"\\\\srv\\share", 11},
      {"\\\\srv", 5},
      {"\\\\?\\C:\\x", 7},
      {"\\\\.\\c:\\", 7},
      {"\\\\?\\UNC\\srv\\share\\x", 18},
      {"\\\\.\\pipe\\name", 9},
      {"C:x", 0},
      {"C:", 0},
      {"\\x", 0},
      {"x\\y", 0},
      {"", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(winpath::RootLength(c.path), c.root);
    const std::string narrow = c.path;
    EXPECT_EQ(winpath::RootLength(std::wstring(narrow.begin(), narrow.end())),
              c.root);
  }
}

TEST(WinPath, IsUnderAFolderInEitherCaseAndSlash) {
  const char* dir = "C:\\Apps\\Sensor";
  for (const char* path : {"C:\\Apps\\Sensor\\a.dll", "c:/apps/SENSOR/a.dll",
                           "C:\\Apps\\Sensor/sub\\a.dll", "C:\\Apps\\Sensor\\"})
    EXPECT_TRUE(winpath::IsUnder(path, dir)) << path;
  for (const char* path : {"C:\\Apps\\Sensor", "C:\\Apps\\SensorX\\a.dll",
                           "D:\\Apps\\Sensor\\a.dll", "C:\\Apps\\a.dll", ""})
    EXPECT_FALSE(winpath::IsUnder(path, dir)) << path;
  EXPECT_FALSE(winpath::IsUnder("C:\\x", ""));
}

// Which module paths Windows takes for a device: the check reports them
// without opening them.
TEST(WinPath, ReservedDeviceNameAsWindowsTakesTheLastPart) {
  struct Case {
    const char* path;
    const char* device;  // "" for a file
  } cases[] = {
      {"C:\\Acme\\NUL", "NUL"},
      {"C:\\Acme\\nul.dll", "NUL"},
      {"C:\\Acme\\Con.tar.gz", "CON"},
      {"C:\\Acme\\aux.", "AUX"},
      {"C:\\Acme\\aux. . ", "AUX"},
      {"C:\\Acme\\PRN .dll", "PRN"},
      {"C:\\Acme\\prn:", "PRN"},
      {"C:\\Acme\\com1:x", "COM1"},
      {"C:\\Acme\\com1.dll", "COM1"},
      {"C:\\Acme\\COM9", "COM9"},
      {"C:\\Acme\\Lpt5.DLL", "LPT5"},
      {"C:\\Acme\\LPT9 .dll. ", "LPT9"},
      {"C:\\Acme\\com\xb9.dll", "COM\xb9"},  // Windows-1252 superscripts
      {"C:\\Acme\\lpt\xb2", "LPT\xb2"},
      {"C:\\Acme\\COM\xb3.dll", "COM\xb3"},
      {"C:/Acme/nul.dll", "NUL"},
      {"\\Acme\\nul.dll", "NUL"},
      {"C:nul.dll", "NUL"},
      {"nul.dll", "NUL"},
      {"NUL", "NUL"},
      {"C:\\Acme\\NULL.dll", ""},
      {"C:\\Acme\\CONSOLE.dll", ""},
      {"C:\\Acme\\xnul.dll", ""},
      {"C:\\Acme\\ nul.dll", ""},  // a leading blank stays
      {"C:\\Acme\\COM0.dll", ""},
      {"C:\\Acme\\COM10.dll", ""},
      {"C:\\Acme\\LPT.dll", ""},
      {"C:\\Acme\\COMA.dll", ""},
      {"C:\\Acme\\COM\xb4.dll", ""},      // an acute accent, no digit
      {"C:\\Acme\\COM\xc2\xb9.dll", ""},  // UTF-8 is not the code page
      {"C:\\nul\\module.dll", ""},        // a folder's name
      {"C:\\Acme\\nul\\", ""},
      {"\\\\server\\share\\nul.dll", ""},
      {"//server/share/nul.dll", ""},
      {"\\\\?\\C:\\Acme\\nul.dll", ""},
      {"\\\\.\\C:\\Acme\\nul.dll", ""},
      {"C:", ""},
      {"", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    std::string device = "untouched";
    const bool found = winpath::ReservedDeviceName(c.path, &device);
    EXPECT_EQ(found, *c.device != '\0');
    EXPECT_EQ(device, found ? c.device : "untouched");
  }
}

}  // namespace
