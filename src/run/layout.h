// The install layout: every location the tool touches is derived from
// InstallRoot.
#ifndef MODREG_RUN_LAYOUT_H_
#define MODREG_RUN_LAYOUT_H_

#include <cstdint>
#include <string>

// The root every path is built from. "C:\Program Files" at process start;
// during a pass it only grows, by " (x86)" under the architecture rule and
// by the product folder's suffix.
extern std::string InstallRoot;

struct RegistryPaths {
  std::string RegistryPath;  // ...\OpenNI\Data\modules.xml
  std::string BackupPath;    // ...\OpenNI\Data\modules.xml.old
  // Where the framework's folder came from, as --verbose names it.
  std::string source = "the default";
};

// Appends " (x86)" to InstallRoot when the process runs under WOW64.
// Called only when the architecture argument is exactly "x86".
void ApplyArchitectureRule(bool wow64);

// How the architecture word |arch| was read, when it is neither "x86" nor
// "x64": ARCH "X86" is not "x86": root |root|. Empty for those two.
std::string ArchNote(const std::string& arch, const std::string& root);

// The registry file and its backup under the current InstallRoot.
RegistryPaths GetRegistryPaths();

// The folder holding the registry file, without a trailing separator.
std::string RegistryFolder(const std::string& registry_path);

// Chooses the product folder from the mask, appends its suffix to
// InstallRoot and returns its bare name.
std::string ChooseProductFolder(int32_t DeviceMask);

#endif  // MODREG_RUN_LAYOUT_H_
