// The device module table: which module library, and for one device type
// which configuration directory, each device type registers.
#ifndef MODREG_RUN_MODULES_H_
#define MODREG_RUN_MODULES_H_

#include <cstdint>
#include <string>
#include <vector>

#include "registry/module_entry.h"

namespace run {

// Builds one entry per set mask bit 0 to 5 (device types 1 to 6), in
// ascending bit order, each in |folder|, which ends with a backslash: the
// library's name (and the configuration directory's) follows it directly.
std::vector<registry::ModuleEntry> BuildModuleList(int32_t mask,
                                                   const std::string& folder);

}  // namespace run

#endif  // MODREG_RUN_MODULES_H_
