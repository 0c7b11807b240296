#include "registry/printer.h"

#include <array>
#include <cstring>
#include <functional>
#include <vector>

namespace registry {

namespace {

using Node = rapidxml::xml_node<char>;

// Bytes that PutEscaped cannot copy as they are.
constexpr auto kSpecial = [] {
  std::array<unsigned char, 256> table{};
  for (unsigned char c : {'&', '<', '>', '\'', '"', '\n'}) table[c] = 1;
  return table;
}();

// The first byte of |data| that PutEscaped cannot copy as it is, or |end|.
// Values are mostly long runs of plain bytes: look those up eight at a
// time, with one branch, the last eight overlapping the ones before.
const char* FindSpecial(const char* data, const char* end) {
  auto special = [](const char* p) {
    return kSpecial[static_cast<unsigned char>(*p)];
  };
  auto any_of_eight = [&](const char* p) {
    return special(p) | special(p + 1) | special(p + 2) | special(p + 3) |
           special(p + 4) | special(p + 5) | special(p + 6) | special(p + 7);
  };
  if (end - data >= 8) {
    while (end - data >= 8 && !any_of_eight(data)) data += 8;
    if (end - data < 8 && !any_of_eight(end - 8)) return end;
  }
  while (data < end && !special(data)) ++data;
  return data;
}

// Writes |size| bytes with &, <, >, ' and " escaped, except |keep|,
// which is written as it is (0 escapes all five).
void PutEscaped(TextOutput* out, const char* data, size_t size, char keep) {
  const char* end = data + size;
  for (;;) {
    const char* p = FindSpecial(data, end);
    PutPlain(out, data, p - data);
    if (p == end) return;
    data = p + 1;
    switch (*p) {
      case '\n': PutPlain(out, "\r\n", 2); continue;
      case '&': PutPlain(out, "&amp;", 5); continue;
      case '<': PutPlain(out, "&lt;", 4); continue;
      case '>': PutPlain(out, "&gt;", 4); continue;
    }
    if (*p == keep)
      PutPlain(out, p, 1);
    else if (*p == '\'')
      PutPlain(out, "&apos;", 6);
    else
      PutPlain(out, "&quot;", 6);
  }
}

void PutAttributes(TextOutput* out, const Node* node, const PrintHints& hints) {
  const std::less_equal<const char*> le;
  for (auto* a = node->first_attribute(); a; a = a->next_attribute()) {
    PutChar(out, ' ');
    PutPlain(out, a->name(), a->name_size());
    const char* value = a->value();
    const char* end = value + a->value_size();
    const bool plain =
        (le(hints.plain.data(), value) &&
         !le(hints.plain.data() + hints.plain.size(), value)) ||
        FindSpecial(value, end) == end;  // the common case
    // A value holding a double quote goes between single quotes.
    const char quote = !plain && memchr(value, '"', end - value) ? '\'' : '"';
    PutChar(out, '=');
    PutChar(out, quote);
    if (plain)
      PutPlain(out, value, end - value);
    else
      PutEscaped(out, value, end - value, quote == '"' ? '\'' : '"');
    PutChar(out, quote);
  }
}

// Names hold no LF and need no escaping.
void PutEndTag(TextOutput* out, const Node* element) {
  PutPlain(out, "</", 2);
  PutPlain(out, element->name(), element->name_size());
  PutChar(out, '>');
}

// Writes |node| at |indent| and its line end. Returns true when the node
// is an element whose children go on their own lines: the caller then
// writes them and the end tag.
bool PutNodeStart(TextOutput* out, const Node* node, size_t indent,
                  const PrintHints& hints) {
  PutTabs(out, indent);
  switch (node->type()) {
    case rapidxml::node_data:
      PutEscaped(out, node->value(), node->value_size(), 0);
      break;
    case rapidxml::node_cdata:
      PutPlain(out, "<![CDATA[", 9);
      PutText(out, node->value(), node->value_size());
      PutPlain(out, "]]>", 3);
      break;
    case rapidxml::node_element: {
      PutChar(out, '<');
      PutPlain(out, node->name(), node->name_size());
      PutAttributes(out, node, hints);
      const Node* child = node->first_node();
      if (!child && node->value_size() == 0) {
        PutPlain(out, "/>", 2);
        break;
      }
      PutChar(out, '>');
      if (child && (child->next_sibling() || child->type() != rapidxml::node_data)) {
        PutLineEnd(out);
        return true;
      }
      const Node* text = child ? child : node;
      PutEscaped(out, text->value(), text->value_size(), 0);
      PutEndTag(out, node);
      break;
    }
    default:
      // The parser's default flags create no other kind of node.
      break;
  }
  PutLineEnd(out);
  return false;
}

// Writes |first| and, with |siblings|, the siblings after it, each with
// its children.
void PrintNodes(const Node* first, bool siblings, TextOutput* out,
                const PrintHints& hints) {
  struct Open {
    const Node* element;
    const Node* next;  // next child to write
    size_t indent;     // the element's own indentation
  };
  std::vector<Open> open;
  const Node* next = first;
  size_t indent = 0;  // of the children being written
  for (;;) {
    if (next) {
      const Node* node = next;
      next = siblings || !open.empty() ? node->next_sibling() : nullptr;
      if (hints.at_child && node->parent() == hints.children_of)
        hints.at_child(node);
      if (PutNodeStart(out, node, indent, hints)) {
        open.push_back({node, next, indent});
        next = node->first_node();
        ++indent;
      }
      continue;
    }
    if (open.empty()) break;
    Open done = open.back();
    open.pop_back();
    PutTabs(out, done.indent);
    PutEndTag(out, done.element);
    PutLineEnd(out);
    next = done.next;
    indent = done.indent;
  }
}

}  // namespace

void PrintDocument(const rapidxml::xml_document<char>& doc, TextOutput* out,
                   const PrintHints& hints) {
  PrintNodes(doc.first_node(), true, out, hints);
  PutLineEnd(out);
}

std::string PrintedNode(const rapidxml::xml_node<char>& node) {
  std::string text;
  TextOutput out;
  InitTextOutput(&out, [&](const char* data, size_t size) {
    text.append(data, size);
    return true;
  });
  PrintNodes(&node, false, &out, PrintHints{});
  FinishTextOutput(&out);
  return text;
}

std::string PrintedOnOneLine(const rapidxml::xml_node<char>& node) {
  const std::string text = PrintedNode(node);
  std::string line;
  for (size_t from = 0; from < text.size();) {
    size_t end = text.find("\r\n", from);
    if (end == std::string::npos) end = text.size();
    size_t start = text.find_first_not_of('\t', from);
    if (start < end) line.append(text, start, end - start);
    from = end + 2;
  }
  return line;
}

bool PrintsAs(const rapidxml::xml_document<char>& doc, const PrintHints& hints,
              const char* bytes, size_t size) {
  size_t at = 0;
  TextOutput out;
  // A failed write drops the rest of the output.
  InitTextOutput(&out, [&](const char* data, size_t n) {
    if (n > size - at || memcmp(data, bytes + at, n) != 0) return false;
    at += n;
    return true;
  });
  PrintDocument(doc, &out, hints);
  return FinishTextOutput(&out) && at == size;
}

}  // namespace registry
