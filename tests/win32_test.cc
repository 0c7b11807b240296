// The Windows side's own pieces, under Wine: conversions per code page,
// judging descriptors, long names, the log's path and the registry's
// lock.
#include <gtest/gtest.h>

#include <string>

#include "platform/files.h"
#include "platform/lock.h"
#include "platform/log_file.h"
#include "platform/lookup.h"
#include "platform/trust.h"
#include "platform/path-win32.h"
#include "platform/security-win32.h"
#include "platform/text-win32.h"

#include <sddl.h>  // after windows.h

namespace {

// The lock file's name the tool gives LockRegistryFolder.
constexpr char kLockFileName[] = "modules.xml.lock";

using platform::win32::Judged;
using platform::win32::Utf8;
using platform::win32::Wide;

// A new, empty folder of this test's under the system's temporary folder,
// as a full path in UTF-8.
std::string TempFolder(const char* name) {
  wchar_t temp[MAX_PATH];
  const DWORD n = GetTempPathW(MAX_PATH, temp);
  std::wstring folder = std::wstring(temp, n) + L"modreg-" + Wide(name) +
                        L"-" + std::to_wstring(GetCurrentProcessId());
  CreateDirectoryW(folder.c_str(), nullptr);
  return Utf8(folder.c_str());
}

bool Exists(const std::string& path) {
  return GetFileAttributesW(Wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

using platform::win32::Conversion;
using platform::win32::ConversionFlags;

TEST(ConversionFlags, EachCodePageGetsTheFlagsItTakes) {
  const Conversion exact = {WC_NO_BEST_FIT_CHARS, MB_ERR_INVALID_CHARS, true};
  const Conversion strict = {WC_ERR_INVALID_CHARS, MB_ERR_INVALID_CHARS,
                             false};
  const Conversion none = {0, 0, false};
  struct Case {
    const char* name;
    UINT code_page;
    Conversion conversion;
  } cases[] = {
      {"Western European (Windows)", 1252, exact},
      {"Central European (Windows)", 1250, exact},
      {"Japanese, double-byte", 932, exact},
      {"Simplified Chinese, double-byte", 936, exact},
      {"an OEM code page", 437, exact},
      {"ISO 8859-1", 28591, exact},
      {"US-ASCII", 20127, exact},
      {"just below the ISCII code pages", 57001, exact},
      {"just above the ISCII code pages", 57012, exact},
      {"UTF-8", 65001, strict},
      {"GB18030", 54936, strict},
      {"Symbol", 42, none},
      {"ISO 2022 Japanese", 50220, none},
      {"ISO 2022 Japanese, one-byte kana", 50221, none},
      {"ISO 2022 Japanese, one-byte kana by SO and SI", 50222, none},
      {"ISO 2022 Korean", 50225, none},
      {"ISO 2022 Simplified Chinese", 50227, none},
      {"ISO 2022 Traditional Chinese", 50229, none},
      {"the first ISCII code page", 57002, none},
      {"an ISCII code page between", 57006, none},
      {"the last ISCII code page", 57011, none},
      {"UTF-7", 65000, none},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + ": " + std::to_string(c.code_page));
    const Conversion got = ConversionFlags(c.code_page);
    EXPECT_EQ(got.narrow_flags, c.conversion.narrow_flags);
    EXPECT_EQ(got.wide_flags, c.conversion.wide_flags);
    EXPECT_EQ(got.tells_default, c.conversion.tells_default);
  }
}

TEST(ToCodePage, OnlyExactSpellingsPassInEachCodePage) {
  const char* const lodz = "C:\\Kamera \xc5\x81\xc3\xb3""d\xc5\xba";
  struct Case {
    const char* name;
    UINT code_page;
    const char* utf8;
    const char* narrow;  // null: no exact spelling
  } cases[] = {
      {"UTF-8 as it is", 65001, lodz, lodz},
      {"UTF-8 outside the BMP", 65001, "\xf0\x9f\x98\x80",
       "\xf0\x9f\x98\x80"},
      {"a surrogate: not UTF-8", 65001, "\xed\xa0\x80", nullptr},
      {"Polish letters in Central European", 1250, lodz,
       "C:\\Kamera \xa3\xf3""d\x9f"},
      {"Polish letters in Western European, where best fit would be L",
       1252, lodz, nullptr},
      {"U with diaeresis in Western European", 1252, "C:\\Kamera \xc3\x9c",
       "C:\\Kamera \xdc"},
      {"two Japanese characters in Japanese", 932,
       "\xe6\x97\xa5\xe6\x9c\xac", "\x93\xfa\x96\x7b"},
      {"Polish letters in Japanese", 932, lodz, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + ": " + std::to_string(c.code_page) +
                 " " + c.utf8);
    std::string narrow = "untouched";
    ASSERT_EQ(platform::win32::ToCodePage(c.code_page, c.utf8, &narrow),
              c.narrow != nullptr);
    EXPECT_EQ(narrow, c.narrow ? c.narrow : "untouched");
  }
}

TEST(JudgeDescriptor, TellsWhoMayChangeAFolderOrAFile) {
  // "o": open to others; "-": not. For a folder itself, a folder on the
  // way to one and a file.
  struct Case {
    const char* name;
    const wchar_t* sddl;
    const char* open;  // folder, parent, file
  } cases[] = {
      {"SYSTEM's, only SYSTEM and Administrators may change it",
       L"O:SYD:(A;;FA;;;SY)(A;;FA;;;BA)", "---"},
      {"the Administrators' own; CREATOR OWNER too may change it",
       L"O:BAD:(A;;FA;;;SY)(A;;FA;;;BA)(A;;FA;;;CO)", "---"},
      {"users and everyone may read and run it",
       L"O:SYD:(A;;FRFX;;;BU)(A;;FRFX;;;WD)", "---"},
      {"an empty DACL: no one may", L"O:SYD:", "---"},
      {"no DACL at all: anyone may", L"O:SY", "ooo"},
      {"another user's", L"O:S-1-5-21-1-2-3-1001D:(A;;FA;;;SY)", "ooo"},
      {"users may do anything", L"O:SYD:(A;;FA;;;BU)", "ooo"},
      {"authenticated users may write, not delete", L"O:SYD:(A;;FW;;;AU)",
       "o-o"},
      {"users may write data: add a file", L"O:SYD:(A;;0x2;;;BU)", "o-o"},
      {"users may append: add a folder", L"O:SYD:(A;;0x4;;;BU)", "o-o"},
      {"users may delete a child", L"O:SYD:(A;;0x40;;;BU)", "oo-"},
      {"users may delete it", L"O:SYD:(A;;SD;;;BU)", "ooo"},
      {"everyone may change its permissions", L"O:SYD:(A;;WD;;;WD)", "ooo"},
      {"users may take ownership", L"O:SYD:(A;;WO;;;BU)", "ooo"},
      {"users may write its attributes only", L"O:SYD:(A;;0x100;;;BU)",
       "---"},
      {"users may do anything, to its files only", L"O:SYD:(A;OIIO;FA;;;BU)",
       "o--"},
      {"users may do anything, to subfolders only", L"O:SYD:(A;CIIO;FA;;;BU)",
       "---"},
      {"users may do anything, here and inherited", L"O:SYD:(A;OICI;FA;;;BU)",
       "ooo"},
      {"users are denied everything", L"O:SYD:(D;;FA;;;BU)", "---"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + ": " + Utf8(c.sddl));
    PSECURITY_DESCRIPTOR sd = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
        c.sddl, SDDL_REVISION_1, &sd, nullptr));
    const Judged judged[] = {Judged::kFolder, Judged::kParent, Judged::kFile};
    for (int i = 0; i < 3; ++i) {
      bool open = false;
      EXPECT_TRUE(platform::win32::JudgeDescriptor(
          sd, judged[i], platform::win32::Judge{}, &open));
      EXPECT_EQ(open, c.open[i] == 'o') << "as " << "folder\0parent\0file" +
                                                       (i * 7);
    }
    LocalFree(sd);
  }
}

TEST(JudgeDescriptor, TrustsTheUserOnlyInARunOfNoAdministrator) {
  // The user's entries are held by the same user's unelevated processes
  // too: an administrator's run trusts them nowhere, except the owner
  // Wine shows its files with.
  struct Case {
    const char* name;
    const wchar_t* sddl;
    bool administrator;
    bool wine;
    bool open;  // as a file
  } cases[] = {
      {"the Administrators', the user may write it, no administrator",
       L"O:BAD:P(A;;0x1f019f;;;S-1-5-21-0-0-0-1000)(A;;0x1f019f;;;SY)"
       L"(A;;0x1f019f;;;BA)",
       false, false, false},
      {"the Administrators', the user may write it, an administrator",
       L"O:BAD:P(A;;0x1f019f;;;S-1-5-21-0-0-0-1000)(A;;0x1f019f;;;SY)"
       L"(A;;0x1f019f;;;BA)",
       true, false, true},
      {"the user's, no administrator",
       L"O:S-1-5-21-0-0-0-1000D:P(A;;FA;;;SY)(A;;FA;;;BA)", false, false,
       false},
      {"the user's, an administrator",
       L"O:S-1-5-21-0-0-0-1000D:P(A;;FA;;;SY)(A;;FA;;;BA)", true, false,
       true},
      {"the user's, an administrator under Wine",
       L"O:S-1-5-21-0-0-0-1000D:P(A;;FA;;;SY)(A;;FA;;;BA)", true, true,
       false},
      {"the Administrators' only, an administrator",
       L"O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)", true, false, false},
      {"the Administrators' only, no administrator",
       L"O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)", false, false, false},
  };
  PSID user = nullptr;
  ASSERT_TRUE(ConvertStringSidToSidW(L"S-1-5-21-0-0-0-1000", &user));
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + ": " + Utf8(c.sddl));
    PSECURITY_DESCRIPTOR sd = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
        c.sddl, SDDL_REVISION_1, &sd, nullptr));
    bool open = !c.open;
    EXPECT_TRUE(platform::win32::JudgeDescriptor(
        sd, Judged::kFile, {user, c.administrator, c.wine}, &open));
    EXPECT_EQ(open, c.open);
    LocalFree(sd);
  }
  LocalFree(user);
}

TEST(MakeOwnerOnly, AnAdministratorsFilesAreTheAdministratorsOnly) {
  std::vector<BYTE> user;
  ASSERT_TRUE(platform::win32::UserSid(&user));
  wchar_t* user_text = nullptr;
  ASSERT_TRUE(ConvertSidToStringSidW(user.data(), &user_text));
  const std::wstring user_sid = user_text;
  LocalFree(user_text);
  struct Case {
    const char* name;
    bool administrator;
    const wchar_t* owner;  // how its SDDL begins
    bool user_entry;
  } cases[] = {
      {"an administrator's", true, L"O:BAD:P", false},
      {"no administrator's", false, L"D:P", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    platform::win32::Descriptor only;
    ASSERT_TRUE(platform::win32::MakeOwnerOnly(&only, c.administrator));
    wchar_t* text = nullptr;
    ASSERT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorW(
        &only.descriptor, SDDL_REVISION_1,
        OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &text,
        nullptr));
    const std::wstring sddl = text;
    LocalFree(text);
    SCOPED_TRACE(Utf8(sddl.c_str()));
    EXPECT_EQ(sddl.rfind(c.owner, 0), 0u);
    EXPECT_EQ(sddl.find(user_sid) != std::wstring::npos, c.user_entry);
    EXPECT_NE(sddl.find(L";;;SY)"), std::wstring::npos);
    EXPECT_NE(sddl.find(L";;;BA)"), std::wstring::npos);
    EXPECT_EQ(platform::win32::AdministratorsOnly(&only.descriptor),
              c.administrator);
  }
}

TEST(FileOpenToOthers, JudgesTheFileItself) {
  const std::string folder = TempFolder("file-open");
  struct Case {
    const char* name;
    const char* file;
    const wchar_t* sddl;  // null: made owner-only
    bool open;
  } cases[] = {
      {"the owner's only", "own.xml", nullptr, false},
      {"everyone may read it", "read.xml",
       L"D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FR;;;WD)", false},
      {"everyone may write it", "written.xml",
       L"D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FA;;;WD)", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = folder + "\\" + c.file;
    HANDLE h = CreateFileW(Wide(path).c_str(), GENERIC_WRITE, 0, nullptr,
                           CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);
    // Set afterwards: Wine maps a DACL set to the file's mode, but not
    // one given at its creation.
    platform::win32::Descriptor only;
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (c.sddl) {
      ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
          c.sddl, SDDL_REVISION_1, &sd, nullptr));
    } else {
      ASSERT_TRUE(platform::win32::MakeOwnerOnly(&only));
    }
    EXPECT_TRUE(SetFileSecurityW(Wide(path).c_str(), DACL_SECURITY_INFORMATION,
                                 sd ? sd : &only.descriptor));
    if (sd) LocalFree(sd);
    std::string error;
    EXPECT_EQ(platform::FileOpenToOthers(path, &error), c.open);
    EXPECT_EQ(error, "");
    platform::RemoveFile(path);
  }
  std::string error;
  EXPECT_FALSE(platform::FileOpenToOthers(folder + "\\missing.xml", &error));
  EXPECT_EQ(error, "");
  RemoveDirectoryW(Wide(folder).c_str());
}

TEST(FolderOpenToOthers, NamesTheOpenParentInUtf8) {
  // A parent any user may write, of a name the ANSI code page cannot
  // spell, above a folder of this user's only.
  const std::string folder = TempFolder("open-parent");
  const std::string parent = folder + "\\Kamera \xc5\x81\xc3\xb3""d\xc5\xba";
  const std::string data = parent + "\\Data";
  ASSERT_TRUE(CreateDirectoryW(Wide(parent).c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW(Wide(data).c_str(), nullptr));
  PSECURITY_DESCRIPTOR sd = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
      L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;WD)", SDDL_REVISION_1,
      &sd, nullptr));
  EXPECT_TRUE(
      SetFileSecurityW(Wide(parent).c_str(), DACL_SECURITY_INFORMATION, sd));
  LocalFree(sd);
  platform::win32::Descriptor only;
  ASSERT_TRUE(platform::win32::MakeOwnerOnly(&only));
  EXPECT_TRUE(SetFileSecurityW(Wide(data).c_str(), DACL_SECURITY_INFORMATION,
                               &only.descriptor));
  std::string through, error;
  EXPECT_TRUE(platform::FolderOpenToOthers(data, &through, &error)) << error;
  EXPECT_EQ(through, parent);
  RemoveDirectoryW(Wide(data).c_str());
  RemoveDirectoryW(Wide(parent).c_str());
  RemoveDirectoryW(Wide(folder).c_str());
}

TEST(ExpandShortNames, TheExistingPartGetsItsLongNames) {
  const std::string folder = TempFolder("long names");
  const std::string made = folder + "\\A folder with a long name";
  ASSERT_TRUE(CreateDirectoryW(Wide(made).c_str(), nullptr));
  wchar_t short_name[MAX_PATH];
  ASSERT_GT(GetShortPathNameW(Wide(made).c_str(), short_name, MAX_PATH), 0u);
  const std::string spelled = Utf8(short_name);
  ASSERT_NE(spelled, made);  // else there is nothing to expand
  EXPECT_EQ(platform::ExpandShortNames(spelled), made);
  EXPECT_EQ(platform::ExpandShortNames(spelled + "\\not there\\x.log"),
            made + "\\not there\\x.log");
  EXPECT_EQ(platform::ExpandShortNames("C:\\not there\\PROGRA~1"),
            "C:\\not there\\PROGRA~1");
  RemoveDirectoryW(Wide(made).c_str());
  RemoveDirectoryW(Wide(folder).c_str());
}

// Opens |path| as the log, writes a line and closes it; the reason of a
// refusal otherwise. Leaves a log it made.
std::string Logs(const std::string& path) {
  platform::OutputFile log;
  bool created = false;
  std::string error;
  if (!platform::OpenAppend(path, &log, &created, &error)) return error;
  platform::AppendLine(&log, "a line", &error);
  platform::CloseOutput(&log, &error);
  return error;
}

TEST(OpenAppend, ALogAtTheDriveRootFromAnotherFolder) {
  // "C:\\x.log" is in C:\\, whatever the current folder on C: is.
  const std::string folder = TempFolder("root-log");
  wchar_t was[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, was);
  ASSERT_TRUE(SetCurrentDirectoryW(Wide(folder).c_str()));
  const std::string log = folder.substr(0, 3) + "modreg-root-test.log";
  platform::RemoveFile(log);
  EXPECT_EQ(Logs(log), "");
  EXPECT_TRUE(Exists(log));
  platform::RemoveFile(log);
  SetCurrentDirectoryW(was);
  RemoveDirectoryW(Wide(folder).c_str());
}

TEST(OpenAppend, ALogInAFolderSpelledOtherwise) {
  // Short names, "/", "." and case: the same folder, no link on the way.
  const std::string folder = TempFolder("spelled");
  const std::string made = folder + "\\Logs of a long name";
  ASSERT_TRUE(CreateDirectoryW(Wide(made).c_str(), nullptr));
  wchar_t short_name[MAX_PATH];
  ASSERT_GT(GetShortPathNameW(Wide(made).c_str(), short_name, MAX_PATH), 0u);
  std::string upper = made;
  for (char& c : upper) c = static_cast<char>(toupper(c));
  const struct {
    const char* name;
    std::string log;
  } cases[] = {
      {"its short name", Utf8(short_name) + "\\run.log"},
      {"a forward slash and a dot", made + "/./run.log"},
      {"upper case", upper + "\\RUN.LOG"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.name) + ": " + c.log);
    EXPECT_EQ(Logs(c.log), "");
    EXPECT_TRUE(Exists(made + "\\run.log"));
  }
  platform::RemoveFile(made + "\\run.log");
  RemoveDirectoryW(Wide(made).c_str());
  RemoveDirectoryW(Wide(folder).c_str());
}

// Whether a handle of |path| opened as another run opens it can take the
// lock's byte now (and lets it go again).
bool Lockable(const std::string& path) {
  HANDLE h = CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ,
                         nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  OVERLAPPED at = {};
  const bool taken = LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK |
                                       LOCKFILE_FAIL_IMMEDIATELY,
                                0, 1, 0, &at);
  CloseHandle(h);
  return taken;
}

// The lock file lasts: no run marks it for deletion, which a handle that
// reads only its attributes (any user's, through the folder) would keep
// pending. While a run holds it, another's handle cannot lock it, write it
// or remove it; after, it is there for the next run, taken at once.
TEST(LockRegistryFolder, AFileOfItsOwnThatLasts) {
  const std::string folder = TempFolder("lock");
  const std::string lock = folder + "\\" + kLockFileName;
  std::string error;
  platform::RegistryLock held;
  ASSERT_TRUE(platform::LockRegistryFolder(folder, kLockFileName, 1000, &held, &error)) << error;
  EXPECT_TRUE(Exists(lock));
  EXPECT_FALSE(Lockable(lock));
  const struct {
    const char* name;
    DWORD access;
  } others[] = {
      {"another's handle to write it", DWORD(GENERIC_WRITE)},
      {"another's handle to delete it", DWORD(DELETE)},
  };
  for (const auto& o : others) {
    SCOPED_TRACE(o.name);
    HANDLE other = CreateFileW(Wide(lock).c_str(), o.access,
                               platform::win32::kShareAll, nullptr,
                               OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(other, INVALID_HANDLE_VALUE) << o.access;
    if (other != INVALID_HANDLE_VALUE) CloseHandle(other);
  }
  HANDLE reader = CreateFileW(Wide(lock).c_str(), FILE_READ_ATTRIBUTES,
                              platform::win32::kShareAll, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  platform::UnlockRegistryFolder(&held);
  FILE_STANDARD_INFO standard = {};
  ASSERT_TRUE(GetFileInformationByHandleEx(reader, FileStandardInfo,
                                           &standard, sizeof standard));
  EXPECT_FALSE(standard.DeletePending);
  CloseHandle(reader);
  EXPECT_TRUE(Exists(lock));
  EXPECT_TRUE(Lockable(lock));
  EXPECT_TRUE(platform::LockRegistryFolder(folder, kLockFileName, 0, &held, &error)) << error;
  platform::UnlockRegistryFolder(&held);
  platform::RemoveFile(lock);
  RemoveDirectoryW(Wide(folder).c_str());
}

// Whether the lock file |lock| grants no one but SYSTEM and Administrators
// anything, as MakeOwnerOnly makes an administrator's; under Wine, which
// keeps no owner it is given and shows a file's mode as a DACL for its
// POSIX user as owner, also that owner.
bool LockFileAdministratorsOnly(const std::string& lock) {
  std::vector<DWORD> descriptor;
  if (!platform::win32::ReadSecurity(
          Wide(lock), OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
          &descriptor))
    return false;
  if (platform::win32::AdministratorsOnly(descriptor.data())) return true;
  BOOL present = FALSE, defaulted = FALSE;
  ACL* acl = nullptr;
  PSID owner = nullptr;
  if (!platform::win32::UnderWine() ||
      !GetSecurityDescriptorDacl(descriptor.data(), &present, &acl,
                                 &defaulted) ||
      !GetSecurityDescriptorOwner(descriptor.data(), &owner, &defaulted) ||
      !present || !acl || !owner)
    return false;
  for (DWORD i = 0; i < acl->AceCount; ++i) {
    ACCESS_ALLOWED_ACE* ace = nullptr;
    if (!GetAce(acl, i, reinterpret_cast<void**>(&ace))) return false;
    PSID sid = &ace->SidStart;
    if (ace->Header.AceType == ACCESS_ALLOWED_ACE_TYPE &&
        !EqualSid(sid, owner) &&
        !platform::win32::IsWellKnown(sid, WinLocalSystemSid) &&
        !platform::win32::IsWellKnown(sid, WinBuiltinAdministratorsSid))
      return false;
  }
  return true;
}

TEST(LockRegistryFolder, AnAdministratorsLockFileIsTheAdministratorsOnly) {
  // Wine's token is elevated: this run is an administrator's.
  ASSERT_TRUE(platform::win32::RunsAsAdministrator());
  const std::string folder = TempFolder("admin-lock");
  const std::string lock = folder + "\\" + kLockFileName;
  struct Case {
    const char* name;
    const wchar_t* sddl;  // null: none there
  } cases[] = {
      {"made new", nullptr},
      {"one that grants everyone", L"D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FA;;;WD)"},
      {"one that lets everyone read it",
       L"D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FR;;;WD)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.sddl) {
      HANDLE h = CreateFileW(Wide(lock).c_str(), GENERIC_WRITE, 0, nullptr,
                             CREATE_ALWAYS, 0, nullptr);
      ASSERT_NE(h, INVALID_HANDLE_VALUE);
      CloseHandle(h);
      PSECURITY_DESCRIPTOR sd = nullptr;
      ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
          c.sddl, SDDL_REVISION_1, &sd, nullptr));
      EXPECT_TRUE(SetFileSecurityW(Wide(lock).c_str(),
                                   DACL_SECURITY_INFORMATION, sd));
      LocalFree(sd);
      EXPECT_FALSE(LockFileAdministratorsOnly(lock));
    }
    std::string error;
    platform::RegistryLock held;
    ASSERT_TRUE(platform::LockRegistryFolder(folder, kLockFileName, 1000,
                                             &held, &error))
        << error;
    EXPECT_TRUE(LockFileAdministratorsOnly(lock));
    platform::UnlockRegistryFolder(&held);
    // And the next run opens and locks it again.
    EXPECT_TRUE(platform::LockRegistryFolder(folder, kLockFileName, 0, &held,
                                             &error))
        << error;
    platform::UnlockRegistryFolder(&held);
    platform::RemoveFile(lock);
  }
  RemoveDirectoryW(Wide(folder).c_str());
}

// What others have open at the lock file's name: only a run's lock, or a
// release that opens the file unshared, makes a run wait; a handle for
// the attributes, or for reading as a run opens it, does not.
TEST(LockRegistryFolder, WhatOthersHoldOpen) {
  struct Case {
    const char* name;
    DWORD access, sharing;
    bool lock;   // the handle takes the lock's byte, as a run does
    bool waits;  // the run waits for it, and gives up
  } cases[] = {
      {"its attributes, sharing everything", FILE_READ_ATTRIBUTES,
       platform::win32::kShareAll, false, false},
      {"its attributes, sharing nothing", FILE_READ_ATTRIBUTES, 0, false,
       false},
      {"a run waiting for it", GENERIC_READ, FILE_SHARE_READ, false, false},
      {"a run holding it", GENERIC_READ, FILE_SHARE_READ, true, true},
      {"a 1.0.0 run, unshared", GENERIC_READ | GENERIC_WRITE | DELETE, 0,
       false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string folder = TempFolder("lock-open");
    const std::string lock = folder + "\\" + kLockFileName;
    HANDLE made = CreateFileW(Wide(lock).c_str(), GENERIC_WRITE, 0, nullptr,
                              CREATE_NEW, FILE_ATTRIBUTE_HIDDEN, nullptr);
    ASSERT_NE(made, INVALID_HANDLE_VALUE);
    CloseHandle(made);
    HANDLE other = CreateFileW(Wide(lock).c_str(), c.access, c.sharing,
                               nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    OVERLAPPED at = {};
    if (c.lock) {
      ASSERT_TRUE(LockFileEx(other, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &at));
    }
    std::string error;
    platform::RegistryLock held;
    EXPECT_EQ(platform::LockRegistryFolder(folder, kLockFileName, 100, &held, &error),
              !c.waits) << error;
    if (c.waits) {
      EXPECT_EQ(error.rfind("another run holds the registry's lock", 0), 0u)
          << error;
    }
    platform::UnlockRegistryFolder(&held);
    CloseHandle(other);
    EXPECT_TRUE(Exists(lock));
    platform::RemoveFile(lock);
    RemoveDirectoryW(Wide(folder).c_str());
  }
}

// A hard link at the lock file's name is removed as itself, and the lock
// made anew: the file it shares is neither locked nor changed.
TEST(LockRegistryFolder, AHardLinkAtItsNameIsRemoved) {
  const std::string folder = TempFolder("lock-link");
  const std::string lock = folder + "\\" + kLockFileName;
  const std::string victim = folder + "\\victim.txt";
  HANDLE made = CreateFileW(Wide(victim).c_str(), GENERIC_WRITE, 0, nullptr,
                            CREATE_NEW, 0, nullptr);
  ASSERT_NE(made, INVALID_HANDLE_VALUE);
  CloseHandle(made);
  ASSERT_TRUE(CreateHardLinkW(Wide(lock).c_str(), Wide(victim).c_str(), nullptr));
  std::string error;
  platform::RegistryLock held;
  EXPECT_TRUE(platform::LockRegistryFolder(folder, kLockFileName, 1000, &held, &error)) << error;
  EXPECT_TRUE(Lockable(victim));
  platform::UnlockRegistryFolder(&held);
  HANDLE h = CreateFileW(Wide(victim).c_str(), FILE_READ_ATTRIBUTES,
                         platform::win32::kShareAll, nullptr, OPEN_EXISTING,
                         0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  BY_HANDLE_FILE_INFORMATION info;
  EXPECT_TRUE(GetFileInformationByHandle(h, &info));
  EXPECT_EQ(info.nNumberOfLinks, 1u);
  CloseHandle(h);
  platform::RemoveFile(lock);
  platform::RemoveFile(victim);
  RemoveDirectoryW(Wide(folder).c_str());
}

TEST(LockRegistryFolder, ASecondTakeWaitsAndGivesUp) {
  const std::string folder = TempFolder("lock-twice");
  std::string error;
  {
    platform::RegistryLock held;
    ASSERT_TRUE(platform::LockRegistryFolder(folder, kLockFileName, 1000,
                                             &held, &error))
        << error;
    platform::RegistryLock second;
    EXPECT_FALSE(platform::LockRegistryFolder(folder, kLockFileName, 100,
                                              &second, &error));
    EXPECT_EQ(error.rfind("another run holds the registry's lock", 0), 0u)
        << error;
  }
  // Released when its value ended: taken at once.
  platform::RegistryLock again;
  EXPECT_TRUE(platform::LockRegistryFolder(folder, kLockFileName, 0, &again,
                                           &error))
      << error;
  platform::UnlockRegistryFolder(&again);
  RemoveDirectoryW(Wide(folder).c_str());
}

TEST(LockRegistryFolder, WhatALostRunLeftIsTakenOver) {
  const std::string folder = TempFolder("lock-left");
  const std::string lock = folder + "\\" + kLockFileName;
  const struct {
    const char* name;
    DWORD attributes;
  } cases[] = {
      {"a plain file", FILE_ATTRIBUTE_NORMAL},
      {"a read-only file", FILE_ATTRIBUTE_READONLY},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    HANDLE h = CreateFileW(Wide(lock).c_str(), GENERIC_WRITE, 0, nullptr,
                           CREATE_NEW, c.attributes, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);
    std::string error;
    platform::RegistryLock held;
    EXPECT_TRUE(platform::LockRegistryFolder(folder, kLockFileName, 1000, &held, &error)) << error;
    platform::UnlockRegistryFolder(&held);
    EXPECT_TRUE(Exists(lock));  // it lasts, for the next run
    platform::RemoveFile(lock);
  }
  RemoveDirectoryW(Wide(folder).c_str());
}

TEST(LockRegistryFolder, AFolderAtItsNameIsReported) {
  const std::string folder = TempFolder("lock-folder");
  const std::string lock = folder + "\\" + kLockFileName;
  ASSERT_TRUE(CreateDirectoryW(Wide(lock).c_str(), nullptr));
  std::string error;
  platform::RegistryLock held;
  EXPECT_FALSE(platform::LockRegistryFolder(folder, kLockFileName, 60000, &held, &error));
  EXPECT_EQ(error, lock + " is a folder");
  RemoveDirectoryW(Wide(lock).c_str());
  RemoveDirectoryW(Wide(folder).c_str());
}

TEST(LockRegistryFolder, NoFolderNoLock) {
  const std::string parent = TempFolder("lock-none");
  const std::string folder = parent + "\\none";
  std::string error;
  platform::RegistryLock held;
  EXPECT_TRUE(platform::LockRegistryFolder(folder, kLockFileName, 0, &held, &error)) << error;
  EXPECT_FALSE(Exists(folder));
  platform::UnlockRegistryFolder(&held);
  RemoveDirectoryW(Wide(parent).c_str());
}

}  // namespace
