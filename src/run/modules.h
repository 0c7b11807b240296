// The device module table: which module library, and for one device type
// which configuration directory, each device type registers.
#ifndef MODREG_RUN_MODULES_H_
#define MODREG_RUN_MODULES_H_

#include <cstdint>
#include <vector>

#include "registry/module_entry.h"

// The entry of device type 1 to 6, under the current InstallRoot (which
// ends with the product folder and a backslash).
ModuleEntry BuildModuleEntry(int device_type);

// One entry per set mask bit 0 to 5, in ascending bit order.
std::vector<ModuleEntry> BuildModuleList(int32_t DeviceMask);

#endif  // MODREG_RUN_MODULES_H_
