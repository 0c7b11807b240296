// Writes a parsed registry document in the XML library's printed form:
// one tab of indentation per level, childless elements closed as
// <name .../>, a line end after every node and one after the document.
// Iterative, so that the nesting depth never touches the stack.
#ifndef MODREG_REGISTRY_PRINTER_H_
#define MODREG_REGISTRY_PRINTER_H_

#include <rapidxml.hpp>

#include "registry/textmode.h"

void PrintDocument(const rapidxml::xml_document<char>& doc, TextOutput* out);

#endif  // MODREG_REGISTRY_PRINTER_H_
