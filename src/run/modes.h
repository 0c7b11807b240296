// The tool's modes, one row each: the flag that asks for it, what it
// takes, and the function that runs it. Option parsing, the checks of the
// arguments, the workplace and the driver read the row; none asks which
// mode it is. Adding a mode is one row here and one function.
#ifndef MODREG_RUN_MODES_H_
#define MODREG_RUN_MODES_H_

#include <string>

namespace run {

struct Options;
struct Workplace;
struct Outcome;

// The positional arguments a mode takes.
enum class Operands { kNone, kArch, kArchMask, kArchId };

// The options a mode takes besides those every mode takes (--verbose,
// --log, --openni and --openni-env).
enum ModeOption : unsigned {
  kTakesDryRun = 1,
  kTakesStrict = 2,
  kTakesUndo = 4,
  kTakesProductDir = 8,
};

// What a mode makes of a framework whose variable names no folder.
enum class NoFramework {
  kRefuse,          // status 3: the registry is unknown
  kNothingToRemove, // nothing registered where no framework is
  kNothingToPutBack,
  kAnswer,          // the mode says it itself
};

// A mode's row; what a row leaves out is false, none or kRefuse.
struct Mode {
  const char* flag = nullptr;  // null for the registration, which has none
  const char* name = nullptr;  // as messages name the mode
  // kArchMask: the mode reads MASK and decides a product.
  Operands operands = Operands::kNone;
  unsigned options = 0;  // ModeOption bits
  // Writes the registry, holding its lock (unless a dry run asks not to).
  bool writes = false;
  // Decides the entries a registration of ARCH and MASK adds.
  bool entries = false;
  // A MASK that names no device type is refused.
  bool needs_device = false;
  // ARCH must name a framework that runs on the system: on 32-bit Windows
  // the 64-bit one is refused.
  bool running_framework = false;
  NoFramework no_framework = NoFramework::kRefuse;
  bool alone = false;          // goes with no other mode
  bool overrides = false;      // wins over any other mode (--help)
  bool extra_ignored = false;  // arguments after those it takes are ignored
  bool quiet_log = false;      // a log that cannot be written is said nowhere
  void (*run)(const Options& options, const Workplace& place,
              Outcome* out) = nullptr;
};

// The registration: the mode without a flag.
const Mode& Registration();

// Returns the mode |flag| asks for, or null when no mode has it.
const Mode* FindMode(const std::string& flag);

// Tells whether |a| stands before |b| in the table: messages name two
// modes in that order.
bool Before(const Mode& a, const Mode& b);

// One line: the forms of the command line.
extern const char kUsage[];
// The help text, several lines.
extern const char kHelp[];

}  // namespace run

#endif  // MODREG_RUN_MODES_H_
