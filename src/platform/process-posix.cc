// The POSIX process: its command line and environment, and the Windows
// it runs beside, a Wine prefix.
#include "platform/process.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/posix.h"

namespace platform {

std::vector<std::string> CommandLine(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

bool ProcessEnvironment(const std::string& name, std::string* value) {
  const char* own = getenv(name.c_str());
  if (!own) return false;
  *value = own;
  return true;
}

// POSIX keeps no machine-wide environment.
bool MachineEnvironment(const std::string&, std::string*) { return false; }

bool IsWow64() {
  struct stat st;
  return stat((posix::DriveC() + "/windows/syswow64").c_str(), &st) == 0 &&
         S_ISDIR(st.st_mode);
}

bool Is32BitWindows() {
  struct stat st;
  return stat((posix::DriveC() + "/windows/system32").c_str(), &st) == 0 &&
         S_ISDIR(st.st_mode) && !IsWow64();
}

// Lookups here find System32 itself, as a 64-bit process does.
bool FrameworkSystemFolder(int bits, std::string* system,
                           std::string* seen_as) {
  if (bits != 32 || !IsWow64()) return false;
  *system = "C:\\windows\\system32";
  *seen_as = "C:\\windows\\syswow64";
  return true;
}

void HardenProcess() {}

void KillProcess() {
  raise(SIGKILL);
  _exit(137);  // not reached
}

}  // namespace platform
