// The process on Windows: its command line, the environment, WOW64 and
// the protections it asks of the system.
#include "platform/process.h"

#include <stdlib.h>
#include <string.h>

#include "platform/text-win32.h"

// The C runtime's own reader of the UTF-16 command line (msvcrt.dll).
struct StartupInfo {
  int new_mode;
};
extern "C" int __wgetmainargs(int* argc, wchar_t*** argv, wchar_t*** env,
                              int expand_wildcards, StartupInfo* info);

namespace platform {
using namespace win32;

// Windows keeps the machine's variables in
// HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\Environment; a
// REG_EXPAND_SZ value is expanded.
bool MachineEnvironment(const std::string& name, std::string* value) {
  HKEY key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                    L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\"
                    L"Environment",
                    0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
    return false;
  const std::wstring wide_name = Wide(name);
  DWORD type = 0, size = 0;
  std::wstring raw;
  // The value may change between the two calls: ask again while it grows.
  LONG rc = ERROR_MORE_DATA;
  for (int tries = 0; tries < 4 && rc == ERROR_MORE_DATA; ++tries) {
    rc = RegQueryValueExW(key, wide_name.c_str(), nullptr, &type, nullptr,
                          &size);
    if (rc != ERROR_SUCCESS) break;
    raw.assign(size / sizeof(wchar_t) + 1, L'\0');
    DWORD got = size;
    rc = RegQueryValueExW(key, wide_name.c_str(), nullptr, &type,
                          reinterpret_cast<BYTE*>(raw.data()), &got);
    raw.resize(wcsnlen(raw.c_str(), got / sizeof(wchar_t)));  // the NUL goes
  }
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ))
    return false;
  if (type == REG_EXPAND_SZ) {
    DWORD n = ExpandEnvironmentStringsW(raw.c_str(), nullptr, 0);
    if (n == 0) return false;
    std::wstring expanded(n, L'\0');
    n = ExpandEnvironmentStringsW(raw.c_str(), expanded.data(), n);
    if (n == 0 || n > expanded.size()) return false;
    expanded.resize(n - 1);
    raw = expanded;
  }
  *value = Utf8(raw.c_str());
  return true;
}

bool ProcessEnvironment(const std::string& name, std::string* value) {
  const wchar_t* own = _wgetenv(Wide(name).c_str());
  if (!own) return false;
  *value = Utf8(own);
  return true;
}

std::vector<std::string> CommandLine(int argc, char** argv) {
  // The C runtime's |argv| went through the ANSI code page, which cannot
  // spell every name: the command line again, as UTF-16.
  int count = 0;
  wchar_t** wide = nullptr;
  wchar_t** environment = nullptr;
  StartupInfo info = {};
  if (__wgetmainargs(&count, &wide, &environment, 0, &info) != 0 || !wide)
    return std::vector<std::string>(argv, argv + argc);
  std::vector<std::string> args;
  for (int i = 0; i < count; ++i) args.push_back(Utf8(wide[i]));
  return args;
}

bool IsWow64() {
  BOOL wow64 = FALSE;
  return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

bool Is32BitWindows() { return !IsWow64(); }

// This 32-bit process is redirected as a 32-bit framework is; a 64-bit
// one finds System32 itself, which this process reaches as Sysnative.
bool FrameworkSystemFolder(int bits, std::string* system,
                           std::string* seen_as) {
  if (bits != 64 || !IsWow64()) return false;
  wchar_t windows[MAX_PATH];
  UINT n = GetSystemWindowsDirectoryW(windows, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return false;
  *system = Utf8(windows, static_cast<int>(n)) + "\\System32";
  *seen_as = Utf8(windows, static_cast<int>(n)) + "\\Sysnative";
  return true;
}

// The redirection trust policy, under which the process follows no
// junction that a user other than an administrator made. A system
// without it (before Windows 10 22H2) is left as it is.
void HardenProcess() {
  // PROCESS_MITIGATION_POLICY's value and
  // PROCESS_MITIGATION_REDIRECTION_TRUST_POLICY's flag, which older
  // headers lack.
  constexpr int kRedirectionTrustPolicy = 16;
  constexpr DWORD kEnforceRedirectionTrust = 1;
  using SetPolicy = BOOL(WINAPI*)(int policy, void* buffer, SIZE_T size);
  // Looked up, not imported: older Windows has no such call, and then
  // nothing is done.
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  FARPROC found =
      kernel ? GetProcAddress(kernel, "SetProcessMitigationPolicy") : nullptr;
  if (!found) return;
  SetPolicy set;
  static_assert(sizeof set == sizeof found);
  memcpy(&set, &found, sizeof set);
  // A system that does not know the policy refuses it; that is all.
  DWORD flags = kEnforceRedirectionTrust;
  set(kRedirectionTrustPolicy, &flags, sizeof flags);
}

void KillProcess() {
  TerminateProcess(GetCurrentProcess(), 137);
  ExitProcess(137);  // not reached
}

}  // namespace platform
