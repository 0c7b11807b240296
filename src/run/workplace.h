// Where a run works: the registry's site (its folder and files), the
// product folder whose name marks the product's entries, and the folder
// its modules are in. Decided once, from the options, ARCH and MASK as
// the mode's row asks, before anything is touched; nothing changes it
// during the run.
#ifndef MODREG_RUN_WORKPLACE_H_
#define MODREG_RUN_WORKPLACE_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "registry/module_entry.h"
#include "registry/site.h"
#include "run/options.h"

namespace run {

// The root every default path is built from, and the one a 32-bit package
// takes on 64-bit Windows.
constexpr char kProgramFiles[] = "C:\\Program Files";
constexpr char kProgramFilesX86[] = "C:\\Program Files (x86)";

// The longest path the framework's loader takes, in characters.
constexpr size_t kMaxPathChars = 259;

struct Workplace {
  // "C:\Program Files", or "C:\Program Files (x86)" when ARCH is "x86" on
  // 64-bit Windows.
  std::string InstallRoot;
  // The framework's folder and where it came from, as --verbose names it:
  // "the default", "--openni", "OPEN_NI_INSTALL_PATH, the machine's
  // environment"...
  std::string framework_dir;
  std::string source;
  // framework_dir\Data and its files; the undo record's with --undo, and
  // for a mode that takes an ID.
  registry::RegistrySite site;
  int framework_bits = 64;     // the width of the framework ARCH names
  // The variable that framework takes its folder from (FrameworkVariable),
  // and, when the folder is the default one, the folder it names (empty
  // when none, or when it is the default one): a registry missing at the
  // default place may be there.
  std::string framework_variable;
  std::string variable_folder;
  // Registration and unregistration only: the mask, the product folder's
  // bare name, --product-dir (absolute, no trailing backslash; empty
  // without), the folder the modules are in (ending with a backslash) and,
  // for a registration, the entries to append.
  int32_t DeviceMask = 0;
  std::string ProductFolder;
  std::string product_dir;
  std::string module_folder;
  std::vector<registry::ModuleEntry> entries;
  // How ARCH and MASK were read when that was not plain, for the verbose
  // report, in the order they were read.
  std::vector<std::string> notes;
  // An unregistration whose framework folder is unknown (its variable set
  // nowhere) has nothing to do; this says why. Empty otherwise.
  std::string nothing_to_do;
};

// Decides where a run of |options| (a mode that works on a registry, with
// the arguments it takes) works, as its mode's row asks. |is_wow64| is
// asked only when ARCH is "x86"; |is_32bit_windows| (null: never) only
// when ARCH names the 64-bit framework for a mode that needs the running
// framework, which on 32-bit Windows is refused: no 64-bit framework runs
// there. Returns kExitOk, or the status of a refusal with |error| set: a
// mask that is not a 32-bit decimal number (read before anything else),
// a framework folder that is unknown or not absolute, a --product-dir
// refused, or a path longer than the loader takes. |place| holds what was
// decided up to a refusal.
int DecideWorkplace(const Options& options, bool (*is_wow64)(),
                    Workplace* place, std::string* error,
                    bool (*is_32bit_windows)() = nullptr);

// Lists the registry files a log must never be: the registry, its backup,
// their temporary files and the lock file under both default roots, in
// |place|'s framework folder, and in every folder the command line names
// (each --openni's, wherever it stands, and with --openni-env anywhere
// both widths' variables), decided or refused.
std::vector<std::string> RegistryFiles(const Options& options,
                                       const Workplace& place);

// Lists the registry folders (FRAMEWORK\Data) of the same frameworks: where
// a log never takes an undo record's name, whatever its ID.
std::vector<std::string> RegistryFolders(const Options& options,
                                         const Workplace& place);

// Returns the bare name of the product folder the mask chooses: the first test
// that holds decides (bit 3, then bit 5, then the default).
std::string ChooseProductFolder(int32_t mask);

// Returns "C:\Program Files (x86)" for ARCH "x86" on 64-bit Windows,
// otherwise "C:\Program Files".
std::string InstallRootFor(const std::string& arch, bool wow64);

// Returns the variable the framework of |arch|'s width takes its folder
// from:
// OPEN_NI_INSTALL_PATH for "x86", OPEN_NI_INSTALL_PATH64 for any other word.
const char* FrameworkVariable(const std::string& arch);

// Returns the first path of |entries| (module or configuration directory) longer
// than kMaxPathChars, or nothing.
std::optional<std::string> OverlongPath(const std::vector<registry::ModuleEntry>& entries);

}  // namespace run

#endif  // MODREG_RUN_WORKPLACE_H_
