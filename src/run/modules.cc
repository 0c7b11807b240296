#include "run/modules.h"

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

const int kDeviceTypes = sizeof(kDeviceModules) / sizeof(kDeviceModules[0]);

}  // namespace

ModuleEntry BuildModuleEntry(int device_type, const std::string& folder) {
  ModuleEntry entry;
  if (device_type < 1 || device_type > kDeviceTypes) return entry;
  const DeviceModule& module = kDeviceModules[device_type - 1];
  entry.path = folder + module.library;
  if (module.config_dir) {
    entry.configDir = folder + module.config_dir;
    entry.hasConfigDir = true;
  }
  return entry;
}

std::vector<ModuleEntry> BuildModuleList(int32_t DeviceMask,
                                         const std::string& folder) {
  std::vector<ModuleEntry> entries;
  for (int bit = 0; bit < kDeviceTypes; ++bit)
    if (DeviceMask & (1 << bit)) entries.push_back(BuildModuleEntry(bit + 1, folder));
  return entries;
}
