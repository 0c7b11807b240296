#include "registry/reader_watch.h"

namespace registry {

namespace {

ReaderFinding FindingAt(const ReaderJudge* j, ReaderRule rule, std::string_view name) {
  return ReaderFinding{rule, static_cast<size_t>(name.data() - j->begin),
                       name.size()};
}

ReaderWatch* Change(ReaderJudge* j) {
  if (!j->changed) {
    j->before_step = j->watch;
    j->changed = true;
  }
  return &j->watch;
}

[[gnu::noinline]] void AddOneOfMany(AttributeNames* names, std::string_view name) {
  if (names->count == kFewNames)
    names->all.assign(names->few, names->few + kFewNames);
  names->odd = true;
  names->all.push_back(name);
  ++names->count;
}

// The element open, an unknown tag, turns out empty or not: its refusal
// for that becomes the first.
void Settle(ReaderJudge* j, ReaderFinding ReaderWatch::*refusal) {
  if (j->watch.if_not_empty.rule == ReaderRule::kNone) return;
  ReaderWatch* r = Change(j);
  r->first = r->*refusal;
  r->if_not_empty = ReaderFinding{};
}

ReaderFinding JudgeAttributes(const ReaderJudge* j) {
  const AttributeNames& names = j->names;
  if (!names.odd) return ReaderFinding{};  // the common case
  if (names.not_name.data())
    return FindingAt(j, ReaderRule::kAttributeName, names.not_name);
  if (names.twice.data())
    return FindingAt(j, ReaderRule::kAttributeTwice, names.twice);
  if (names.count > kFewNames)
    if (const size_t at = RepeatedName(names.all.data(), names.all.size()))
      return FindingAt(j, ReaderRule::kAttributeTwice, names.all[at]);
  return ReaderFinding{};
}

}  // namespace

bool Judging(const ReaderJudge* j) { return j->watch.first.rule == ReaderRule::kNone; }

// Returns the reader's watch for a change, kept as it was before the step.

// Something comes inside the element open: an element, text or CDATA.

void NoteContent(ReaderJudge* j) { Settle(j, &ReaderWatch::if_not_empty); }

// The element open ends.

void NoteEnd(ReaderJudge* j) { Settle(j, &ReaderWatch::if_empty); }

void ClearNames(AttributeNames* names) {
  names->count = 0;
  names->odd = false;
  names->not_name = {};
  names->twice = {};
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

// An element named |name|, which the reader goes on with or not

// (|goes_on|), its attribute names in j->names, opened with content to

// come or not (|empty|).

void JudgeElement(ReaderJudge* j, std::string_view name, bool goes_on, bool empty) {
  const bool starts = ReaderNameStarts(name[0]);
  if (starts && goes_on && !j->names.odd) return;  // the common case
  if (starts || empty) {
    const ReaderFinding finding =
        starts && !goes_on ? FindingAt(j, ReaderRule::kElementNameChar, name)
                           : JudgeAttributes(j);
    if (finding.rule != ReaderRule::kNone) Change(j)->first = finding;
  } else {
    // An unknown tag: what it holds decides.
    ReaderWatch* r = Change(j);
    r->if_not_empty = FindingAt(j, ReaderRule::kUnknownNotEmpty, name);
    r->if_empty = JudgeAttributes(j);
  }
}

}  // namespace registry
