// The registry transaction on files (POSIX: the registry in a Wine-shaped
// prefix): each pass on one loaded document, what the registry and its
// backup hold afterwards.
#include "registry/transaction.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "registry/check.h"
#include "prefix_support.h"

using namespace registry;

namespace {

const char kRegistry[] =
    "<Modules>\r\n"
    "\t<Module path=\"C:\\OpenNI\\Bin\\nimCodecs.dll\"/>\r\n"
    "\t<Module/>\r\n"
    "\t<Module path=\"C:\\Program Files\\HALDEToF\\Old.dll\"/>\r\n"
    "</Modules>\r\n";
const ModuleEntry kNew{R"(C:\Program Files\HALDEToF\New.dll)", "", false};

TEST(RegistryTransaction, EachPassOnOneLoadedDocument) {
  struct Case {
    const char* name;
    std::function<void(PassPlan*)> plan;
    RegistryStatus status;
    size_t removed;
    bool backup;           // made by the pass
    const char* registry;  // afterwards; null: as it was
  } cases[] = {
      {"register",
       [](PassPlan* p) {
         p->edit.ProductFolder = "HALDEToF";
         p->edit.entries = {kNew};
         p->edit.removals_alone_written = false;
       },
       RegistryStatus::kWritten, 1, true,
       "<Modules>\r\n"
       "\t<Module path=\"C:\\OpenNI\\Bin\\nimCodecs.dll\"/>\r\n"
       "\t<Module/>\r\n"
       "\t<Module path=\"C:\\Program Files\\HALDEToF\\New.dll\"/>\r\n"
       "</Modules>\r\n\r\n"},
      {"register nothing: the removal is not written, the backup is made",
       [](PassPlan* p) {
         p->edit.ProductFolder = "HALDEToF";
         p->edit.removals_alone_written = false;
       },
       RegistryStatus::kUnchanged, 0, true, nullptr},
      {"unregister",
       [](PassPlan* p) { p->edit.ProductFolder = "HALDEToF"; },
       RegistryStatus::kWritten, 1, true,
       "<Modules>\r\n"
       "\t<Module path=\"C:\\OpenNI\\Bin\\nimCodecs.dll\"/>\r\n"
       "\t<Module/>\r\n"
       "</Modules>\r\n\r\n"},
      {"repair: the Module without path only",
       [](PassPlan* p) { p->repair = true; },
       RegistryStatus::kWritten, 1, true,
       "<Modules>\r\n"
       "\t<Module path=\"C:\\OpenNI\\Bin\\nimCodecs.dll\"/>\r\n"
       "\t<Module path=\"C:\\Program Files\\HALDEToF\\Old.dll\"/>\r\n"
       "</Modules>\r\n\r\n"},
      {"strict: an entry to add is missing; nothing written, no backup",
       [](PassPlan* p) {
         p->edit.ProductFolder = "HALDEToF";
         p->edit.entries = {kNew};
         p->check_first = true;
       },
       RegistryStatus::kRefused, 1, false, nullptr},
      {"dry run: nothing written, no backup",
       [](PassPlan* p) {
         p->edit.ProductFolder = "HALDEToF";
         p->write = false;
       },
       RegistryStatus::kUnchanged, 1, false, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Prefix prefix(kRegistry);
    RegistryTransaction t;
    t.site = PrefixSite();
    PassPlan plan;
    plan.report = true;
    c.plan(&plan);
    const PassOutcome o = RunTransaction(&t, plan);
    EXPECT_EQ(o.result.status, c.status) << o.result.reason;
    EXPECT_EQ(o.removed.size(), c.removed);
    bool exists;
    EXPECT_EQ(Slurp(prefix.data + "modules.xml", &exists),
              c.registry ? c.registry : kRegistry);
    const std::string backup = Slurp(prefix.data + "modules.xml.old", &exists);
    EXPECT_EQ(exists, c.backup);
    if (exists) {
      EXPECT_EQ(backup, kRegistry);
    }
    Slurp(prefix.data + "modules.xml.old.tmp", &exists);
    EXPECT_FALSE(exists) << "the backup's temporary file is left";
  }
}

// A registry that cannot be parsed still gets its backup: it is written
// from the bytes read, before the parse.
TEST(RegistryTransaction, MalformedRegistryIsBackedUp) {
  const std::string malformed = "<Modules><Module path='x'></Modules>";
  Prefix prefix(malformed);
  RegistryTransaction t;
  t.site = PrefixSite();
  PassPlan plan;
  plan.edit.ProductFolder = "HALDEToF";
  plan.edit.entries = {kNew};
  const PassOutcome o = RunTransaction(&t, plan);
  EXPECT_EQ(o.result.status, RegistryStatus::kMalformed);
  EXPECT_EQ(o.backup, BackupState::kMade);
  bool exists;
  EXPECT_EQ(Slurp(prefix.data + "modules.xml.old", &exists), malformed);
  EXPECT_TRUE(exists);
}

// The check after writing names an earlier entry by its line in the file
// as written, not as read: there an attribute holding a line end spans
// two lines.
TEST(RegistryTransaction, CheckAfterWritingNamesTheWrittenLines) {
  Prefix prefix(
      "<Modules>\n<Module path='a&#10;b'/>\n<Module/>"
      "<Data path='c'/><Module path='C:\\X\\New.dll'/></Modules>");
  RegistryTransaction t;
  t.site = PrefixSite();
  PassPlan plan;
  plan.edit.ProductFolder = "HALDEToF";
  plan.edit.entries = {{R"(C:\X\New.dll)", "", false}};
  plan.check_after = true;
  const PassOutcome o = RunTransaction(&t, plan);
  ASSERT_EQ(o.result.status, RegistryStatus::kWritten) << o.result.reason;
  ASSERT_EQ(o.checked_after.size(), 1u);
  std::vector<std::string> said;
  for (const Finding& f : o.checked_after[0].findings) said.push_back(f.what);
  EXPECT_NE(std::find(said.begin(), said.end(), "repeats the entry at line 6"),
            said.end())
      << testing::PrintToString(said);
}

}  // namespace
