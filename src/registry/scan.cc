#include "registry/scan.h"

#include <rapidxml.hpp>

#include <cstring>
#include <string_view>
#include <vector>

namespace registry {

namespace {

using Tables = rapidxml::internal::lookup_tables<0>;

bool IsXmlSpace(char c) { return Tables::lookup_whitespace[(unsigned char)c]; }
bool IsNameChar(char c) { return Tables::lookup_node_name[(unsigned char)c]; }
bool IsAttributeNameChar(char c) {
  return Tables::lookup_attribute_name[(unsigned char)c];
}
unsigned Digit(char c) { return Tables::lookup_digits[(unsigned char)c]; }

// A byte the reader may go on with a name with. The parser takes each of
// them in element and attribute names too: a name's run of them is walked
// first, what the parser takes beyond it is what the reader refuses.
bool GoesOn(char c) { return ReaderNameGoesOn(std::string_view(&c, 1)); }

// The attribute names of the element being opened, as far as the reader
// judges them: the first few kept, all of them once there are more.
constexpr size_t kFewNames = 16;

struct AttributeNames {
  std::string_view few[kFewNames];
  size_t count = 0;
  bool odd = false;  // one of these is set, or there are more than a few
  std::string_view not_name;  // the first that is not a reader's name
  std::string_view twice;     // the first repeat among the first few
  std::vector<std::string_view> all;  // once there are more than a few
};

// The parser's view of the text, walked with one cursor. Each step returns
// false when the walk must end: an issue was found, or the parser will
// stop here with an error of its own.
struct Walk {
  const char* begin;
  const char* p;
  size_t depth = 0;
  std::optional<ScanIssue> issue;
  bool escapes = false;  // an attribute value holds a byte to escape
  ReaderWatch reader;
  bool complete = false;  // the walk reached the end of the text
  // The reader's watch before the step being taken changed it, if it did.
  ReaderWatch before_step;
  bool changed = false;
  AttributeNames names;
};

// The walk of |text| from where |progress| left it.
Walk Resume(const ScanProgress& progress, const char* text) {
  Walk w;
  w.begin = text;
  w.p = text + progress.offset;
  w.depth = progress.depth;
  w.escapes = progress.escapes;
  w.reader = progress.reader;
  return w;
}

bool Judging(const Walk* w) { return w->reader.first.rule == ReaderRule::kNone; }

ReaderFinding FindingAt(const Walk* w, ReaderRule rule, std::string_view name) {
  return ReaderFinding{rule, static_cast<size_t>(name.data() - w->begin),
                       name.size()};
}

// Returns the reader's watch for a change, kept as it was before the step.
ReaderWatch* Change(Walk* w) {
  if (!w->changed) {
    w->before_step = w->reader;
    w->changed = true;
  }
  return &w->reader;
}

// Something comes inside the element open: an element, text or CDATA.
void NoteContent(Walk* w) {
  if (w->reader.if_not_empty.rule == ReaderRule::kNone) return;
  ReaderWatch* r = Change(w);
  r->first = r->if_not_empty;
  r->if_not_empty = ReaderFinding{};
}

// The element open ends.
void NoteEnd(Walk* w) {
  if (w->reader.if_not_empty.rule == ReaderRule::kNone) return;
  ReaderWatch* r = Change(w);
  r->first = r->if_empty;
  r->if_not_empty = ReaderFinding{};
}

void ClearNames(AttributeNames* names) {
  names->count = 0;
  if (names->odd) {
    names->odd = false;
    names->not_name = {};
    names->twice = {};
  }
}

[[gnu::noinline]] void AddOneOfMany(AttributeNames* names, std::string_view name) {
  if (names->count == kFewNames)
    names->all.assign(names->few, names->few + kFewNames);
  names->odd = true;
  names->all.push_back(name);
  ++names->count;
}

// Adds the next attribute name of the element, |is_name| when the reader
// takes it as a name.
void AddName(AttributeNames* names, std::string_view name, bool is_name) {
  if (!is_name && !names->not_name.data()) {
    names->not_name = name;
    names->odd = true;
  }
  if (names->count >= kFewNames) return AddOneOfMany(names, name);
  if (!names->twice.data())
    for (size_t i = 0; i < names->count; ++i)
      if (names->few[i] == name) {
        names->twice = name;
        names->odd = true;
        break;
      }
  names->few[names->count++] = name;
}

// The refusal of the element's attribute names, if any.
ReaderFinding JudgeAttributes(const Walk* w) {
  const AttributeNames& names = w->names;
  if (!names.odd) return ReaderFinding{};  // the common case
  if (names.not_name.data())
    return FindingAt(w, ReaderRule::kAttributeName, names.not_name);
  if (names.twice.data())
    return FindingAt(w, ReaderRule::kAttributeTwice, names.twice);
  if (names.count > kFewNames)
    if (const size_t at = RepeatedName(names.all.data(), names.all.size()))
      return FindingAt(w, ReaderRule::kAttributeTwice, names.all[at]);
  return ReaderFinding{};
}

// An element named |name|, which the reader goes on with or not
// (|goes_on|), its attribute names in w->names, opened with content to
// come or not (|empty|).
void JudgeElement(Walk* w, std::string_view name, bool goes_on, bool empty) {
  const bool starts = ReaderNameStarts(name[0]);
  if (starts && goes_on && !w->names.odd) return;  // the common case
  if (starts) {
    const ReaderFinding finding =
        goes_on ? JudgeAttributes(w)
                : FindingAt(w, ReaderRule::kElementNameChar, name);
    if (finding.rule != ReaderRule::kNone) Change(w)->first = finding;
  } else if (empty) {
    const ReaderFinding finding = JudgeAttributes(w);
    if (finding.rule != ReaderRule::kNone) Change(w)->first = finding;
  } else {
    // An unknown tag: what it holds decides.
    ReaderWatch* r = Change(w);
    r->if_not_empty = FindingAt(w, ReaderRule::kUnknownNotEmpty, name);
    r->if_empty = JudgeAttributes(w);
  }
}

// Ends the walk with the issue |reason| at |at|; returns false.
bool StopWith(Walk* w, const char* at, std::string reason) {
  w->issue = ScanIssue{std::move(reason), static_cast<size_t>(at - w->begin)};
  return false;
}

// Moves past the bytes that |is| accepts. The cursor is copied into a
// local: through w->p, every byte read could alias it.
template <bool (*is)(char)>
void Skip(Walk* w) {
  const char* p = w->p;
  while (is(*p)) ++p;
  w->p = p;
}

// Moves past a name of the parser's (bytes that |is| accepts); returns
// whether the reader goes on with each of its bytes.
template <bool (*is)(char)>
bool SkipName(Walk* w) {
  Skip<GoesOn>(w);
  if (!is(*w->p)) return true;
  Skip<is>(w);
  return false;
}

void SkipSpace(Walk* w) { Skip<IsXmlSpace>(w); }

// Moves past the next |end|; false at the end of the text.
bool SkipPast(Walk* w, const char* end) {
  size_t n = strlen(end);
  while (strncmp(w->p, end, n) != 0) {
    if (!*w->p) return false;
    ++w->p;
  }
  w->p += n;
  return true;
}

// A numeric character reference at w->p ("&#"), translated by the parser.
bool CheckReference(Walk* w) {
  const char* at = w->p;
  unsigned long long base = 10;
  w->p += 2;
  if (*w->p == 'x') {
    base = 16;
    ++w->p;
  }
  // The parser accepts any digit of its table in either base; saturate
  // instead of wrapping, so that every build sees the same code.
  const unsigned long long kCap = 0x110000;
  unsigned long long code = 0;
  for (unsigned d; (d = Digit(*w->p)) != 0xFF; ++w->p)
    code = code * base + d > kCap ? kCap : code * base + d;
  if (code == 0 || code == 26 || code >= kCap) {
    std::string what(at, w->p - at + (*w->p == ';'));
    if (code >= kCap) return StopWith(w, at, "character reference " + what + " names no character");
    return StopWith(w, at, "character reference " + what + " to character " +
                           std::to_string(code) +
                           ", which the registry file cannot hold");
  }
  if (*w->p != ';') return false;
  ++w->p;
  return true;
}

// Text, up to the next '<' or the end of the text. The text holds no NUL
// before its end (checked first), so the C string functions see all of
// it.
bool ScanText(Walk* w) {
  for (;;) {
    w->p += strcspn(w->p, "&<");
    if (*w->p != '&') return true;
    if (w->p[1] != '#')
      ++w->p;
    else if (!CheckReference(w))
      return false;
  }
}

// An attribute value, up to its closing |quote| or the end of the text;
// notes whether it holds a byte that the printer escapes, which only a
// reference can bring in besides the bytes themselves.
bool ScanAttributeValue(Walk* w, char quote) {
  for (;;) {
    w->p += strcspn(w->p, "&<>'\"\n");
    const char c = *w->p;
    if (c == quote || c == '\0') return true;
    w->escapes = true;
    if (c != '&' || w->p[1] != '#')
      ++w->p;
    else if (!CheckReference(w))
      return false;
  }
}

bool ScanAttributes(Walk* w) {
  const bool judging = Judging(w);
  if (judging) ClearNames(&w->names);
  while (IsAttributeNameChar(*w->p)) {
    const char* name = w->p;
    const bool goes_on = SkipName<IsAttributeNameChar>(w);
    if (judging)
      AddName(&w->names, std::string_view(name, w->p - name),
              goes_on && ReaderNameStarts(*name));
    SkipSpace(w);
    if (*w->p != '=') return false;
    ++w->p;
    SkipSpace(w);
    char quote = *w->p;
    if (quote != '\'' && quote != '"') return false;
    ++w->p;
    if (!ScanAttributeValue(w, quote) || *w->p != quote) return false;
    ++w->p;
    SkipSpace(w);
  }
  return true;
}

bool SkipDoctype(Walk* w) {
  while (*w->p != '>') {
    if (!*w->p) return false;
    if (*w->p != '[') {
      ++w->p;
      continue;
    }
    ++w->p;
    for (int depth = 1; depth > 0; ++w->p) {
      if (!*w->p) return false;
      if (*w->p == '[') ++depth;
      if (*w->p == ']') --depth;
    }
  }
  ++w->p;
  return true;
}

// What a node's opening was: the walk stops there, a node the tree does
// not keep (a comment, a declaration...), CDATA, or an element.
enum class Opened { kStop, kLeaf, kData, kEmptyElement, kElement };

Opened LeafIf(bool ok, Opened kind) { return ok ? kind : Opened::kStop; }

// Markup starting with "<!", w->p at the '!'.
Opened SkipBang(Walk* w) {
  const char* p = w->p;
  if (p[1] == '-' && p[2] == '-') {
    w->p += 3;
    return LeafIf(SkipPast(w, "-->"), Opened::kLeaf);
  }
  if (strncmp(p + 1, "[CDATA[", 7) == 0) {
    w->p += 8;
    return LeafIf(SkipPast(w, "]]>"), Opened::kData);
  }
  if (strncmp(p + 1, "DOCTYPE", 7) == 0 && IsXmlSpace(p[8])) {
    w->p += 9;
    return LeafIf(SkipDoctype(w), Opened::kLeaf);
  }
  ++w->p;
  return LeafIf(SkipPast(w, ">"), Opened::kLeaf);
}

// The node after a '<' that is not an end tag.
Opened ScanNode(Walk* w) {
  if (*w->p == '?') {
    ++w->p;
    return SkipPast(w, "?>") ? Opened::kLeaf : Opened::kStop;
  }
  if (*w->p == '!') return SkipBang(w);
  const char* name = w->p;
  const bool goes_on = SkipName<IsNameChar>(w);
  if (w->p == name) return Opened::kStop;
  const std::string_view name_seen(name, w->p - name);
  SkipSpace(w);
  if (!ScanAttributes(w)) return Opened::kStop;
  Opened opened;
  if (*w->p == '>') {
    ++w->p;
    opened = Opened::kElement;
  } else if (w->p[0] == '/' && w->p[1] == '>') {
    w->p += 2;
    opened = Opened::kEmptyElement;
  } else {
    return Opened::kStop;
  }
  NoteContent(w);
  if (Judging(w))
    JudgeElement(w, name_seen, goes_on, opened == Opened::kEmptyElement);
  return opened;
}

// A node after its '<' (w->p after it), which is not an end tag.
bool ScanOpening(Walk* w) {
  const char* start = w->p - 1;
  Opened opened = ScanNode(w);
  if (opened == Opened::kStop) return false;
  // An empty element is as deep as one with content: it is written at
  // the same indentation.
  const bool element =
      opened == Opened::kElement || opened == Opened::kEmptyElement;
  if (element && w->depth + 1 > kMaxNestingDepth)
    return StopWith(w, start,
                "elements nested deeper than " +
                    std::to_string(kMaxNestingDepth) + " levels");
  if (opened == Opened::kData) NoteContent(w);
  if (opened == Opened::kElement) ++w->depth;
  return true;
}

// One step of the walk, from a point between nodes (outside every element
// when w->depth is 0) to the next: a node's opening, an end tag or a run
// of text. False when the walk ends.
bool ScanStep(Walk* w) {
  if (w->p == w->begin && strncmp(w->p, "\xEF\xBB\xBF", 3) == 0) w->p += 3;
  SkipSpace(w);
  // Top level: only markup follows.
  if (w->depth == 0 && *w->p != '<') {
    w->complete = !*w->p;
    return false;
  }
  if (w->depth > 0 && w->p[0] == '<' && w->p[1] == '/') {
    w->p += 2;
    Skip<IsNameChar>(w);
    SkipSpace(w);
    if (*w->p != '>') return false;
    ++w->p;
    --w->depth;
    NoteEnd(w);
    return true;
  }
  if (*w->p == '<') {
    ++w->p;
    return ScanOpening(w);
  }
  if (!*w->p) return false;
  NoteContent(w);
  return ScanText(w);
}

// No step reads more than this many bytes past where it ends.
constexpr size_t kLookahead = 16;

}  // namespace

void ScanAhead(ScanProgress* progress, const char* text, size_t frontier) {
  if (frontier < progress->retry_at) return;
  Walk w = Resume(*progress, text);
  for (;;) {
    const size_t at = static_cast<size_t>(w.p - text);
    const size_t depth = w.depth;
    w.changed = false;
    // A step that ends the walk, or ends near the frontier, may have seen
    // the frontier's NUL: it is taken again with more text.
    if (!ScanStep(&w) || static_cast<size_t>(w.p - text) + kLookahead > frontier) {
      progress->offset = at;
      progress->depth = depth;
      // A step taken again may note a byte to escape twice, never miss one.
      progress->escapes = w.escapes;
      progress->reader = w.changed ? w.before_step : w.reader;
      // Not before the text has grown by as much again, so that a long
      // node is walked at most twice more.
      progress->retry_at = frontier + (frontier - at);
      return;
    }
  }
}

std::optional<ScanIssue> FinishScan(ScanProgress* progress, const char* text,
                                    size_t size) {
  // The text before progress->offset holds no NUL: no step walks past one.
  const char* rest = text + progress->offset;
  if (const void* nul = memchr(rest, 0, size - progress->offset))
    return ScanIssue{"NUL byte",
                     static_cast<size_t>(static_cast<const char*>(nul) - text)};
  Walk w = Resume(*progress, text);
  while (ScanStep(&w)) {
  }
  progress->offset = static_cast<size_t>(w.p - text);
  progress->depth = w.depth;
  progress->reader = w.reader;
  progress->walked_all = w.complete && w.p == text + size;
  // A walk that stopped early has not seen every value.
  progress->escapes = w.escapes || !w.complete || w.p != text + size;
  return w.issue;
}

std::optional<ScanIssue> ScanRegistryText(const char* text, size_t size) {
  ScanProgress progress;
  return FinishScan(&progress, text, size);
}

std::optional<ReaderRefusal> FirstReaderRefusal(
    const ScanProgress& progress, const char* text,
    const rapidxml::xml_node<char>* root) {
  if (!progress.walked_all) return FindReaderRefusal(root);
  return RefusalOf(progress.reader.first, text);
}

std::string DescribePosition(const char* text, size_t offset) {
  size_t line = 1, column = 1;
  for (size_t i = 0; i < offset; ++i) {
    if (text[i] == '\n') {
      ++line;
      column = 1;
    } else {
      ++column;
    }
  }
  return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

}  // namespace registry
