#include "run/log.h"

#include <gtest/gtest.h>

#include <string>

using namespace run;

namespace {

// A log is never appended to a file that begins as an XML document does,
// as every registry does; text an installer wrote first keeps it a log.
TEST(Log, WhatTheBeginningOfAFileSays) {
  struct Case {
    const char* name;
    std::string part;
    bool first;
    FileStart start;
  } cases[] = {
      {"an element first", "<Modules>\r\n", true, FileStart::kXml},
      {"an XML declaration first", "<?xml version=\"1.0\"?>", true,
       FileStart::kXml},
      {"a byte-order mark, then an element", "\xEF\xBB\xBF<Modules>", true,
       FileStart::kXml},
      {"the mark and blanks, then an element",
       "\xEF\xBB\xBF \r\n\t<Modules>", true, FileStart::kXml},
      {"blank lines, then markup", "\r\n\r\n<", true, FileStart::kXml},
      {"a later part: blanks, then markup", "  <", false, FileStart::kXml},
      {"nothing yet", "", true, FileStart::kBlank},
      {"blanks only", " \t\r\n", true, FileStart::kBlank},
      {"the mark alone", "\xEF\xBB\xBF", true, FileStart::kBlank},
      {"the mark and a line end", "\xEF\xBB\xBF\r\n", true,
       FileStart::kBlank},
      {"an installer's line before an element",
       "installer: copying files\r\n<Modules>", true, FileStart::kText},
      {"a line of our own log",
       "2024-01-31T12:00:00Z modreg 1.0.0: modreg x64 1\n", true,
       FileStart::kText},
      {"a letter just before an element", "x<Modules>", true,
       FileStart::kText},
      // The mark counts only at the file's beginning.
      {"the mark in a later part", "\xEF\xBB\xBF<Modules>", false,
       FileStart::kText},
      {"two bytes of the mark only", "\xEF\xBB<Modules>", true,
       FileStart::kText},
      {"a vertical tab, which is no blank here", "\v<Modules>", true,
       FileStart::kText},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(StartOf(c.part, c.first), c.start);
  }
}

}  // namespace
