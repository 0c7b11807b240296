#include "run/modes.h"

#include <cstring>
#include <string>

#include "run/options.h"
#include "run/outcome.h"

namespace run {

const char kUsage[] =
    "usage: modreg [--verbose] [--dry-run] [--unregister] [--strict]"
    " [--log FILE] [--openni DIR | --openni-env] [--product-dir DIR]"
    " [--undo ID] ARCH MASK"
    " | --list ARCH | --check ARCH | --detect ARCH MASK | --repair ARCH"
    " | --rollback ARCH ID | --commit ARCH ID | --help | --version";

// The help text, several lines: what --help prints.
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

// One line each: kHelp ends with a line end.
void RunHelp(const Options&, const Workplace&, Outcome* out) {
  for (const char* line = kHelp; *line; line += strcspn(line, "\n") + 1)
    Say(out, std::string(line, strcspn(line, "\n")));
}

void RunVersion(const Options&, const Workplace&, Outcome* out) {
  Say(out, "modreg " MODREG_VERSION);
}

constexpr unsigned kAllOptions =
    kTakesDryRun | kTakesStrict | kTakesUndo | kTakesProductDir;

// In the order messages name two modes.
const Mode kModes[] = {
    {.name = "a registration", .operands = Operands::kArchMask,
     .options = kAllOptions, .writes = true, .entries = true,
     .extra_ignored = true, .run = RunUpdate},
    {.flag = "--unregister", .name = "--unregister",
     .operands = Operands::kArchMask, .options = kAllOptions, .writes = true,
     .no_framework = NoFramework::kNothingToRemove, .run = RunUpdate},
    {.flag = "--list", .name = "--list", .operands = Operands::kArch,
     .running_framework = true, .run = RunList},
    {.flag = "--check", .name = "--check", .operands = Operands::kArch,
     .running_framework = true, .alone = true, .run = RunCheck},
    {.flag = "--detect", .name = "--detect", .operands = Operands::kArchMask,
     .options = kTakesProductDir, .entries = true, .needs_device = true,
     .no_framework = NoFramework::kAnswer, .quiet_log = true,
     .run = RunDetect},
    {.flag = "--repair", .name = "--repair", .operands = Operands::kArch,
     .options = kTakesDryRun, .writes = true, .run = RunRepair},
    {.flag = "--rollback", .name = "--rollback", .operands = Operands::kArchId,
     .writes = true, .no_framework = NoFramework::kNothingToPutBack,
     .run = RunRollback},
    {.flag = "--commit", .name = "--commit", .operands = Operands::kArchId,
     .writes = true, .no_framework = NoFramework::kNothingToPutBack,
     .run = RunCommit},
    {.flag = "--help", .name = "--help", .overrides = true, .run = RunHelp},
    {.flag = "--version", .name = "--version", .overrides = true,
     .run = RunVersion},
};

}  // namespace

const Mode& Registration() { return kModes[0]; }

const Mode* FindMode(const std::string& flag) {
  for (const Mode& mode : kModes)
    if (mode.flag && flag == mode.flag) return &mode;
  return nullptr;
}

bool Before(const Mode& a, const Mode& b) { return &a < &b; }

}  // namespace run
