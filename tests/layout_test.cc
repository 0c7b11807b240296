#include "run/layout.h"

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

}  // namespace
