// This process: its command line and environment, the Windows it runs on
// or beside, and the protections it asks of the system.
#ifndef MODREG_PLATFORM_PROCESS_H_
#define MODREG_PLATFORM_PROCESS_H_

#include <string>
#include <vector>

namespace platform {

// Returns the command line's arguments, the program's name first, in
// UTF-8, every name spelled as given.
std::vector<std::string> CommandLine(int argc, char** argv);

// Reads this process's environment variable |name|; false when unset.
bool ProcessEnvironment(const std::string& name, std::string* value);

// Reads the machine-wide value of environment variable |name|, as Windows
// keeps it for new processes (expanded). False when there is none, or no
// such store.
bool MachineEnvironment(const std::string& name, std::string* value);

// True when this process runs as a 32-bit process on 64-bit Windows. A
// failed query counts as no.
bool IsWow64();

// True when Windows is a 32-bit one, where no 64-bit program runs: for
// this 32-bit tool, when it does not run under WOW64. The native build
// takes a prefix with drive_c\windows\system32 and no syswow64 for one.
bool Is32BitWindows();

// On 64-bit Windows a 32-bit process finds the files of the system
// folder (System32) in SysWOW64. When a framework of |bits| finds them
// elsewhere than this process's lookups would, sets |system| to the
// system folder's name ("C:\Windows\System32") and |seen_as| to the name
// under which this process reaches the framework's copy, and returns
// true.
bool FrameworkSystemFolder(int bits, std::string* system,
                           std::string* seen_as);

// Turns on, once at the start, the protections this process asks of the
// system beyond its defaults, where the system has them.
void HardenProcess();

// Ends this process at once, as if killed from outside.
[[noreturn]] void KillProcess();

}  // namespace platform

#endif  // MODREG_PLATFORM_PROCESS_H_
