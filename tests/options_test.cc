#include "run/options.h"

#include <gtest/gtest.h>

#include <vector>

using namespace run;

namespace {

Options Parse(std::vector<const char*> args) {
  args.insert(args.begin(), "modreg");
  return ParseOptions(static_cast<int>(args.size()), args.data());
}

// The flag of the mode |o| asks for; "" for the registration.
std::string FlagOf(const Options& o) {
  return o.mode->flag ? o.mode->flag : "";
}

TEST(ParseOptions, OptionsComeFirstAndTheRestIsPositional) {
  struct Case {
    const char* name;
    std::vector<const char*> args;
    const char* mode;  // its flag; "" for the registration
    bool dry_run, verbose, any;
    std::vector<std::string> positional;
  } cases[] = {
      {"no argument", {}, "", false, false, false, {}},
      {"one argument", {"x86"}, "", false, false, false, {"x86"}},
      {"a single dash is no option", {"x86", "-1", "-list"}, "", false, false,
       false, {"x86", "-1", "-list"}},
      {"a negative first argument", {"-1", "5"}, "", false, false, false,
       {"-1", "5"}},
      {"a lone -- is dropped", {"--", "x86"}, "", false, false, false,
       {"x86"}},
      {"a second -- is an argument", {"--", "--", "1"}, "", false, false,
       false, {"--", "1"}},
      {"an option, then the arguments", {"--verbose", "x64", " -1"}, "",
       false, true, true, {"x64", " -1"}},
      {"after -- an option is an argument",
       {"--dry-run", "--unregister", "--", "--x", "1"}, "--unregister", true,
       false, true, {"--x", "1"}},
      {"a mode and an option", {"--list", "--verbose", "x86"}, "--list",
       false, true, true, {"x86"}},
      {"--help wins over a mode", {"--list", "--help"}, "--help", false,
       false, true, {}},
      {"--version wins over a mode", {"--version", "--unregister"},
       "--version", false, false, true, {}},
      {"--help wins over --version", {"--version", "--help"}, "--help", false,
       false, true, {}},
      {"an option after -- and the arguments",
       {"--", "x86", "1", "--dry-run"}, "", false, false, false,
       {"x86", "1", "--dry-run"}},
      {"check", {"--verbose", "--check", "x86"}, "--check", false, true, true,
       {"x86"}},
      {"detect", {"--detect", "x86", "5"}, "--detect", false, false, true,
       {"x86", "5"}},
      {"repair's dry run", {"--repair", "--dry-run", "x64"}, "--repair", true,
       false, true, {"x64"}},
      {"a registration with an undo record",
       {"--undo", "{6C1C5D0E-8F54}-install", "x86", "5"}, "", false, false,
       true, {"x86", "5"}},
      {"rollback", {"--rollback", "x86", "{6C1C5D0E-8F54}-install"},
       "--rollback", false, false, true, {"x86", "{6C1C5D0E-8F54}-install"}},
      {"commit", {"--verbose", "--commit", "x64", "P-1"}, "--commit", false,
       true, true, {"x64", "P-1"}},
  };
  for (const Case& c : cases) {
    Options o = Parse(c.args);
    SCOPED_TRACE(c.name);
    EXPECT_EQ(o.error, "");
    EXPECT_EQ(FlagOf(o), c.mode);
    EXPECT_EQ(o.dry_run, c.dry_run);
    EXPECT_EQ(o.verbose, c.verbose);
    EXPECT_EQ(o.any, c.any);
    EXPECT_EQ(o.args, c.positional);
  }
}

// What a usage error adds when an argument holds a quote.
const std::string kQuoteHint =
    "; an argument holds a quote (\"): a backslash before a closing quote "
    "escapes it, and the argument runs on past it; end a folder in two "
    "backslashes (\"C:\\dir\\\\\") or in none (\"C:\\dir\")";

// An ID one character too long.
const std::string kLongId(65, 'A');

TEST(ParseOptions, NamesWhatIsWrong) {
  struct Case {
    std::vector<const char*> args;
    std::string error;
  } cases[] = {
      {{"--bogus", "x86", "1"}, "unknown option \"--bogus\""},
      {{"--verbose", "--Verbose"}, "unknown option \"--Verbose\""},
      {{"--unregister"}, "--unregister needs ARCH and MASK"},
      {{"--unregister", "x86"}, "--unregister needs MASK"},
      {{"--unregister", "x86", "1", "2"},
       "--unregister takes nothing after MASK: \"2\""},
      {{"--list"}, "--list needs ARCH"},
      {{"--list", "x86", "1"}, "--list takes nothing after ARCH: \"1\""},
      {{"--verbose"}, "a registration needs ARCH and MASK"},
      {{"--dry-run", "--", "x86"}, "a registration needs MASK"},
      {{"--unregister", "--list", "x86"},
       "--unregister and --list do not go together"},
      {{"--list", "--dry-run", "x86"}, "--dry-run does not go with --list"},
      {{"x64", "5", "--unregister"},
       "options come before ARCH: \"--unregister\""},
      {{"--dry-run", "x86", "1", "x", "--"},
       "options come before ARCH: \"--\""},
      {{"--unregister", "x86", "1", "--verbose"},
       "options come before ARCH: \"--verbose\""},
      {{"--list", "x86", "--verbose"},
       "options come before ARCH: \"--verbose\""},
      {{"--check"}, "--check needs ARCH"},
      {{"--check", "x86", "1"}, "--check takes nothing after ARCH: \"1\""},
      {{"--dry-run", "--check", "x86"}, "--dry-run does not go with --check"},
      {{"--list", "--check", "x86"}, "--check goes with no other mode"},
      {{"--check", "--unregister", "x86", "1"},
       "--check goes with no other mode"},
      {{"--verbose", "--log"}, "--log needs FILE"},
      {{"--log=", "x86", "1"}, "--log needs FILE"},
      {{"--openni"}, "--openni needs DIR"},
      {{"--product-dir=", "x86", "1"}, "--product-dir needs DIR"},
      {{"--openni=C:\\a", "--openni", "C:\\b", "x86", "1"}, "--openni is given twice"},
      {{"--openni", "C:\\a", "--openni-env", "x86", "1"},
       "--openni and --openni-env do not go together"},
      {{"--openniX=C:\\a", "x86", "1"}, "unknown option \"--openniX=C:\\a\""},
      {{"--openni-env=1", "x86", "1"}, "unknown option \"--openni-env=1\""},
      {{"--list", "--product-dir", "C:\\p", "x86"},
       "--product-dir does not go with --list"},
      // A value option given separately never takes an option for its
      // value.
      {{"--log", "--openni", "C:\\X", "x86", "3"},
       "--log needs FILE, not the option \"--openni\""},
      {{"--openni", "--", "--list", "x64"},
       "--openni needs DIR, not the option \"--\""},
      {{"--product-dir", "--verbose", "x64", "1"},
       "--product-dir needs DIR, not the option \"--verbose\""},
      // Where MASK belongs, a word beginning with "--" is an option too late.
      {{"x86", "--verbose", "5"}, "options come before ARCH: \"--verbose\""},
      {{"x64", "--verbose"}, "options come before ARCH: \"--verbose\""},
      {{"--unregister", "x86", "--dry-run"},
       "options come before ARCH: \"--dry-run\""},
      {{"--strict", "--list", "x86"}, "--strict does not go with --list"},
      {{"--check", "--strict", "x86"}, "--strict does not go with --check"},
      {{"--detect", "x86"}, "--detect needs MASK"},
      {{"--detect", "x86", "5", "1"}, "--detect takes nothing after MASK: \"1\""},
      {{"--strict", "--detect", "x86", "5"}, "--strict does not go with --detect"},
      {{"--detect", "--dry-run", "x86", "5"},
       "--dry-run does not go with --detect"},
      {{"--detect", "--unregister", "x86", "5"},
       "--unregister and --detect do not go together"},
      {{"--repair", "x86", "1"}, "--repair takes nothing after ARCH: \"1\""},
      {{"--repair", "--product-dir=C:\\p", "x86"},
       "--product-dir does not go with --repair"},
      {{"--repair", "--list", "x86"}, "--list and --repair do not go together"},
      {{"--repair", "--check", "x86"}, "--check goes with no other mode"},
      // An ID names a file beside the registry: nothing that could lead
      // elsewhere, nothing taken for an option.
      {{"--undo", "..\\x", "x86", "5"},
       "invalid ID \"..\\x\": expected 1 to 64 letters, digits, \"{\", \"}\" "
       "and \"-\", not beginning with \"-\""},
      {{"--rollback", "x86", "-install"},
       "invalid ID \"-install\": expected 1 to 64 letters, digits, \"{\", "
       "\"}\" and \"-\", not beginning with \"-\""},
      {{"--commit", "x86", kLongId.c_str()},
       "invalid ID \"" + kLongId +
           "\": expected 1 to 64 letters, digits, \"{\", \"}\" and \"-\", "
           "not beginning with \"-\""},
      {{"--rollback", "x86"}, "--rollback needs ID"},
      {{"--commit"}, "--commit needs ARCH and ID"},
      {{"--rollback", "x86", "A", "5"}, "--rollback takes nothing after ID: \"5\""},
      {{"--undo", "A", "--dry-run", "x86", "5"},
       "--undo does not go with --dry-run"},
      {{"--undo", "A", "--repair", "x86"}, "--undo does not go with --repair"},
      {{"--undo", "A", "--rollback", "x86", "A"},
       "--undo does not go with --rollback"},
      {{"--rollback", "--commit", "x86", "A"},
       "--rollback and --commit do not go together"},
      {{"--rollback", "--product-dir=C:\\p", "x86", "A"},
       "--product-dir does not go with --rollback"},
      // A folder's last backslash before a closing quote ("[INSTALLDIR]"
      // ends in one) made the quote, and what follows, part of it.
      {{"--detect", "--product-dir=C:\\P\" x86 5"},
       "--detect needs ARCH and MASK" + kQuoteHint},
      {{"--bogus", "x86", "\"5"}, "unknown option \"--bogus\"" + kQuoteHint},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error);
    EXPECT_EQ(Parse(c.args).error, c.error);
  }
  // A quote in a run that is fine is no error.
  EXPECT_EQ(Parse({"--product-dir=C:\\P\"", "x86", "5"}).error, "");
}

// The value follows as the next argument, or after "=", whatever it is.
TEST(ParseOptions, LogTakesAFile) {
  Options o = Parse({"--log=--verbose", "x86", "1"});
  EXPECT_EQ(o.error, "");
  EXPECT_EQ(o.log, "--verbose");
  EXPECT_FALSE(o.verbose);
  EXPECT_EQ(o.args, (std::vector<std::string>{"x86", "1"}));
  EXPECT_EQ(Parse({"--log", "-v", "x86", "1"}).log, "-v");
  EXPECT_EQ(Parse({"--log=C:\\a b.log", "--list", "x86"}).log, "C:\\a b.log");
}

TEST(ParseOptions, ValueAsTheNextArgumentOrAfterEquals) {
  struct Case {
    const char* name;
    std::vector<const char*> args;
    std::string openni;
    bool openni_env;
    std::string product_dir;
    std::vector<std::string> positional;
  } cases[] = {
      {"the next argument", {"--openni", "C:\\f", "x64", "1"}, "C:\\f", false,
       "", {"x64", "1"}},
      {"after =, an = in it",
       {"--openni=C:\\f=g\\", "--product-dir=D:/p", "--", "x86", "1"},
       "C:\\f=g\\", false, "D:/p", {"x86", "1"}},
      // After "=" the value is whatever follows.
      {"after =, an option's name", {"--openni-env", "--product-dir=--list",
                                     "x64", "1"},
       "", true, "--list", {"x64", "1"}},
      {"after =, a lone --", {"--openni=--", "--list", "x64"}, "--", false, "",
       {"x64"}},
      {"the next argument, a single dash", {"--openni", "-x", "x64", "1"},
       "-x", false, "", {"x64", "1"}},
  };
  for (const Case& c : cases) {
    Options o = Parse(c.args);
    SCOPED_TRACE(c.name);
    EXPECT_EQ(o.error, "");
    EXPECT_EQ(o.openni, c.openni);
    EXPECT_EQ(o.openni_env, c.openni_env);
    EXPECT_EQ(o.product_dir, c.product_dir);
    EXPECT_EQ(o.args, c.positional);
  }
  EXPECT_EQ(FlagOf(Parse({"--openni=--", "--list", "x64"})), "--list");
}

// A usage error reaches the log wherever --log stands among the options,
// before the error or after it; a value refused is no log.
TEST(ParseOptions, UsageErrorsStillFindTheLog) {
  struct Case {
    const char* name;
    std::vector<const char*> args;
    const char* log;
  } cases[] = {
      {"after an unknown option", {"--bogus", "--log", "L", "x86", "1"}, "L"},
      {"before an unknown option", {"--log", "L", "--bogus", "x86", "1"},
       "L"},
      {"after a value given twice",
       {"--openni=C:\\a", "--openni", "C:\\b", "--log", "L", "x86", "1"},
       "L"},
      {"after an empty value", {"--product-dir=", "--log=L", "x86", "1"},
       "L"},
      {"after a missing value", {"--openni", "--log", "L", "x86", "1"}, "L"},
      {"after modes that clash", {"--list", "--unregister", "--log", "L",
                                  "x86"},
       "L"},
      {"its value refused", {"--log", "--openni", "C:\\X", "x86", "3"}, ""},
      {"after --, an argument", {"--bogus", "--", "--log", "L", "x86", "1"},
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Options o = Parse(c.args);
    EXPECT_NE(o.error, "");
    EXPECT_EQ(o.log, c.log);
  }
  // Every folder named, wherever it stands and however often: the log
  // must never be one of their registries.
  struct Named {
    const char* name;
    std::vector<const char*> args;
    std::vector<std::string> folders;
    bool env;
  } named[] = {
      {"none", {"x86", "5"}, {}, false},
      {"one, read", {"--openni", "C:\\A", "x86", "5"}, {"C:\\A"}, false},
      {"one, after the arguments",
       {"--log", "L", "x86", "5", "--openni", "C:\\A"}, {"C:\\A"}, false},
      {"two, the second refused",
       {"--openni", "C:\\A", "--openni", "C:\\B", "--log", "L", "x86", "5"},
       {"C:\\A", "C:\\B"}, false},
      {"two after =, one after ARCH",
       {"--openni=C:\\A", "--list", "x86", "--openni=C:\\B"},
       {"C:\\A", "C:\\B"}, false},
      {"the variable, after ARCH", {"--list", "x86", "--openni-env"}, {},
       true},
      {"one after --", {"--", "--openni", "C:\\A", "5"}, {"C:\\A"}, false},
  };
  for (const Named& c : named) {
    SCOPED_TRACE(c.name);
    Options o = Parse(c.args);
    EXPECT_EQ(o.named_folders, c.folders);
    EXPECT_EQ(o.named_env, c.env);
  }
  // And where the framework is: the log must not be its registry.
  Options o = Parse({"--bogus", "--openni", "C:\\F", "--openni-env", "--log",
                     "L", "x86"});
  EXPECT_EQ(o.openni, "C:\\F");
  EXPECT_TRUE(o.openni_env);
}

TEST(ParseOptions, Strict) {
  EXPECT_TRUE(Parse({"--strict", "--unregister", "x86", "5"}).strict);
  EXPECT_TRUE(Parse({"--dry-run", "--strict", "x86", "5"}).strict);
  EXPECT_FALSE(Parse({"x86", "5"}).strict);
  EXPECT_EQ(Parse({"--strict=1", "x86", "5"}).error,
            "unknown option \"--strict=1\"");
}

// "-h", "-?" and "/?" alone ask for help the way other programs take it;
// they stay a short command line.
TEST(ParseOptions, AskedForHelp) {
  struct Case {
    const char* name;
    std::vector<const char*> args;
    bool asked;
  } cases[] = {
      {"-h alone", {"-h"}, true},
      {"-? alone", {"-?"}, true},
      {"/? alone", {"/?"}, true},
      {"-h before ARCH", {"-h", "x86"}, false},
      {"-h after ARCH", {"x86", "-h"}, false},
      {"-h in upper case", {"-H"}, false},
      {"/h: only /? asks with a slash", {"/h"}, false},
      {"-help, a word after one dash", {"-help"}, false},
      {"no argument at all", {}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Options o = Parse(c.args);
    EXPECT_EQ(o.asked_help, c.asked);
    EXPECT_EQ(FlagOf(o), "");
    EXPECT_EQ(o.error, "");
  }
}

}  // namespace
