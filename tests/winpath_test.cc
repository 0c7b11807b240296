#include "platform/winpath.h"

#include <gtest/gtest.h>

#include <string>

namespace {

namespace winpath = platform::winpath;

// The code pages a row reads its bytes in: Windows-1252 (as UTF-8, no lead
// bytes), and two double-byte ones with their lead bytes as GetCPInfo
// gives them, in which a trail byte may be 0x5C ("\") or an ASCII letter:
// 932 (Japanese: \x94\x5C is U+80FD, \x94\x41 U+5C3F, \x94\x61 U+86A4) and
// 936 (Chinese: \xD5\x5C is U+8AA0, \xD5\x5A U+8A9E, \xD5\x61 U+8AA5).
const winpath::CodePage& Cp(int number) {
  static const winpath::CodePage cp1252;
  static const winpath::CodePage cp932({{0x81, 0x9F}, {0xE0, 0xFC}});
  static const winpath::CodePage cp936({{0x81, 0xFE}});
  return number == 932 ? cp932 : number == 936 ? cp936 : cp1252;
}

// Rows without a code page of their own hold no byte above 0x7F but as
// one character each: the same in every code page.
const int kEveryCodePage[] = {1252, 932, 936};

// Absolute folders as the options name them, each resolved and told a
// root or not; a path Windows takes as absolute may still name no folder.
TEST(WinPath, AbsoluteFolders) {
  struct Case {
    const char* dir;
    const char* folder;  // null: refused
    bool root;
    bool absolute;  // as winpath::IsAbsolute takes it
    int cp = 0;     // 0: every code page
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
      // A trail byte 0x5C is no backslash in a double-byte code page:
      // "C:\\" and U+6A5F U+80FD in 932, which in 1252 end in a backslash.
      {"C:\\\x8b\x40\x94\x5c", "C:\\\x8b\x40\x94\x5c", false, true, 932},
      {"C:\\\x8b\x40\x94\x5c", "C:\\\x8b\x40\x94", false, true, 1252},
      {"C:/\x94\x5c/\x94\x5c\\", "C:\\\x94\x5c\\\x94\x5c", false, true, 932},
      {"C:\\\x94\x5c\\..\\x", "C:\\x", false, true, 932},
      {"C:\\\x94\x5c..\\x", "C:\\\x94\x5c\\x", false, true, 932},
      {"C:\\\x94\x5c..\\x", "C:\\x", false, true, 1252},
      {"C:\\a\\\x94\x5c.\\", "C:\\a\\\x94\x5c", false, true, 932},
      {"C:\\\xd5\x5c\\\xd5\x5c. ", "C:\\\xd5\x5c\\\xd5\x5c", false, true, 936},
      {"\\\\\x94\x5c\\share", "\\\\\x94\x5c\\share", true, true, 932},
      {"\\\\\x94\x5c\\share", nullptr, false, true, 1252},
      {"\\\\srv\\\xd5\x5c\\x", "\\\\srv\\\xd5\x5c\\x", false, true, 936},
      {"\\\\?\\C:\\\xd5\x5c", "C:\\\xd5\x5c", false, true, 936},
      // A lead byte that ends the text is a character of its own.
      {"C:\\a\x94", "C:\\a\x94", false, true, 932},
  };
  for (const Case& c : cases)
    for (int cp : kEveryCodePage) {
      if (c.cp != 0 && c.cp != cp) continue;
      SCOPED_TRACE(std::string(c.dir) + " in " + std::to_string(cp));
      EXPECT_EQ(winpath::IsAbsolute(c.dir), c.absolute);
      std::optional<std::string> folder =
          winpath::AbsoluteFolder(c.dir, Cp(cp));
      ASSERT_EQ(folder.has_value(), c.folder != nullptr);
      if (!folder) continue;
      EXPECT_EQ(*folder, c.folder);
      EXPECT_EQ(winpath::IsRoot(*folder, Cp(cp)), c.root);
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
  for (int cp : kEveryCodePage) {
    const char* dir = "C:\\Apps\\Sensor";
    for (const char* path :
         {"C:\\Apps\\Sensor\\a.dll", "c:/apps/SENSOR/a.dll",
          "C:\\Apps\\Sensor/sub\\a.dll", "C:\\Apps\\Sensor\\"})
      EXPECT_TRUE(winpath::IsUnder(path, dir, Cp(cp))) << path << " " << cp;
    for (const char* path :
         {"C:\\Apps\\Sensor", "C:\\Apps\\SensorX\\a.dll",
          "D:\\Apps\\Sensor\\a.dll", "C:\\Apps\\a.dll", ""})
      EXPECT_FALSE(winpath::IsUnder(path, dir, Cp(cp))) << path << " " << cp;
    EXPECT_FALSE(winpath::IsUnder("C:\\x", "", Cp(cp)));
  }
}

// In a double-byte code page a character's second byte is neither a
// separator nor a letter to fold: paths compared, split and placed under
// a folder as Windows does.
TEST(WinPath, TwoByteCharactersAsTheCodePageHasThem) {
  struct Case {
    int cp;
    const char* a;
    const char* b;
    bool same;        // winpath::Same
    bool under;       // a lies under b
    const char* last; // a's LastComponent
  } cases[] = {
      // U+80FD (94 5C in 932) is one character, not a folder's end.
      {932, "C:\\\x8b\x40\x94\x5c\\m.dll", "C:\\\x8b\x40\x94\x5c", false, true, "m.dll"},
      {932, "C:\\\x8b\x40\x94\x5c\\m.dll", "C:\\\x8b\x40\x94", false, false, "m.dll"},
      {1252, "C:\\\x8b\x40\x94\x5c\\m.dll", "C:\\\x8b\x40\x94", false, true, "m.dll"},
      {932, "C:\\\x8b\x40\x94\x5cm.dll", "C:\\\x8b\x40\x94", false, false,
       "\x8b\x40\x94\x5cm.dll"},
      {1252, "C:\\\x8b\x40\x94\x5cm.dll", "C:\\\x8b\x40\x94", false, true, "m.dll"},
      {936, "C:\\a\\\xd5\x5cm.dll", "C:\\a", false, true, "\xd5\x5cm.dll"},
      {936, "C:\\a\\\xd5\x5cm.dll", "C:\\a\\\xd5", false, false, "\xd5\x5cm.dll"},
      // A trail byte among the ASCII letters is not folded: U+5C3F and
      // U+86A4 in 932, U+8A9E and U+8AA5 in 936, are other characters.
      {932, "C:\\\x94\x41", "c:/\x94\x61", false, false, "\x94\x41"},
      {1252, "C:\\\x94\x41", "c:/\x94\x61", true, false, "\x94\x41"},
      {936, "C:\\\xd5\x5a\\X.dll", "c:\\\xd5\x61\\x.DLL", false, false, "X.dll"},
      {936, "C:\\\xd5\x5a\\X.dll", "c:\\\xd5\x5a\\x.DLL", true, false, "X.dll"},
      {936, "C:\\\xd5\x5a\\X.dll", "c:\\\xd5\x5a", false, true, "X.dll"},
      {936, "C:\\\xd5\x5a\\X.dll", "c:\\\xd5\x7a", false, false, "X.dll"},
      // Letters and slashes of one byte around them fold as ever.
      {932, "C:\\\x94\x5c" "A/B", "c:/\x94\x5c" "a\\b", true, false, "B"},
      // A folder ending in a lead byte ends mid-character in the path.
      {932, "C:\\a\x94\x5c\\b", "C:\\a\x94", false, false, "b"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.a) + " | " + c.b + " in " +
                 std::to_string(c.cp));
    const winpath::CodePage& cp = Cp(c.cp);
    EXPECT_EQ(winpath::Same(c.a, c.b, cp), c.same);
    EXPECT_EQ(winpath::Same(c.b, c.a, cp), c.same);
    EXPECT_EQ(winpath::Folded(c.a, cp) == winpath::Folded(c.b, cp), c.same);
    EXPECT_EQ(winpath::IsUnder(c.a, c.b, cp), c.under);
    EXPECT_EQ(winpath::LastComponent(c.a, cp), c.last);
  }
  EXPECT_EQ(winpath::Folded("A/\x94\x41\x94\x5c\xd5\x5a" "B", Cp(932)),
            "a\\\x94\x41\x94\x5c\xd5zb");  // D5 is no lead byte in 932
  EXPECT_EQ(winpath::Folded("A/\x94\x41\x94\x5c\xd5\x5a" "B", Cp(936)),
            "a\\\x94\x41\x94\x5c\xd5\x5a" "b");
  EXPECT_EQ(winpath::Folded("A/\x94\x41\x94\x5c\xd5\x5a" "B", Cp(1252)),
            "a\\\x94" "a\x94\\\xd5zb");
}

// Which module paths Windows takes for a device: the check reports them
// without opening them.
TEST(WinPath, ReservedDeviceNameAsWindowsTakesTheLastPart) {
  struct Case {
    const char* path;
    const char* device;  // "" for a file
    int cp = 0;          // 0: every code page
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
      {"C:\\Acme\\com\xb9.dll", "COM\xb9", 1252},  // Windows-1252 superscripts
      {"C:\\Acme\\lpt\xb2", "LPT\xb2", 1252},
      {"C:\\Acme\\COM\xb3.dll", "COM\xb3", 1252},
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
      // The last part begins after a separator, never after a trail byte.
      {"C:\\Acme\\\x94\x5cnul.dll", "", 932},
      {"C:\\Acme\\\x94\x5cnul.dll", "NUL", 1252},
      {"C:\\\xd5\x5c\\nul.dll", "NUL", 936},
      {"C:\\Acme\\\xd5\x5c" "CON", "", 936},
      // B9 is a katakana in 932 and a lead byte in 936: no superscript.
      {"C:\\Acme\\com\xb9.dll", "", 932},
      {"C:\\Acme\\com\xb9", "", 936},
  };
  for (const Case& c : cases)
    for (int cp : kEveryCodePage) {
      if (c.cp != 0 && c.cp != cp) continue;
      SCOPED_TRACE(std::string(c.path) + " in " + std::to_string(cp));
      std::string device = "untouched";
      const bool found = winpath::ReservedDeviceName(c.path, Cp(cp), &device);
      EXPECT_EQ(found, *c.device != '\0');
      EXPECT_EQ(device, found ? c.device : "untouched");
    }
}

}  // namespace
