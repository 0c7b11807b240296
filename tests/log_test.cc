#include "run/log.h"

#include <gtest/gtest.h>

#include <string>

using namespace run;

namespace {

// A log is never appended to a file that begins as an XML document does,
// as every registry does; text an installer wrote first keeps it a log.
TEST(Log, WhatTheBeginningOfAFileSays) {
  struct Case {
    std::string part;
    bool first;
    FileStart start;
  } cases[] = {
      {"<Modules>\r\n", true, FileStart::kXml},
      {"<?xml version=\"1.0\"?>", true, FileStart::kXml},
      {"\xEF\xBB\xBF<Modules>", true, FileStart::kXml},
      {"\xEF\xBB\xBF \r\n\t<Modules>", true, FileStart::kXml},
      {"\r\n\r\n<", true, FileStart::kXml},
      {"  <", false, FileStart::kXml},
      {"", true, FileStart::kBlank},
      {" \t\r\n", true, FileStart::kBlank},
      {"\xEF\xBB\xBF", true, FileStart::kBlank},
      {"\xEF\xBB\xBF\r\n", true, FileStart::kBlank},
      {"installer: copying files\r\n<Modules>", true, FileStart::kText},
      {"2024-01-31T12:00:00Z modreg 1.0.0: modreg x64 1\n", true,
       FileStart::kText},
      {"x<Modules>", true, FileStart::kText},
      // The mark counts only at the file's beginning.
      {"\xEF\xBB\xBF<Modules>", false, FileStart::kText},
      {"\xEF\xBB<Modules>", true, FileStart::kText},
      {"\v<Modules>", true, FileStart::kText},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.part);
    EXPECT_EQ(StartOf(c.part, c.first), c.start);
  }
}

}  // namespace
