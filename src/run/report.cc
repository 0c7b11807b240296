#include "run/report.h"

#include <new>

#include "platform/lookup.h"
#include "run/status.h"

namespace run {

void SayRegistry(Outcome* out, const Workplace& place, SayFunction say) {
  say(out, "registry: " + platform::DisplayName(place.site.RegistryPath));
  Note(out, "framework folder: " + place.source);
}

std::string EntryText(const registry::ModuleEntry& entry) {
  if (!entry.hasConfigDir) return entry.path;
  return entry.path + " configDir: " + entry.configDir;
}

std::string OpenRisk(const registry::OpenPart& part) {
  return "can be changed by users who are not administrators" +
         (part.through.empty() ? "" : ", through its parent " + part.through) +
         ": any of them can choose the modules every OpenNI application loads";
}

std::string VariableHint(const Workplace& place) {
  std::string reason;
  if (place.variable_folder.empty() ||
      platform::LookUp(place.site.RegistryPath, &reason) !=
          platform::Presence::kMissing)
    return "";
  return "; the framework's variable " + place.framework_variable +
         " names \"" + place.variable_folder +
         "\": add --openni-env to read the registry there";
}

bool SayFailure(const Workplace& place, const char* doing,
                const registry::RegistryResult& result, bool out_of_memory,
                Outcome* out, bool unchanged, bool hint) {
  const std::string registry = platform::DisplayName(place.site.RegistryPath);
  const std::string cannot = std::string("cannot ") + doing + " " + registry;
  if (out_of_memory) {
    Fail(out, kExitOutOfMemory,
         cannot + ": out of memory" +
             (unchanged ? "; the registry is unchanged" : ""));
    return true;
  }
  switch (result.status) {
    case registry::RegistryStatus::kWritten:
    case registry::RegistryStatus::kUnchanged:
      return false;
    case registry::RegistryStatus::kCannotRead:
      Fail(out, kExitCannotRead,
           "cannot read " + registry + ": " + result.reason +
               (hint ? VariableHint(place) : ""));
      break;
    case registry::RegistryStatus::kCannotLock:
      Fail(out, kExitCannotLock,
           "cannot lock " + platform::DisplayName(place.site.folder) + ": " +
               result.reason);
      break;
    case registry::RegistryStatus::kCannotWrite:
      Fail(out, kExitCannotWrite,
           "cannot write " + registry + ": " + result.reason +
               "; the registry is unchanged");
      break;
    case registry::RegistryStatus::kMalformed:
      Fail(out, kExitMalformed, cannot + ": " + result.reason);
      break;
    case registry::RegistryStatus::kRefused:
      Fail(out, kExitAddedFaulty, cannot + ": " + result.reason);
      break;
  }
  return true;
}

bool LoadForReading(const Workplace& place, const char* doing, Outcome* out,
                    registry::RegistryDocument* document) {
  registry::RegistryResult result;
  registry::LoadOptions options;
  options.find_lines = true;
  bool out_of_memory = false;
  try {
    result = registry::LoadRegistryFile(place.site.RegistryPath, options,
                                        document);
  } catch (const std::bad_alloc&) {
    out_of_memory = true;
  }
  return !SayFailure(place, doing, result, out_of_memory, out, false, true);
}

std::string BreakerText(const registry::CheckedModule& breaker) {
  std::string finding;
  for (const std::string& line : registry::CheckLines(breaker, false))
    if (line.rfind(registry::kBreaksStartup, 0) == 0 && finding.empty())
      finding = line;
  return "line " + std::to_string(breaker.line) +
         " stops every application from starting: " + finding +
         "; modreg --repair takes it out";
}

std::string SayCheck(const std::vector<registry::CheckedModule>& checked,
                     const std::string& what, Outcome* out) {
  std::string first;
  for (const registry::CheckedModule& module : checked) {
    const std::vector<std::string> lines = registry::CheckLines(module, true);
    for (size_t i = 0; i < lines.size(); ++i) {
      Note(out, lines[i]);
      if (first.empty() && i < module.findings.size() &&
          registry::IsProblem(module.findings[i]))
        first = lines[i];
    }
  }
  const size_t problems = registry::CountProblems(checked);
  const std::string count = std::to_string(problems) + " problem(s)";
  Note(out, "check: " +
                (problems ? count + " with " + what : what + " are fine"));
  return problems ? "found " + count + ", the first: " + first : "";
}

}  // namespace run
