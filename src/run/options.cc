#include "run/options.h"

#include <algorithm>

#include "registry/undo.h"

namespace run {

const char kUsage[] =
    "usage: modreg [--verbose] [--dry-run] [--unregister] [--strict]"
    " [--log FILE] [--openni DIR | --openni-env] [--product-dir DIR]"
    " [--undo ID] ARCH MASK"
    " | --list ARCH | --check ARCH | --detect ARCH MASK | --repair ARCH"
    " | --rollback ARCH ID | --commit ARCH ID | --help | --version";

const char kHelp[] =
    "usage: modreg [--verbose] [--dry-run] [--unregister] [--strict] [--log FILE]\n"
    "              [--openni DIR | --openni-env] [--product-dir DIR] [--undo ID]\n"
    "              ARCH MASK\n"
    "       modreg [--verbose] [--log FILE] [--openni DIR | --openni-env] --list ARCH\n"
    "       modreg [--verbose] [--log FILE] [--openni DIR | --openni-env] --check ARCH\n"
    "       modreg [--verbose] [--log FILE] [--openni DIR | --openni-env]\n"
    "              [--product-dir DIR] --detect ARCH MASK\n"
    "       modreg [--verbose] [--dry-run] [--log FILE] [--openni DIR | --openni-env]\n"
    "              --repair ARCH\n"
    "       modreg [--verbose] [--log FILE] [--openni DIR | --openni-env]\n"
    "              --rollback ARCH ID | --commit ARCH ID\n"
    "       modreg --help | --version\n"
    "\n"
    "Registers the device modules that MASK names with the OpenNI framework's\n"
    "registry, ROOT\\OpenNI\\Data\\modules.xml, replacing the product's old\n"
    "entries. ROOT is C:\\Program Files, or C:\\Program Files (x86) when ARCH\n"
    "is x86 on 64-bit Windows. MASK is a decimal number; bits 0 to 5 name\n"
    "device types 1 to 6.\n"
    "\n"
    "  --unregister  remove the product's entries (MASK chooses the product)\n"
    "  --list        print the registered modules, each marked \"module:\" or\n"
    "                with the kind of its first problem, as --check names it\n"
    "  --check       print what the framework will do wrong with each\n"
    "                registered module; status 0 when nothing, 1 when anything\n"
    "  --detect      for deployment tools: one line and status 0 when every\n"
    "                entry a registration would add is there and sound;\n"
    "                nothing and status 0 when not\n"
    "  --repair      remove the entries that stop every application from\n"
    "                starting (--check's breaks-startup)\n"
    "  --dry-run     print the entries that would be removed and added, write\n"
    "                nothing; status 0 when the registry would keep its bytes,\n"
    "                1 when they would change\n"
    "  --strict      for installers: ARCH other than x86 or x64, or a MASK\n"
    "                that is not plain decimal or names bits above 5, is a\n"
    "                usage error; a problem with the entries a registration\n"
    "                would add is status 8, and nothing is written\n"
    "  --verbose     report what was done\n"
    "  --log FILE    append a header, the report of --verbose, every message\n"
    "                and the exit status to FILE\n"
    "  --openni DIR  the framework's folder: the registry is\n"
    "                DIR\\Data\\modules.xml\n"
    "  --openni-env  the framework's folder from OPEN_NI_INSTALL_PATH (ARCH x86)\n"
    "                or OPEN_NI_INSTALL_PATH64, the machine's value first\n"
    "  --product-dir DIR\n"
    "                the folder the product's modules were installed in\n"
    "  --undo ID     for installers: before the registry is replaced, keep\n"
    "                what the run changes beside it, ID's undo record\n"
    "  --rollback    put back what the run of ID changed (its undo record);\n"
    "                nothing recorded is status 0\n"
    "  --commit      drop the undo record of ID: its action succeeded\n"
    "  --help        print this help\n"
    "  --version     print the version\n"
    "\n"
    "Options come before ARCH, never after it; \"--\" ends them. A value\n"
    "(DIR, FILE) comes as the next argument or after \"=\", after \"=\" when\n"
    "it begins with \"--\"; DIR is absolute (C:\\... or \\\\server\\share).\n";

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

std::string Extra(const char* mode, const char* last, const std::string& arg) {
  return std::string(mode) + " takes nothing after " + last + ": \"" + arg +
         "\"";
}

// The arguments |mode| needs, given |have| of them; |second| names the
// second.
std::string Missing(const char* mode, size_t needs, size_t have,
                    const char* second = "MASK") {
  std::string what = needs - have == 2 ? std::string("ARCH and ") + second
                     : needs == 1      ? std::string("ARCH")
                                       : std::string(second);
  return std::string(mode) + " needs " + what;
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

const char* ModeName(Mode mode) {
  switch (mode) {
    case Mode::kUnregister: return "--unregister";
    case Mode::kList: return "--list";
    case Mode::kCheck: return "--check";
    case Mode::kDetect: return "--detect";
    case Mode::kRepair: return "--repair";
    case Mode::kRollback: return "--rollback";
    case Mode::kCommit: return "--commit";
    default: return "a registration";
  }
}

// Returns why |id| is no ID of an undo record; empty when it is one.
std::string UndoIdProblem(const std::string& id) {
  if (registry::IsUndoId(id)) return "";
  return "invalid ID \"" + id + "\": expected 1 to " +
         std::to_string(registry::kMaxUndoId) +
         " letters, digits, \"{\", \"}\" and \"-\", not beginning with "
         "\"-\"";
}

// Returns why |o|'s options do not go with its mode, one that takes ARCH
// alone or, for --detect, ARCH and MASK; empty when they do.
std::string RefusedWithMode(const Options& o) {
  const char* mode = ModeName(o.mode);
  if (!o.product_dir.empty() && o.mode != Mode::kDetect)
    return std::string("--product-dir does not go with ") + mode;
  if (o.strict) return std::string("--strict does not go with ") + mode;
  if (o.dry_run && o.mode != Mode::kRepair)
    return std::string("--dry-run does not go with ") + mode;
  if (!o.undo.empty()) return std::string("--undo does not go with ") + mode;
  const bool takes_id = o.mode == Mode::kRollback || o.mode == Mode::kCommit;
  const char* second = takes_id ? "ID" : "MASK";
  const size_t takes = o.mode == Mode::kDetect || takes_id ? 2 : 1;
  if (o.args.size() < takes)
    return Missing(mode, takes, o.args.size(), second);
  if (o.args.size() > takes)
    return Extra(mode, takes == 2 ? second : "ARCH", o.args[takes]);
  if (takes_id) return UndoIdProblem(o.args[1]);
  return "";
}

// Sets |o->error| when the options do not go together, or the mode has
// not the arguments it takes; |ended| when a lone "--" ended the options.
void CheckArguments(Options* o, bool ended) {
  if (o->mode == Mode::kHelp || o->mode == Mode::kVersion) return;
  o->error = LateOption(*o, ended);
  if (!o->error.empty()) return;
  if (!o->openni.empty() && o->openni_env) {
    o->error = "--openni and --openni-env do not go together";
    return;
  }
  if (o->mode != Mode::kRegister && o->mode != Mode::kUnregister) {
    o->error = RefusedWithMode(*o);
    return;
  }
  const char* mode = ModeName(o->mode);
  if (!o->undo.empty() && o->dry_run) {
    o->error = "--undo does not go with --dry-run";
    return;
  }
  if (!o->undo.empty()) o->error = UndoIdProblem(o->undo);
  if (!o->error.empty()) return;
  if (o->args.size() < 2) {
    if (o->any) o->error = Missing(mode, 2, o->args.size());
  } else if (o->args.size() > 2 && o->mode == Mode::kUnregister) {
    o->error = Extra(mode, "MASK", o->args[2]);
  }
}

// Returns why the mode |next| cannot join |current|, one given before it;
// empty when they are one.
std::string ModeClash(Mode current, Mode next) {
  if (current == Mode::kRegister || current == next) return "";
  if (current == Mode::kCheck || next == Mode::kCheck)
    return "--check goes with no other mode";
  return std::string(ModeName(std::min(current, next))) + " and " +
         ModeName(std::max(current, next)) + " do not go together";
}

// Notes in |o| every framework folder |argv| names, wherever it stands:
// each --openni's value, as the next argument or after "=", and whether
// --openni-env is anywhere, read or not. Read as a slip would have it
// read, so that a log never goes into any of their registries.
void NoteNamedFolders(int argc, const char* const* argv, Options* o) {
  const std::string inline_name = "--openni=";
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--openni-env") o->named_env = true;
    if (arg == "--openni" && i + 1 < argc)
      o->named_folders.push_back(argv[i + 1]);
    if (arg.compare(0, inline_name.size(), inline_name) == 0)
      o->named_folders.push_back(arg.substr(inline_name.size()));
  }
}

Options ReadOptions(int argc, const char* const* argv) {
  Options o;
  if (argc == 2)
    for (const char* ask : {"-h", "-?", "/?"})
      o.asked_help = o.asked_help || std::string(argv[1]) == ask;
  bool help = false, version = false, ended = false;
  int i = 1;
  for (; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--") {
      ended = true;
      ++i;
      break;
    }
    if (!IsOption(arg)) break;
    o.any = true;
    Mode mode = o.mode;
    if (TakeValue(arg, argc, argv, &i, &o)) {
      if (!o.error.empty()) return ReadLogAfterError(argc, argv, i + 1, o);
      continue;
    }
    if (arg == "--unregister") mode = Mode::kUnregister;
    else if (arg == "--list") mode = Mode::kList;
    else if (arg == "--check") mode = Mode::kCheck;
    else if (arg == "--detect") mode = Mode::kDetect;
    else if (arg == "--repair") mode = Mode::kRepair;
    else if (arg == "--rollback") mode = Mode::kRollback;
    else if (arg == "--commit") mode = Mode::kCommit;
    else if (arg == "--dry-run") o.dry_run = true;
    else if (arg == "--verbose") o.verbose = true;
    else if (arg == "--strict") o.strict = true;
    else if (arg == "--openni-env") o.openni_env = true;
    else if (arg == "--help") help = true;
    else if (arg == "--version") version = true;
    else {
      o.error = "unknown option \"" + arg + "\"";
      return ReadLogAfterError(argc, argv, i + 1, o);
    }
    o.error = ModeClash(o.mode, mode);
    if (!o.error.empty()) return ReadLogAfterError(argc, argv, i + 1, o);
    o.mode = mode;
  }
  for (; i < argc; ++i) o.args.push_back(argv[i]);
  if (help) o.mode = Mode::kHelp;
  else if (version) o.mode = Mode::kVersion;
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

}  // namespace run
