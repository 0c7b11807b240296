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
    const char* name;
    const char* dir;
    const char* folder;  // null: refused
    bool root;
    bool absolute;  // as winpath::IsAbsolute takes it
    int cp = 0;     // 0: every code page
  } cases[] = {
      {"a folder on a drive", "C:\\OpenNI", "C:\\OpenNI", false, true},
      {"a blank in a name, doubled backslashes at the end",
       "c:\\Open NI\\\\", "c:\\Open NI", false, true},
      {"forward slashes", "D:/a/b/", "D:\\a\\b", false, true},
      {"a drive's root", "C:\\", "C:", true, true},
      {"a drive's root, a forward slash", "Z:/", "Z:", true, true},
      {"a folder on a share, a backslash at the end",
       "\\\\srv\\share\\OpenNI\\", "\\\\srv\\share\\OpenNI", false, true},
      {"a share itself, in forward slashes",
       "//srv/share/", "\\\\srv\\share", true, true},
      {"dots: .. never above the drive",
       "C:\\a\\..\\..\\b\\.", "C:\\b", false, true},
      {"dots that come back to the drive", "C:\\.\\..", "C:", true, true},
      {"dots: .. never above the share",
       "\\\\srv\\share\\..\\..\\x", "\\\\srv\\share\\x", false, true},
      {"a server without a share", "\\\\srv", nullptr, false, true},
      {"a server and an empty share", "\\\\srv\\", nullptr, false, true},
      {"a share without a server", "\\\\\\share", nullptr, false, true},
      {"in a drive's current folder", "C:OpenNI", nullptr, false, false},
      {"a drive alone, its current folder", "C:", nullptr, false, false},
      {"from the current drive's root", "\\OpenNI", nullptr, false, false},
      {"relative to the current folder", "OpenNI", nullptr, false, false},
      {"a digit for a drive letter", "1:\\x", nullptr, false, false},
      // Trailing dots and blanks of a component go, as Windows drops them;
      // the \\?\ and \\.\ forms name the same folders.
      {"a trailing dot",
       "C:\\Program Files.", "C:\\Program Files", false, true},
      {"each component's trailing blanks and dots",
       "C:\\Program Files \\x. .\\", "C:\\Program Files\\x", false, true},
      {"three dots, all trailing: no component",
       "C:\\a\\...\\b", "C:\\a\\b", false, true},
      {R"(the \\?\ form of a drive's folder)",
       "\\\\?\\C:\\Program Files", "C:\\Program Files", false, true},
      {R"(the \\.\ form of a drive's root)", "\\\\.\\c:\\", "c:", true, true},
      {R"(the \\?\UNC\ form of a share's folder)",
       "\\\\?\\UNC\\srv\\share\\x", "\\\\srv\\share\\x", false, true},
      {"nothing", "", nullptr, false, false},
      // A trail byte 0x5C is no backslash in a double-byte code page:
      // "C:\\" and U+6A5F U+80FD in 932, which in 1252 end in a backslash.
      {"in 932, a last character whose trail byte is 5C",
       "C:\\\x8b\x40\x94\x5c", "C:\\\x8b\x40\x94\x5c", false, true, 932},
      {"in 1252, that 5C is a backslash at the end",
       "C:\\\x8b\x40\x94\x5c", "C:\\\x8b\x40\x94", false, true, 1252},
      {"in 932, characters ending in 5C between slashes",
       "C:/\x94\x5c/\x94\x5c\\", "C:\\\x94\x5c\\\x94\x5c", false, true, 932},
      {"in 932, .. drops a component ending in 5C",
       "C:\\\x94\x5c\\..\\x", "C:\\x", false, true, 932},
      {"in 932, dots after a trail byte 5C end its component",
       "C:\\\x94\x5c..\\x", "C:\\\x94\x5c\\x", false, true, 932},
      {"in 1252, those dots are a .. after a backslash",
       "C:\\\x94\x5c..\\x", "C:\\x", false, true, 1252},
      {"in 932, a trailing dot after a trail byte 5C",
       "C:\\a\\\x94\x5c.\\", "C:\\a\\\x94\x5c", false, true, 932},
      {"in 936, a trailing dot and blank after a trail byte 5C",
       "C:\\\xd5\x5c\\\xd5\x5c. ", "C:\\\xd5\x5c\\\xd5\x5c", false, true, 936},
      {"in 932, a server whose name ends in a trail byte 5C",
       "\\\\\x94\x5c\\share", "\\\\\x94\x5c\\share", true, true, 932},
      {"in 1252, that 5C ends the server, the share left empty",
       "\\\\\x94\x5c\\share", nullptr, false, true, 1252},
      {"in 936, a share whose name ends in a trail byte 5C",
       "\\\\srv\\\xd5\x5c\\x", "\\\\srv\\\xd5\x5c\\x", false, true, 936},
      {R"(in 936, the \\?\ form, a trail byte 5C at the end)",
       "\\\\?\\C:\\\xd5\x5c", "C:\\\xd5\x5c", false, true, 936},
      // A lead byte that ends the text is a character of its own.
      {"in 932, a lead byte that ends the text",
       "C:\\a\x94", "C:\\a\x94", false, true, 932},
  };
  for (const Case& c : cases)
    for (int cp : kEveryCodePage) {
      if (c.cp != 0 && c.cp != cp) continue;
      SCOPED_TRACE(std::string(c.name) + ": " + c.dir + " in " +
                   std::to_string(cp));
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
    const char* name;
    const char* path;
    size_t root;
  } cases[] = {
      {"a drive's root", "C:\\", 3},
      {"a path on a drive", "C:\\Program Files\\x", 3},
      {"a drive, a forward slash", "d:/x", 3},
      {"a path on a share: up to the separator after the share",
       "\\\\srv\\share\\x\\y", 12},
      {"a share in forward slashes", "//srv/share/x", 12},
      {"a share with nothing after it: all of it", "\\\\srv\\share", 11},
      {"a server alone: all of it", "\\\\srv", 5},
      {R"(a drive after \\?\)", "\\\\?\\C:\\x", 7},
      {R"(a drive after \\.\)", "\\\\.\\c:\\", 7},
      {R"(a share after \\?\UNC\)", "\\\\?\\UNC\\srv\\share\\x", 18},
      {R"(a device after \\.\, read as server "." and share)",
       "\\\\.\\pipe\\name", 9},
      {"in a drive's current folder: none", "C:x", 0},
      {"a drive alone: none", "C:", 0},
      {"from the current drive's root: none", "\\x", 0},
      {"relative: none", "x\\y", 0},
      {"nothing", "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + ": " + c.path);
    EXPECT_EQ(winpath::RootLength(c.path), c.root);
    const std::string narrow = c.path;
    EXPECT_EQ(winpath::RootLength(std::wstring(narrow.begin(), narrow.end())),
              c.root);
  }
}

TEST(WinPath, IsUnderAFolderInEitherCaseAndSlash) {
  struct Case {
    const char* name;
    const char* path;
  };
  const Case under[] = {
      {"a file in it", "C:\\Apps\\Sensor\\a.dll"},
      {"another case, forward slashes", "c:/apps/SENSOR/a.dll"},
      {"in a subfolder, the slashes mixed", "C:\\Apps\\Sensor/sub\\a.dll"},
      {"the folder, a backslash after it", "C:\\Apps\\Sensor\\"},
  };
  const Case not_under[] = {
      {"the folder itself", "C:\\Apps\\Sensor"},
      {"a folder whose name begins as its name", "C:\\Apps\\SensorX\\a.dll"},
      {"another drive", "D:\\Apps\\Sensor\\a.dll"},
      {"a file beside it", "C:\\Apps\\a.dll"},
      {"nothing", ""},
  };
  for (int cp : kEveryCodePage) {
    const char* dir = "C:\\Apps\\Sensor";
    for (const Case& c : under)
      EXPECT_TRUE(winpath::IsUnder(c.path, dir, Cp(cp)))
          << c.name << ": " << c.path << " in " << cp;
    for (const Case& c : not_under)
      EXPECT_FALSE(winpath::IsUnder(c.path, dir, Cp(cp)))
          << c.name << ": " << c.path << " in " << cp;
    EXPECT_FALSE(winpath::IsUnder("C:\\x", "", Cp(cp)));
  }
}

// In a double-byte code page a character's second byte is neither a
// separator nor a letter to fold: paths compared, split and placed under
// a folder as Windows does.
TEST(WinPath, TwoByteCharactersAsTheCodePageHasThem) {
  struct Case {
    const char* name;
    int cp;
    const char* a;
    const char* b;
    bool same;        // winpath::Same
    bool under;       // a lies under b
    const char* last; // a's LastComponent
  } cases[] = {
      // U+80FD (94 5C in 932) is one character, not a folder's end.
      {"in 932, under a folder whose last trail byte is 5C",
       932, "C:\\\x8b\x40\x94\x5c\\m.dll", "C:\\\x8b\x40\x94\x5c", false, true, "m.dll"},
      {"in 932, not under a folder cut after a lead byte",
       932, "C:\\\x8b\x40\x94\x5c\\m.dll", "C:\\\x8b\x40\x94", false, false, "m.dll"},
      {"in 1252, under that folder: 5C is a backslash",
       1252, "C:\\\x8b\x40\x94\x5c\\m.dll", "C:\\\x8b\x40\x94", false, true, "m.dll"},
      {"in 932, a 5C inside a name splits nothing",
       932, "C:\\\x8b\x40\x94\x5cm.dll", "C:\\\x8b\x40\x94", false, false,
       "\x8b\x40\x94\x5cm.dll"},
      {"in 1252, that 5C splits the name",
       1252, "C:\\\x8b\x40\x94\x5cm.dll", "C:\\\x8b\x40\x94", false, true, "m.dll"},
      {"in 936, a name that begins with a trail byte 5C",
       936, "C:\\a\\\xd5\x5cm.dll", "C:\\a", false, true, "\xd5\x5cm.dll"},
      {"in 936, not under a folder ending in that name's lead byte",
       936, "C:\\a\\\xd5\x5cm.dll", "C:\\a\\\xd5", false, false, "\xd5\x5cm.dll"},
      // A trail byte among the ASCII letters is not folded: U+5C3F and
      // U+86A4 in 932, U+8A9E and U+8AA5 in 936, are other characters.
      {"in 932, trail bytes A and a are other characters",
       932, "C:\\\x94\x41", "c:/\x94\x61", false, false, "\x94\x41"},
      {"in 1252, the same bytes are letters that fold",
       1252, "C:\\\x94\x41", "c:/\x94\x61", true, false, "\x94\x41"},
      {"in 936, trail bytes Z and a are other characters",
       936, "C:\\\xd5\x5a\\X.dll", "c:\\\xd5\x61\\x.DLL", false, false, "X.dll"},
      {"in 936, the same trail byte, the letters in another case",
       936, "C:\\\xd5\x5a\\X.dll", "c:\\\xd5\x5a\\x.DLL", true, false, "X.dll"},
      {"in 936, under its folder in another case",
       936, "C:\\\xd5\x5a\\X.dll", "c:\\\xd5\x5a", false, true, "X.dll"},
      {"in 936, not under a folder whose trail byte is z, not Z",
       936, "C:\\\xd5\x5a\\X.dll", "c:\\\xd5\x7a", false, false, "X.dll"},
      // Letters and slashes of one byte around them fold as ever.
      {"in 932, one-byte letters and slashes fold around a character",
       932, "C:\\\x94\x5c" "A/B", "c:/\x94\x5c" "a\\b", true, false, "B"},
      // A folder ending in a lead byte ends mid-character in the path.
      {"in 932, a folder ending in a lead byte ends mid-character",
       932, "C:\\a\x94\x5c\\b", "C:\\a\x94", false, false, "b"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + ": " + c.a + " | " + c.b + " in " +
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
    const char* name;
    const char* path;
    const char* device;  // "" for a file
    int cp = 0;          // 0: every code page
  } cases[] = {
      {"NUL alone", "C:\\Acme\\NUL", "NUL"},
      {"in lower case, an extension after it", "C:\\Acme\\nul.dll", "NUL"},
      {"two extensions", "C:\\Acme\\Con.tar.gz", "CON"},
      {"a trailing dot", "C:\\Acme\\aux.", "AUX"},
      {"trailing dots and blanks", "C:\\Acme\\aux. . ", "AUX"},
      {"a blank before the extension", "C:\\Acme\\PRN .dll", "PRN"},
      {"a colon after it", "C:\\Acme\\prn:", "PRN"},
      {"a colon and more after it", "C:\\Acme\\com1:x", "COM1"},
      {"a COM port, an extension after it", "C:\\Acme\\com1.dll", "COM1"},
      {"the last COM port", "C:\\Acme\\COM9", "COM9"},
      {"an LPT port in mixed case", "C:\\Acme\\Lpt5.DLL", "LPT5"},
      {"a blank, an extension, a dot and a blank",
       "C:\\Acme\\LPT9 .dll. ", "LPT9"},
      {"in 1252, a superscript 1 as the port's digit",
       "C:\\Acme\\com\xb9.dll", "COM\xb9", 1252},
      {"in 1252, a superscript 2", "C:\\Acme\\lpt\xb2", "LPT\xb2", 1252},
      {"in 1252, a superscript 3", "C:\\Acme\\COM\xb3.dll", "COM\xb3", 1252},
      {"forward slashes", "C:/Acme/nul.dll", "NUL"},
      {"from the current drive's root", "\\Acme\\nul.dll", "NUL"},
      {"in a drive's current folder", "C:nul.dll", "NUL"},
      {"a bare name", "nul.dll", "NUL"},
      {"the device's name alone", "NUL", "NUL"},
      {"a longer name: NULL", "C:\\Acme\\NULL.dll", ""},
      {"a longer name: CONSOLE", "C:\\Acme\\CONSOLE.dll", ""},
      {"a letter before it", "C:\\Acme\\xnul.dll", ""},
      {"a leading blank stays", "C:\\Acme\\ nul.dll", ""},
      {"port 0, which is none", "C:\\Acme\\COM0.dll", ""},
      {"a port of two digits", "C:\\Acme\\COM10.dll", ""},
      {"a port without a digit", "C:\\Acme\\LPT.dll", ""},
      {"a letter for the port's digit", "C:\\Acme\\COMA.dll", ""},
      {"an acute accent, no digit", "C:\\Acme\\COM\xb4.dll", ""},
      {"a superscript in UTF-8, not the code page",
       "C:\\Acme\\COM\xc2\xb9.dll", ""},
      {"a folder's name", "C:\\nul\\module.dll", ""},
      {"a folder: a backslash after it", "C:\\Acme\\nul\\", ""},
      {"on a share", "\\\\server\\share\\nul.dll", ""},
      {"on a share, forward slashes", "//server/share/nul.dll", ""},
      {R"(the \\?\ form)", "\\\\?\\C:\\Acme\\nul.dll", ""},
      {R"(the \\.\ form)", "\\\\.\\C:\\Acme\\nul.dll", ""},
      {"a drive alone", "C:", ""},
      {"nothing", "", ""},
      // The last part begins after a separator, never after a trail byte.
      {"in 932, after a trail byte 5C: part of a name",
       "C:\\Acme\\\x94\x5cnul.dll", "", 932},
      {"in 1252, after that 5C: a backslash",
       "C:\\Acme\\\x94\x5cnul.dll", "NUL", 1252},
      {"in 936, after a folder ending in a trail byte 5C",
       "C:\\\xd5\x5c\\nul.dll", "NUL", 936},
      {"in 936, after a trail byte 5C: part of a name",
       "C:\\Acme\\\xd5\x5c" "CON", "", 936},
      // B9 is a katakana in 932 and a lead byte in 936: no superscript.
      {"in 932, B9 is a katakana: no superscript",
       "C:\\Acme\\com\xb9.dll", "", 932},
      {"in 936, B9 is a lead byte: no superscript",
       "C:\\Acme\\com\xb9", "", 936},
  };
  for (const Case& c : cases)
    for (int cp : kEveryCodePage) {
      if (c.cp != 0 && c.cp != cp) continue;
      SCOPED_TRACE(std::string(c.name) + ": " + c.path + " in " +
                   std::to_string(cp));
      std::string device = "untouched";
      const bool found = winpath::ReservedDeviceName(c.path, Cp(cp), &device);
      EXPECT_EQ(found, *c.device != '\0');
      EXPECT_EQ(device, found ? c.device : "untouched");
    }
}

}  // namespace
