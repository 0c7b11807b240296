#include "run/modules.h"

namespace run {

namespace {

struct DeviceModule {
  const char* library;
  const char* config_dir;  // null when the type has none
};

// Indexed by device type - 1, that is by mask bit.
const DeviceModule kDeviceModules[] = {
    {"SensorModule.dll", nullptr},
    {"SensorModule_QA4.dll", nullptr},
    {"libskelvia_ni.dll", "data\\"},
    {"SensorModule.dll", nullptr},
    {"SensorModule_QB7.dll", nullptr},
    {"SensorModule_QC9.dll", nullptr},
};

}  // namespace

std::vector<registry::ModuleEntry> BuildModuleList(int32_t mask,
                                         const std::string& folder) {
  std::vector<registry::ModuleEntry> entries;
  for (int bit = 0; bit < std::ssize(kDeviceModules); ++bit) {
    if (!(mask & (1 << bit))) continue;
    const DeviceModule& module = kDeviceModules[bit];
    registry::ModuleEntry& entry = entries.emplace_back();
    entry.path = folder + module.library;
    if (module.config_dir) {
      entry.configDir = folder + module.config_dir;
      entry.hasConfigDir = true;
    }
  }
  return entries;
}

}  // namespace run
