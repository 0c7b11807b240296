#include "registry/check.h"

#include <algorithm>
#include <new>
#include <unordered_map>

#include "platform/ansi.h"
#include "platform/files.h"
#include "platform/lookup.h"
#include "platform/process.h"
#include "platform/winpath.h"
#include "registry/pe.h"

namespace registry {

const char kBreaksStartup[] = "breaks-startup";
const char kMissing[] = "missing";
const char kSkipped[] = "skipped";
const char kMayHang[] = "may-hang";
const char kRefused[] = "refused";
const char kRelative[] = "relative";
const char kUnreadable[] = "unreadable";
const char kDevice[] = "device";
const char kRepeated[] = "repeated";

namespace {

using platform::FileKind;

// The entry points the framework's loader looks up in every module.
const char* const kEntryPoints[] = {
    "xnModuleLoad", "xnModuleUnload", "xnModuleGetExportedNodesCount",
    "xnModuleGetExportedNodesEntryPoints", "xnModuleGetOpenNIVersion"};

// |path| (in UTF-8) as this process reaches the file that a framework of
// |bits| loads: a file in the system folder may be another one for it.
std::string FrameworkView(const std::string& path, int bits) {
  std::string system, seen_as;
  if (!platform::FrameworkSystemFolder(bits, &system, &seen_as) ||
      !winpath::IsUnder(path, system, winpath::Utf8()))
    return path;
  return seen_as + path.substr(system.size());
}

// What the system loader, and then the framework, make of the module file.
void CheckModuleFile(const std::string& path, int bits,
                     std::vector<Finding>* out) {
  auto add = [&](const char* kind, std::string what) {
    out->push_back({kind, path, std::move(what)});
  };
  std::string host, error, device;
  // Never opened: reading a console or a port may wait for ever.
  if (winpath::ReservedDeviceName(path, platform::AnsiCodePage(), &device))
    return add(kDevice, device + " is a reserved device name: the system "
                                 "opens the device, not a file");
  // The registry's paths are in the ANSI code page, the system's in UTF-8.
  switch (platform::LookUpFile(FrameworkView(platform::FromAnsi(path), bits),
                               &host, &error)) {
    case FileKind::kRelative:
      return add(kRelative, "not an absolute path: the system loader "
                            "searches for it");
    case FileKind::kMissing:
      return add(kMissing, "no such file");
    case FileKind::kFolder:
      return add(kMissing, "a folder, not a file");
    case FileKind::kOther:
      return add(kMissing, "not a regular file");
    case FileKind::kUnreadable:
      return add(kUnreadable, "cannot look it up: " + error);
    case FileKind::kFile:
      break;
  }
  ByteBuffer bytes;
  try {
    if (!platform::ReadWholeFile(host, &bytes, &error))
      return add(kUnreadable, "cannot read it: " + error);
  } catch (const std::bad_alloc&) {  // a file larger than memory
    return add(kUnreadable, "cannot read it: out of memory");
  }
  const PeImage image = ReadPeImage(
      reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
  if (image.status == PeStatus::kNotPe || image.status == PeStatus::kDamaged)
    return add(kSkipped, "not a DLL: " + image.problem);
  if (!image.dll) return add(kSkipped, "not a DLL: a program");
  const int width = image.machine == kMachineI386    ? 32
                    : image.machine == kMachineAmd64 ? 64
                                                     : 0;
  if (width == 0) {
    char machine[8];
    snprintf(machine, sizeof machine, "%04x", image.machine);
    return add(kSkipped, std::string("a module for another processor "
                                     "(machine 0x") + machine + ")");
  }
  if (width != image.bits)
    return add(kSkipped, "not a DLL: its machine and its header disagree");
  if (width != bits)
    return add(kSkipped, std::to_string(width) + "-bit module, " +
                             std::to_string(bits) + "-bit framework");
  if (image.status == PeStatus::kPastBounds)
    return add(kUnreadable, "past the check's bounds: " + image.problem);
  std::string absent;
  for (const char* name : kEntryPoints) {
    bool found = false;
    for (const std::string& e : image.exports) found = found || e == name;
    if (!found) absent += (absent.empty() ? "no " : ", ") + std::string(name);
  }
  if (!absent.empty()) add(kBreaksStartup, absent);
}

void CheckConfigDir(const ModuleEntry& entry, std::vector<Finding>* out) {
  if (!entry.hasConfigDir || entry.configDir.empty()) return;
  auto add = [&](const char* kind, const std::string& what) {
    out->push_back({kind, entry.path, "configDir " + what});
  };
  std::string host, error;
  switch (platform::LookUpFile(platform::FromAnsi(entry.configDir), &host,
                               &error)) {
    case FileKind::kFolder:
      return;
    case FileKind::kRelative:
      return add(kRelative, entry.configDir + " is not an absolute path");
    case FileKind::kMissing:
      return add(kMayHang, entry.configDir + " does not exist");
    case FileKind::kFile:
    case FileKind::kOther:
      return add(kMayHang, entry.configDir + " is not a folder");
    case FileKind::kUnreadable:
      return add(kUnreadable, entry.configDir + ": " + error);
  }
}

}  // namespace

int FrameworkBits(const std::string& arch) { return arch == "x86" ? 32 : 64; }

std::vector<CheckedModule> CheckEntries(const std::vector<ModuleEntry>& entries,
                                        int bits, size_t first,
                                        const std::vector<size_t>& lines) {
  std::vector<CheckedModule> checked;
  std::unordered_map<std::string, size_t> paths, names;  // first entry
  // The entries' paths are the registry's bytes, in the ANSI code page.
  const winpath::CodePage& cp = platform::AnsiCodePage();
  // Where the earlier entry |i| is, when the lines are known.
  auto at = [&](size_t i) {
    return i < lines.size() ? " at line " + std::to_string(lines[i]) : "";
  };
  for (size_t i = 0; i < entries.size(); ++i) {
    const ModuleEntry& entry = entries[i];
    const std::string key =
        winpath::Folded(winpath::Normalized(entry.path, cp), cp);
    auto same = paths.emplace(key, i);
    auto name = names.emplace(winpath::LastComponent(key, cp), i);
    if (i < first) continue;
    CheckedModule module{entry, true, 0, {}};
    CheckModuleFile(entry.path, bits, &module.findings);
    const ModuleEntry& earlier = entries[same.first->second];
    if (!same.second && earlier.hasConfigDir == entry.hasConfigDir &&
        winpath::Same(winpath::Normalized(earlier.configDir, cp),
                      winpath::Normalized(entry.configDir, cp), cp))
      module.findings.push_back(
          {kRepeated, entry.path,
           same.first->second < lines.size()
               ? "repeats the entry" + at(same.first->second)
               : "repeats an earlier entry"});
    else if (!same.second)
      module.findings.push_back(
          {kRefused, entry.path,
           "the same module as an earlier entry" + at(same.first->second)});
    else if (!name.second)
      module.findings.push_back(
          {kRefused, entry.path,
           "the same file name as " + entries[name.first->second].path +
               ", registered earlier" + at(name.first->second)});
    CheckConfigDir(entry, &module.findings);
    checked.push_back(std::move(module));
  }
  return checked;
}

CheckedModule PathlessModule(size_t line) {
  CheckedModule module;
  module.has_path = false;
  module.line = line;
  module.findings.push_back(
      {kBreaksStartup, "line " + std::to_string(line), "Module without path"});
  return module;
}

std::vector<CheckedModule> CheckDocument(const RegistryDocument& document,
                                         int bits) {
  // Of every Module element in order: its line; of those with a path: the
  // entry, its line.
  std::vector<const rapidxml::xml_node<char>*> nodes;
  std::vector<size_t> lines, entry_lines;
  std::vector<ModuleEntry> entries;
  WalkModules(document.modules, [&](const ModulesChild& child) {
    if (!child.is_module) return;
    nodes.push_back(child.node);
    lines.push_back(LineOf(document, child.node));
    if (!child.path) return;
    entries.push_back(EntryOf(child.node));
    entry_lines.push_back(lines.back());
  });
  std::vector<CheckedModule> found = CheckEntries(entries, bits, 0, entry_lines);
  std::vector<CheckedModule> checked;
  size_t next = 0;
  for (size_t i = 0; i < nodes.size(); ++i) {
    checked.push_back(PathAttribute(nodes[i]) ? std::move(found[next++])
                                              : PathlessModule(lines[i]));
    checked.back().line = lines[i];
    checked.back().node = nodes[i];
  }
  return checked;
}

std::vector<const rapidxml::xml_node<char>*> BreakingModules(
    const RegistryDocument& document, int bits) {
  std::vector<const rapidxml::xml_node<char>*> nodes;
  for (const CheckedModule& module : CheckDocument(document, bits))
    for (const Finding& finding : module.findings)
      if (finding.kind == kBreaksStartup) {
        nodes.push_back(module.node);
        break;
      }
  return nodes;
}

std::vector<CheckedModule> CheckAppended(
    const RegistryDocument& document, int bits, size_t added,
    const std::vector<size_t>* written_lines) {
  std::vector<ModuleEntry> entries;
  std::vector<size_t> lines;
  WalkModules(document.modules, [&](const ModulesChild& child) {
    if (!child.is_module || !child.path) return;
    entries.push_back(EntryOf(child.node));
  });
  const size_t first = entries.size() - std::min(added, entries.size());
  if (written_lines) {
    lines = *written_lines;
  } else {
    // The earlier entries are the loaded text's own elements.
    WalkModules(document.modules, [&](const ModulesChild& child) {
      if (child.is_module && child.path && lines.size() < first)
        lines.push_back(LineOf(document, child.node));
    });
  }
  return CheckEntries(entries, bits, first, lines);
}

bool IsProblem(const Finding& finding) { return finding.kind != kRepeated; }

size_t CountProblems(const std::vector<CheckedModule>& checked) {
  size_t count = 0;
  for (const CheckedModule& module : checked)
    for (const Finding& finding : module.findings) count += IsProblem(finding);
  return count;
}

std::vector<std::string> CheckLines(const CheckedModule& module, bool fine) {
  std::vector<std::string> lines;
  for (const Finding& f : module.findings)
    lines.push_back(std::string(f.kind) + ": " + f.where + " (" + f.what + ")");
  if (lines.empty() && fine) lines.push_back("module: " + module.entry.path);
  return lines;
}

}  // namespace registry
