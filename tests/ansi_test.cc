// Module paths go to the registry in the system's ANSI code page:
// Windows-1252 for the POSIX build, and for modreg.exe under the tests'
// Wine, which takes it for an English locale.
#include <gtest/gtest.h>

#include "platform/ansi.h"

namespace {

TEST(Ansi, OnlyExactSpellingsPass) {
  struct Case {
    const char* name;
    const char* utf8;
    const char* ansi;  // null: no exact spelling
  } cases[] = {
      {"ASCII, as it is", "C:\\Program Files\\x", "C:\\Program Files\\x"},
      {"U with diaeresis, at its Latin-1 place", "C:\\Kamera \xc3\x9c",
       "C:\\Kamera \xdc"},
      {"euro, z caron, Y diaeresis: the code page's own 0x80 to 0x9F",
       "\xe2\x82\xac \xc5\xbe \xc5\xb8", "\x80 \x9e \x9f"},
      {"no-break space and y diaeresis: the ends of Latin-1's 0xA0 to 0xFF",
       "\xc2\xa0\xc3\xbf", "\xa0\xff"},
      {"L stroke, which best fit would make L", "\xc5\x81\xc3\xb3""d\xc5\xba",
       nullptr},
      {"a zero width space", "\xe2\x80\x8b", nullptr},
      {"a character outside the BMP", "\xf0\x9f\x98\x80", nullptr},
      {"a byte that is not UTF-8", "\xff", nullptr},
      {"an overlong NUL", "\xc0\x80", nullptr},
      {"a surrogate", "\xed\xa0\x80", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string ansi;
    ASSERT_EQ(platform::ToAnsi(c.utf8, &ansi), c.ansi != nullptr);
    if (c.ansi) {
      EXPECT_EQ(ansi, c.ansi);
    }
  }
}

TEST(Ansi, EveryByteComesBackAsItWas) {
  for (int byte = 1; byte < 256; ++byte) {
    const std::string ansi(1, static_cast<char>(byte));
    std::string back;
    EXPECT_TRUE(platform::ToAnsi(platform::FromAnsi(ansi), &back)) << byte;
    EXPECT_EQ(back, ansi) << byte;
  }
}

}  // namespace
