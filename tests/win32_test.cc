// The Windows side's own pieces, under Wine: conversions per code page.
#include <gtest/gtest.h>

#include "platform/platform.h"
#include "platform/win32.h"

namespace {

using platform::win32::Conversion;
using platform::win32::ConversionFlags;

TEST(ConversionFlags, EachCodePageGetsTheFlagsItTakes) {
  const Conversion exact = {WC_NO_BEST_FIT_CHARS, MB_ERR_INVALID_CHARS, true};
  const Conversion strict = {WC_ERR_INVALID_CHARS, MB_ERR_INVALID_CHARS,
                             false};
  const Conversion none = {0, 0, false};
  struct Case {
    UINT code_page;
    Conversion conversion;
  } cases[] = {
      {1252, exact},  {1250, exact},  {932, exact},   {936, exact},
      {437, exact},   {28591, exact}, {20127, exact}, {57001, exact},
      {57012, exact}, {65001, strict}, {54936, strict}, {42, none},
      {50220, none},  {50221, none},  {50222, none},  {50225, none},
      {50227, none},  {50229, none},  {57002, none},  {57006, none},
      {57011, none},  {65000, none},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code_page);
    const Conversion got = ConversionFlags(c.code_page);
    EXPECT_EQ(got.narrow_flags, c.conversion.narrow_flags);
    EXPECT_EQ(got.wide_flags, c.conversion.wide_flags);
    EXPECT_EQ(got.tells_default, c.conversion.tells_default);
  }
}

TEST(ToCodePage, OnlyExactSpellingsPassInEachCodePage) {
  const char* const lodz = "C:\\Kamera \xc5\x81\xc3\xb3""d\xc5\xba";
  struct Case {
    UINT code_page;
    const char* utf8;
    const char* narrow;  // null: no exact spelling
  } cases[] = {
      {65001, lodz, lodz},                           // UTF-8 as it is
      {65001, "\xf0\x9f\x98\x80", "\xf0\x9f\x98\x80"},  // outside the BMP
      {65001, "\xed\xa0\x80", nullptr},              // a surrogate
      {1250, lodz, "C:\\Kamera \xa3\xf3""d\x9f"},
      {1252, lodz, nullptr},                         // best fit would be L
      {1252, "C:\\Kamera \xc3\x9c", "C:\\Kamera \xdc"},
      {932, "\xe6\x97\xa5\xe6\x9c\xac", "\x93\xfa\x96\x7b"},
      {932, lodz, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.code_page) + " " + c.utf8);
    std::string narrow = "untouched";
    ASSERT_EQ(platform::win32::ToCodePage(c.code_page, c.utf8, &narrow),
              c.narrow != nullptr);
    EXPECT_EQ(narrow, c.narrow ? c.narrow : "untouched");
  }
}

}  // namespace
