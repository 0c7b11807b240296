#include "run/mask.h"

#include <gtest/gtest.h>

using namespace run;

namespace {

TEST(ReadDeviceMask, ReadsLeadingDecimalNumber) {
  struct Case {
    const char* name;
    const char* text;
    int32_t value;
  } cases[] = {
      {"one digit", "5", 5},
      {"letters after the digits end the number", "12abc", 12},
      {"a blank, then a minus sign", " -1", -1},
      {"hexadecimal: reading stops at its x", "0x20", 0},
      {"tab, line end and blank skipped", "\t\n 40", 40},
      {"a plus sign", "+8", 8},
      {"minus zero", "-0", 0},
      {"leading zeros, not octal", "007", 7},
      {"the largest 32-bit number", "2147483647", 2147483647},
      {"the smallest 32-bit number", "-2147483648", INT32_MIN},
      {"a bit above the device types', read all the same", "64", 64},
      {"a blank ends the number", "9 10", 9},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + ": " + c.text);
    std::optional<int32_t> mask = ReadDeviceMask(c.text);
    ASSERT_TRUE(mask.has_value());
    EXPECT_EQ(*mask, c.value);
  }
}

TEST(ReadDeviceMask, RefusesWhatHoldsNoNumberOrOverflows) {
  struct Case {
    const char* name;
    const char* text;
  } cases[] = {
      {"nothing", ""},
      {"letters only", "abc"},
      {"a minus sign alone", "-"},
      {"a plus sign alone", "+"},
      {"a blank alone", " "},
      {"a letter before the digit", "x5"},
      {"a blank between the sign and the digit", "- 5"},
      {"one above the largest 32-bit number", "2147483648"},
      {"one below the smallest 32-bit number", "-2147483649"},
      {"past even 64 bits", "99999999999999999999"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + ": " + c.text);
    EXPECT_FALSE(ReadDeviceMask(c.text).has_value());
  }
}

// --strict takes plain decimal digits naming device types only.
TEST(StrictMaskProblem, PlainDigitsOfTheDeviceTypesOnly) {
  struct Case {
    const char* name;
    const char* text;
    const char* problem;  // empty: taken
  } cases[] = {
      {"device types 1 and 3", "5", ""},
      {"all six device types", "63", ""},
      {"no device type", "0", ""},
      {"leading zeros, still plain digits", "007", ""},
      {"a hexadecimal number", "0x5",
       "mask \"0x5\" is not a plain decimal number: read as 0"},
      {"device types joined with |", "1|4",
       "mask \"1|4\" is not a plain decimal number: read as 1"},
      {"a leading blank", " 5",
       "mask \" 5\" is not a plain decimal number: read as 5"},
      {"a plus sign", "+5",
       "mask \"+5\" is not a plain decimal number: read as 5"},
      {"a line end after the digits", "5\r\n",
       "mask \"5\r\n\" is not a plain decimal number: read as 5"},
      {"a minus sign", "-1",
       "mask \"-1\" is not a plain decimal number: read as -1"},
      {"bit 6 alone", "64",
       "mask \"64\" names bits above 5, which name no device type"},
      {"bit 6 with a device type's", "65",
       "mask \"65\" names bits above 5, which name no device type"},
      {"every bit up to 30", "2147483647",
       "mask \"2147483647\" names bits above 5, which name no device type"},
      {"no digit, refused before as every such mask", "abc", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + ": " + c.text);
    EXPECT_EQ(StrictMaskProblem(c.text), c.problem);
  }
}

}  // namespace
