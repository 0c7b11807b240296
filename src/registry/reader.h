// What the framework's own XML reader (TinyXML 2.6) refuses in a registry
// that this tool's parser takes and would write back as it is.
#ifndef MODREG_REGISTRY_READER_H_
#define MODREG_REGISTRY_READER_H_

#include <optional>
#include <string>

#include <rapidxml.hpp>

namespace registry {

struct ReaderRefusal {
  const char* at;      // in the parsed text: the name refused
  std::string reason;
};

// Returns the first refusal in document order, or nothing:
// - an element with the same attribute twice;
// - an attribute name that is not a reader's name: a letter, "_" or a
//   byte from 128 up, then those, digits, "-", "." and ":";
// - an element name that begins as a name but does not go on as one. An
//   element whose name does not begin as one is read as an unknown tag,
//   which loads when it is empty (no child, no text), and is refused
//   otherwise: its end tag closes nothing.
std::optional<ReaderRefusal> FindReaderRefusal(
    const rapidxml::xml_node<char>* root);

}  // namespace registry

#endif  // MODREG_REGISTRY_READER_H_
