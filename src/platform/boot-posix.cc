#include "platform/boot.h"

#include <time.h>

namespace platform {

long long BootTime() {
  timespec now{}, up{};
  clock_gettime(CLOCK_REALTIME, &now);
  clock_gettime(CLOCK_BOOTTIME, &up);
  return static_cast<long long>(now.tv_sec) - static_cast<long long>(up.tv_sec);
}

}  // namespace platform
