// The framework reader's name rules (reader.h), judged as the pre-parse
// walk (scan.cc) meets each element name and attribute name, so that no
// walk over the parsed tree is needed: the first refusal in document
// order, kept in a ReaderWatch. Internal to the scan.
#ifndef MODREG_REGISTRY_READER_WATCH_H_
#define MODREG_REGISTRY_READER_WATCH_H_

#include <cstddef>
#include <string_view>
#include <vector>

#include "registry/scan.h"

namespace registry {

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

// What the walk knows of the reader's view so far.
struct ReaderJudge {
  const char* begin = nullptr;  // the text's start: findings are offsets
  ReaderWatch watch;
  // The watch before the step being taken changed it, if it did.
  ReaderWatch before_step;
  bool changed = false;
  AttributeNames names;  // of the element being opened
};

// Tells whether no refusal has been found yet.
bool Judging(const ReaderJudge* j);

// Notes that something comes inside the element open: an element, text
// or CDATA.
void NoteContent(ReaderJudge* j);

// Notes that the element open ends.
void NoteEnd(ReaderJudge* j);

// Forgets the attribute names of the element before.
void ClearNames(AttributeNames* names);

// Adds the next attribute name of the element, |is_name| when the reader
// takes it as a name.
void AddName(AttributeNames* names, std::string_view name, bool is_name);

// Judges an element named |name|, which the reader goes on with or not
// (|goes_on|), its attribute names in j->names, opened with content to
// come or not (|empty|).
void JudgeElement(ReaderJudge* j, std::string_view name, bool goes_on,
                  bool empty);

}  // namespace registry

#endif  // MODREG_REGISTRY_READER_WATCH_H_
