// What the framework's own XML reader (TinyXML 2.6) refuses in a registry
// that this tool's parser takes and would write back as it is.
#ifndef MODREG_REGISTRY_READER_H_
#define MODREG_REGISTRY_READER_H_

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include <rapidxml.hpp>

namespace registry {

struct ReaderRefusal {
  const char* at;      // in the parsed text: the name refused
  std::string reason;
};

// Returns the first refusal in document order, or nothing:
// - an element with the same attribute twice;
// - an attribute name that is not a reader's name: a letter, "_" or a
//   byte from 127 (DEL) up (the reader takes every byte past ASCII as a
//   letter), then those, digits, "-", "." and ":";
// - an element name that begins as a name but does not go on as one. An
//   element whose name does not begin as one is read as an unknown tag,
//   which loads when it is empty (no child, no text), and is refused
//   otherwise: its end tag closes nothing.
// Of one element, its name is judged first, then whether it is empty,
// then its attribute names, then whether one is repeated.
std::optional<ReaderRefusal> FindReaderRefusal(
    const rapidxml::xml_node<char>* root);

// The same rules judged on the text itself, by a walk that sees each
// element's name and attribute names in turn (the pre-parse scan): which
// rule refuses which name.
enum class ReaderRule : unsigned char {
  kNone,
  kElementNameChar,   // an element name that begins as a name only
  kUnknownNotEmpty,   // an element name that does not begin as one, and
                      // the element holds something
  kAttributeName,     // an attribute name that is not a name
  kAttributeTwice,    // the second of an element's attributes of one name
};

struct ReaderFinding {
  ReaderRule rule = ReaderRule::kNone;
  size_t offset = 0;  // where the name refused lies in the text
  size_t size = 0;    // the name's length
};

// The reader's names: 1 for a byte a name may begin with, 2 for one it
// may go on with.
struct ReaderNameTable {
  unsigned char kind[256] = {};
  constexpr ReaderNameTable() {
    for (int c = 0; c < 256; ++c) {
      const bool starts = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                          c == '_' || c >= 127;
      const bool goes_on = starts || (c >= '0' && c <= '9') || c == '-' ||
                           c == '.' || c == ':';
      kind[c] = static_cast<unsigned char>((starts ? 1 : 0) | (goes_on ? 2 : 0));
    }
  }
};
inline constexpr ReaderNameTable kReaderNames;

// Returns whether |c| may begin a name of the reader's.
inline bool ReaderNameStarts(char c) {
  return kReaderNames.kind[static_cast<unsigned char>(c)] & 1;
}

// Returns whether every byte of |name| may go on a name of the reader's.
inline bool ReaderNameGoesOn(std::string_view name) {
  unsigned char all = 2;
  for (char c : name) all &= kReaderNames.kind[static_cast<unsigned char>(c)];
  return all != 0;
}

// Returns whether |name| is a name of the reader's.
inline bool IsReaderName(std::string_view name) {
  return !name.empty() && ReaderNameStarts(name[0]) && ReaderNameGoesOn(name);
}

// Returns the index of the first of the |count| |names| that repeats an
// earlier one, or 0 when none does.
size_t RepeatedName(const std::string_view* names, size_t count);

// Returns the refusal |finding| stands for, its name in |text| (parsed or
// not: the parser leaves names where they are); nothing for kNone.
std::optional<ReaderRefusal> RefusalOf(const ReaderFinding& finding,
                                       const char* text);

}  // namespace registry

#endif  // MODREG_REGISTRY_READER_H_
