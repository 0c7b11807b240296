#include "registry/update.h"

#include "registry/textmode.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "registry/scan.h"
#include "registry_support.h"

using namespace registry;

namespace {

// |text| with every LF turned into CR LF, as the written file has it.
std::string Crlf(std::string_view text) {
  std::string out;
  for (char c : text) out += c == '\n' ? std::string("\r\n") : std::string(1, c);
  return out;
}

struct Outcome {
  RegistryStatus status;
  std::string file;  // the printed document, when there is one to write
  std::optional<size_t> parse_offset;
};

// The registry update on the bytes of a file, as the tool reads and
// writes it: folded text, parsed in place, printed in text mode.
Outcome Update(const std::string& file, const std::vector<ModuleEntry>& entries,
               const std::string& folder = "HALDEToF") {
  ByteBuffer text = RegistryText(file);
  auto doc = std::make_unique<rapidxml::xml_document<char>>();
  RegistryResult result = EditRegistry(&text, folder, entries, doc.get());
  Outcome outcome{result.status, "", result.parse_offset};
  if (result.status == RegistryStatus::kWritten) {
    bool printed = false;
    outcome.file = PrintToString(*doc, &printed);
    EXPECT_TRUE(printed);
  }
  if (result.status == RegistryStatus::kMalformed) {
    EXPECT_FALSE(result.reason.empty());
  }
  return outcome;
}

const ModuleEntry kSensor{R"(C:\Program Files\HALDEToF\SensorModule.dll)", "", false};
const ModuleEntry kNew{R"(X:\HALDEToF\New.dll)", "", false};

TEST(UpdateRegistry, FourLineExample) {
  Outcome out = Update(R"(<Modules>
    <Module path="C:\Program Files\OpenNI\Bin\nimCodecs.dll" />
</Modules>
)", {kSensor});
  EXPECT_EQ(out.status, RegistryStatus::kWritten);
  EXPECT_EQ(out.file,
            "<Modules>\r\n"
            "\t<Module path=\"C:\\Program Files\\OpenNI\\Bin\\nimCodecs.dll\"/>\r\n"
            "\t<Module path=\"C:\\Program Files\\HALDEToF\\SensorModule.dll\"/>\r\n"
            "</Modules>\r\n"
            "\r\n");
}

struct Golden {
  const char* what;
  std::string input;
  std::vector<ModuleEntry> entries;
  std::string expected;  // with LF for the file's CR LF
  bool mixed = false;    // text beside elements: not stable on rewrite
  std::string folder = "HALDEToF";
};

const Golden kGolden[] = {
    {"traced run: x86 on 64-bit Windows, mask 5",
     Crlf(R"(<?xml version="1.0" encoding="UTF-8" ?>
<!-- OpenNI module registry -->
<Modules>
	<Module path="C:\Program Files (x86)\OpenNI\Bin\nimMockNodes.dll" />
	<Module path="C:\Program Files (x86)\HALDEToF\SensorModule.dll" />
	<Module path="C:\Program Files (x86)\HALDEToF\libskelvia_ni.dll" configDir="C:\Program Files (x86)\HALDEToF\data\" />
</Modules>
)"),
     {{R"(C:\Program Files (x86)\HALDEToF\SensorModule.dll)", "", false},
      {R"(C:\Program Files (x86)\HALDEToF\libskelvia_ni.dll)",
       R"(C:\Program Files (x86)\HALDEToF\data\)", true}},
     R"(<Modules>
	<Module path="C:\Program Files (x86)\OpenNI\Bin\nimMockNodes.dll"/>
	<Module path="C:\Program Files (x86)\HALDEToF\SensorModule.dll"/>
	<Module path="C:\Program Files (x86)\HALDEToF\libskelvia_ni.dll" configDir="C:\Program Files (x86)\HALDEToF\data\"/>
</Modules>

)"},
    {"mask 9: two identical entries",
     R"(<Modules><Module path="C:\Program Files\TOLVARToF\SensorModule.dll"/></Modules>)",
     {{R"(C:\Program Files\TOLVARToF\SensorModule.dll)", "", false},
      {R"(C:\Program Files\TOLVARToF\SensorModule.dll)", "", false}},
     R"(<Modules>
	<Module path="C:\Program Files\TOLVARToF\SensorModule.dll"/>
	<Module path="C:\Program Files\TOLVARToF\SensorModule.dll"/>
</Modules>

)",
     false, "TOLVARToF"},
    {"BOM, declaration, DOCTYPE, instructions and comments dropped",
     "\xEF\xBB\xBF" R"(<?xml version="1.0"?>
<!DOCTYPE Modules [ <!ELEMENT Modules ANY> ]>
<?framework hint?>
<!-- before -->
<Modules><!-- inside --><Module path="A.dll"/><?pi x?><!other></Modules>
<!-- after -->
)",
     {kNew},
     R"(<Modules>
	<Module path="A.dll"/>
	<Module path="X:\HALDEToF\New.dll"/>
</Modules>

)"},
    {"attribute quoting and references",
     R"(<Modules><Module path="A.dll" a='say "hi"' b="it's" c='it&apos;s "q"' d="" e='' f="&lt;&gt;&amp;&quot;&apos;" g="a&lt;b&gt;c&amp;d" h="&#65;&#x42;&#x263A;" i="&foo; &amp;foo;" j="  two
lines  "/></Modules>)",
     {kNew},
     R"(<Modules>
	<Module path="A.dll" a='say "hi"' b="it's" c='it&apos;s "q"' d="" e="" f='&lt;&gt;&amp;"&apos;' g="a&lt;b&gt;c&amp;d" h="AB)"
     "\xE2\x98\xBA"
     R"(" i="&amp;foo; &amp;foo;" j="  two
lines  "/>
	<Module path="X:\HALDEToF\New.dll"/>
</Modules>

)"},
    {"text-only elements on one line",
     R"(<Modules><Module path="A.dll"/><Note>a &lt; b &amp;&amp; c &gt; d 'q' "dq" &#65;&#x263A; &foo; &amp;foo;</Note><Pad>  x  </Pad><Lines>one
two</Lines></Modules>)",
     {kNew},
     R"(<Modules>
	<Module path="A.dll"/>
	<Note>a &lt; b &amp;&amp; c &gt; d &apos;q&apos; &quot;dq&quot; A)"
     "\xE2\x98\xBA"
     R"( &amp;foo; &amp;foo;</Note>
	<Pad>  x  </Pad>
	<Lines>one
two</Lines>
	<Module path="X:\HALDEToF\New.dll"/>
</Modules>

)"},
    {"carriage returns in text and values",
     "<Modules><T>a&#13;&#10;b\r\r\nc\r</T><U v=\"&#13;&#10;x&#13;\"/></Modules>",
     {kNew},
     "<Modules>\n\t<T>a\r\nb\r\nc\r</T>\n\t<U v=\"\r\nx\r\"/>\n"
     "\t<Module path=\"X:\\HALDEToF\\New.dll\"/>\n</Modules>\n\n"},
    {"blank and empty elements closed",
     "<Modules><Blank>  \n\t </Blank><Empty></Empty><Closed/><Attr a=\"1\" ></Attr>"
     "<Attr2 b='2'/></Modules>",
     {kNew},
     R"(<Modules>
	<Blank/>
	<Empty/>
	<Closed/>
	<Attr a="1"/>
	<Attr2 b="2"/>
	<Module path="X:\HALDEToF\New.dll"/>
</Modules>

)"},
    {"CDATA on its own line",
     R"(<Modules><Data><![CDATA[ <raw> & "x"
 ]]></Data><![CDATA[]]><Module path="A.dll"/></Modules>)",
     {kNew},
     R"(<Modules>
	<Data>
		<![CDATA[ <raw> & "x"
 ]]>
	</Data>
	<![CDATA[]]>
	<Module path="A.dll"/>
	<Module path="X:\HALDEToF\New.dll"/>
</Modules>

)"},
    {"mixed content: text on its own indented line",
     R"(<Modules><Info>lead<b>bold</b>tail</Info><Module path="A.dll"/>note</Modules>)",
     {kNew},
     R"(<Modules>
	<Info>
		lead
		<b>bold</b>
		tail
	</Info>
	<Module path="A.dll"/>
	note
	<Module path="X:\HALDEToF\New.dll"/>
</Modules>

)",
     true},
    {"mixed content gains white space on a rewrite",
     Crlf(R"(<Modules>
	<Info>
		x
		<b/>
	</Info>
</Modules>

)"),
     {kNew},
     R"(<Modules>
	<Info>
		
		x
		
		<b/>
	</Info>
	<Module path="X:\HALDEToF\New.dll"/>
</Modules>

)",
     true},
    {"end tags need not match",
     R"(<Modules><Module path="A.dll"></Mod><X>t</Y></Whatever>)",
     {kNew},
     R"(<Modules>
	<Module path="A.dll"/>
	<X>t</X>
	<Module path="X:\HALDEToF\New.dll"/>
</Modules>

)"},
    {"first child matches",
     R"(<Modules><Module path="C:\Program Files\HALDEToF\SensorModule.dll"/><Module path="A.dll"/></Modules>)",
     {kNew},
     R"(<Modules>
	<Module path="A.dll"/>
	<Module path="X:\HALDEToF\New.dll"/>
</Modules>

)"},
    {"every Module matches",
     R"(<Modules><Setting name="v"/><Module path="C:\Program Files\HALDEToF\SensorModule.dll"/><Module path="C:\Program Files (x86)\HALDEToF\libskelvia_ni.dll" configDir="C:\Program Files (x86)\HALDEToF\data\"/></Modules>)",
     {kNew},
     R"(<Modules>
	<Setting name="v"/>
	<Module path="X:\HALDEToF\New.dll"/>
</Modules>

)"},
    {"case-sensitive substring match on the folder name",
     R"(<Modules><Module path="c:\program files\haldetof\a.dll"/><Module path="D:\HALDEToF2\b.dll"/><Module path="C:\Program Files (x86)\HALDEToF\c.dll"/><Module path="C:\Program Files\TOLVARToF\d.dll"/><Module path="C:\Program Files\HALDEVMR\e.dll"/><Module path="HALDETOF"/></Modules>)",
     {kNew},
     R"(<Modules>
	<Module path="c:\program files\haldetof\a.dll"/>
	<Module path="C:\Program Files\TOLVARToF\d.dll"/>
	<Module path="C:\Program Files\HALDEVMR\e.dll"/>
	<Module path="HALDETOF"/>
	<Module path="X:\HALDEToF\New.dll"/>
</Modules>

)"},
    {"other elements before and after the first Module",
     R"(<Modules><Config path="C:\HALDEToF\cfg"/><Module path="A.dll"/><Config path="C:\HALDEToF\cfg"/><Module path="B.dll"/><Other path="HALDEToF"><Module path="C:\x"/></Other></Modules>)",
     {kNew},
     R"(<Modules>
	<Config path="C:\HALDEToF\cfg"/>
	<Module path="A.dll"/>
	<Module path="B.dll"/>
	<Module path="X:\HALDEToF\New.dll"/>
</Modules>

)"},
    {"the first path decides; nodes without one stay and the walk goes on",
     R"(<Modules><Module path="A.dll" xpath="C:\HALDEToF\x.dll"/><Module name="C:\HALDEToF\y.dll"/><Module Path="C:\HALDEToF\z.dll"/>text HALDEToF<![CDATA[HALDEToF]]><Module path="C:\HALDEToF\last.dll"/></Modules>)",
     {kNew},
     R"(<Modules>
	<Module path="A.dll" xpath="C:\HALDEToF\x.dll"/>
	<Module name="C:\HALDEToF\y.dll"/>
	<Module Path="C:\HALDEToF\z.dll"/>
	text HALDEToF
	<![CDATA[HALDEToF]]>
	<Module path="X:\HALDEToF\New.dll"/>
</Modules>

)",
     true},
    {"only direct children of the first Modules",
     R"(<Modules><Group><Module path="C:\HALDEToF\b"/></Group></Modules><Modules><Module path="C:\HALDEToF\c"/></Modules>)",
     {kNew},
     R"(<Modules>
	<Group>
		<Module path="C:\HALDEToF\b"/>
	</Group>
	<Module path="X:\HALDEToF\New.dll"/>
</Modules>
<Modules>
	<Module path="C:\HALDEToF\c"/>
</Modules>

)"},
};

TEST(UpdateRegistry, WrittenFormat) {
  for (const Golden& g : kGolden) {
    SCOPED_TRACE(g.what);
    Outcome out = Update(g.input, g.entries, g.folder);
    EXPECT_EQ(out.status, RegistryStatus::kWritten);
    EXPECT_EQ(out.file, Crlf(g.expected));
  }
}

// A second run with the same entries leaves the bytes of the first,
// unless text stands beside elements.
TEST(UpdateRegistry, SecondRunWritesTheSameBytes) {
  for (const Golden& g : kGolden) {
    if (g.mixed) continue;
    SCOPED_TRACE(g.what);
    Outcome first = Update(g.input, g.entries, g.folder);
    Outcome second = Update(first.file, g.entries, g.folder);
    EXPECT_EQ(second.status, RegistryStatus::kWritten);
    EXPECT_EQ(second.file, first.file);
  }
}

// Modules and elements inside it, |depth| levels in all.
std::string Nested(size_t depth) {
  std::string text = "<Modules>";
  for (size_t i = 1; i < depth; ++i) text += "<g>";
  text += "x";
  for (size_t i = 1; i < depth; ++i) text += "</g>";
  return text + "</Modules>";
}

// An element of 20 attributes, a0 to a19, then a5 and a3 again.
std::string ManyAttributes() {
  std::string text = "<Modules><M";
  for (int i = 0; i < 20; ++i) text += " a" + std::to_string(i) + "=\"v\"";
  return text + " a5=\"r\" a3=\"s\"/></Modules>";
}

TEST(UpdateRegistry, StatusAndParseOffset) {
  using namespace std::string_literals;
  struct Case {
    const char* name;
    std::string input;
    std::vector<ModuleEntry> entries;
    RegistryStatus status;
    std::optional<size_t> parse_offset;
  } cases[] = {
      {"no entries", R"(<Modules><Module path="C:\HALDEToF\a.dll"/></Modules>)", {},
       RegistryStatus::kUnchanged, std::nullopt},
      {"empty", "", {kNew}, RegistryStatus::kMalformed, std::nullopt},
      {"white space and a comment", " \r\n<!-- -->\n", {kNew}, RegistryStatus::kMalformed, std::nullopt},
      {"lower-case name", "<modules/>", {kNew}, RegistryStatus::kMalformed, std::nullopt},
      {"not at the top", "<Root><Modules/></Root>", {kNew}, RegistryStatus::kMalformed, std::nullopt},
      // The framework reads the first element only.
      {"another element first", "<Other/><Modules/>", {kNew}, RegistryStatus::kMalformed,
       std::nullopt},
      {"no Modules, no entries", "<Root/>", {}, RegistryStatus::kMalformed, std::nullopt},
      {"reference to NUL", "<Modules><Module path=\"&#0;\"/></Modules>", {kNew},
       RegistryStatus::kMalformed, std::nullopt},
      {"UTF-16", "\xFF\xFE<\0M\0o\0d\0u\0l\0e\0s\0/\0>\0"s, {kNew},
       RegistryStatus::kMalformed, std::nullopt},
      {"nested to the bound", Nested(kMaxNestingDepth), {kNew}, RegistryStatus::kWritten,
       std::nullopt},
      {"nested too deep", Nested(kMaxNestingDepth + 1), {kNew}, RegistryStatus::kMalformed,
       std::nullopt},
      {"unexpected end", "<Modules>", {kNew}, RegistryStatus::kMalformed, 9},
      {"unquoted value", "<Modules><Module path=A.dll/></Modules>", {kNew},
       RegistryStatus::kMalformed, 22},
      {"top-level text", "text<Modules/>", {kNew}, RegistryStatus::kMalformed, 0},
      {"trailing text", "<Modules/>tail", {}, RegistryStatus::kMalformed, 10},
      {"unclosed end tag", "<Modules>\r\n</Modules", {kNew}, RegistryStatus::kMalformed, 19},
      {"missing semicolon", "<Modules>&#65</Modules>", {kNew}, RegistryStatus::kMalformed, 13},
      // What the framework's reader refuses: at the name refused.
      {"an attribute twice", R"(<Modules><Module path="a" x="1" path="b"/></Modules>)",
       {kNew}, RegistryStatus::kMalformed, 32},
      {"of many attributes, the first repeat", ManyAttributes(), {kNew},
       RegistryStatus::kMalformed, ManyAttributes().find("a5=\"r\"")},
      {"an attribute name beginning with a digit", R"(<Modules><M path="a" 1x="1"/></Modules>)",
       {kNew}, RegistryStatus::kMalformed, 21},
      {"an element name going on with #", "<Modules><Mod#ule/></Modules>", {kNew},
       RegistryStatus::kMalformed, 10},
      {"an unknown tag with content", "<Modules><-x><y/></-x></Modules>", {kNew},
       RegistryStatus::kMalformed, 10},
      {"an empty unknown tag loads", R"(<Modules><-x a="1"/><_a.b-c:d e="1"/></Modules>)",
       {kNew}, RegistryStatus::kWritten, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Outcome out = Update(c.input, c.entries);
    EXPECT_EQ(out.status, c.status);
    if (c.status != RegistryStatus::kWritten) {
      EXPECT_EQ(out.file, "");
    }
    EXPECT_EQ(out.parse_offset, c.parse_offset);
  }
}

// A file saved as UTF-16 is named as such, whichever its byte order; the
// UTF-8 byte-order mark is dropped as before.
TEST(UpdateRegistry, Utf16IsNamed) {
  using namespace std::string_literals;
  struct Case {
    const char* name;
    std::string input;
    bool utf16;
  } cases[] = {
      {"UTF-16 little-endian", "\xFF\xFE<\0M\0o\0d\0u\0l\0e\0s\0/\0>\0"s, true},
      {"UTF-16 big-endian", "\xFE\xFF\0<\0M\0o\0d\0u\0l\0e\0s\0/\0>"s, true},
      {"a little-endian byte-order mark and nothing else", "\xFF\xFE"s, true},
      {"UTF-8 with its byte-order mark", "\xEF\xBB\xBF<Modules/>", false},
      {"the bytes of a UTF-16 mark inside a value, not first",
       "<Modules a=\"\xFF\xFE\"/>", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ByteBuffer text = RegistryText(c.input);
    auto doc = std::make_unique<rapidxml::xml_document<char>>();
    RegistryResult result = EditRegistry(&text, "HALDEToF", {kNew}, doc.get());
    EXPECT_EQ(result.reason.find("the file is UTF-16 text") == 0, c.utf16)
        << result.reason;
    EXPECT_EQ(result.status, c.utf16 ? RegistryStatus::kMalformed
                                     : RegistryStatus::kWritten);
  }
}

// Lines of offsets into the parsed text, counted in the bytes as read:
// CR LF, a lone LF and a lone CR each end a line, nothing after a Ctrl-Z
// counts.
TEST(RegistryDocument, LineAtOffsets) {
  struct Case {
    const char* name;
    std::string raw;
    std::vector<size_t> offsets;
    std::vector<size_t> lines;
  } cases[] = {
      {"LF ends a line; the LF is on the line it ends", "a\nb\nc",
       {0, 1, 2, 4}, {1, 1, 2, 3}},
      {"CR LF ends one line (folded to LF)", "a\r\nb\r\nc", {2, 4}, {2, 3}},
      {"a lone CR ends a line, as LF and CR LF do", "a\rb\nc", {2, 4}, {2, 3}},
      {"a lone CR before CR LF: two line ends", "a\r\r\nb", {4}, {3}},
      {"nothing after Ctrl-Z counts", "a\n\x1a\n\n", {1, 2, 9}, {1, 2, 2}},
      {"empty text: every offset on line 1", "", {0, 5}, {1, 1}},
      {"no offsets asked: no lines", "x\n\ny", {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ByteBuffer text(c.raw.begin(), c.raw.end());
    FoldTextMode(&text);  // as the registry is read
    const std::vector<size_t> ends = LineEnds(text);
    std::vector<size_t> lines;
    for (size_t offset : c.offsets) lines.push_back(LineAt(ends, offset));
    EXPECT_EQ(lines, c.lines);
  }
}

}  // namespace
