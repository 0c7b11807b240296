#include "run/modes.h"

#include <string>
#include <vector>

#include "platform/ansi.h"
#include "platform/lookup.h"
#include "platform/winpath.h"
#include "registry/check.h"
#include "run/report.h"
#include "run/status.h"

namespace run {

namespace winpath = platform::winpath;

namespace {

// Says that the product is not registered, and why, in the verbose report
// and the log only: a detection prints nothing then.
void NotRegistered(Outcome* out, const std::string& why) {
  Note(out, "not registered: " + why);
}

// Returns the first of |checked| with a path that is |entry| as Windows
// compares paths, or null. Both in the registry's ANSI code page.
const registry::CheckedModule* FindEntry(const std::vector<registry::CheckedModule>& checked,
                               const registry::ModuleEntry& entry) {
  const winpath::CodePage& cp = platform::AnsiCodePage();
  for (const registry::CheckedModule& module : checked)
    if (module.has_path && module.entry.hasConfigDir == entry.hasConfigDir &&
        winpath::Same(winpath::Normalized(module.entry.path, cp),
                      winpath::Normalized(entry.path, cp), cp) &&
        winpath::Same(winpath::Normalized(module.entry.configDir, cp),
                      winpath::Normalized(entry.configDir, cp), cp))
      return &module;
  return nullptr;
}

}  // namespace

void RunList(const Options&, const Workplace& place, Outcome* out) {
  registry::RegistryDocument document;
  if (!LoadForReading(place, "list", out, &document)) return;
  const std::vector<registry::CheckedModule> listed =
      registry::ListDocument(document, place.framework_bits);
  SayRegistry(out, place, Say);
  for (const registry::CheckedModule& module : listed)
    if (!module.has_path)  // as --check says it
      Say(out, registry::CheckLines(module, false)[0]);
    else
      Say(out, (module.findings.empty() ? std::string("module")
                                        : module.findings[0].kind) +
                   ": " + EntryText(module.entry));
}

void RunCheck(const Options&, const Workplace& place, Outcome* out) {
  registry::RegistryDocument document;
  if (!LoadForReading(place, "check", out, &document)) return;
  const std::vector<registry::CheckedModule> checked =
      registry::CheckDocument(document, place.framework_bits);
  SayRegistry(out, place);
  // The name first, then what others can do, in parentheses.
  const std::vector<registry::OpenPart> open = registry::OpenParts(place.site);
  for (const registry::OpenPart& part : open)
    Say(out, "unsafe: " + platform::DisplayName(part.name) + " (" +
                 OpenRisk(part) + ")");
  for (const registry::CheckedModule& module : checked)
    for (const std::string& line : registry::CheckLines(module, true))
      (module.findings.empty() ? Note : Say)(out, line);
  // What installers left behind; no problem of the framework's.
  SayUndoRecords(place, out);
  if (!open.empty() || registry::CountProblems(checked))
    out->status = kExitFound;
}

void RunDetect(const Options&, const Workplace& place, Outcome* out) {
  // No framework where its variable should say: nothing registered.
  if (!place.nothing_to_do.empty())
    return NotRegistered(out, place.nothing_to_do);
  SayRegistry(out, place);
  std::string reason;
  if (platform::LookUp(place.site.RegistryPath, &reason) ==
      platform::Presence::kMissing)
    return NotRegistered(out, "no registry");
  registry::RegistryDocument document;
  if (!LoadForReading(place, "read", out, &document)) return;
  const std::vector<registry::CheckedModule> checked =
      registry::CheckDocument(document, place.framework_bits);
  // Nothing is registered where no application starts.
  const std::vector<registry::CheckedModule> breakers =
      registry::StartupBreakers(checked);
  if (!breakers.empty()) return NotRegistered(out, BreakerText(breakers[0]));
  for (const registry::ModuleEntry& entry : place.entries) {
    const registry::CheckedModule* module = FindEntry(checked, entry);
    if (!module) return NotRegistered(out, "no entry " + EntryText(entry));
    const std::vector<std::string> lines = registry::CheckLines(*module, false);
    for (size_t i = 0; i < module->findings.size(); ++i)
      if (registry::IsProblem(module->findings[i]))
        return NotRegistered(out, lines[i]);
  }
  Say(out, "registered: " + platform::DisplayName(place.site.RegistryPath));
}

}  // namespace run
