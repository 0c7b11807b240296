#include "run/options.h"

const char kUsage[] =
    "usage: modreg [--verbose] [--dry-run] [--unregister] [--log FILE] ARCH"
    " MASK | --list ARCH | --check ARCH | --help | --version";

const char kHelp[] =
    "usage: modreg [--verbose] [--dry-run] [--unregister] [--log FILE] ARCH MASK\n"
    "       modreg [--verbose] [--log FILE] --list ARCH\n"
    "       modreg [--verbose] [--log FILE] --check ARCH\n"
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
    "  --dry-run     print the entries that would be removed and added, write\n"
    "                nothing; status 0 when the registry would keep its bytes,\n"
    "                1 when they would change\n"
    "  --verbose     report what was done\n"
    "  --log FILE    append a header, the report of --verbose, every message\n"
    "                and the exit status to FILE (--log=FILE too)\n"
    "  --help        print this help\n"
    "  --version     print the version\n"
    "\n"
    "Options come before ARCH, never after it; \"--\" ends them.\n";

namespace {

bool IsOption(const std::string& arg) { return arg.compare(0, 2, "--") == 0; }

// --log FILE, or --log=FILE: whether |arg|, |argv|[*i], is one; the file,
// or the error, in |o|. The first form takes the next argument, whatever
// it is.
bool TakeValue(const std::string& arg, int argc, const char* const* argv,
               int* i, Options* o) {
  if (arg.compare(0, 6, "--log=") == 0) {
    o->log = arg.substr(6);
  } else if (arg == "--log") {
    o->log = *i + 1 < argc ? argv[++*i] : "";
  } else {
    return false;
  }
  if (o->log.empty()) o->error = "--log needs FILE";
  return true;
}

std::string Extra(const char* mode, const char* last, const std::string& arg) {
  return std::string(mode) + " takes nothing after " + last + ": \"" + arg +
         "\"";
}

// The arguments |mode| needs, given |have| of them.
std::string Missing(const char* mode, size_t needs, size_t have) {
  std::string what = needs - have == 2 ? "ARCH and MASK"
                     : needs == 1      ? "ARCH"
                                       : "MASK";
  return std::string(mode) + " needs " + what;
}

// An option after the arguments the mode takes (ARCH, or ARCH and MASK)
// would otherwise be ignored or taken for an argument, whatever it asks.
// After a lone "--" there are no options.
std::string LateOption(const Options& o, bool ended) {
  const bool arch_only = o.mode == Mode::kList || o.mode == Mode::kCheck;
  const size_t takes = arch_only ? 1 : 2;
  if (ended || o.args.size() <= takes) return "";
  for (size_t i = takes; i < o.args.size(); ++i)
    if (IsOption(o.args[i]))
      return "options come before ARCH: \"" + o.args[i] + "\"";
  return "";
}

// After a usage error the remaining options are read for --log only, so
// that the log, wherever it was named, gets the error too.
Options ReadLogAfterError(int argc, const char* const* argv, int i, Options o) {
  const std::string error = o.error;
  for (; i < argc && IsOption(argv[i]) && std::string(argv[i]) != "--"; ++i) {
    const std::string log = o.log;
    if (TakeValue(argv[i], argc, argv, &i, &o) && o.log.empty()) o.log = log;
  }
  o.error = error;
  return o;
}

void Check(Options* o, bool ended) {
  if (o->mode == Mode::kHelp || o->mode == Mode::kVersion) return;
  o->error = LateOption(*o, ended);
  if (!o->error.empty()) return;
  if (o->mode == Mode::kCheck) {
    if (o->dry_run) o->error = "--dry-run does not go with --check";
    else if (o->args.empty()) o->error = Missing("--check", 1, 0);
    else if (o->args.size() > 1) o->error = Extra("--check", "ARCH", o->args[1]);
    return;
  }
  if (o->mode == Mode::kList) {
    if (o->dry_run) o->error = "--dry-run does not go with --list";
    else if (o->args.empty()) o->error = Missing("--list", 1, 0);
    else if (o->args.size() > 1) o->error = Extra("--list", "ARCH", o->args[1]);
    return;
  }
  const char* mode =
      o->mode == Mode::kUnregister ? "--unregister" : "a registration";
  if (o->args.size() < 2) {
    if (o->any) o->error = Missing(mode, 2, o->args.size());
  } else if (o->args.size() > 2 && o->mode == Mode::kUnregister) {
    o->error = Extra(mode, "MASK", o->args[2]);
  }
}

}  // namespace

Options ParseOptions(int argc, const char* const* argv) {
  Options o;
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
    if (arg == "--unregister") mode = Mode::kUnregister;
    else if (arg == "--list") mode = Mode::kList;
    else if (arg == "--check") mode = Mode::kCheck;
    else if (arg == "--dry-run") o.dry_run = true;
    else if (arg == "--verbose") o.verbose = true;
    else if (arg == "--help") help = true;
    else if (arg == "--version") version = true;
    else if (TakeValue(arg, argc, argv, &i, &o)) {
      if (!o.error.empty()) return o;
    } else {
      o.error = "unknown option \"" + arg + "\"";
      return ReadLogAfterError(argc, argv, i + 1, o);
    }
    if (o.mode != Mode::kRegister &&
        (o.mode == Mode::kCheck) != (mode == Mode::kCheck)) {
      o.error = "--check goes with no other mode";
      return ReadLogAfterError(argc, argv, i + 1, o);
    }
    if (o.mode != Mode::kRegister && mode != o.mode) {
      o.error = "--unregister and --list do not go together";
      return ReadLogAfterError(argc, argv, i + 1, o);
    }
    o.mode = mode;
  }
  for (; i < argc; ++i) o.args.push_back(argv[i]);
  if (help) o.mode = Mode::kHelp;
  else if (version) o.mode = Mode::kVersion;
  Check(&o, ended);
  return o;
}
