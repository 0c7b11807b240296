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
    const char* name;
    int32_t mask;
    bool wow64;
    std::vector<Expected> entries;
  } cases[] = {
      {"no bit: no entry", 0, false, {}},
      {"bit 6 alone, which names no device type", 64, false, {}},
      {"every bit but the device types'", INT32_MIN | 0x7FFFFFC0, false, {}},
      {"type 1", 1, false,
       {{"C:\\Program Files\\HALDEToF\\SensorModule.dll", nullptr}}},
      {"type 3, the one with a configuration directory", 4, false,
       {{"C:\\Program Files\\HALDEToF\\libskelvia_ni.dll",
         "C:\\Program Files\\HALDEToF\\data\\"}}},
      {"types 1 and 3, in bit order", 5, false,
       {{"C:\\Program Files\\HALDEToF\\SensorModule.dll", nullptr},
        {"C:\\Program Files\\HALDEToF\\libskelvia_ni.dll",
         "C:\\Program Files\\HALDEToF\\data\\"}}},
      {"types 1 and 4, one library twice; bit 3 chooses TOLVARToF", 9, false,
       {{"C:\\Program Files\\TOLVARToF\\SensorModule.dll", nullptr},
        {"C:\\Program Files\\TOLVARToF\\SensorModule.dll", nullptr}}},
      {"type 6, which bit 5 puts in HALDEVMR", 32, false,
       {{"C:\\Program Files\\HALDEVMR\\SensorModule_QC9.dll", nullptr}}},
      {"type 5, x86 on 64-bit Windows", 16, true,
       {{"C:\\Program Files (x86)\\HALDEToF\\SensorModule_QB7.dll", nullptr}}},
      {"type 2 among bits above the device types'", INT32_MIN | 0x140 | 2,
       false,
       {{"C:\\Program Files\\HALDEToF\\SensorModule_QA4.dll", nullptr}}},
      {"every bit: all six types, in TOLVARToF", -1, false,
       {{"C:\\Program Files\\TOLVARToF\\SensorModule.dll", nullptr},
        {"C:\\Program Files\\TOLVARToF\\SensorModule_QA4.dll", nullptr},
        {"C:\\Program Files\\TOLVARToF\\libskelvia_ni.dll",
         "C:\\Program Files\\TOLVARToF\\data\\"},
        {"C:\\Program Files\\TOLVARToF\\SensorModule.dll", nullptr},
        {"C:\\Program Files\\TOLVARToF\\SensorModule_QB7.dll", nullptr},
        {"C:\\Program Files\\TOLVARToF\\SensorModule_QC9.dll", nullptr}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + ": mask " + std::to_string(c.mask));
    const std::string folder = InstallRootFor("x86", c.wow64) + "\\" +
                               ChooseProductFolder(c.mask) + "\\";
    std::vector<ModuleEntry> entries = BuildModuleList(c.mask, folder);
    ASSERT_EQ(entries.size(), c.entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
      SCOPED_TRACE("entry " + std::to_string(i));
      EXPECT_EQ(entries[i].path, c.entries[i].path);
      EXPECT_EQ(entries[i].hasConfigDir, c.entries[i].configDir != nullptr);
      EXPECT_EQ(entries[i].configDir,
                c.entries[i].configDir ? c.entries[i].configDir : "");
    }
  }
}

}  // namespace
