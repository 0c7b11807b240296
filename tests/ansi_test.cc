// Module paths go to the registry in the system's ANSI code page:
// Windows-1252 for the POSIX build, and for modreg.exe under the tests'
// Wine, which takes it for an English locale.
#include <gtest/gtest.h>

#include "platform/ansi.h"

namespace {

TEST(Ansi, OnlyExactSpellingsPass) {
  struct Case {
    const char* utf8;
    const char* ansi;  // null: no exact spelling
  } cases[] = {
      {"C:\\Program Files\\x", "C:\\Program Files\\x"},
      {"C:\\Kamera \xc3\x9c", "C:\\Kamera \xdc"},       // U+00DC
      {"\xe2\x82\xac \xc5\xbe \xc5\xb8", "\x80 \x9e \x9f"},  // euro, z caron, Y diaeresis
      {"\xc2\xa0\xc3\xbf", "\xa0\xff"},
      {"\xc5\x81\xc3\xb3""d\xc5\xba", nullptr},  // L stroke: best fit would be L
      {"\xe2\x80\x8b", nullptr},                  // zero width space
      {"\xf0\x9f\x98\x80", nullptr},              // outside the BMP
      {"\xff", nullptr},                          // not UTF-8
      {"\xc0\x80", nullptr},                      // an overlong NUL
      {"\xed\xa0\x80", nullptr},                  // a surrogate
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.utf8);
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
