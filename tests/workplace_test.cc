#include "run/workplace.h"

#include "run/status.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace registry;
using namespace run;

namespace {

bool Wow64() { return true; }
bool NotWow64() { return false; }

// From the command line to where the run works: the registry and its
// backup are taken before the product folder is, the product folder and
// the modules' folder from the mask, --openni and --product-dir, and each
// refusal with its status.
TEST(Workplace, DecidedFromTheCommandLine) {
  struct Case {
    std::vector<const char*> argv;  // after the program's name
    bool wow64;
    int status;
    const char* registry;  // or, for a refusal, a part of the reason
    const char* modules;   // the modules' folder; null when not decided
    const char* folder;    // the product folder
  } cases[] = {
      {{"x64", "1"}, false, kExitOk, "C:\\Program Files\\OpenNI\\Data\\modules.xml",
       "C:\\Program Files\\HALDEToF\\", "HALDEToF"},
      {{"x86", "1"}, true, kExitOk,
       "C:\\Program Files (x86)\\OpenNI\\Data\\modules.xml",
       "C:\\Program Files (x86)\\HALDEToF\\", "HALDEToF"},
      {{"x86", "5"}, false, kExitOk, "C:\\Program Files\\OpenNI\\Data\\modules.xml",
       "C:\\Program Files\\HALDEToF\\", "HALDEToF"},
      {{"X86", "8"}, true, kExitOk, "C:\\Program Files\\OpenNI\\Data\\modules.xml",
       "C:\\Program Files\\TOLVARToF\\", "TOLVARToF"},
      {{"x86", "32"}, true, kExitOk,
       "C:\\Program Files (x86)\\OpenNI\\Data\\modules.xml",
       "C:\\Program Files (x86)\\HALDEVMR\\", "HALDEVMR"},
      {{"x64", "0"}, false, kExitOk, "C:\\Program Files\\OpenNI\\Data\\modules.xml",
       "C:\\Program Files\\HALDEToF\\", "HALDEToF"},
      {{"--openni", "D:/OpenNI/", "x86", "8"}, true, kExitOk,
       "D:\\OpenNI\\Data\\modules.xml", "C:\\Program Files (x86)\\TOLVARToF\\",
       "TOLVARToF"},
      {{"--product-dir", "E:\\Acme\\", "--unregister", "x64", "5"}, false,
       kExitOk, "C:\\Program Files\\OpenNI\\Data\\modules.xml", "E:\\Acme\\",
       "HALDEToF"},
      {{"--list", "x86"}, true, kExitOk,
       "C:\\Program Files (x86)\\OpenNI\\Data\\modules.xml", nullptr, ""},
      {{"x64", "0x5"}, false, kExitOk,
       "C:\\Program Files\\OpenNI\\Data\\modules.xml",
       "C:\\Program Files\\HALDEToF\\", "HALDEToF"},
      {{"x64", "abc"}, false, kExitUsage, "invalid device mask \"abc\"",
       nullptr, ""},
      {{"--openni", "OpenNI", "x64", "1"}, false, kExitUsage,
       "(--openni) \"OpenNI\" is not an absolute path", nullptr, ""},
      {{"--product-dir", "C:\\", "x64", "1"}, false, kExitUsage,
       "would take the framework's own entries", nullptr, ""},
      {{"--product-dir", "c:/program files", "x64", "1"}, false, kExitUsage,
       "holds C:\\Program Files\\OpenNI", nullptr, ""},
      {{"--openni", "C:\\..\\..\\outside\\.\\OpenNI", "x64", "1"}, false,
       kExitOk, "C:\\outside\\OpenNI\\Data\\modules.xml",
       "C:\\Program Files\\HALDEToF\\", "HALDEToF"},
      {{"--product-dir", "C:/Acme/./x/..//", "x64", "1"}, false, kExitOk,
       "C:\\Program Files\\OpenNI\\Data\\modules.xml", "C:\\Acme\\",
       "HALDEToF"},
      {{"--product-dir", "c:\\program files (X86)", "x64", "1"}, false,
       kExitUsage, "is a folder that many products share", nullptr, ""},
      {{"--product-dir", "D:/Windows/", "x64", "1"}, false, kExitUsage,
       "is a folder that many products share", nullptr, ""},
      {{"--product-dir", "C:\\Program Files\\Common Files\\x\\..", "x86", "1"},
       true, kExitUsage, "is a folder that many products share", nullptr, ""},
      {{"--product-dir", "C:\\Users\\Acme", "x64", "1"}, false, kExitOk,
       "C:\\Program Files\\OpenNI\\Data\\modules.xml", "C:\\Users\\Acme\\",
       "HALDEToF"},
      {{"--product-dir", "Acme", "x64", "1"}, false, kExitUsage,
       "\"Acme\" is not an absolute path", nullptr, ""},
      {{"--product-dir", "c:/program files/openni/bin", "x64", "1"}, false,
       kExitUsage, "it lies in C:\\Program Files\\OpenNI", nullptr, ""},
      {{"--product-dir", "C:\\Program Files\\OpenNI\\Data\\", "x64", "1"},
       false, kExitUsage, "it lies in C:\\Program Files\\OpenNI", nullptr, ""},
      {{"--product-dir", "C:\\Program Files.", "x64", "1"}, false, kExitUsage,
       "holds C:\\Program Files\\OpenNI", nullptr, ""},
      {{"--product-dir", "\\\\?\\C:\\Program Files (x86) ", "x64", "1"}, false,
       kExitUsage, "is a folder that many products share", nullptr, ""},
      {{"--product-dir", "C:\\Acme. \\", "x64", "1"}, false, kExitOk,
       "C:\\Program Files\\OpenNI\\Data\\modules.xml", "C:\\Acme\\",
       "HALDEToF"},
      {{"--detect", "x86", "8"}, true, kExitOk,
       "C:\\Program Files (x86)\\OpenNI\\Data\\modules.xml",
       "C:\\Program Files (x86)\\TOLVARToF\\", "TOLVARToF"},
      {{"--repair", "x64"}, true, kExitOk,
       "C:\\Program Files\\OpenNI\\Data\\modules.xml", nullptr, ""},
      // On 32-bit Windows only the 32-bit framework runs: checking a
      // registry for the 64-bit one would skip every module.
      {{"--check", "x64"}, false, kExitUsage,
       "no 64-bit framework runs on 32-bit Windows", nullptr, ""},
      {{"--list", "X86"}, false, kExitUsage,
       "no 64-bit framework runs on 32-bit Windows", nullptr, ""},
      {{"--check", "x64"}, true, kExitOk,
       "C:\\Program Files\\OpenNI\\Data\\modules.xml", nullptr, ""},
      {{"--check", "x86"}, false, kExitOk,
       "C:\\Program Files\\OpenNI\\Data\\modules.xml", nullptr, ""},
  };
  for (const Case& c : cases) {
    std::vector<const char*> argv = {"modreg"};
    argv.insert(argv.end(), c.argv.begin(), c.argv.end());
    SCOPED_TRACE(testing::Message() << c.argv[0] << " " << c.argv[1]
                                    << " wow64 " << c.wow64);
    const Options options = ParseOptions(static_cast<int>(argv.size()),
                                         argv.data());
    ASSERT_EQ(options.error, "");
    Workplace place;
    std::string error;
    // The tool is a 32-bit program: outside WOW64, Windows is 32-bit.
    ASSERT_EQ(DecideWorkplace(options, c.wow64 ? Wow64 : NotWow64, &place,
                              &error, c.wow64 ? NotWow64 : Wow64),
              c.status);
    if (c.status != kExitOk) {
      EXPECT_NE(error.find(c.registry), std::string::npos) << error;
      continue;
    }
    EXPECT_EQ(place.site.RegistryPath, c.registry);
    EXPECT_EQ(place.site.BackupPath, std::string(c.registry) + ".old");
    EXPECT_EQ(place.site.folder + "\\modules.xml", c.registry);
    EXPECT_EQ(place.ProductFolder, c.folder);
    if (c.modules) {
      EXPECT_EQ(place.module_folder, c.modules);
    }
  }
}

// A note says how ARCH and MASK were read when that was not plain, in
// that order; a refused mask is read before ARCH and notes nothing.
TEST(Workplace, NotesHowTheArgumentsWereRead) {
  const char* argv[] = {"modreg", "X86", "5abc"};
  Workplace place;
  std::string error;
  ASSERT_EQ(DecideWorkplace(ParseOptions(3, argv), Wow64, &place, &error),
            kExitOk);
  ASSERT_EQ(place.notes.size(), 2u);
  EXPECT_EQ(place.notes[0], "ARCH \"X86\" is not \"x86\": root C:\\Program Files");
  EXPECT_EQ(place.notes[1], "mask \"5abc\" read as 5: reading stopped at \"abc\"");
  const char* bad[] = {"modreg", "X86", "z"};
  Workplace refused;
  EXPECT_EQ(DecideWorkplace(ParseOptions(3, bad), Wow64, &refused, &error),
            kExitUsage);
  EXPECT_TRUE(refused.notes.empty());
}

// --strict: ARCH exactly x86 or x64, MASK plain decimal digits naming
// device types only, refused before anything else is decided; without it
// the same words pass.
TEST(Workplace, StrictRefusesWordsNotPlain) {
  struct Case {
    std::vector<const char*> argv;  // after "--strict"
    const char* refusal;            // a part of it; null: taken
  } cases[] = {
      {{"x86", "5"}, nullptr},
      {{"x64", "63"}, nullptr},
      {{"--unregister", "x64", "0"}, nullptr},
      {{"x64", "0x5"}, "--strict: mask \"0x5\" is not a plain decimal number"},
      {{"x64", "1|4"}, "read as 1"},
      {{"--unregister", "x86", " 5"}, "mask \" 5\" is not a plain"},
      {{"x64", "64"}, "--strict: mask \"64\" names bits above 5"},
      {{"x86", "-1"}, "mask \"-1\" is not a plain decimal number: read as -1"},
      {{"X86", "5"}, "--strict: ARCH \"X86\" is neither \"x86\" nor \"x64\""},
      {{"amd64", "5"}, "ARCH \"amd64\" is neither"},
      {{"--dry-run", "x86 ", "5"}, "ARCH \"x86 \" is neither"},
      {{"--", "", "5"}, "ARCH \"\" is neither"},
      {{"x64", "abc"}, "invalid device mask \"abc\""},
  };
  for (const Case& c : cases) {
    std::vector<const char*> argv = {"modreg", "--strict"};
    argv.insert(argv.end(), c.argv.begin(), c.argv.end());
    const Options options =
        ParseOptions(static_cast<int>(argv.size()), argv.data());
    SCOPED_TRACE(testing::Message() << c.argv[c.argv.size() - 2] << " "
                                    << c.argv.back());
    ASSERT_EQ(options.error, "");
    Workplace place;
    std::string error;
    const int status = DecideWorkplace(options, Wow64, &place, &error);
    if (!c.refusal) {
      EXPECT_EQ(status, kExitOk) << error;
      continue;
    }
    EXPECT_EQ(status, kExitUsage);
    EXPECT_NE(error.find(c.refusal), std::string::npos) << error;
    EXPECT_EQ(place.site.RegistryPath, "");  // refused before the registry
    // Without --strict the words pass, read as they are read.
    Workplace lax;
    argv.erase(argv.begin() + 1);
    if (std::string(c.argv.back()) != "abc") {
      EXPECT_EQ(DecideWorkplace(ParseOptions(static_cast<int>(argv.size()),
                                             argv.data()),
                                Wow64, &lax, &error),
                kExitOk);
    }
  }
}

// The files a log must never be: the registry's own in every folder the
// command line names, wherever an --openni stands and however often,
// with the run refused or not.
TEST(Workplace, RegistryFilesOfEveryFolderNamed) {
  struct Case {
    std::vector<const char*> argv;  // after the program's name
    const char* listed;             // a file that must be listed
  } cases[] = {
      {{"x64", "1"}, "C:\\Program Files\\OpenNI\\Data\\modules.xml"},
      {{"x86", "1"}, "C:\\Program Files (x86)\\OpenNI\\Data\\modules.xml.old"},
      {{"--openni", "C:\\F", "x64", "1"}, "C:\\F\\Data\\modules.xml"},
      {{"--openni", "C:\\F", "x64", "1"}, "C:\\F\\Data\\modules.xml.lock"},
      // Refused: an option after ARCH, --openni given twice, a bad mask.
      {{"--log", "L", "x86", "5", "--openni", "C:\\OpenNI"},
       "C:\\OpenNI\\Data\\modules.xml"},
      {{"--openni", "C:\\Other", "--openni", "C:\\Else", "--log", "L", "x86",
        "5"},
       "C:\\Other\\Data\\modules.xml"},
      {{"--openni", "C:\\Other", "--openni", "C:\\Else", "--log", "L", "x86",
        "5"},
       "C:\\Else\\Data\\modules.xml"},
      {{"--openni=C:\\A", "--openni=D:\\B", "x86", "5"},
       "C:\\A\\Data\\modules.xml"},
      {{"--openni", "C:\\F", "x86", "abc"}, "C:\\F\\Data\\modules.xml.old"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.listed);
    std::vector<const char*> argv = c.argv;
    argv.insert(argv.begin(), "modreg");
    const Options options = ParseOptions(static_cast<int>(argv.size()),
                                         argv.data());
    Workplace place;
    std::string error;
    if (options.error.empty())
      DecideWorkplace(options, Wow64, &place, &error);
    const std::vector<std::string> files = RegistryFiles(options, place);
    EXPECT_NE(std::find(files.begin(), files.end(), c.listed), files.end());
  }
}

// The folders where a log never takes an undo record's name, of any ID:
// the registry folders of the same frameworks.
TEST(Workplace, RegistryFoldersOfEveryFolderNamed) {
  struct Case {
    std::vector<const char*> argv;  // after the program's name
    const char* listed;             // a folder that must be listed
  } cases[] = {
      {{"x64", "1"}, "C:\\Program Files\\OpenNI\\Data"},
      {{"--undo", "Y", "x86", "8"}, "C:\\Program Files (x86)\\OpenNI\\Data"},
      {{"--openni", "C:\\F\\", "--undo", "Y", "x64", "1"}, "C:\\F\\Data"},
      // Refused: an option after ARCH.
      {{"--log", "L", "x86", "5", "--openni", "D:\\G"}, "D:\\G\\Data"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.listed);
    std::vector<const char*> argv = c.argv;
    argv.insert(argv.begin(), "modreg");
    const Options options = ParseOptions(static_cast<int>(argv.size()),
                                         argv.data());
    Workplace place;
    std::string error;
    if (options.error.empty())
      DecideWorkplace(options, Wow64, &place, &error);
    const std::vector<std::string> folders = RegistryFolders(options, place);
    EXPECT_NE(std::find(folders.begin(), folders.end(), c.listed),
              folders.end());
  }
}

TEST(Workplace, ProductFolderTableFirstMatchWins) {
  struct Case {
    int32_t mask;
    const char* folder;
  } cases[] = {
      {8, "TOLVARToF"},  {32, "HALDEVMR"},  {40, "TOLVARToF"}, {0, "HALDEToF"},
      {-1, "TOLVARToF"}, {9, "TOLVARToF"},  {64, "HALDEToF"},  {1, "HALDEToF"},
      {2, "HALDEToF"},   {4, "HALDEToF"},   {16, "HALDEToF"},  {23, "HALDEToF"},
      {48, "HALDEVMR"},  {INT32_MIN, "HALDEToF"}, {INT32_MIN | 32, "HALDEVMR"},
      {0x7FFFFFF7, "HALDEVMR"}, {0x7FFFFFD7, "HALDEToF"},
  };
  for (const Case& c : cases) EXPECT_EQ(ChooseProductFolder(c.mask), c.folder) << c.mask;
}

TEST(Workplace, VariableOfTheWidth) {
  EXPECT_STREQ(FrameworkVariable("x86"), "OPEN_NI_INSTALL_PATH");
  for (const char* word : {"x64", "X86", "x86 ", ""})
    EXPECT_STREQ(FrameworkVariable(word), "OPEN_NI_INSTALL_PATH64") << word;
}

TEST(Workplace, OverlongPath) {
  ModuleEntry fits{std::string(259, 'p'), std::string(259, 'c'), true};
  EXPECT_EQ(OverlongPath({fits}), std::nullopt);
  ModuleEntry dir = fits;
  dir.configDir += 'c';
  EXPECT_EQ(OverlongPath({fits, dir}), dir.configDir);
  dir.hasConfigDir = false;
  EXPECT_EQ(OverlongPath({dir}), std::nullopt);
}

}  // namespace
