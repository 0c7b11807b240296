// Writes a parsed registry document in the XML library's printed form:
// one tab of indentation per level, childless elements closed as
// <name .../>, a line end after every node and one after the document.
// Iterative, so that the nesting depth never touches the stack.
#ifndef MODREG_REGISTRY_PRINTER_H_
#define MODREG_REGISTRY_PRINTER_H_

#include <functional>
#include <string>

#include <rapidxml.hpp>

#include "registry/textmode.h"

namespace registry {

// What the printer may take as known: attribute values that lie between
// |plain| holds no byte to escape.
// And, when |at_child| is set, it is called with each child of
// |children_of| before that is written.
struct PrintHints {
  std::string_view plain;
  const rapidxml::xml_node<char>* children_of = nullptr;
  std::function<void(const rapidxml::xml_node<char>*)> at_child;
};

// Prints |doc| to |out| in the form above, each line end as CR LF,
// taking as known what |hints| says.
void PrintDocument(const rapidxml::xml_document<char>& doc, TextOutput* out,
                   const PrintHints& hints = PrintHints{});

// Returns |node| and its children as PrintDocument writes them at the
// top level, its last line end included.
std::string PrintedNode(const rapidxml::xml_node<char>& node);

// Returns PrintedNode's text on one line: each line without its leading
// tabs and its line end, as a message says an element.
std::string PrintedOnOneLine(const rapidxml::xml_node<char>& node);

// Tells whether PrintDocument would write exactly the |size| bytes at
// |bytes|. Stops comparing at the first byte that differs.
bool PrintsAs(const rapidxml::xml_document<char>& doc, const PrintHints& hints,
              const char* bytes, size_t size);

}  // namespace registry

#endif  // MODREG_REGISTRY_PRINTER_H_
