#include "run/layout.h"

#include "registry/update.h"
#include "run/location.h"

#include <gtest/gtest.h>

namespace {

// InstallRoot is process-wide; every test starts from the value it has at
// process start.
class LayoutTest : public ::testing::Test {
 protected:
  void SetUp() override { InstallRoot = "C:\\Program Files"; }
  void TearDown() override { InstallRoot = "C:\\Program Files"; }
};

// A pass in the driver's order: architecture rule, registry paths, then
// the product folder.
TEST_F(LayoutTest, RegistryPathsAreTakenBeforeTheProductFolder) {
  struct Case {
    bool wow64;
    int32_t mask;
    const char* registry;
    const char* root;  // after the product folder
  } cases[] = {
      {false, 1, "C:\\Program Files\\OpenNI\\Data\\modules.xml",
       "C:\\Program Files\\HALDEToF\\"},
      {true, 1, "C:\\Program Files (x86)\\OpenNI\\Data\\modules.xml",
       "C:\\Program Files (x86)\\HALDEToF\\"},
      {true, 5, "C:\\Program Files (x86)\\OpenNI\\Data\\modules.xml",
       "C:\\Program Files (x86)\\HALDEToF\\"},
      {false, 8, "C:\\Program Files\\OpenNI\\Data\\modules.xml",
       "C:\\Program Files\\TOLVARToF\\"},
      {true, 32, "C:\\Program Files (x86)\\OpenNI\\Data\\modules.xml",
       "C:\\Program Files (x86)\\HALDEVMR\\"},
      {false, 0, "C:\\Program Files\\OpenNI\\Data\\modules.xml",
       "C:\\Program Files\\HALDEToF\\"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "wow64 " << c.wow64 << " mask " << c.mask);
    InstallRoot = "C:\\Program Files";
    ApplyArchitectureRule(c.wow64);
    EXPECT_EQ(InstallRoot, c.wow64 ? "C:\\Program Files (x86)" : "C:\\Program Files");
    RegistryPaths paths = GetRegistryPaths();
    ChooseProductFolder(c.mask);
    EXPECT_EQ(paths.RegistryPath, c.registry);
    EXPECT_EQ(paths.BackupPath, std::string(c.registry) + ".old");
    EXPECT_EQ(InstallRoot, c.root);
  }
}

TEST_F(LayoutTest, ProductFolderTableFirstMatchWins) {
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
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mask);
    InstallRoot = "C:\\Program Files";
    EXPECT_EQ(ChooseProductFolder(c.mask), c.folder);
    EXPECT_EQ(InstallRoot, std::string("C:\\Program Files\\") + c.folder + "\\");
  }
}

TEST_F(LayoutTest, RegistryFolderDropsTheFileName) {
  EXPECT_EQ(RegistryFolder("C:\\Program Files (x86)\\OpenNI\\Data\\modules.xml"),
            "C:\\Program Files (x86)\\OpenNI\\Data");
  EXPECT_EQ(RegistryFolder("C:\\a b\\c.d\\modules.xml"), "C:\\a b\\c.d");
}

TEST(Location, AbsoluteFolders) {
  struct Case {
    const char* dir;
    const char* folder;  // null: refused
    bool root;
  } cases[] = {
      {"C:\\OpenNI", "C:\\OpenNI", false},
      {"c:\\Open NI\\\\", "c:\\Open NI", false},
      {"D:/a/b/", "D:\\a\\b", false},
      {"C:\\", "C:", true},
      {"Z:/", "Z:", true},
      {"\\\\srv\\share\\OpenNI\\", "\\\\srv\\share\\OpenNI", false},
      {"//srv/share/", "\\\\srv\\share", true},
      {"\\\\srv", nullptr, false},
      {"\\\\srv\\", nullptr, false},
      {"\\\\\\share", nullptr, false},
      {"C:OpenNI", nullptr, false},
      {"C:", nullptr, false},
      {"\\OpenNI", nullptr, false},
      {"OpenNI", nullptr, false},
      {"1:\\x", nullptr, false},
      {"", nullptr, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dir);
    std::optional<std::string> folder = AbsoluteFolder(c.dir);
    ASSERT_EQ(folder.has_value(), c.folder != nullptr);
    if (!folder) continue;
    EXPECT_EQ(*folder, c.folder);
    EXPECT_EQ(IsRootFolder(*folder), c.root);
  }
}

TEST(Location, VariableOfTheWidthAndRegistryIn) {
  EXPECT_STREQ(FrameworkVariable("x86"), "OPEN_NI_INSTALL_PATH");
  for (const char* word : {"x64", "X86", "x86 ", ""})
    EXPECT_STREQ(FrameworkVariable(word), "OPEN_NI_INSTALL_PATH64") << word;
  RegistryPaths paths = RegistryPathsIn("D:\\OpenNI");
  EXPECT_EQ(paths.RegistryPath, "D:\\OpenNI\\Data\\modules.xml");
  EXPECT_EQ(paths.BackupPath, "D:\\OpenNI\\Data\\modules.xml.old");
}

TEST(Location, PathUnderAFolderInEitherCaseAndSlash) {
  const char* dir = "C:\\Apps\\Sensor";
  for (const char* path : {"C:\\Apps\\Sensor\\a.dll", "c:/apps/SENSOR/a.dll",
                           "C:\\Apps\\Sensor/sub\\a.dll", "C:\\Apps\\Sensor\\"})
    EXPECT_TRUE(PathUnder(path, dir)) << path;
  for (const char* path : {"C:\\Apps\\Sensor", "C:\\Apps\\SensorX\\a.dll",
                           "D:\\Apps\\Sensor\\a.dll", "C:\\Apps\\a.dll", ""})
    EXPECT_FALSE(PathUnder(path, dir)) << path;
  EXPECT_FALSE(PathUnder("C:\\x", ""));
}

TEST(Location, OverlongPath) {
  ModuleEntry fits{std::string(259, 'p'), std::string(259, 'c'), true};
  EXPECT_EQ(OverlongPath({fits}), std::nullopt);
  ModuleEntry dir = fits;
  dir.configDir += 'c';
  EXPECT_EQ(OverlongPath({fits, dir}), dir.configDir);
  dir.hasConfigDir = false;
  EXPECT_EQ(OverlongPath({dir}), std::nullopt);
}

}  // namespace
