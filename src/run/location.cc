#include "run/location.h"

#include <cstdlib>

#include "platform/platform.h"

namespace {

bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

}  // namespace

std::optional<std::string> AbsoluteFolder(const std::string& dir) {
  std::string folder = dir;
  for (char& c : folder)
    if (c == '/') c = '\\';
  size_t root;  // the part no trailing backslash is taken from
  if (folder.size() >= 3 && IsLetter(folder[0]) && folder[1] == ':' &&
      folder[2] == '\\') {
    root = 2;
  } else if (folder.compare(0, 2, "\\\\") == 0) {
    // \\server\share: both named.
    size_t slash = folder.find('\\', 2);
    if (slash == 2 || slash == std::string::npos || slash + 1 >= folder.size() ||
        folder[slash + 1] == '\\')
      return std::nullopt;
    root = slash + 1;
  } else {
    return std::nullopt;
  }
  while (folder.size() > root && folder.back() == '\\') folder.pop_back();
  return folder;
}

bool IsRootFolder(const std::string& folder) {
  const size_t from =
      folder.compare(0, 2, "\\\\") == 0 ? folder.find('\\', 2) + 1 : 0;
  return folder.find('\\', from) == std::string::npos;
}

const char* FrameworkVariable(const std::string& arch) {
  return arch == "x86" ? "OPEN_NI_INSTALL_PATH" : "OPEN_NI_INSTALL_PATH64";
}

FrameworkFolder ChooseFrameworkFolder(const std::string& openni,
                                      bool openni_env,
                                      const std::string& arch) {
  FrameworkFolder folder;
  if (openni.empty() && !openni_env) {
    folder.source = "the default";
    return folder;
  }
  folder.is_default = false;
  std::string value = openni;
  folder.source = "--openni";
  if (openni_env) {
    const std::string name = FrameworkVariable(arch);
    if (platform::MachineEnvironment(name, &value) && !value.empty()) {
      folder.source = name + ", the machine's environment";
    } else {
      const char* own = getenv(name.c_str());
      value = own ? own : "";
      folder.source = name + ", the process's environment";
    }
    if (value.empty()) {
      folder.status = 3;
      folder.unset = true;
      folder.error = "the framework's folder is unknown: " + name +
                     " is not set or empty";
      return folder;
    }
  }
  std::optional<std::string> dir = AbsoluteFolder(value);
  if (!dir) {
    folder.status = openni_env ? 3 : 2;
    folder.error = "the framework's folder (" + folder.source + ") \"" +
                   value + "\" is not an absolute path";
    return folder;
  }
  folder.dir = *dir;
  return folder;
}

RegistryPaths RegistryPathsIn(const std::string& dir) {
  std::string data = dir + "\\Data\\";
  return {data + "modules.xml", data + "modules.xml.old", "the default"};
}

std::optional<std::string> OverlongPath(const std::vector<ModuleEntry>& entries) {
  for (const ModuleEntry& entry : entries) {
    if (entry.path.size() > kMaxPathChars) return entry.path;
    if (entry.hasConfigDir && entry.configDir.size() > kMaxPathChars)
      return entry.configDir;
  }
  return std::nullopt;
}
