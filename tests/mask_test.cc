#include "run/mask.h"

#include <gtest/gtest.h>

using namespace run;

namespace {

TEST(ReadDeviceMask, ReadsLeadingDecimalNumber) {
  struct Case {
    const char* text;
    int32_t value;
  } cases[] = {
      {"5", 5},           {"12abc", 12},        {" -1", -1},
      {"0x20", 0},        {"\t\n 40", 40},       {"+8", 8},
      {"-0", 0},          {"007", 7},            {"2147483647", 2147483647},
      {"-2147483648", INT32_MIN}, {"64", 64},    {"9 10", 9},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::optional<int32_t> mask = ReadDeviceMask(c.text);
    ASSERT_TRUE(mask.has_value());
    EXPECT_EQ(*mask, c.value);
  }
}

TEST(ReadDeviceMask, RefusesWhatHoldsNoNumberOrOverflows) {
  const char* cases[] = {"",   "abc", "-",          "+",           " ",
                         "x5", "- 5", "2147483648", "-2147483649", "99999999999999999999"};
  for (const char* text : cases) {
    SCOPED_TRACE(text);
    EXPECT_FALSE(ReadDeviceMask(text).has_value());
  }
}

// --strict takes plain decimal digits naming device types only.
TEST(StrictMaskProblem, PlainDigitsOfTheDeviceTypesOnly) {
  struct Case {
    const char* text;
    const char* problem;  // empty: taken
  } cases[] = {
      {"5", ""},
      {"63", ""},
      {"0", ""},
      {"007", ""},
      {"0x5", "mask \"0x5\" is not a plain decimal number: read as 0"},
      {"1|4", "mask \"1|4\" is not a plain decimal number: read as 1"},
      {" 5", "mask \" 5\" is not a plain decimal number: read as 5"},
      {"+5", "mask \"+5\" is not a plain decimal number: read as 5"},
      {"5\r\n", "mask \"5\r\n\" is not a plain decimal number: read as 5"},
      {"-1", "mask \"-1\" is not a plain decimal number: read as -1"},
      {"64", "mask \"64\" names bits above 5, which name no device type"},
      {"65", "mask \"65\" names bits above 5, which name no device type"},
      {"2147483647",
       "mask \"2147483647\" names bits above 5, which name no device type"},
      {"abc", ""},  // refused before, as every mask without digits
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(StrictMaskProblem(c.text), c.problem);
  }
}

}  // namespace
