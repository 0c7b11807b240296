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
      // Nor to an undo record, which its first line tells, whatever its
      // name.
      {"an undo record's first line", "modreg undo record\nformat 1\n1\n",
       true, FileStart::kUndoRecord},
      {"an undo record's first line alone", "modreg undo record\n", true,
       FileStart::kUndoRecord},
      {"the first line in a later part", "modreg undo record\n", false,
       FileStart::kText},
      {"the first line without its end", "modreg undo record", true,
       FileStart::kText},
      {"another word on the first line", "modreg undo records\n", true,
       FileStart::kText},
      {"a blank before the first line", " modreg undo record\n", true,
       FileStart::kText},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(StartOf(c.part, c.first), c.start);
  }
}

// A log never takes an undo record's name, of any ID, nor its temporary
// file's; the folder is told from the open log (OpenLog).
TEST(Log, UndoRecordNames) {
  struct Case {
    const char* name;
    const char* path;
    bool record;
  } cases[] = {
      {"a record of another ID",
       "C:\\Program Files\\OpenNI\\Data\\modules.xml.undo-Z", true},
      {"a record's temporary file", "C:\\OpenNI\\Data\\modules.xml.undo-Z.tmp",
       true},
      {"the prefix alone", "C:\\OpenNI\\Data\\modules.xml.undo-", true},
      {"in other letters", "C:\\OpenNI\\Data\\MODULES.XML.Undo-z", true},
      {"after a slash", "C:/OpenNI/Data/modules.xml.undo-Z", true},
      {"a relative name", "modules.xml.undo-Z", true},
      {"the registry", "C:\\OpenNI\\Data\\modules.xml", false},
      {"the backup", "C:\\OpenNI\\Data\\modules.xml.old", false},
      {"the prefix but its dash", "C:\\OpenNI\\Data\\modules.xml.undo", false},
      {"a letter before it", "C:\\OpenNI\\Data\\xmodules.xml.undo-Z", false},
      {"a folder of that name", "C:\\modules.xml.undo-Z\\run.log", false},
      {"a log", "C:\\Temp\\run.log", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(IsUndoRecordName(c.path), c.record);
  }
}

}  // namespace
