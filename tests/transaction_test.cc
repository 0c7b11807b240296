// The registry transaction on files (POSIX: the registry in a Wine-shaped
// prefix): each pass on one loaded document, what the registry and its
// backup hold afterwards.
#include "registry/transaction.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "registry/check.h"
#include "registry/update.h"

namespace {

const char kRegistry[] =
    "<Modules>\r\n"
    "\t<Module path=\"C:\\OpenNI\\Bin\\nimCodecs.dll\"/>\r\n"
    "\t<Module/>\r\n"
    "\t<Module path=\"C:\\Program Files\\HALDEToF\\Old.dll\"/>\r\n"
    "</Modules>\r\n";
const ModuleEntry kNew{R"(C:\Program Files\HALDEToF\New.dll)", "", false};

std::string Slurp(const std::string& path, bool* exists) {
  std::ifstream in(path, std::ios::binary);
  *exists = static_cast<bool>(in);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// A fresh prefix holding |registry| as C:\OpenNI\Data\modules.xml.
struct Prefix {
  std::string root, data;
  explicit Prefix(const std::string& registry) {
    char tmpl[] = "/tmp/modreg-transaction-XXXXXX";
    root = mkdtemp(tmpl);
    for (const char* dir : {"/drive_c", "/drive_c/OpenNI", "/drive_c/OpenNI/Data"})
      mkdir((root + dir).c_str(), 0755);
    data = root + "/drive_c/OpenNI/Data/";
    std::ofstream(data + "modules.xml", std::ios::binary) << registry;
    setenv("WINEPREFIX", root.c_str(), 1);
  }
  ~Prefix() { system(("rm -rf '" + root + "'").c_str()); }
};

RegistryTransaction Open() {
  RegistryTransaction t;
  t.RegistryPath = R"(C:\OpenNI\Data\modules.xml)";
  t.BackupPath = R"(C:\OpenNI\Data\modules.xml.old)";
  t.folder = R"(C:\OpenNI\Data)";
  return t;
}

// The repair's choice: the Module elements without a path.
std::vector<const rapidxml::xml_node<char>*> Pathless(
    const RegistryDocument& document) {
  std::vector<const rapidxml::xml_node<char>*> nodes;
  for (const CheckedModule& module : CheckDocument(document, 32))
    if (!module.has_path) nodes.push_back(module.node);
  return nodes;
}

TEST(RegistryTransaction, EachPassOnOneLoadedDocument) {
  struct Case {
    const char* name;
    std::function<void(RegistryEdit*, const RegistryDocument&)> edit;
    bool keep_backup;         // false: the pass refused, as --strict does
    size_t removed;
    const char* registry;     // afterwards; null: as it was
  } cases[] = {
      {"register",
       [](RegistryEdit* e, const RegistryDocument&) {
         e->ProductFolder = "HALDEToF";
         e->entries = {kNew};
         e->removals_alone_written = false;
       },
       true, 1,
       "<Modules>\r\n"
       "\t<Module path=\"C:\\OpenNI\\Bin\\nimCodecs.dll\"/>\r\n"
       "\t<Module/>\r\n"
       "\t<Module path=\"C:\\Program Files\\HALDEToF\\New.dll\"/>\r\n"
       "</Modules>\r\n\r\n"},
      {"register nothing: the removal is not written",
       [](RegistryEdit* e, const RegistryDocument&) {
         e->ProductFolder = "HALDEToF";
         e->removals_alone_written = false;
       },
       true, 1, nullptr},
      {"unregister",
       [](RegistryEdit* e, const RegistryDocument&) {
         e->ProductFolder = "HALDEToF";
       },
       true, 1,
       "<Modules>\r\n"
       "\t<Module path=\"C:\\OpenNI\\Bin\\nimCodecs.dll\"/>\r\n"
       "\t<Module/>\r\n"
       "</Modules>\r\n\r\n"},
      {"repair: the pathless Module only",
       [](RegistryEdit* e, const RegistryDocument& d) {
         e->modules = Pathless(d);
       },
       true, 1,
       "<Modules>\r\n"
       "\t<Module path=\"C:\\OpenNI\\Bin\\nimCodecs.dll\"/>\r\n"
       "\t<Module path=\"C:\\Program Files\\HALDEToF\\Old.dll\"/>\r\n"
       "</Modules>\r\n\r\n"},
      {"strict refusal: nothing written, no backup",
       [](RegistryEdit* e, const RegistryDocument&) {
         e->ProductFolder = "HALDEToF";
         e->entries = {kNew};
       },
       false, 1, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Prefix prefix(kRegistry);
    RegistryTransaction t = Open();
    LoadMode mode;
    mode.back_up = mode.find_lines = true;
    ASSERT_EQ(LoadRegistry(&t, mode).reason, "");
    RegistryEdit edit;
    c.edit(&edit, t.document);
    EditOutcome outcome =
        ApplyEdit(edit, t.document.doc.get(), t.document.modules);
    EXPECT_EQ(outcome.removed.size(), c.removed);
    // A registration's removal alone is not written; anything else is.
    EXPECT_EQ(outcome.rewrite, !c.keep_backup || c.registry != nullptr);
    if (c.keep_backup) {
      EXPECT_EQ(KeepBackup(&t), "");
      EXPECT_EQ(t.backup_state, BackupState::kMade);
      if (outcome.rewrite) {
        EXPECT_EQ(CommitRegistry(&t).status, RegistryStatus::kWritten);
      }
    }
    EndTransaction(&t);
    bool exists;
    EXPECT_EQ(Slurp(prefix.data + "modules.xml", &exists),
              c.registry ? c.registry : kRegistry);
    const std::string backup = Slurp(prefix.data + "modules.xml.old", &exists);
    EXPECT_EQ(exists, c.keep_backup);
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
  RegistryTransaction t = Open();
  LoadMode mode;
  mode.back_up = true;
  EXPECT_EQ(LoadRegistry(&t, mode).status, RegistryStatus::kMalformed);
  EXPECT_EQ(KeepBackup(&t), "");
  EndTransaction(&t);
  bool exists;
  EXPECT_EQ(Slurp(prefix.data + "modules.xml.old", &exists), malformed);
  EXPECT_TRUE(exists);
}

// The lines of the Module elements with a path in the file as written,
// told while it is printed: an attribute holding a line end spans two.
TEST(RegistryTransaction, CommitTellsTheWrittenLines) {
  Prefix prefix(
      "<Other/>\n<Modules>\n<Module path='a&#10;b'/>\n<Module/>"
      "<Data path='c'/><Module path='d'/></Modules>");
  RegistryTransaction t = Open();
  ASSERT_EQ(LoadRegistry(&t, LoadMode{}).reason, "");
  std::vector<size_t> lines;
  ASSERT_EQ(CommitRegistry(&t, &lines).status, RegistryStatus::kWritten);
  bool exists;
  const std::string written = Slurp(prefix.data + "modules.xml", &exists);
  EXPECT_EQ(written,
            "<Other/>\r\n<Modules>\r\n\t<Module path=\"a\r\nb\"/>\r\n"
            "\t<Module/>\r\n\t<Data path=\"c\"/>\r\n\t<Module path=\"d\"/>\r\n"
            "</Modules>\r\n\r\n");
  EXPECT_EQ(lines, (std::vector<size_t>{3, 7}));
}

}  // namespace
