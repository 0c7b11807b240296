#include "platform/boot.h"

#include <windows.h>

namespace platform {

long long BootTime() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  const unsigned long long ticks =
      (static_cast<unsigned long long>(now.dwHighDateTime) << 32) |
      now.dwLowDateTime;
  // 100-nanosecond units since 1601; 11644473600 seconds to 1970.
  const long long seconds = static_cast<long long>(ticks / 10000000ull) -
                            11644473600ll;
  return seconds - static_cast<long long>(GetTickCount64() / 1000);
}

}  // namespace platform
