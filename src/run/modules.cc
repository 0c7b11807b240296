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
    const char* config_dir = kDeviceModules[bit].config_dir;
    entries.push_back({folder + kDeviceModules[bit].library,
                       config_dir ? folder + config_dir : "",
                       config_dir != nullptr});
  }
  return entries;
}

}  // namespace run
