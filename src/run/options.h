// The command line: options first, then the positional arguments.
#ifndef MODREG_RUN_OPTIONS_H_
#define MODREG_RUN_OPTIONS_H_

#include <string>
#include <vector>

namespace run {

enum class Mode {
  kRegister,
  kUnregister,
  kList,
  kHelp,
  kVersion,
  kCheck,
  kDetect,  // --detect ARCH MASK: is the product registered and sound?
  kRepair,  // --repair ARCH: take out what stops every application
  kRollback,  // --rollback ARCH ID: put back what the run of ID changed
  kCommit,    // --commit ARCH ID: drop the undo record of ID
};

struct Options {
  Mode mode = Mode::kRegister;
  bool dry_run = false;
  bool verbose = false;
  // --strict: ARCH and MASK must be plain, and the check of the entries to
  // add, before anything is written, decides the status.
  bool strict = false;
  // The values of the options that take one; empty when not given.
  std::string openni;       // --openni DIR: the framework's folder
  bool openni_env = false;  // --openni-env: that folder from the environment
  std::string product_dir;  // --product-dir DIR: the product's folder
  // An option was given: a short command line is a usage error then, not
  // the message of the two-argument form.
  bool any = false;
  std::string log;                // --log FILE; empty without
  // --undo ID: the run keeps an undo record for ID; empty without. For
  // --rollback and --commit, ID is their second argument.
  std::string undo;
  // Every folder the command line names with --openni, wherever it stands
  // (after ARCH too) and however often, and whether --openni-env stands
  // anywhere: the registries a log must never be, whatever was read.
  std::vector<std::string> named_folders;
  bool named_env = false;
  std::vector<std::string> args;  // the positional arguments
  std::string error;              // what is wrong; empty when nothing
  // The only argument is "-h", "-?" or "/?": a short command line that
  // was meant to ask for help.
  bool asked_help = false;
};

// Reads |argv|: arguments beginning with "--" are options up to the first
// one that does not, or up to a lone "--", which is dropped; the rest are
// positional. An option that takes a value has it as the next argument,
// unless that begins with "--", or after "=" in the same one. Sets
// |error| for an unknown option, a value missing, options that do not go
// together, a mode without the arguments it takes, or an option among
// them (unless a lone "--" came first). After an error the options after
// it are still read for --log. An error gets QuoteHint's hint.
Options ParseOptions(int argc, const char* const* argv);

// Returns, for a usage error, the hint that an argument of |argv| holds a
// quote, which a backslash before a closing quote (a folder's last one,
// as "[INSTALLDIR]" ends) made part of it: "; an argument holds a
// quote...". Empty when none holds one.
std::string QuoteHint(int argc, const char* const* argv);

// One line: the forms of the command line.
extern const char kUsage[];
// The help text, several lines.
extern const char kHelp[];

}  // namespace run

#endif  // MODREG_RUN_OPTIONS_H_
