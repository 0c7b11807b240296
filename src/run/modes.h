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

// The functions that run the modes.
//
// write.cc: the modes that change the registry: a registration, an
// unregistration, the dry run of either, and --repair (with --dry-run
// too). Each runs one transaction (registry/transaction.h), which takes
// the registry folder's lock (a dry run's does not), loads the registry
// once and works on that one document, and says in |out| what came of it.
//
// A registration where |place| says, or its dry run; for the mode that
// adds no entries an unregistration. With --strict the entries to add are
// checked before anything is written, and a problem is status 8, with
// nothing written; without it, in the verbose report, the entries added
// are checked after, which changes nothing.
void RunUpdate(const Options& options, const Workplace& place, Outcome* out);

// --repair: takes out the Module elements that stop every application
// from starting (--check's breaks-startup), and nothing else. With
// --dry-run only says which, and is status 1 when there is one.
void RunRepair(const Options& options, const Workplace& place, Outcome* out);

// query.cc: the modes that only read the registry: --list, --check and
// --detect. None takes the lock, makes a backup or writes.
//
// --list: prints each child of Modules with a path, and each Module
// without one, marked "module:" or with the kind of its first problem.
void RunList(const Options& options, const Workplace& place, Outcome* out);

// --check: prints one line per problem (in the verbose report the
// registry first and the modules that are fine too). Status 1 when there
// is a problem, 0 when none.
void RunCheck(const Options& options, const Workplace& place, Outcome* out);

// --detect: prints one line when every entry a registration of |place|
// would add is in the registry, anywhere, the first of each sound as
// --check judges it (a repeat aside); otherwise prints nothing outside
// the verbose report. Status 0 either way; a registry that cannot be
// read or parsed, its usual status.
void RunDetect(const Options& options, const Workplace& place, Outcome* out);

// rollback.cc: the modes that end an installer's action: --rollback puts
// back what the run of an ID changed, --commit drops its undo record
// (registry/undo.h).
//
// --rollback ARCH ID: puts the registry back as ID's undo record says and
// removes the record. Status 0 when there is none, when it is of an
// earlier start of the machine (a warning; not applied) and when the
// registry was put back; 9 when the record is refused; else the status of
// the failure, the record kept.
void RunRollback(const Options& options, const Workplace& place, Outcome* out);

// --commit ARCH ID: removes ID's undo record; status 0 also when there is
// none.
void RunCommit(const Options& options, const Workplace& place, Outcome* out);

// Says each undo record left in |place|'s registry folder, as --check
// lists them: "undo record left: FILE (ACTION, ID)", and whether it is
// stale. Nothing when there is none, or the folder cannot be listed.
void SayUndoRecords(const Workplace& place, Outcome* out);

// One line: the forms of the command line.
extern const char kUsage[];

}  // namespace run

#endif  // MODREG_RUN_MODES_H_
