#include "run/mask.h"

#include <gtest/gtest.h>

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

}  // namespace
