// The command line: options first, then the positional arguments. Which
// mode it asks for, and what that mode takes, comes from the table of
// modes (run/modes.h).
#ifndef MODREG_RUN_OPTIONS_H_
#define MODREG_RUN_OPTIONS_H_

#include <string>
#include <vector>

#include "run/modes.h"

namespace run {

struct Options {
  const Mode* mode = &Registration();  // its row in the table of modes
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

// Tells whether |options| ask for a pass on a registry: no usage error,
// and a mode with the arguments it takes (fewer, for the registration
// with no option, is the short command line).
bool WorksOnRegistry(const Options& options);

// Tells whether the verbose report goes anywhere: --verbose or --log.
bool WantsReport(const Options& options);

// Returns the ID of |options|' undo record: --undo's, or the ID its mode
// takes; empty when none.
std::string UndoId(const Options& options);

}  // namespace run

#endif  // MODREG_RUN_OPTIONS_H_
