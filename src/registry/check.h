// The health check: what the framework's loader will do with each
// registered module, told before any application meets it. Reads only.
#ifndef MODREG_REGISTRY_CHECK_H_
#define MODREG_REGISTRY_CHECK_H_

#include <string>
#include <vector>

#include "registry/document.h"
#include "registry/module_entry.h"

namespace registry {

// One problem with one entry, printed "KIND: WHERE (WHAT)". KIND is one of
// the words below; WHERE the entry's path, or "line N" for a Module
// without one; WHAT the cause in a few words.
struct Finding {
  const char* kind;
  std::string where;
  std::string what;
};

// The kinds, by what the framework does; a finding's kind is one of these
// arrays, compared by address (one array each, however many files use it):
//   kBreaksStartup  no application starts
//   kMissing        skipped: no file at the path
//   kSkipped        skipped: the file cannot be loaded
//   kMayHang        loading has been seen to hang
//   kRefused        its nodes lose to an earlier entry's
//   kRelative       the system loader searches for it
//   kUnreadable     the check could not read the file
//   kDevice         the system opens a device, not a file
//   kRepeated       an earlier entry's path and configDir again: loaded
//                   once, no problem
inline constexpr char kBreaksStartup[] = "breaks-startup";
inline constexpr char kMissing[] = "missing";
inline constexpr char kSkipped[] = "skipped";
inline constexpr char kMayHang[] = "may-hang";
inline constexpr char kRefused[] = "refused";
inline constexpr char kRelative[] = "relative";
inline constexpr char kUnreadable[] = "unreadable";
inline constexpr char kDevice[] = "device";
inline constexpr char kRepeated[] = "repeated";

// A Module child of Modules, checked; |findings| empty when it is fine.
struct CheckedModule {
  ModuleEntry entry;
  bool has_path = true;
  size_t line = 0;  // where it begins, when CheckDocument checked it
  std::vector<Finding> findings;
  // The element, when CheckDocument checked it.
  const rapidxml::xml_node<char>* node = nullptr;
};

// Checks |entries| in their order, for a framework of |bits|: each module
// file, its configDir, and whether an earlier entry names the same file
// (with the same configDir: repeated; else refused) or the same file
// name. Paths are compared as Windows compares them. The entries before |first| count as earlier
// entries only: their files are not read, and they are not returned.
// |lines|, when given, holds each entry's line in the file: a refusal
// names the earlier entry's.
std::vector<CheckedModule> CheckEntries(const std::vector<ModuleEntry>& entries,
                                        int bits, size_t first = 0,
                                        const std::vector<size_t>& lines = {});

// Returns the file name of the module at |path| as the check compares
// entries: of two with the same one, the framework refuses the later.
std::string ModuleFileName(const std::string& path);

// Checks every Module child of |document|'s Modules element, in the
// file's order. Each is named by its line in |lines| (one per Module
// element) when given, else in the loaded text (the document must then
// have its line ends; an element the text does not hold gets 0).
std::vector<CheckedModule> CheckDocument(
    const RegistryDocument& document, int bits,
    const std::vector<size_t>* lines = nullptr);

// Listing the registered modules without changing anything: returns every
// child of |document|'s Modules element that has a "path" attribute, and
// every Module element without one, in the file's order, checked for a
// framework of |bits|: a Module element as CheckDocument checks it, any
// other child on its own (without a line). The document must have its
// line ends.
std::vector<CheckedModule> ListDocument(const RegistryDocument& document,
                                        int bits);

// Returns those of |checked| that stop every application from starting
// (kBreaksStartup), leaving out the last |skip_last|.
std::vector<CheckedModule> StartupBreakers(
    const std::vector<CheckedModule>& checked, size_t skip_last = 0);

// Checks the last |added| of the Module elements with a path of
// |document|'s Modules element (the entries an edit appended), the ones
// before them counting as earlier entries, named by their line in the
// loaded text (the document must have its line ends).
std::vector<CheckedModule> CheckAppended(const RegistryDocument& document,
                                         int bits, size_t added);

// Tells whether |finding| is a problem: every kind but kRepeated.
bool IsProblem(const Finding& finding);

// Returns how many of the findings of |checked| are problems.
size_t CountProblems(const std::vector<CheckedModule>& checked);

// Returns the lines that report |module|: one per finding, or, when it is fine
// and |fine| is set, "module: PATH".
std::vector<std::string> CheckLines(const CheckedModule& module, bool fine);

}  // namespace registry

#endif  // MODREG_REGISTRY_CHECK_H_
