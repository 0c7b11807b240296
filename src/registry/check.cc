#include "registry/check.h"

#include <algorithm>
#include <functional>
#include <new>
#include <optional>
#include <unordered_map>

#include "platform/ansi.h"
#include "platform/files.h"
#include "platform/lookup.h"
#include "platform/process.h"
#include "platform/winpath.h"
#include "registry/pe.h"

namespace registry {

namespace winpath = platform::winpath;

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
  for (const char* name : kEntryPoints)
    if (!std::count(image.exports.begin(), image.exports.end(), name))
      absent += (absent.empty() ? "no " : ", ") + std::string(name);
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

// A Module element without path, at |line| of the file: it breaks the
// framework's start-up.
CheckedModule PathlessModule(size_t line) {
  return {ModuleEntry{}, false, line,
          {{kBreaksStartup, "line " + std::to_string(line),
            "Module without path"}},
          nullptr};
}

}  // namespace

// Tells whether the framework loads a module file whose check found
// |findings|: the file is there, a DLL of its width with its entry points.
bool Loads(const std::vector<Finding>& findings) {
  for (const Finding& f : findings)
    if (f.kind == kMissing || f.kind == kSkipped || f.kind == kUnreadable ||
        f.kind == kBreaksStartup || f.kind == kDevice)
      return false;
  return true;
}

std::vector<CheckedModule> CheckEntries(const std::vector<ModuleEntry>& entries,
                                        int bits, size_t first,
                                        const std::vector<size_t>& lines) {
  std::vector<CheckedModule> checked;
  // Of each path and each file name, the entries that name it, in order.
  std::unordered_map<std::string, std::vector<size_t>> paths, names;
  // Whether the framework loads entry |i|, told once: an entry before
  // |first| is looked at only when it may be a rival.
  std::vector<signed char> loads(entries.size(), -1);
  auto loaded = [&](size_t i) {
    if (loads[i] < 0) {
      std::vector<Finding> findings;
      CheckModuleFile(entries[i].path, bits, &findings);
      loads[i] = Loads(findings);
    }
    return loads[i] == 1;
  };
  // The first of |earlier| that the framework loads: only that one wins
  // over a later entry; a missing or skipped one is no rival.
  auto rival = [&](const std::vector<size_t>& earlier) -> std::optional<size_t> {
    for (size_t j : earlier)
      if (loaded(j)) return j;
    return std::nullopt;
  };
  // The entries' paths are the registry's bytes, in the ANSI code page.
  const winpath::CodePage& cp = platform::AnsiCodePage();
  // Where the earlier entry |i| is, when the lines are known.
  auto at = [&](size_t i) {
    return i < lines.size() ? " at line " + std::to_string(lines[i]) : "";
  };
  for (size_t i = 0; i < entries.size(); ++i) {
    const ModuleEntry& entry = entries[i];
    const std::string key = winpath::Folded(winpath::Normalized(entry.path, cp), cp);
    std::vector<size_t>& same = paths[key];
    std::vector<size_t>& name = names[std::string(winpath::LastComponent(key, cp))];
    if (i >= first) {
      CheckedModule module{entry, true, 0, {}, nullptr};
      CheckModuleFile(entry.path, bits, &module.findings);
      loads[i] = Loads(module.findings);
      const std::optional<size_t> same_rival = rival(same);
      const std::optional<size_t> name_rival =
          same_rival ? same_rival : rival(name);
      if (!same.empty() &&
          entries[same[0]].hasConfigDir == entry.hasConfigDir &&
          winpath::Same(winpath::Normalized(entries[same[0]].configDir, cp),
                        winpath::Normalized(entry.configDir, cp), cp))
        module.findings.push_back(
            {kRepeated, entry.path,
             same[0] < lines.size() ? "repeats the entry" + at(same[0])
                                    : "repeats an earlier entry"});
      else if (same_rival)
        module.findings.push_back(
            {kRefused, entry.path,
             "the same module as an earlier entry" + at(*same_rival)});
      else if (name_rival)
        module.findings.push_back(
            {kRefused, entry.path,
             "the same file name as " + entries[*name_rival].path +
                 ", registered earlier" + at(*name_rival)});
      CheckConfigDir(entry, &module.findings);
      checked.push_back(std::move(module));
    }
    same.push_back(i);
    name.push_back(i);
  }
  return checked;
}

std::string ModuleFileName(const std::string& path) {
  const winpath::CodePage& cp = platform::AnsiCodePage();
  const std::string key = winpath::Folded(winpath::Normalized(path, cp), cp);
  return std::string(winpath::LastComponent(key, cp));
}

std::vector<CheckedModule> CheckDocument(const RegistryDocument& document,
                                         int bits,
                                         const std::vector<size_t>* lines) {
  const char* text = document.text.data();
  const std::less_equal<const char*> le;
  // Of every Module element in order: its line; of those with a path: the
  // entry, its line.
  std::vector<const rapidxml::xml_node<char>*> nodes;
  std::vector<size_t> at, entry_lines;
  std::vector<ModuleEntry> entries;
  WalkModules(document.modules, [&](const ModulesChild& child) {
    if (!child.is_module) return;
    const size_t i = nodes.size();
    nodes.push_back(child.node);
    const char* name = child.node->name();
    at.push_back(lines ? (i < lines->size() ? (*lines)[i] : 0)
                 : le(text, name) && !le(text + document.text.size(), name)
                     ? LineOf(document, child.node)
                     : 0);
    if (!child.path) return;
    entries.push_back(EntryOf(child.node));
    entry_lines.push_back(at.back());
  });
  std::vector<CheckedModule> found = CheckEntries(entries, bits, 0, entry_lines);
  std::vector<CheckedModule> checked;
  size_t next = 0;
  for (size_t i = 0; i < nodes.size(); ++i) {
    checked.push_back(PathAttribute(nodes[i]) ? std::move(found[next++])
                                              : PathlessModule(at[i]));
    checked.back().line = at[i];
    checked.back().node = nodes[i];
  }
  return checked;
}

std::vector<CheckedModule> ListDocument(const RegistryDocument& document,
                                        int bits) {
  std::vector<CheckedModule> modules = CheckDocument(document, bits), listed;
  size_t next = 0;
  // Module elements are checked together, as the framework loads them;
  // other children each on its own, for its files only.
  WalkModules(document.modules, [&](const ModulesChild& child) {
    if (child.is_module)
      listed.push_back(std::move(modules[next++]));
    else if (child.path)
      listed.push_back(CheckEntries({EntryOf(child.node)}, bits)[0]);
  });
  return listed;
}

std::vector<CheckedModule> StartupBreakers(
    const std::vector<CheckedModule>& checked, size_t skip_last) {
  std::vector<CheckedModule> breakers;
  for (size_t i = 0; i + skip_last < checked.size(); ++i)
    if (std::any_of(checked[i].findings.begin(), checked[i].findings.end(),
                    [](const Finding& f) { return f.kind == kBreaksStartup; }))
      breakers.push_back(checked[i]);
  return breakers;
}

std::vector<CheckedModule> CheckAppended(const RegistryDocument& document,
                                         int bits, size_t added) {
  std::vector<ModuleEntry> entries;
  std::vector<const rapidxml::xml_node<char>*> nodes;
  WalkModules(document.modules, [&](const ModulesChild& child) {
    if (!child.is_module || !child.path) return;
    entries.push_back(EntryOf(child.node));
    nodes.push_back(child.node);
  });
  // Lines of the loaded text's own elements only: the appended ones are
  // not in it.
  const size_t first = entries.size() - std::min(added, entries.size());
  std::vector<size_t> lines;
  for (size_t i = 0; i < first; ++i) lines.push_back(LineOf(document, nodes[i]));
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
