#include "registry/scan.h"

#include <cstring>
#include <string_view>

#include "registry/reader_watch.h"

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

// The parser's view of the text, walked with one cursor. Each step returns
// false when the walk must end: an issue was found, or the parser will
// stop here with an error of its own.
struct Walk {
  const char* begin;
  const char* p;
  size_t depth = 0;
  std::optional<ScanIssue> issue;
  bool escapes = false;  // an attribute value holds a byte to escape
  bool complete = false;  // the walk reached the end of the text
  ReaderJudge judge;      // the reader's names met so far
};

// The walk of |text| from where |progress| left it.
Walk Resume(const ScanProgress& progress, const char* text) {
  Walk w;
  w.begin = text;
  w.p = text + progress.offset;
  w.depth = progress.depth;
  w.escapes = progress.escapes;
  w.judge.begin = text;
  w.judge.watch = progress.reader;
  return w;
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
  const bool judging = Judging(&w->judge);
  if (judging) ClearNames(&w->judge.names);
  while (IsAttributeNameChar(*w->p)) {
    const char* name = w->p;
    const bool goes_on = SkipName<IsAttributeNameChar>(w);
    if (judging)
      AddName(&w->judge.names, std::string_view(name, w->p - name),
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

// Up to the '>' outside brackets; a ']' outside them is only a byte.
bool SkipDoctype(Walk* w) {
  for (int depth = 0; *w->p != '>' || depth > 0; ++w->p) {
    if (!*w->p) return false;
    if (*w->p == '[') ++depth;
    if (*w->p == ']' && depth > 0) --depth;
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
  const Opened opened =
      *w->p == '>'                       ? Opened::kElement
      : w->p[0] == '/' && w->p[1] == '>' ? Opened::kEmptyElement
                                         : Opened::kStop;
  if (opened == Opened::kStop) return opened;
  w->p += opened == Opened::kElement ? 1 : 2;
  NoteContent(&w->judge);
  if (Judging(&w->judge))
    JudgeElement(&w->judge, name_seen, goes_on, opened == Opened::kEmptyElement);
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
  if (opened == Opened::kData) NoteContent(&w->judge);
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
    NoteEnd(&w->judge);
    return true;
  }
  if (*w->p == '<') {
    ++w->p;
    return ScanOpening(w);
  }
  if (!*w->p) return false;
  NoteContent(&w->judge);
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
    w.judge.changed = false;
    // A step that ends the walk, or ends near the frontier, may have seen
    // the frontier's NUL: it is taken again with more text.
    if (!ScanStep(&w) || static_cast<size_t>(w.p - text) + kLookahead > frontier) {
      progress->offset = at;
      progress->depth = depth;
      // A step taken again may note a byte to escape twice, never miss one.
      progress->escapes = w.escapes;
      progress->reader = w.judge.changed ? w.judge.before_step : w.judge.watch;
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
  progress->reader = w.judge.watch;
  progress->walked_all = w.complete && w.p == text + size;
  // A walk that stopped early has not seen every value.
  progress->escapes = w.escapes || !w.complete || w.p != text + size;
  return w.issue;
}

std::optional<ScanIssue> ScanRegistryText(const char* text, size_t size) {
  ScanProgress progress;
  return FinishScan(&progress, text, size);
}

}  // namespace registry
