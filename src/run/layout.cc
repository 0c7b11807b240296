#include "run/layout.h"

std::string InstallRoot = "C:\\Program Files";

void ApplyArchitectureRule(bool wow64) {
  if (wow64) InstallRoot += " (x86)";
}

std::string ArchNote(const std::string& arch, const std::string& root) {
  if (arch == "x86" || arch == "x64") return "";
  return "ARCH \"" + arch + "\" is not \"x86\": root " + root;
}

RegistryPaths GetRegistryPaths() {
  std::string data = InstallRoot + "\\OpenNI\\Data\\";
  return {data + "modules.xml", data + "modules.xml.old", "the default"};
}

std::string RegistryFolder(const std::string& registry_path) {
  return registry_path.substr(0, registry_path.find_last_of('\\'));
}

std::string ChooseProductFolder(int32_t DeviceMask) {
  // The first test that holds decides.
  std::string folder;
  if (DeviceMask & 8)
    folder = "TOLVARToF";
  else if (DeviceMask & 32)
    folder = "HALDEVMR";
  else
    folder = "HALDEToF";
  InstallRoot += "\\" + folder + "\\";
  return folder;
}
