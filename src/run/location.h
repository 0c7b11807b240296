// Where the framework's registry and the product's modules are when the
// command line names them: --openni, --openni-env, --product-dir.
#ifndef MODREG_RUN_LOCATION_H_
#define MODREG_RUN_LOCATION_H_

#include <optional>
#include <string>
#include <vector>

#include "registry/module_entry.h"
#include "run/layout.h"

// The longest path the framework's loader takes, in characters.
constexpr size_t kMaxPathChars = 259;

// |dir| with each "/" as "\" and without trailing backslashes ("C:\" is
// "C:"), or nothing when it is not absolute: a drive letter, a colon and a
// backslash, or "\\server\share".
std::optional<std::string> AbsoluteFolder(const std::string& dir);

// True when |folder| (as AbsoluteFolder leaves it) is a drive ("C:") or a
// share ("\\server\share") itself.
bool IsRootFolder(const std::string& folder);

// The variable the framework of |arch|'s width takes its folder from:
// OPEN_NI_INSTALL_PATH for "x86", OPEN_NI_INSTALL_PATH64 for any other word.
const char* FrameworkVariable(const std::string& arch);

// The framework's folder, as the command line chose it.
struct FrameworkFolder {
  bool is_default = true;  // none chosen: the registry under InstallRoot
  std::string dir;         // as AbsoluteFolder leaves it
  std::string source;      // where it came from, for --verbose
  int status = 0;          // non-zero: the folder is unknown; |error| says why
  bool unset = false;      // status 3 because the variable is unset or empty
  std::string error;
};

// The folder --openni (|openni| not empty) or --openni-env names; the
// default when neither. For --openni-env the machine's value comes first
// (Windows only), then the process's; unset or empty is status 3, a value
// that is not absolute too.
FrameworkFolder ChooseFrameworkFolder(const std::string& openni,
                                      bool openni_env,
                                      const std::string& arch);

// The registry file and its backup in framework folder |dir|.
RegistryPaths RegistryPathsIn(const std::string& dir);

// The first path of |entries| (module or configuration directory) longer
// than kMaxPathChars, or nothing.
std::optional<std::string> OverlongPath(const std::vector<ModuleEntry>& entries);

#endif  // MODREG_RUN_LOCATION_H_
