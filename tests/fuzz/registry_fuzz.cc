// libFuzzer target over the in-process registry update.
//
// Input: one control byte, then the bytes of modules.xml. The control
// byte's low six bits are the device mask; bit 6 applies the " (x86)" root
// rule. The registry goes through what a registration does before it
// writes (fold text mode, terminate, EditRegistry) and the document is
// printed into memory instead of a file.
//
// Every accepted input must give a registry the tool can take again, with
// the product's stale entries gone, every other child of Modules kept in
// its order (worked out here, apart from the tool's own walk) and the new
// entries at the end of Modules; and, when it writes, that registry must
// load in the framework's reader (TinyXML) with the same Module entries.
// A violation aborts, which libFuzzer reports as a crash.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <rapidxml.hpp>

#include "registry/printer.h"
#include "registry/reader.h"
#include "registry/scan.h"
#include "registry/textmode.h"
#include "registry/update.h"
#include "registry_support.h"
#include "run/workplace.h"
#include "run/modules.h"
#include "tinyxml_model.h"

using namespace registry;
using namespace run;

namespace {

using Node = rapidxml::xml_node<char>;
using Document = rapidxml::xml_document<char>;

[[noreturn]] void Violation(const char* what, const std::string& detail = "") {
  fprintf(stderr, "registry_fuzz: %s%s%s\n", what, detail.empty() ? "" : ": ",
          detail.c_str());
  abort();
}

std::string_view Name(const Node* node) {
  return {node->name(), node->name_size()};
}
std::string_view Value(const Node* node) {
  return {node->value(), node->value_size()};
}

bool IsBlank(std::string_view text) {
  return text.find_first_not_of(" \t\n\r") == std::string_view::npos;
}

// The document as the tool writes it.
std::string Print(const Document& doc) {
  bool ok = false;
  std::string printed = PrintToString(doc, &ok);
  if (!ok) Violation("in-memory output failed");
  return printed;
}

// The framework reader's first refusal, judged along the pre-parse walk,
// is the one the walk over the parsed tree finds.
void CheckReaderWalk(std::string_view registry) {
  ByteBuffer text = RegistryText(registry);
  ScanProgress scanned;
  if (FinishScan(&scanned, text.data(), text.size() - 1) || !scanned.walked_all)
    return;
  std::optional<ReaderRefusal> walked = RefusalOf(scanned.reader.first, text.data());
  ByteBuffer parsed = text;
  auto doc = std::make_unique<Document>();
  try {
    doc->parse<0>(parsed.data());
  } catch (const rapidxml::parse_error&) {
    return;
  }
  std::optional<ReaderRefusal> tree = FindReaderRefusal(doc.get());
  if (walked.has_value() != tree.has_value() ||
      (walked && (walked->at - text.data() != tree->at - parsed.data() ||
                  walked->reason != tree->reason)))
    Violation("the walk and the tree find other refusals of the reader",
              walked ? walked->reason : tree->reason);
}

void CheckDepth(const Document& doc) {
  size_t depth = ElementDepth(&doc);
  if (depth > kMaxNestingDepth)
    Violation("the parser built a tree deeper than the bound",
              std::to_string(depth) + " levels");
}

// True when every element holds either no text run or a single non-blank
// text run and nothing else: the documents whose printed form is stable.
bool HasOnlySimpleContent(const Node* parent) {
  std::vector<const Node*> todo{parent};
  while (!todo.empty()) {
    const Node* node = todo.back();
    todo.pop_back();
    size_t children = 0;
    bool text = false;
    for (const Node* n = node->first_node(); n; n = n->next_sibling()) {
      ++children;
      if (n->type() == rapidxml::node_data) {
        text = true;
        if (IsBlank(Value(n))) return false;
      }
      todo.push_back(n);
    }
    if (text && children > 1) return false;
  }
  return true;
}

// What a reader of the registry sees of |n|: an element with its
// attributes and content, CDATA, or text without the white space the
// printer adds around it.
void Put(const Node* n, std::string* out);

void Canonical(const Node* node, std::string* out) {
  for (const Node* n = node->first_node(); n; n = n->next_sibling())
    Put(n, out);
}

void Put(const Node* n, std::string* out) {
  auto put = [out](char tag, std::string_view s) {
    *out += tag;
    *out += std::to_string(s.size());
    *out += ':';
    *out += s;
  };
  switch (n->type()) {
    case rapidxml::node_element:
      put('<', Name(n));
      for (auto* a = n->first_attribute(); a; a = a->next_attribute()) {
        put('@', {a->name(), a->name_size()});
        put('=', {a->value(), a->value_size()});
      }
      Canonical(n, out);
      *out += '>';
      break;
    case rapidxml::node_cdata:
      put('[', Value(n));
      break;
    case rapidxml::node_data: {
      std::string_view text = Value(n);
      size_t first = text.find_first_not_of(" \t\n\r");
      if (first == std::string_view::npos) break;
      size_t last = text.find_last_not_of(" \t\n\r");
      put('"', text.substr(first, last - first + 1));
      break;
    }
    default:
      Violation("unexpected node kind in the tree");
  }
}

// Parses printed output the way the tool will read it next time.
std::unique_ptr<Document> Reparse(const std::string& printed,
                                  ByteBuffer* text) {
  *text = RegistryText(printed);
  if (text->empty()) Violation("printed an empty registry");
  auto doc = std::make_unique<Document>();
  try {
    doc->parse<0>(text->data());
  } catch (const rapidxml::parse_error& e) {
    Violation("printed output does not parse", e.what());
  }
  CheckDepth(*doc);
  return doc;
}

const Node* FirstModules(const Document& doc) {
  for (const Node* n = doc.first_node(); n; n = n->next_sibling())
    if (n->type() == rapidxml::node_element && Name(n) == "Modules") return n;
  return nullptr;
}

bool IsEntry(const Node* node, const ModuleEntry& entry) {
  if (node->type() != rapidxml::node_element || Name(node) != "Module" ||
      node->first_node())
    return false;
  const auto* path = node->first_attribute();
  if (!path || std::string_view(path->name(), path->name_size()) != "path" ||
      std::string_view(path->value(), path->value_size()) != entry.path)
    return false;
  const auto* next = path->next_attribute();
  if (!entry.hasConfigDir) return next == nullptr;
  return next &&
         std::string_view(next->name(), next->name_size()) == "configDir" &&
         std::string_view(next->value(), next->value_size()) ==
             entry.configDir &&
         next->next_attribute() == nullptr;
}

// Modules ends with the entries, in their order, and no child from the
// first Module element on, before them, has a first "path" attribute
// holding the folder name.
void CheckModules(const Document& doc, const std::string& folder,
                  const std::vector<ModuleEntry>& entries) {
  const Node* modules = FirstModules(doc);
  if (!modules) Violation("Modules is gone after the rewrite");
  std::vector<const Node*> children;
  for (const Node* n = modules->first_node(); n; n = n->next_sibling())
    children.push_back(n);
  if (children.size() < entries.size())
    Violation("Modules has fewer children than new entries");
  const size_t kept = children.size() - entries.size();
  for (size_t i = 0; i < entries.size(); ++i)
    if (!IsEntry(children[kept + i], entries[i]))
      Violation("new entry missing or out of order", entries[i].path);
  size_t first = 0;
  while (first < children.size() &&
         !(children[first]->type() == rapidxml::node_element &&
           Name(children[first]) == "Module"))
    ++first;
  for (size_t i = first; i < kept; ++i) {
    const auto* path = children[i]->first_attribute("path", 4);
    if (path && std::string_view(path->value(), path->value_size())
                        .find(folder) != std::string_view::npos)
      Violation("a stale entry survived", std::string(Name(children[i])));
  }
}

// The children of Modules that the removal must keep, in their order and
// canonical form, worked out here from the registry as read: all before
// the first Module element; from it on, those whose first attribute named
// "path" does not hold |folder|.
std::vector<std::string> KeptChildren(std::string_view registry,
                                      const std::string& folder) {
  ByteBuffer text = RegistryText(registry);
  auto doc = std::make_unique<Document>();
  doc->parse<0>(text.data());  // the tool accepted it: it parses
  const Node* modules = FirstModules(*doc);
  if (!modules) Violation("an accepted registry has no Modules");
  std::vector<std::string> kept;
  bool walking = false;
  for (const Node* n = modules->first_node(); n; n = n->next_sibling()) {
    if (n->type() == rapidxml::node_element && Name(n) == "Module")
      walking = true;
    const rapidxml::xml_attribute<char>* path = n->first_attribute();
    while (path && std::string_view(path->name(), path->name_size()) != "path")
      path = path->next_attribute();
    if (walking && path &&
        std::string_view(path->value(), path->value_size()).find(folder) !=
            std::string_view::npos)
      continue;
    kept.emplace_back();
    Put(n, &kept.back());
  }
  return kept;
}

// Modules in |doc| holds the |kept| children, in order, then |entries|
// more and nothing else.
void CheckKept(const Document& doc, const std::vector<std::string>& kept,
               size_t entries) {
  const Node* modules = FirstModules(doc);
  if (!modules) Violation("Modules is gone after the rewrite");
  size_t i = 0;
  for (const Node* n = modules->first_node(); n; n = n->next_sibling(), ++i) {
    if (i >= kept.size()) continue;
    std::string now;
    Put(n, &now);
    if (now != kept[i])
      Violation("a child that must stay was lost, changed or moved", kept[i]);
  }
  if (i != kept.size() + entries)
    Violation("Modules has other children than the kept ones and the new",
              std::to_string(i) + " children, " + std::to_string(kept.size()) +
                  " kept and " + std::to_string(entries) + " new expected");
}

void CheckPrinted(const std::string& printed) {
  if (printed.find('\0') != std::string::npos)
    Violation("printed output holds a NUL byte");
  if (printed.find('\x1A') != std::string::npos)
    Violation("printed output holds a Ctrl-Z byte");
}

// Sleeps |seconds| of wall-clock time, however often a signal wakes it.
void SleepFor(int seconds) {
  const auto end =
      std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < end) usleep(100 * 1000);
}

// Test-only, for tests/fuzz/run.sh to show that it tells a stalled
// machine from a hang. MODREG_FUZZ_STALL holds items separated by commas,
// tried in order:
//   slow:FILE     the first input that finds no FILE makes it and takes
//                 11 s, hidden from libFuzzer's timer: a slow unit;
//   timeout:FILE  the same, 20 s in sight of the timer: a timeout;
//   hang          every input takes 20 s.
// An input run again finds FILE and takes no time, as after a stall.
void TestStall() {
  static const char* setting = getenv("MODREG_FUZZ_STALL");
  if (!setting) return;
  std::string items(setting);
  for (char* item = strtok(items.data(), ","); item;
       item = strtok(nullptr, ",")) {
    if (strcmp(item, "hang") == 0) return SleepFor(20);
    const bool slow = strncmp(item, "slow:", 5) == 0;
    if (!slow && strncmp(item, "timeout:", 8) != 0)
      Violation("bad MODREG_FUZZ_STALL item", item);
    int fd = open(strchr(item, ':') + 1, O_WRONLY | O_CREAT | O_EXCL, 0644);
    if (fd < 0) continue;  // stalled once already
    close(fd);
    if (!slow) return SleepFor(20);
    // libFuzzer's timer signal goes to the process; blocked here, another
    // thread takes it and libFuzzer ignores it there. One still pending
    // is dropped before it is unblocked.
    sigset_t alarm, old;
    sigemptyset(&alarm);
    sigaddset(&alarm, SIGALRM);
    pthread_sigmask(SIG_BLOCK, &alarm, &old);
    SleepFor(11);
    const timespec now{0, 0};
    while (sigtimedwait(&alarm, nullptr, &now) == SIGALRM) {
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    return;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  TestStall();
  const int32_t mask = data[0] & 0x3F;
  const bool x86 = (data[0] & 0x40) != 0;
  const std::string_view registry(reinterpret_cast<const char*>(data + 1),
                                  size - 1);

  const std::string folder = ChooseProductFolder(mask);
  const std::vector<ModuleEntry> entries = BuildModuleList(
      mask, InstallRootFor("x86", x86) + "\\" + folder + "\\");

  ByteBuffer text = RegistryText(registry);
  if (text.empty()) return 0;  // refused as empty before parsing
  auto doc = std::make_unique<Document>();
  RegistryResult result = EditRegistry(&text, folder, entries, doc.get());
  // The tool reads the file in parts, scanning each as it comes: the same
  // edit, or the same refusal.
  ScanProgress scanned;
  ByteBuffer parts = RegistryTextInParts(registry, 1 + size % 13, &scanned);
  auto parts_doc = std::make_unique<Document>();
  RegistryResult parts_result =
      EditRegistry(&parts, folder, entries, parts_doc.get(), scanned);
  if (parts_result.status != result.status ||
      parts_result.reason != result.reason ||
      parts_result.parse_offset != result.parse_offset)
    Violation("reading in parts changes the edit", parts_result.reason);
  // Whatever the parser built, it must not be deeper than the scanner
  // lets through.
  CheckDepth(*doc);
  CheckReaderWalk(registry);
  if (result.status == RegistryStatus::kMalformed) {
    if (result.reason.empty()) Violation("refusal without a reason");
    return 0;
  }
  const RegistryStatus expected = entries.empty() ? RegistryStatus::kUnchanged
                                                  : RegistryStatus::kWritten;
  if (result.status != expected) Violation("unexpected edit status");

  const std::vector<std::string> kept = KeptChildren(registry, folder);
  CheckKept(*doc, kept, entries.size());

  // The tool writes only with entries, but the edited tree must print to a
  // registry it reads back either way.
  const std::string printed = Print(*doc);
  CheckPrinted(printed);
  // What the tool writes, the framework's reader loads, with the same
  // Module entries.
  if (!entries.empty()) {
    const std::string problem =
        TinyXmlMismatch(printed, doc->first_node("Modules", 7));
    if (!problem.empty())
      Violation("the framework's reader takes the written registry otherwise",
                problem);
  }

  // The attribute values copied as they are when the scan found nothing
  // to escape in them: the same output, byte for byte.
  PrintHints hints;
  if (parts_result.plain_attributes) hints.plain = {parts.data(), parts.size()};
  bool ok = false;
  if (PrintToString(*parts_doc, &ok, hints) != printed)
    Violation("reading in parts or the plain-value shortcut changes the output");

  ByteBuffer text2;
  std::unique_ptr<Document> reread = Reparse(printed, &text2);
  CheckModules(*reread, folder, entries);

  // The next run of the tool takes the file it wrote.
  ByteBuffer text3 = RegistryText(printed);
  auto again = std::make_unique<Document>();
  RegistryResult second = EditRegistry(&text3, folder, entries, again.get());
  if (second.status != expected)
    Violation("the tool refuses the registry it wrote", second.reason);

  // Printing what was read back keeps everything a reader sees.
  const std::string reprinted = Print(*reread);
  CheckPrinted(reprinted);
  ByteBuffer text4;
  std::unique_ptr<Document> reread2 = Reparse(reprinted, &text4);
  std::string before, after;
  Canonical(reread.get(), &before);
  Canonical(reread2.get(), &after);
  if (before != after) Violation("reprinting changed the registry's content");

  // Without mixed content the written file is a fixed point: printing it
  // again, or running the tool again with the same mask, gives its bytes.
  if (HasOnlySimpleContent(doc.get())) {
    // Text is not merged with text on the way: the file holds what stays.
    CheckKept(*reread, kept, entries.size());
    if (reprinted != printed) Violation("reprinting changed the bytes");
    if (!entries.empty() && Print(*again) != printed)
      Violation("a second run changed the bytes");
  }
  return 0;
}
