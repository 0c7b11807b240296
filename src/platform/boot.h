// When the machine started: what tells an undo record left from an
// earlier start of the machine from one of this start.
#ifndef MODREG_PLATFORM_BOOT_H_
#define MODREG_PLATFORM_BOOT_H_

namespace platform {

// Returns when the machine last started, in seconds since 1970 UTC, as
// the clock now less the time since the start: measured, so two calls may
// differ by a second, and by as much as the clock was set since.
long long BootTime();

}  // namespace platform

#endif  // MODREG_PLATFORM_BOOT_H_
