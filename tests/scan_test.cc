#include "registry/document.h"
#include "registry/scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <rapidxml.hpp>
#include <string>
#include <utility>
#include <vector>

#include "registry/reader.h"
#include "registry_support.h"

using namespace registry;

namespace {

using namespace std::string_literals;

// The scan in parts of |part| bytes, as the file reader hands them over:
// each part lands after the ones before, followed by a NUL byte, and
// whatever lies further on is not text yet.
std::optional<ScanIssue> ScanInParts(const std::string& text, size_t part,
                                     ScanProgress* done = nullptr) {
  std::string buffer(text.size() + 1, '<');
  ScanProgress progress;
  for (size_t read = 0; read < text.size();) {
    size_t n = std::min(part, text.size() - read);
    buffer.replace(read, n, text, read, n);
    read += n;
    buffer[read] = '\0';
    ScanAhead(&progress, buffer.data(), read);
  }
  std::optional<ScanIssue> issue = FinishScan(&progress, buffer.data(), text.size());
  if (done) *done = progress;
  return issue;
}

// The scan of |text|, checked to come out the same in parts of any size.
std::optional<ScanIssue> Scan(const std::string& text) {
  std::optional<ScanIssue> whole = ScanRegistryText(text.c_str(), text.size());
  for (size_t part : {1, 2, 7, 64, 4096}) {
    std::optional<ScanIssue> parts = ScanInParts(text, part);
    EXPECT_EQ(parts.has_value(), whole.has_value()) << "in parts of " << part;
    if (parts && whole) {
      EXPECT_EQ(parts->reason, whole->reason) << "in parts of " << part;
      EXPECT_EQ(parts->offset, whole->offset) << "in parts of " << part;
    }
  }
  return whole;
}

bool Mentions(const std::optional<ScanIssue>& issue, const std::string& word) {
  return issue && issue->reason.find(word) != std::string::npos;
}

// Parses |text| as the registry update does and returns how deep its
// elements nest (an element at the top is at depth 1, empty or not),
// counted without recursion; nothing when the parser refuses the text.
std::optional<size_t> ParsedDepth(const std::string& text) {
  std::vector<char> buffer(text.begin(), text.end());
  buffer.push_back('\0');
  auto doc = std::make_unique<rapidxml::xml_document<char>>();
  try {
    doc->parse<0>(buffer.data());
  } catch (const rapidxml::parse_error&) {
    return std::nullopt;
  }
  return ElementDepth(doc.get());
}

// One level of nesting, repeated around a centre: each level opens one
// element that holds the next, amid markup that must neither open nor
// close a level.
struct Level {
  const char* what;
  std::string prolog, open, close;
};

const Level kLevels[] = {
    {"plain", "", "<a>", "</a>"},
    {"slash in attribute", "", "<a v=\"/>\">", "</a>"},
    {"angle brackets in attributes", "", "<a v='<b>' w=\">\" x=\"</a>\">", "</a>"},
    {"references in attribute", "", "<a v=\"&#x3E;&#60;&#x2F;&#62;&gt;\">", "</a>"},
    {"empty siblings", "", "<a>",
     "</a><b/><c x='1' /><d v=\"/>\" /><e v=\"</a>\"/><f x='>'></f><g></g >"},
    {"comment", "", "<a><!-- </a> <b/> -- -->", "</a>"},
    {"CDATA", "", "<a><![CDATA[</a></a>]]]]>", "</a>"},
    {"DOCTYPE", "", "<a><!DOCTYPE d [ [ </a> ] > ]>", "</a>"},
    {"processing instructions", "", "<a><?pi > </a> ?><?xml > <b></b> </a>?>", "</a>"},
    {"other <! markup", "", "<a><!x </a>", "</a>"},
    {"text with > and references", "", "<a>x &gt; > &#65; &amp;#0; &#38;#0; y", "</a>"},
    {"spaced and mismatched end tags", "", "<a  \n x = 'v'\ty=\"w\" >", "</zz \n>"},
    {"name holding <", "", "<a<b>", "</a<b>"},
    {"mixed content", "", "<a>t<!--c-->v<![CDATA[w]]>u", "z</a>"},
    {"prolog",
     "\xEF\xBB\xBF<?xml version=\"1.0\"?>\n<!DOCTYPE r [ <!ENTITY e \"<a><a>\"> ]>\n"
     "<!-- <a><a> -->\n<p><q><r/></q></p>\n<s></s>\n",
     "<a>", "</a>"},
};

std::string Nest(const Level& level, size_t depth, const std::string& centre) {
  std::string text = level.prolog;
  for (size_t i = 0; i < depth; ++i) text += level.open;
  text += centre;
  for (size_t i = 0; i < depth; ++i) text += level.close;
  return text;
}

// For every document the parser accepts, the scanner's depth is never
// below the tree's: the bound is met exactly, whatever markup surrounds
// the elements, and the scan reaches the innermost text.
TEST(ScanRegistryText, NestingBoundHoldsAgainstTheParsedTree) {
  struct Centre {
    const char* name;
    const char* text;
    size_t depth;  // of its own elements
  } centres[] = {
      {"text", "x", 0},
      {"an empty element", "<b/>", 1},
      {"an element with its end tag", "<b></b>", 1},
      {"an element holding text", "<b>x</b>", 1},
  };
  for (const Level& level : kLevels) {
    for (const Centre& centre : centres) {
      SCOPED_TRACE(testing::Message() << level.what << ", around "
                                      << centre.name << ": " << centre.text);
      const size_t levels = kMaxNestingDepth - centre.depth;
      const size_t innermost = level.prolog.size() + kMaxNestingDepth * level.open.size();

      std::string at_bound = Nest(level, levels, centre.text);
      ASSERT_EQ(ParsedDepth(at_bound), kMaxNestingDepth);
      EXPECT_FALSE(Scan(at_bound).has_value());

      std::string beyond = Nest(level, levels + 1, centre.text);
      ASSERT_EQ(ParsedDepth(beyond), kMaxNestingDepth + 1);
      std::optional<ScanIssue> issue = Scan(beyond);
      EXPECT_TRUE(Mentions(issue, "nested"));
      EXPECT_EQ(issue ? issue->offset : 0, innermost);
    }
    SCOPED_TRACE(testing::Message() << level.what
                                    << ", around a reference to NUL");
    std::optional<ScanIssue> issue = Scan(Nest(level, kMaxNestingDepth, "&#0;"));
    EXPECT_TRUE(Mentions(issue, "&#0"));
    EXPECT_EQ(issue ? issue->offset : 0,
              level.prolog.size() + kMaxNestingDepth * level.open.size());
  }
}

TEST(ScanRegistryText, RefusesNulBytes) {
  struct Case {
    const char* name;
    std::string text;
    size_t offset;
  } cases[] = {
      {"in an element's text", "<Modules>a\0b</Modules>"s, 10},
      {"in a comment", "<Modules/><!--\0-->"s, 14},
      {"after the document", "<Modules/>\0"s, 10},
      {"before the document", "\0<Modules/>"s, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::optional<ScanIssue> issue = Scan(c.text);
    EXPECT_TRUE(Mentions(issue, "NUL"));
    EXPECT_EQ(issue ? issue->offset : 0, c.offset);
  }
}

// A reference to no character, to NUL or to Ctrl-Z is refused in text and
// attribute values, where the parser translates it, also when the number
// wraps around in the parser's 32- or 64-bit arithmetic; elsewhere it is
// plain text.
TEST(ScanRegistryText, NumericReferences) {
  struct Reference {
    const char* name;
    const char* ref;
  };
  const Reference refused[] = {
      {"NUL", "&#0;"},
      {"NUL, a leading zero", "&#00;"},
      {"NUL in hexadecimal", "&#x0;"},
      {"NUL in hexadecimal, leading zeros", "&#x0000;"},
      {"no digit", "&#;"},
      {"no hexadecimal digit", "&#x;"},
      {"Ctrl-Z", "&#26;"},
      {"Ctrl-Z in hexadecimal", "&#x1A;"},
      {"Ctrl-Z in lower-case hexadecimal", "&#x1a;"},
      {"one past the last character", "&#1114112;"},
      {"one past the last character, in hexadecimal", "&#x110000;"},
      {"far past the last character", "&#x7FFFFFFF;"},
      {"2^32, which wraps to NUL in 32 bits", "&#x100000000;"},
      {"2^32 in decimal, NUL in 32 bits", "&#4294967296;"},
      {"2^32 + 26, which wraps to Ctrl-Z in 32 bits", "&#x10000001A;"},
      {"2^32 + 10, which wraps to LF in 32 bits", "&#4294967306;"},
      {"2^64, which wraps to NUL in 64 bits", "&#x10000000000000000;"},
      {"2^64 in decimal, NUL in 64 bits", "&#18446744073709551616;"},
      {"2^64 + 10, which wraps to LF in 64 bits", "&#x1000000000000000A;"},
      {"past 64 bits many times over", "&#99999999999999999999999999999;"},
  };
  const Reference accepted[] = {
      {"a letter", "&#65;"},
      {"a letter in hexadecimal", "&#x41;"},
      {"a letter, leading zeros", "&#0065;"},
      {"a letter after 18 hexadecimal zeros", "&#x00000000000000000041;"},
      {"character 1, just above NUL", "&#1;"},
      {"character 25, just below Ctrl-Z", "&#25;"},
      {"character 27, just above Ctrl-Z", "&#27;"},
      {"character 27 in hexadecimal", "&#x1B;"},
      {"LF", "&#10;"},
      {"the last character", "&#x10FFFF;"},
      {"the last character in decimal", "&#1114111;"},
      {"e acute in lower-case hexadecimal", "&#xe9;"},
      {"a named ampersand", "&amp;"},
      {"a named <", "&lt;"},
      {"a named double quote", "&quot;"},
      {"a name the parser does not know", "&foo;"},
      {"an ampersand alone", "&"},
      {"&#0; after a named ampersand", "&amp;#0;"},
      {"&#0; after a numeric ampersand", "&#38;#0;"},
      {"&#x1A; after a numeric ampersand", "&#38;#x1A;"},
  };
  // Where the parser translates references, and where it leaves them as
  // they are.
  struct Form {
    const char* name;
    const char* text;  // the reference goes where the % is
  };
  const Form translated[] = {
      {"element text", "<Modules>a%b</Modules>"},
      {"an attribute value in double quotes",
       "<Modules><Module path=\"a%b\"/></Modules>"},
      {"an attribute value in apostrophes, another after it",
       "<Modules><Module path='a%b' x=\"\"/></Modules>"},
      {"text after every kind of markup, each holding >",
       "<?xml version='1.0'?><!DOCTYPE d [ <!ENTITY e '>'> ]><Modules><!-- > -->"
       "<?pi > ?><![CDATA[ > ]]><!x ><m a='>' b=\"/>\"/><e></e ><n>t</n\t>"
       "a%b</Modules>"},
  };
  const Form verbatim[] = {
      {"a comment", "<Modules><!-- % --></Modules>"},
      {"a CDATA section", "<Modules><![CDATA[%]]></Modules>"},
      {"a processing instruction", "<?pi %?><Modules/>"},
      {"the DOCTYPE", "<!DOCTYPE m [ % ]><Modules/>"},
      {"other <! markup", "<Modules><!x %></Modules>"},
  };
  auto fill = [](const char* form, const char* ref) {
    std::string text = form;
    return text.replace(text.find('%'), 1, ref);
  };
  for (const Reference& r : refused) {
    for (const Form& form : translated) {
      std::string text = fill(form.text, r.ref);
      SCOPED_TRACE(std::string(r.name) + ", in " + form.name + ": " + text);
      std::optional<ScanIssue> issue = Scan(text);
      EXPECT_TRUE(Mentions(issue, std::string(r.ref, strlen(r.ref) - 1)));
      EXPECT_EQ(issue ? issue->offset : 0, text.find('&'));
    }
    for (const Form& form : verbatim) {
      std::string text = fill(form.text, r.ref);
      SCOPED_TRACE(std::string(r.name) + ", in " + form.name + ": " + text);
      ASSERT_TRUE(ParsedDepth(text).has_value());
      EXPECT_FALSE(Scan(text).has_value());
    }
  }
  for (const Reference& r : accepted) {
    for (const Form& form : translated) {
      std::string text = fill(form.text, r.ref);
      SCOPED_TRACE(std::string(r.name) + ", in " + form.name + ": " + text);
      ASSERT_TRUE(ParsedDepth(text).has_value());
      EXPECT_FALSE(Scan(text).has_value());
    }
  }
}

// The printer copies attribute values as they are when the scan saw no
// byte in them that it would escape; text is not the scan's concern here.
TEST(ScanRegistryText, TellsWhetherAttributeValuesHoldBytesToEscape) {
  struct Case {
    const char* name;
    std::string text;
    bool escapes;
  } cases[] = {
      {"a path with blanks and parentheses, and an empty value",
       "<Modules><Module path=\"C:\\P F (x86)\\a_1.dll\" c=''/></Modules>", false},
      {"escapable bytes in text and a comment, none in a value",
       "<Modules>a &amp; b &lt; ' \" \n<M p='x'/><!-- <M p=\"&\"/> --></Modules>", false},
      {"a line end in a value, after a prolog holding a reference",
       "<?xml version='1.0'?><!DOCTYPE d [ <!ENTITY e \"&#38;\"> ]><M a='\n'/>", true},
      {"a named reference", "<M a=\"x&amp;y\"/>", true},
      {"a numeric reference", "<M a=\"&#65;\"/>", true},
      {"an ampersand alone", "<M a=\"&\"/>", true},
      {"an apostrophe in double quotes", "<M a=\"x'y\"/>", true},
      {"a double quote in apostrophes", "<M a='x\"y'/>", true},
      {"a <", "<M a=\"x<y\"/>", true},
      {"a >", "<M a=\"x>y\"/>", true},
      {"a line end", "<M a=\"x\ny\"/>", true},
      {"a > in the second value", "<M a=\"x\" b=\"y>\"/>", true},
      {"an apostrophe in a child's value", "<M><N a=\"'\"/></M>", true},
      {"a tag cut short: the walk stops short of the end", "<M a=\"x\"",
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + ": " + c.text);
    ScanProgress whole;
    ASSERT_FALSE(FinishScan(&whole, c.text.c_str(), c.text.size()).has_value());
    EXPECT_EQ(whole.escapes, c.escapes);
    for (size_t part : {1, 3}) {
      ScanProgress parts;
      ScanInParts(c.text, part, &parts);
      EXPECT_EQ(parts.escapes, c.escapes) << "in parts of " << part;
    }
  }
}

// Where the reader's first refusal in |text| lies, and why, as the walk
// finds it (whole, or in parts of |part| bytes) and as the tree walk
// finds it in |parsed|, the same text parsed.
struct Refusal {
  std::optional<size_t> offset;
  std::string reason;
};

Refusal RefusalAt(const std::optional<ReaderRefusal>& refusal, const char* text) {
  if (!refusal) return {};
  return {static_cast<size_t>(refusal->at - text), refusal->reason};
}

// What the framework's reader refuses is found along the walk, as the
// walk over the parsed tree finds it: the first in document order, one
// element's rules in their order, also where a part of the text ends
// inside the markup that decides.
TEST(ScanRegistryText, FindsTheReadersFirstRefusalAsTheTreeWalkDoes) {
  std::string many = "<M";
  for (int i = 0; i < 20; ++i) many += " a" + std::to_string(i) + "='v'";
  struct Case {
    const char* name;
    std::string text;
    std::optional<size_t> offset;  // of the name refused
  } cases[] = {
      {"an entry the reader takes",
       "<Modules><Module path='a' configDir='b'/></Modules>", std::nullopt},
      {"an attribute twice: the second",
       "<Modules><M a='1' b='2' a='3'/></Modules>", 24},
      {"an attribute name that is no name, before a repeat",
       "<Modules><M a='1' 1b='2' a='3'/></Modules>", 18},
      {"an element name that does not go on as one, before its attributes",
       "<Modules><M#x a='1' a='2'/></Modules>", 10},
      {"an element name of a byte past ASCII, -, ., :, _ and a digit",
       "<Modules><Mo\xE9-.:_9/></Modules>", std::nullopt},
      {"two repeats among many attributes: the first",
       many + " a5='r' a3='s'/>", many.size() + 1},
      // Unknown tags: empty ones load, their attributes judged.
      {"empty unknown tags: blanks, a comment and a PI hold nothing",
       "<Modules><-x a='1'/><-y></-y><-z> <!-- c --><?p?></-z></Modules>", std::nullopt},
      {"an empty unknown tag's repeated attribute",
       "<Modules><-x a='1' a='2'/></Modules>", 19},
      {"an unknown tag's repeated attribute, an end tag after it",
       "<Modules><-x a='1' a='2'></-x></Modules>", 19},
      {"an unknown tag's repeated attribute, blanks and a comment in it",
       "<Modules><-x a='1' a='2'> <!-- c --> </-x></Modules>", 19},
      {"an unknown tag holding an element, before its repeated attribute",
       "<Modules><-x a='1' a='2'><y/></-x></Modules>", 10},
      {"an unknown tag holding text, before its bad attribute name",
       "<Modules><-x 1a='1'>t</-x></Modules>", 10},
      {"an unknown tag holding an empty CDATA section",
       "<Modules><-x><![CDATA[]]></-x></Modules>", 10},
      {"an unknown tag holding an element, before the element's attribute",
       "<Modules><-x><!-- c --> <y 1a='1'/></-x></Modules>", 10},
      {"empty unknown tags, one in an element with text",
       "<Modules><1x></1x><y><#z/>t</y></Modules>", std::nullopt},
      // DEL begins a name for the reader, as every byte past ASCII does:
      // an element, not an unknown tag, whose name must go on as one.
      {"DEL and a byte past ASCII, then a control byte, in an element name",
       "<Modules><\x7F\xFE\x11M a='1'/></Modules>", 10},
      {"an attribute name of DEL and a byte past ASCII",
       "<Modules><M \x7F\x80='1'/></Modules>", std::nullopt},
      // The first in document order: a parent before its children.
      {"a child's bad attribute name before a later element's repeat",
       "<Modules><A><B 1b=''/></A><C c='' c=''/></Modules>", 15},
      {"the parent's repeat before its child's bad attribute name",
       "<Modules q='' q=''><A 1a=''/></Modules>", 14},
      {"nothing in a comment or CDATA; a repeat after a reference",
       "<?xml version='1.0'?><!DOCTYPE m><Modules><!-- <a 1a=''/> --><![CDATA[<b b='' b=''/>]]>"
       "<M a='&#65;' a='x'/></Modules>",
       100},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + ": " + testing::PrintToString(c.text));
    std::vector<char> parsed(c.text.begin(), c.text.end());
    parsed.push_back('\0');
    auto doc = std::make_unique<rapidxml::xml_document<char>>();
    doc->parse<0>(parsed.data());
    const Refusal tree = RefusalAt(FindReaderRefusal(doc.get()), parsed.data());
    EXPECT_EQ(tree.offset, c.offset);
    for (size_t part : {size_t{0}, size_t{1}, size_t{2}, size_t{7}, size_t{64}}) {
      ScanProgress progress;
      if (part == 0)
        ASSERT_FALSE(FinishScan(&progress, c.text.c_str(), c.text.size()));
      else
        ASSERT_FALSE(ScanInParts(c.text, part, &progress));
      ASSERT_TRUE(progress.walked_all);
      const Refusal scanned = RefusalAt(RefusalOf(progress.reader.first, c.text.c_str()),
                                        c.text.c_str());
      EXPECT_EQ(scanned.offset, tree.offset) << "in parts of " << part;
      EXPECT_EQ(scanned.reason, tree.reason) << "in parts of " << part;
    }
  }
}

TEST(DescribePosition, CountsLinesAndColumnsFromOne) {
  struct Case {
    const char* name;
    const char* text;
    size_t offset;
    const char* position;
  } cases[] = {
      {"the first byte", "abc", 0, "line 1, column 1"},
      {"the third byte", "abc", 2, "line 1, column 3"},
      {"just past the end", "abc", 3, "line 1, column 4"},
      {"a line end, the last column of its line", "a\nbc", 1,
       "line 1, column 2"},
      {"just after a line end: the next line's first column", "a\nbc", 2,
       "line 2, column 1"},
      {"the second byte of the second line", "a\nbc", 3, "line 2, column 2"},
      {"after a tab: a tab is one column", "\n\n\tx", 3,
       "line 3, column 2"},
      {"after a lone CR, which ends no line", "a\rb", 2, "line 1, column 3"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.name << ": "
                                    << testing::PrintToString(c.text) << " at "
                                    << c.offset);
    EXPECT_EQ(DescribePosition(c.text, c.offset), c.position);
  }
}

}  // namespace
