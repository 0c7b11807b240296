#include "run/options.h"

#include "registry/undo.h"

namespace run {

namespace {

bool IsOption(const std::string& arg) { return arg.compare(0, 2, "--") == 0; }

// The options that take a value, and where it goes.
struct ValueOption {
  const char* name;
  const char* what;  // the value, as messages name it
  std::string Options::*value;
};
const ValueOption kValueOptions[] = {
    {"--openni", "DIR", &Options::openni},
    {"--product-dir", "DIR", &Options::product_dir},
    {"--log", "FILE", &Options::log},
    {"--undo", "ID", &Options::undo},
};

// The options that take none.
struct FlagOption {
  const char* name;
  bool Options::*flag;
};
const FlagOption kFlagOptions[] = {
    {"--dry-run", &Options::dry_run},
    {"--verbose", &Options::verbose},
    {"--strict", &Options::strict},
    {"--openni-env", &Options::openni_env},
};

// When |arg| is an option that takes a value, stores it, from after "="
// or from the next argument (|*i| then moves on to it), and returns true;
// sets |error| when it is missing, empty or given twice. The next argument
// is not taken when it begins with "--": an option forgotten its value
// would otherwise swallow the next one.
bool TakeValue(const std::string& arg, int argc, const char* const* argv,
               int* i, Options* o) {
  for (const ValueOption& option : kValueOptions) {
    const std::string name = option.name;
    if (arg.compare(0, name.size(), name) != 0) continue;
    const bool inline_value = arg.size() > name.size();
    if (inline_value && arg[name.size()] != '=') continue;
    std::string value;
    if (inline_value) value = arg.substr(name.size() + 1);
    else if (*i + 1 < argc) value = argv[*i + 1];
    const std::string needs = name + " needs " + option.what;
    if (!inline_value && IsOption(value)) {
      o->error = needs + ", not the option \"" + value + "\"";
      return true;
    }
    if (!inline_value && *i + 1 < argc) ++*i;
    std::string& slot = o->*option.value;
    if (value.empty()) o->error = needs;
    else if (!slot.empty()) o->error = name + " is given twice";
    slot = value;
    return true;
  }
  return false;
}

// An option after ARCH (where MASK belongs, or after the arguments the
// mode takes) would otherwise be taken for the mask, or ignored, whatever
// it asks. After a lone "--" there are no options.
std::string LateOption(const Options& o, bool ended) {
  if (ended) return "";
  for (size_t i = 1; i < o.args.size(); ++i)
    if (IsOption(o.args[i]))
      return "options come before ARCH: \"" + o.args[i] + "\"";
  return "";
}

// After a usage error the remaining options are read for --log and for
// where the framework is (the files the log must never be), so that the
// log, wherever it was named, gets the error too. A value given before
// stays.
Options ReadLogAfterError(int argc, const char* const* argv, int i, Options o) {
  const Options before = o;
  for (; i < argc && IsOption(argv[i]) && std::string(argv[i]) != "--"; ++i) {
    if (std::string(argv[i]) == "--openni-env") o.openni_env = true;
    TakeValue(argv[i], argc, argv, &i, &o);
  }
  for (const ValueOption& option : kValueOptions)
    if (!(before.*option.value).empty())
      o.*option.value = before.*option.value;
  o.error = before.error;
  return o;
}

// Returns why |id| is no ID of an undo record; empty when it is one.
std::string UndoIdProblem(const std::string& id) {
  if (registry::IsUndoId(id)) return "";
  return "invalid ID \"" + id + "\": expected 1 to " +
         std::to_string(registry::kMaxUndoId) +
         " letters, digits, \"{\", \"}\" and \"-\", not beginning with "
         "\"-\"";
}

// How many arguments |operands| are.
size_t Count(Operands operands) {
  return operands == Operands::kNone ? 0 : operands == Operands::kArch ? 1 : 2;
}

// Returns why an option of |o| does not go with its mode; empty when all
// do.
std::string OptionRefused(const Options& o) {
  const struct {
    bool given;
    ModeOption option;
    const char* name;
  } given[] = {
      {!o.product_dir.empty(), kTakesProductDir, "--product-dir"},
      {o.strict, kTakesStrict, "--strict"},
      {o.dry_run, kTakesDryRun, "--dry-run"},
      {!o.undo.empty(), kTakesUndo, "--undo"},
  };
  for (const auto& option : given)
    if (option.given && !(o.mode->options & option.option))
      return std::string(option.name) + " does not go with " + o.mode->name;
  if (o.undo.empty()) return "";
  return o.dry_run ? "--undo does not go with --dry-run"
                   : UndoIdProblem(o.undo);
}

// Returns why the arguments |o| has are not those its mode takes; empty
// when they are. Fewer without any option is no error: the short command
// line.
std::string ArgumentsRefused(const Options& o) {
  const Mode& mode = *o.mode;
  const size_t takes = Count(mode.operands);
  const std::string second = mode.operands == Operands::kArchId ? "ID" : "MASK";
  if (o.args.size() < takes && !o.any) return "";
  if (o.args.size() < takes)
    return mode.name +
           (" needs " + (takes - o.args.size() == 2 ? "ARCH and " + second
                         : takes == 1               ? "ARCH"
                                                    : second));
  if (o.args.size() > takes && !mode.extra_ignored)
    return mode.name + (" takes nothing after " +
                        (takes == 2 ? second : "ARCH") + ": \"" +
                        o.args[takes] + "\"");
  return mode.operands == Operands::kArchId ? UndoIdProblem(o.args[1]) : "";
}

// Sets |o->error| when the options do not go together, or the mode has
// not the arguments it takes; |ended| when a lone "--" ended the options.
void CheckArguments(Options* o, bool ended) {
  if (o->mode->operands == Operands::kNone) return;
  o->error = LateOption(*o, ended);
  if (o->error.empty() && !o->openni.empty() && o->openni_env)
    o->error = "--openni and --openni-env do not go together";
  if (o->error.empty()) o->error = OptionRefused(*o);
  if (o->error.empty()) o->error = ArgumentsRefused(*o);
}

// Returns why the mode |next| cannot join |current|, one given before it;
// empty when they are one.
std::string ModeClash(const Mode& current, const Mode& next) {
  if (!current.flag || &current == &next) return "";
  for (const Mode* mode : {&current, &next})
    if (mode->alone)
      return std::string(mode->flag) + " goes with no other mode";
  const bool before = Before(current, next);
  return std::string((before ? current : next).name) + " and " +
         (before ? next : current).name + " do not go together";
}

// Notes in |o| every framework folder |argv| names, wherever it stands:
// each --openni's value, as the next argument or after "=", and whether
// --openni-env is anywhere, read or not. Read as a slip would have it
// read, so that a log never goes into any of their registries.
void NoteNamedFolders(int argc, const char* const* argv, Options* o) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--openni-env") o->named_env = true;
    if (arg == "--openni" && i + 1 < argc)
      o->named_folders.push_back(argv[i + 1]);
    if (arg.starts_with("--openni="))
      o->named_folders.push_back(arg.substr(arg.find('=') + 1));
  }
}

// Takes |arg| when it is an option that takes no value, or a mode's
// flag; false when it is neither. A mode that overrides the others is
// kept aside in |*overriding|, the first of the table's order.
bool TakeFlag(const std::string& arg, Options* o, const Mode** overriding) {
  for (const FlagOption& option : kFlagOptions)
    if (arg == option.name) {
      o->*option.flag = true;
      return true;
    }
  const Mode* mode = FindMode(arg);
  if (!mode) return false;
  if (mode->overrides) {
    if (!*overriding || Before(*mode, **overriding)) *overriding = mode;
    return true;
  }
  o->error = ModeClash(*o->mode, *mode);
  if (o->error.empty()) o->mode = mode;
  return true;
}

Options ReadOptions(int argc, const char* const* argv) {
  Options o;
  const std::string only = argc == 2 ? argv[1] : "";
  o.asked_help = only == "-h" || only == "-?" || only == "/?";
  const Mode* overriding = nullptr;
  int i = 1;
  for (; i < argc && IsOption(argv[i]) && std::string(argv[i]) != "--"; ++i) {
    const std::string arg = argv[i];
    o.any = true;
    if (!TakeValue(arg, argc, argv, &i, &o) && !TakeFlag(arg, &o, &overriding))
      o.error = "unknown option \"" + arg + "\"";
    if (!o.error.empty()) return ReadLogAfterError(argc, argv, i + 1, o);
  }
  // A lone "--" ends the options, and is dropped.
  const bool ended = i < argc && std::string(argv[i]) == "--";
  o.args.assign(argv + i + ended, argv + argc);
  if (overriding) o.mode = overriding;
  CheckArguments(&o, ended);
  return o;
}

}  // namespace

Options ParseOptions(int argc, const char* const* argv) {
  Options o = ReadOptions(argc, argv);
  NoteNamedFolders(argc, argv, &o);
  if (!o.error.empty()) o.error += QuoteHint(argc, argv);
  return o;
}

std::string QuoteHint(int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i)
    if (std::string(argv[i]).find('"') != std::string::npos)
      return "; an argument holds a quote (\"): a backslash before a "
             "closing quote escapes it, and the argument runs on past it; "
             "end a folder in two backslashes (\"C:\\dir\\\\\") or in "
             "none (\"C:\\dir\")";
  return "";
}

bool WorksOnRegistry(const Options& options) {
  return options.error.empty() && options.mode->operands != Operands::kNone &&
         options.args.size() >= Count(options.mode->operands);
}

bool WantsReport(const Options& options) {
  return options.verbose || !options.log.empty();
}

std::string UndoId(const Options& options) {
  if (options.mode->operands != Operands::kArchId) return options.undo;
  return options.args.size() >= 2 ? options.args[1] : std::string();
}

}  // namespace run
