// Undo records on files (POSIX: the registry in a Wine-shaped prefix): a
// recorded pass, then a rollback after whatever happened in between, and
// the records a rollback must refuse.
#include "registry/undo.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "platform/boot.h"
#include "registry/rollback.h"
#include "registry/sha256.h"
#include "registry/transaction.h"
#include "prefix_support.h"

using namespace registry;

namespace {

const char kBefore[] =
    "<Modules>\r\n"
    "\t<Module path=\"C:\\Program Files\\HALDEToF\\Old.dll\"/>\r\n"
    "\t<Module path=\"C:\\OpenNI\\Bin\\nimCodecs.dll\"/>\r\n"
    "</Modules>\r\n";
const ModuleEntry kNew{R"(C:\Program Files\HALDEToF\New.dll)", "", false};
const char kOther[] = "\t<Module path=\"C:\\Other\\Other.dll\"/>\r\n";
// Another product's module of Old.dll's file name, in another case.
const char kOtherOld[] = "\t<Module path=\"D:\\Other\\OLD.dll\"/>\r\n";

// A registration of kNew, recorded as |id|, with what it |strict|ly
// checks; or an |unregistration|.
PassOutcome Register(const std::string& id, bool strict = false,
                     bool unregistration = false) {
  RegistryTransaction t;
  t.site = PrefixSite(id);
  PassPlan plan;
  plan.undo_id = id;
  plan.undo_arch = "x86";
  plan.undo_action = "registration";
  plan.boot = platform::BootTime();
  plan.edit.ProductFolder = "HALDEToF";
  if (!unregistration) plan.edit.entries = {kNew};
  plan.edit.removals_alone_written = unregistration;
  plan.check_first = strict;
  return RunTransaction(&t, plan);
}

const char kRegistered[] =
    "<Modules>\r\n"
    "\t<Module path=\"C:\\OpenNI\\Bin\\nimCodecs.dll\"/>\r\n"
    "\t<Module path=\"C:\\Program Files\\HALDEToF\\New.dll\"/>\r\n"
    "</Modules>\r\n\r\n";

// Rewrites the record at |file| with |change| applied to its bytes, the
// digest of its registry's bytes made to fit again.
void Rewrite(const std::string& file,
             const std::function<void(UndoRecord*)>& change) {
  const std::string bytes = Slurp(file);
  UndoRecord record;
  std::string why;
  ASSERT_TRUE(ParseUndoRecord(ByteBuffer(bytes.begin(), bytes.end()), &record,
                              &why))
      << why;
  change(&record);
  std::string out = FormatUndoHeader(record);
  out.append(record.before.begin(), record.before.end());
  Put(file, out + "\n");
}

TEST(Rollback, PutsBackOnlyWhatTheRecordedRunChanged) {
  uid_t nobody = 0;
  if (const passwd* entry = getpwnam("nobody")) nobody = entry->pw_uid;
  const bool can_give = geteuid() == 0 && nobody != 0;
  struct Case {
    const char* name;
    // After the recorded registration: what else happened, given the
    // registry's and the record's files.
    std::function<void(const std::string& registry, const std::string& record)>
        then;
    RollbackKind kind;
    const char* registry;  // afterwards
    bool record_left;
    bool needs_root = false;
    size_t put_after = 0;  // put back after an entry they would shadow
    const char* before = kBefore;  // the registry the run registered in
  } cases[] = {
      {"the registry as the run wrote it: its bytes before come back",
       [](const std::string&, const std::string&) {}, RollbackKind::kRestored,
       kBefore, false},
      {"the registry as before (the run failed after recording): nothing",
       [](const std::string& registry, const std::string&) {
         Put(registry, kBefore);
       },
       RollbackKind::kAsBefore, kBefore, false},
      {"changed since: only the run's own change undone, in place",
       [](const std::string& registry, const std::string&) {
         std::string now = kRegistered;
         now.insert(now.find("</Modules>"), kOther);
         Put(registry, now);
       },
       RollbackKind::kUndoneOwn,
       "<Modules>\r\n"
       "\t<Module path=\"C:\\Program Files\\HALDEToF\\Old.dll\"/>\r\n"
       "\t<Module path=\"C:\\OpenNI\\Bin\\nimCodecs.dll\"/>\r\n"
       "\t<Module path=\"C:\\Other\\Other.dll\"/>\r\n"
       "</Modules>\r\n\r\n",
       false},
      {"changed since, the removed element put back by hand: not twice",
       [](const std::string& registry, const std::string&) {
         std::string now = kBefore;
         now.insert(now.find("</Modules>"),
                    "\t<Module path=\"C:\\Program Files\\HALDEToF\\New.dll\"/>"
                    "\r\n");
         now.insert(now.find("</Modules>"), kOther);
         Put(registry, now);
       },
       RollbackKind::kUndoneOwn,
       "<Modules>\r\n"
       "\t<Module path=\"C:\\Program Files\\HALDEToF\\Old.dll\"/>\r\n"
       "\t<Module path=\"C:\\OpenNI\\Bin\\nimCodecs.dll\"/>\r\n"
       "\t<Module path=\"C:\\Other\\Other.dll\"/>\r\n"
       "</Modules>\r\n\r\n",
       false},
      {"changed since, an entry of the removed one's file name added "
       "(another case): put back after it, which it would shadow",
       [](const std::string& registry, const std::string&) {
         std::string now = kRegistered;
         now.insert(now.find("</Modules>"), kOther);
         now.insert(now.find("</Modules>"), kOtherOld);
         Put(registry, now);
       },
       RollbackKind::kUndoneOwn,
       "<Modules>\r\n"
       "\t<Module path=\"C:\\OpenNI\\Bin\\nimCodecs.dll\"/>\r\n"
       "\t<Module path=\"C:\\Other\\Other.dll\"/>\r\n"
       "\t<Module path=\"D:\\Other\\OLD.dll\"/>\r\n"
       "\t<Module path=\"C:\\Program Files\\HALDEToF\\Old.dll\"/>\r\n"
       "</Modules>\r\n\r\n",
       false, false, 1},
      {"changed since, two entries of that file name: put back after the last",
       [](const std::string& registry, const std::string&) {
         std::string now = kRegistered;
         now.insert(now.find("\t<Module"), kOtherOld);
         now.insert(now.find("</Modules>"), kOther);
         now.insert(now.find("</Modules>"), kOtherOld);
         Put(registry, now);
       },
       RollbackKind::kUndoneOwn,
       "<Modules>\r\n"
       "\t<Module path=\"D:\\Other\\OLD.dll\"/>\r\n"
       "\t<Module path=\"C:\\OpenNI\\Bin\\nimCodecs.dll\"/>\r\n"
       "\t<Module path=\"C:\\Other\\Other.dll\"/>\r\n"
       "\t<Module path=\"D:\\Other\\OLD.dll\"/>\r\n"
       "\t<Module path=\"C:\\Program Files\\HALDEToF\\Old.dll\"/>\r\n"
       "</Modules>\r\n\r\n",
       false, false, 1},
      {"changed since, a name that only ends alike: no rival, put back in "
       "place",
       [](const std::string& registry, const std::string&) {
         std::string now = kRegistered;
         now.insert(now.find("</Modules>"),
                    "\t<Module path=\"D:\\Other\\MyOld.dll\"/>\r\n");
         Put(registry, now);
       },
       RollbackKind::kUndoneOwn,
       "<Modules>\r\n"
       "\t<Module path=\"C:\\Program Files\\HALDEToF\\Old.dll\"/>\r\n"
       "\t<Module path=\"C:\\OpenNI\\Bin\\nimCodecs.dll\"/>\r\n"
       "\t<Module path=\"D:\\Other\\MyOld.dll\"/>\r\n"
       "</Modules>\r\n\r\n",
       false},
      {"changed since, the removed one's value holding a line end: it comes "
       "back printed as it was, CR LF and all",
       [](const std::string& registry, const std::string&) {
         std::string now = kRegistered;
         now.insert(now.find("</Modules>"), kOther);
         Put(registry, now);
       },
       RollbackKind::kUndoneOwn,
       "<Modules>\r\n"
       "\t<Module path=\"C:\\Program Files\\HALDEToF\\Old.dll\" "
       "note=\"a\r\nb\"/>\r\n"
       "\t<Module path=\"C:\\OpenNI\\Bin\\nimCodecs.dll\"/>\r\n"
       "\t<Module path=\"C:\\Other\\Other.dll\"/>\r\n"
       "</Modules>\r\n\r\n",
       false, false, 0,
       "<Modules>\r\n"
       "\t<Module path=\"C:\\Program Files\\HALDEToF\\Old.dll\" "
       "note=\"a&#10;b\"/>\r\n"
       "\t<Module path=\"C:\\OpenNI\\Bin\\nimCodecs.dll\"/>\r\n"
       "</Modules>\r\n"},
      {"no record: nothing", 
       [](const std::string&, const std::string& record) {
         unlink(record.c_str());
       },
       RollbackKind::kNoRecord, kRegistered, false},
      {"another ID's record only: nothing, and it stays",
       [](const std::string&, const std::string& record) {
         rename(record.c_str(),
                (record.substr(0, record.rfind('-')) + "-other").c_str());
       },
       RollbackKind::kNoRecord, kRegistered, false},
      {"a record of an earlier start of the machine: dropped, not applied",
       [](const std::string&, const std::string& record) {
         Rewrite(record, [](UndoRecord* r) { r->boot -= 24 * 3600; });
       },
       RollbackKind::kStale, kRegistered, false},
      {"a record of another registry: refused",
       [](const std::string&, const std::string& record) {
         Rewrite(record, [](UndoRecord* r) {
           r->registry = R"(C:\Elsewhere\Data\modules.xml)";
         });
       },
       RollbackKind::kRefused, kRegistered, true},
      {"a damaged record (its registry's bytes changed): refused",
       [](const std::string&, const std::string& record) {
         std::string bytes = Slurp(record);
         bytes[bytes.size() - 5] ^= 1;
         Put(record, bytes);
       },
       RollbackKind::kRefused, kRegistered, true},
      {"a record others may write: refused",
       [](const std::string&, const std::string& record) {
         chmod(record.c_str(), 0666);
       },
       RollbackKind::kRefused, kRegistered, true},
      {"a record that is a link to one of the tool's own: refused",
       [](const std::string&, const std::string& record) {
         rename(record.c_str(), (record + ".real").c_str());
         symlink((record + ".real").c_str(), record.c_str());
       },
       RollbackKind::kRefused, kRegistered, true},
      {"a record another user planted: refused",
       [nobody](const std::string&, const std::string& record) {
         ASSERT_EQ(chown(record.c_str(), nobody, static_cast<gid_t>(-1)), 0);
       },
       RollbackKind::kRefused, kRegistered, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.needs_root && !can_give) continue;
    Prefix prefix(c.before);
    const std::string record = prefix.data + kUndoPrefix + "{P}-install";
    const PassOutcome registered = Register("{P}-install");
    ASSERT_EQ(registered.result.status, RegistryStatus::kWritten);
    ASSERT_TRUE(registered.recorded);
    ASSERT_EQ(Slurp(prefix.data + "modules.xml"), kRegistered);
    c.then(prefix.data + "modules.xml", record);
    RegistryTransaction t;
    t.site = PrefixSite("{P}-install");
    const RollbackOutcome o = RollBackRegistry(&t, platform::BootTime());
    EXPECT_EQ(o.kind, c.kind) << o.why << o.result.reason;
    EXPECT_EQ(Slurp(prefix.data + "modules.xml"), c.registry);
    EXPECT_EQ(o.undone.put_after, c.put_after);
    bool left;
    Slurp(record, &left);
    EXPECT_EQ(left, c.record_left);
  }
}

TEST(UndoRecord, OnlyAPassThatWritesLeavesOne) {
  Prefix prefix(kBefore);
  const std::string record = prefix.data + kUndoPrefix + "A";
  Put(record, "an earlier record of the same ID");
  // --strict refuses: New.dll is missing. Nothing written, no record: the
  // earlier one is gone too, never to be applied to this run.
  EXPECT_EQ(Register("A", true).result.status, RegistryStatus::kRefused);
  bool left;
  Slurp(record, &left);
  EXPECT_FALSE(left);
  EXPECT_EQ(Slurp(prefix.data + "modules.xml"), kBefore);
  // Written: recorded, and the record holds the bytes before.
  EXPECT_TRUE(Register("A").recorded);
  UndoRecord parsed;
  std::string why;
  const std::string bytes = Slurp(record);
  ASSERT_TRUE(
      ParseUndoRecord(ByteBuffer(bytes.begin(), bytes.end()), &parsed, &why))
      << why;
  EXPECT_EQ(std::string(parsed.before.begin(), parsed.before.end()), kBefore);
  EXPECT_EQ(parsed.after_digest, DigestOf(kRegistered, sizeof kRegistered - 1));
  EXPECT_EQ(parsed.after_size, sizeof kRegistered - 1);
  ASSERT_EQ(parsed.removed.size(), 1u);
  EXPECT_EQ(parsed.removed[0].index, 0u);
  struct stat st;
  ASSERT_EQ(stat(record.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u) << "owner-only";
  // An unregistration records; once more, with nothing to remove, the
  // registry keeps its bytes and no record is left.
  EXPECT_TRUE(Register("A", false, true).recorded);
  EXPECT_EQ(Register("A", false, true).result.status,
            RegistryStatus::kUnchanged);
  Slurp(record, &left);
  EXPECT_FALSE(left);
}

TEST(UndoRecord, AnyTruncationIsRefusedAsDamaged) {
  UndoRecord record;
  record.id = "{P}-install";
  record.arch = "x86";
  record.action = "registration";
  record.registry = "C:\\r\nx";  // a line end in a value ends nothing
  record.before.assign(kBefore, kBefore + sizeof kBefore - 1);
  record.removed = {{3, "\t<Module path=\"x\"/>\r\n"}};
  record.added = {kNew};
  std::string whole = FormatUndoHeader(record);
  whole.append(record.before.begin(), record.before.end());
  whole += '\n';
  UndoRecord parsed;
  std::string why;
  ASSERT_TRUE(
      ParseUndoRecord(ByteBuffer(whole.begin(), whole.end()), &parsed, &why))
      << why;
  EXPECT_EQ(parsed.registry, record.registry);
  EXPECT_EQ(parsed.removed[0].index, 3u);
  EXPECT_EQ(parsed.added[0].path, kNew.path);
  for (size_t size = 0; size < whole.size(); ++size) {
    UndoRecord cut;
    EXPECT_FALSE(ParseUndoRecord(ByteBuffer(whole.begin(), whole.begin() + size),
                                 &cut, &why))
        << size;
  }
  std::string other = whole;
  other.replace(other.find("format 1\n1"), 10, "format 1\n2");
  EXPECT_FALSE(
      ParseUndoRecord(ByteBuffer(other.begin(), other.end()), &parsed, &why));
  EXPECT_NE(why.find("format is 2"), std::string::npos) << why;
}

TEST(Sha256, KnownDigests) {
  const struct {
    std::string text;
    const char* digest;
  } rows[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc",
       "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000, 'a'),
       "41edece42d63e8d9bf515a9ba6932e1c20cbc9f5a5d134645adb5db1b9737ea3"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(DigestOf(row.text.data(), row.text.size()), row.digest)
        << row.text.size();
    Sha256 parts;  // fed a byte at a time
    for (char c : row.text) AddSha256(&parts, &c, 1);
    EXPECT_EQ(FinishSha256(&parts), row.digest);
  }
}

}  // namespace
