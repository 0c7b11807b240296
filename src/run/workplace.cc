#include "run/workplace.h"

#include <cstdlib>
#include <string_view>

#include "platform/ansi.h"
#include "platform/lookup.h"
#include "platform/process.h"
#include "platform/winpath.h"
#include "registry/replace.h"
#include "run/mask.h"
#include "run/modules.h"
#include "run/status.h"

namespace run {

namespace winpath = platform::winpath;

namespace {

// |folder| (as winpath::AbsoluteFolder leaves it) is a folder that many
// products share, on any drive: their entries would go with the product's.
bool IsSharedFolder(const std::string& folder) {
  if (folder.size() < 3 || folder[1] != ':') return false;
  const std::string_view rest(folder.data() + 2, folder.size() - 2);
  for (std::string_view shared :
       {"\\program files", "\\program files (x86)",
        "\\program files\\common files",
        "\\program files (x86)\\common files", "\\programdata",
        "\\windows", "\\users"})
    if (winpath::Same(rest, shared, winpath::Utf8())) return true;
  return false;
}

// |dir| (UTF-8) as winpath::AbsoluteFolder reads it, with the short (8.3) names of
// the part that exists expanded as Windows expands them: the folder as
// the refusals of a --product-dir compare it.
std::optional<std::string> AbsoluteLongFolder(const std::string& dir) {
  const std::optional<std::string> folder =
      winpath::AbsoluteFolder(dir, winpath::Utf8());
  if (!folder || winpath::IsRoot(*folder, winpath::Utf8())) return folder;
  return winpath::AbsoluteFolder(platform::ExpandShortNames(*folder),
                                 winpath::Utf8());
}

int Refuse(int status, const std::string& why, std::string* error) {
  *error = why;
  return status;
}

// The characters of UTF-8 |text|, as Windows counts a path's.
size_t Characters(const std::string& text) {
  size_t count = 0;
  for (char c : text) count += (c & 0xC0) != 0x80;
  return count;
}

// |count| says what was counted: "260 characters", or for a module path,
// which the framework keeps in bytes, "260 bytes in the system's ANSI code
// page".
std::string TooLong(const std::string& path, const std::string& count) {
  return "path too long (" + count + ", at most " +
         std::to_string(kMaxPathChars) + "): " + path;
}

// Reads the variable |name| as --openni-env reads it: the machine's value
// first (Windows only), then the process's. Sets |source|, when given, to
// where the value came from; returns an empty value when it is set
// nowhere.
std::string ReadFrameworkVariable(const std::string& name,
                                  std::string* source = nullptr) {
  std::string value;
  const bool machine =
      platform::MachineEnvironment(name, &value) && !value.empty();
  if (!machine) {
    value.clear();
    platform::ProcessEnvironment(name, &value);
  }
  if (source)
    *source = name + (machine ? ", the machine's environment"
                              : ", the process's environment");
  return value;
}

// The framework's folder: --openni's, --openni-env's (the machine's value
// first, Windows only, then the process's), or the default one under
// InstallRoot. An unset or empty variable is status 3 (for an
// unregistration nothing to do), a value that is not absolute 2 for
// --openni and 3 for the variable.
int ChooseFrameworkFolder(const Options& options, Workplace* place,
                          std::string* error) {
  place->source = "the default";
  place->framework_dir = place->InstallRoot + "\\OpenNI";
  if (options.openni.empty() && !options.openni_env) return kExitOk;
  std::string value = options.openni;
  place->source = "--openni";
  if (options.openni_env) {
    const std::string& name = place->framework_variable;
    value = ReadFrameworkVariable(name, &place->source);
    if (value.empty()) {
      const std::string why = "the framework's folder is unknown: " + name +
                              " is not set or empty";
      // Nothing registered where no framework is: for some modes nothing
      // to do.
      if (options.mode->no_framework == NoFramework::kRefuse)
        return Refuse(kExitCannotRead, why, error);
      place->nothing_to_do = why;
      return kExitOk;
    }
  }
  std::optional<std::string> dir =
      winpath::AbsoluteFolder(value, winpath::Utf8());
  if (!dir)
    return Refuse(options.openni_env ? kExitCannotRead : kExitUsage,
                  "the framework's folder (" + place->source + ") \"" +
                      value + "\" is not an absolute path",
                  error);
  place->framework_dir = *dir;
  return kExitOk;
}

// --product-dir: absolute, not a drive's or share's root, and neither
// holding the framework's folder nor in it: the framework's own entries
// would go with the product's.
int CheckProductDir(const std::string& value, Workplace* place,
                    std::string* error) {
  const std::optional<std::string> given =
      winpath::AbsoluteFolder(value, winpath::Utf8());
  if (!given)
    return Refuse(kExitUsage,
                  "--product-dir \"" + value + "\" is not an absolute path",
                  error);
  // Judged with short names expanded; the entries keep the given names.
  const std::optional<std::string> folder = AbsoluteLongFolder(value);
  const std::string framework =
      AbsoluteLongFolder(place->framework_dir).value_or(place->framework_dir);
  const std::string takes = "would take the framework's own entries: it ";
  std::string why;
  if (winpath::IsRoot(*folder, winpath::Utf8()) ||
      winpath::IsUnder(framework + "\\", *folder, winpath::Utf8()))
    why = takes + "is a root or holds " + place->framework_dir;
  else if (winpath::IsUnder(*folder + "\\", framework, winpath::Utf8()))
    why = takes + "lies in " + place->framework_dir;
  else if (IsSharedFolder(*folder))
    why = "is a folder that many products share: their entries would go too";
  if (!why.empty())
    return Refuse(kExitUsage, "--product-dir \"" + value + "\" " + why, error);
  place->product_dir = *given;
  return kExitOk;
}

// The product: its folder, where its modules are, and for a registration
// the entries the mask names.
int ChooseProduct(const Options& options, Workplace* place,
                  std::string* error) {
  if (!options.product_dir.empty())
    if (int status = CheckProductDir(options.product_dir, place, error))
      return status;
  place->ProductFolder = ChooseProductFolder(place->DeviceMask);
  place->module_folder =
      place->product_dir.empty()
          ? place->InstallRoot + "\\" + place->ProductFolder + "\\"
          : place->product_dir + "\\";
  if (options.mode->entries)
    place->entries = BuildModuleList(place->DeviceMask, place->module_folder);
  // The framework hands each path to the system's ANSI calls: one the
  // ANSI code page cannot spell exactly names no file it can load.
  for (registry::ModuleEntry& entry : place->entries)
    for (std::string* path : {&entry.path, &entry.configDir}) {
      std::string ansi;
      if (!platform::ToAnsi(*path, &ansi))
        return Refuse(kExitUsage,
                      "the module path \"" + *path +
                          "\" cannot be written in the system's ANSI code "
                          "page: the framework could not load it",
                      error);
      *path = ansi;
    }
  if (std::optional<std::string> path = OverlongPath(place->entries))
    return Refuse(kExitUsage,
                  TooLong(platform::FromAnsi(*path),
                          std::to_string(path->size()) +
                              " bytes in the system's ANSI code page"),
                  error);
  // Compared with the registry's paths, in its code page; a folder it
  // cannot spell holds none of them.
  if (std::string ansi; platform::ToAnsi(place->product_dir, &ansi))
    place->product_dir = ansi;
  return kExitOk;
}

// The folder the variable of the framework's width names, when the
// framework's folder is the default one and the variable names another:
// a registry missing there may be in it.
std::string VariableFolder(const Workplace& place) {
  if (place.source != "the default") return "";
  const std::string value = ReadFrameworkVariable(place.framework_variable);
  const std::optional<std::string> folder =
      winpath::AbsoluteFolder(value, winpath::Utf8());
  if (value.empty() ||
      (folder && winpath::IsUnder(place.site.RegistryPath, *folder + "\\Data",
                                  winpath::Utf8())))
    return "";
  return value;
}

// The framework folders the options may name, whatever ARCH is or was
// refused: both default ones, |place|'s, every --openni's and, with
// --openni-env anywhere, both widths' variables'; those that are absolute.
std::vector<std::string> NamedFrameworks(const Options& options,
                                         const Workplace& place) {
  std::vector<std::string> named = {std::string(kProgramFiles) + "\\OpenNI",
                                    std::string(kProgramFilesX86) + "\\OpenNI",
                                    place.framework_dir, options.openni};
  named.insert(named.end(), options.named_folders.begin(),
               options.named_folders.end());
  if (options.openni_env || options.named_env)
    for (const char* arch : {"x86", "x64"})
      named.push_back(ReadFrameworkVariable(FrameworkVariable(arch)));
  std::vector<std::string> folders;
  for (const std::string& framework : named)
    if (const std::optional<std::string> folder =
            winpath::AbsoluteFolder(framework, winpath::Utf8()))
      folders.push_back(*folder);
  return folders;
}

}  // namespace

int DecideWorkplace(const Options& options, bool (*is_wow64)(),
                    Workplace* place, std::string* error,
                    bool (*is_32bit_windows)()) {
  const std::string& arch = options.args[0];
  const Mode& mode = *options.mode;
  const bool product = mode.operands == Operands::kArchMask;
  // The mask first, so that a refused one touches nothing.
  if (product) {
    std::optional<int32_t> mask = ReadDeviceMask(options.args[1]);
    if (!mask)
      return Refuse(kExitUsage,
                    "invalid device mask \"" + options.args[1] +
                        "\": expected a decimal number in the signed 32-bit "
                        "range",
                    error);
    place->DeviceMask = *mask;
    // A detection of no device type would answer "registered" anywhere.
    if (mode.needs_device && BuildModuleList(*mask, "").empty())
      return Refuse(kExitUsage,
                    std::string(mode.name) + ": the device mask \"" +
                        options.args[1] +
                        "\" names no device type (read as " +
                        std::to_string(*mask) +
                        "; bits 0 to 5 name device types 1 to 6)",
                    error);
  }
  // --strict: only the plain words an installer means.
  const bool plain_arch = arch == "x86" || arch == "x64";
  if (options.strict)
    for (const std::string& why :
         {product ? StrictMaskProblem(options.args[1]) : std::string(),
          plain_arch ? std::string()
                     : "ARCH \"" + arch + "\" is neither \"x86\" nor \"x64\""})
      if (!why.empty()) return Refuse(kExitUsage, "--strict: " + why, error);
  // The framework's width, as the root is chosen: 32-bit for "x86", 64-bit
  // for any other word.
  place->framework_bits = arch == "x86" ? 32 : 64;
  if (mode.running_framework && place->framework_bits == 64 &&
      is_32bit_windows &&
      is_32bit_windows())
    return Refuse(kExitUsage,
                  "ARCH \"" + arch +
                      "\" names the 64-bit framework, and no 64-bit framework "
                      "runs on 32-bit Windows: ARCH x86 names the one there",
                  error);
  place->InstallRoot = InstallRootFor(arch, arch == "x86" && is_wow64());
  place->framework_variable = FrameworkVariable(arch);
  // How ARCH and MASK were read, when that was not plain.
  for (const std::string& note :
       {plain_arch ? std::string()
                   : "ARCH \"" + arch + "\" is not \"x86\": root " +
                         place->InstallRoot,
        product ? MaskNote(options.args[1]) : std::string()})
    if (!note.empty()) place->notes.push_back(note);
  if (int status = ChooseFrameworkFolder(options, place, error)) return status;
  if (!place->nothing_to_do.empty()) return kExitOk;
  place->site = registry::SiteOf(place->framework_dir, UndoId(options));
  place->variable_folder = VariableFolder(*place);
  // The longest name a pass gives a file.
  const std::string longest = registry::TempPathFor(
      place->site.undo_record.empty() ? place->site.BackupPath
                                      : place->site.undo_record);
  if (Characters(longest) > kMaxPathChars)
    return Refuse(kExitUsage,
                  TooLong(longest,
                          std::to_string(Characters(longest)) + " characters"),
                  error);
  return product ? ChooseProduct(options, place, error) : kExitOk;
}

std::vector<std::string> RegistryFiles(const Options& options,
                                       const Workplace& place) {
  std::vector<std::string> files;
  for (const std::string& framework : NamedFrameworks(options, place))
    for (const std::string& file :
         registry::SiteFiles(registry::SiteOf(framework, UndoId(options))))
      files.push_back(file);
  return files;
}

std::vector<std::string> RegistryFolders(const Options& options,
                                         const Workplace& place) {
  std::vector<std::string> folders;
  for (const std::string& framework : NamedFrameworks(options, place))
    folders.push_back(registry::SiteOf(framework, "").folder);
  return folders;
}

std::string ChooseProductFolder(int32_t mask) {
  if (mask & 8) return "TOLVARToF";
  if (mask & 32) return "HALDEVMR";
  return "HALDEToF";
}

std::string InstallRootFor(const std::string& arch, bool wow64) {
  return arch == "x86" && wow64 ? kProgramFilesX86 : kProgramFiles;
}

const char* FrameworkVariable(const std::string& arch) {
  return arch == "x86" ? "OPEN_NI_INSTALL_PATH" : "OPEN_NI_INSTALL_PATH64";
}

std::optional<std::string> OverlongPath(const std::vector<registry::ModuleEntry>& entries) {
  for (const registry::ModuleEntry& entry : entries) {
    if (entry.path.size() > kMaxPathChars) return entry.path;
    if (entry.hasConfigDir && entry.configDir.size() > kMaxPathChars)
      return entry.configDir;
  }
  return std::nullopt;
}

}  // namespace run
