#include "run/modules.h"

#include <gtest/gtest.h>

#include "run/workplace.h"

using namespace registry;
using namespace run;

namespace {

struct Expected {
  const char* path;
  const char* configDir;  // null when the entry has none
};

TEST(ModuleList, OneEntryPerMaskBitInBitOrder) {
  struct Case {
    int32_t mask;
    bool wow64;
    std::vector<Expected> entries;
  } cases[] = {
      {0, false, {}},
      {64, false, {}},
      {INT32_MIN | 0x7FFFFFC0, false, {}},
      {1, false, {{"C:\\Program Files\\HALDEToF\\SensorModule.dll", nullptr}}},
      {4, false,
       {{"C:\\Program Files\\HALDEToF\\libskelvia_ni.dll",
         "C:\\Program Files\\HALDEToF\\data\\"}}},
      {5, false,
       {{"C:\\Program Files\\HALDEToF\\SensorModule.dll", nullptr},
        {"C:\\Program Files\\HALDEToF\\libskelvia_ni.dll",
         "C:\\Program Files\\HALDEToF\\data\\"}}},
      {9, false,
       {{"C:\\Program Files\\TOLVARToF\\SensorModule.dll", nullptr},
        {"C:\\Program Files\\TOLVARToF\\SensorModule.dll", nullptr}}},
      {32, false, {{"C:\\Program Files\\HALDEVMR\\SensorModule_QC9.dll", nullptr}}},
      {16, true,
       {{"C:\\Program Files (x86)\\HALDEToF\\SensorModule_QB7.dll", nullptr}}},
      {INT32_MIN | 0x140 | 2, false,
       {{"C:\\Program Files\\HALDEToF\\SensorModule_QA4.dll", nullptr}}},
      {-1, false,
       {{"C:\\Program Files\\TOLVARToF\\SensorModule.dll", nullptr},
        {"C:\\Program Files\\TOLVARToF\\SensorModule_QA4.dll", nullptr},
        {"C:\\Program Files\\TOLVARToF\\libskelvia_ni.dll",
         "C:\\Program Files\\TOLVARToF\\data\\"},
        {"C:\\Program Files\\TOLVARToF\\SensorModule.dll", nullptr},
        {"C:\\Program Files\\TOLVARToF\\SensorModule_QB7.dll", nullptr},
        {"C:\\Program Files\\TOLVARToF\\SensorModule_QC9.dll", nullptr}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mask);
    const std::string folder = InstallRootFor("x86", c.wow64) + "\\" +
                               ChooseProductFolder(c.mask) + "\\";
    std::vector<ModuleEntry> entries = BuildModuleList(c.mask, folder);
    ASSERT_EQ(entries.size(), c.entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
      SCOPED_TRACE(i);
      EXPECT_EQ(entries[i].path, c.entries[i].path);
      EXPECT_EQ(entries[i].hasConfigDir, c.entries[i].configDir != nullptr);
      EXPECT_EQ(entries[i].configDir,
                c.entries[i].configDir ? c.entries[i].configDir : "");
    }
  }
}

}  // namespace
