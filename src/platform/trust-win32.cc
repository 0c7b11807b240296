// Trust on Windows: whether users other than administrators may change a
// folder, by its owner and DACL and those of its parents, or a file, by
// its own.
#include "platform/platform.h"

#include "platform/win32.h"

namespace platform {
using namespace win32;
namespace {

// Rights that let a user create, change, remove or rename files in a
// folder, or give them to others, whether held on the folder itself or
// passed on to the files in it.
constexpr DWORD kChangeRights = FILE_WRITE_DATA | FILE_APPEND_DATA |
                                FILE_DELETE_CHILD | DELETE | WRITE_DAC |
                                WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL |
                                MAXIMUM_ALLOWED;

// Rights in a parent folder that let a user remove or rename what is in
// it, the next folder on the way included, or take the folder over.
// Making a new folder there (as Authenticated Users may in C:\) changes
// nothing on the way.
constexpr DWORD kParentChangeRights = FILE_DELETE_CHILD | DELETE | WRITE_DAC |
                                      WRITE_OWNER | GENERIC_ALL |
                                      MAXIMUM_ALLOWED;

// Rights that let a user change a file, remove it, or give it to others.
constexpr DWORD kFileChangeRights = FILE_WRITE_DATA | FILE_APPEND_DATA |
                                    DELETE | WRITE_DAC | WRITE_OWNER |
                                    GENERIC_WRITE | GENERIC_ALL |
                                    MAXIMUM_ALLOWED;

// Judges |path|, a folder or a file as |judged| says, in |*open|:
// whether users other than administrators may change it. False with
// |error| set when its descriptor cannot be read, and |*missing| when
// that is because it is not there.
bool Judge(const std::wstring& path, Judged judged, PSID user, bool* open,
           bool* missing, std::string* error) {
  std::vector<DWORD> descriptor;
  if (!ReadSecurity(path,
                    OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                    &descriptor)) {
    const DWORD code = GetLastError();
    *missing = IsMissing(code);
    *error = Reason(code);
    return false;
  }
  if (!JudgeDescriptor(descriptor.data(), judged, user, open)) {
    *error = Reason();
    return false;
  }
  return true;
}

// The folders of full path |path|, itself first, up to its root, which
// keeps its backslash ("C:\").
std::vector<std::wstring> FoldersUp(std::wstring path) {
  const size_t root = RootLength(path);
  while (path.size() > root && (path.back() == L'\\' || path.back() == L'/'))
    path.pop_back();
  std::vector<std::wstring> folders{path};
  while (path.size() > root) {
    size_t slash = path.find_last_of(L"\\/");
    path.resize(slash == std::wstring::npos || slash < root ? root
                                                            : slash);
    folders.push_back(path);
  }
  return folders;
}

}  // namespace

bool win32::JudgeDescriptor(PSECURITY_DESCRIPTOR sd, Judged judged,
                            PSID user, bool* open) {
  BOOL present = FALSE, defaulted = FALSE;
  ACL* acl = nullptr;
  PSID owner = nullptr;
  if (!GetSecurityDescriptorDacl(sd, &present, &acl, &defaulted) ||
      !GetSecurityDescriptorOwner(sd, &owner, &defaulted))
    return false;
  *open = true;
  // An owner may change the DACL, whatever it says.
  if (!owner || (!IsAdministrative(owner) &&
                 !(user && UnderWine() && EqualSid(owner, user))))
    return true;
  // No DACL at all lets everyone do everything.
  if (!present || !acl) return true;
  for (DWORD i = 0; i < acl->AceCount; ++i) {
    ACCESS_ALLOWED_ACE* ace = nullptr;
    if (!GetAce(acl, i, reinterpret_cast<void**>(&ace))) continue;
    if (ace->Header.AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
    // An entry for subfolders only gives nothing on the files here; in a
    // parent no entry for what is made later gives anything on the
    // folder that is there, nor on a file.
    BYTE flags = ace->Header.AceFlags;
    if ((flags & INHERIT_ONLY_ACE) &&
        (judged != Judged::kFolder || !(flags & OBJECT_INHERIT_ACE)))
      continue;
    const DWORD rights = judged == Judged::kFolder   ? kChangeRights
                         : judged == Judged::kParent ? kParentChangeRights
                                                     : kFileChangeRights;
    if (!(ace->Mask & rights)) continue;
    PSID sid = &ace->SidStart;
    if (EqualSid(sid, owner) || IsAdministrative(sid) ||
        IsWellKnown(sid, WinCreatorOwnerSid))
      continue;
    return true;
  }
  *open = false;
  return true;
}

bool FolderOpenToOthers(const std::string& dir, std::string* through,
                        std::string* error) {
  const std::wstring name = Wide(dir);
  wchar_t full[MAX_PATH * 2];
  DWORD n = GetFullPathNameW(name.c_str(), MAX_PATH * 2, full, nullptr);
  if (n == 0 || n >= MAX_PATH * 2) {
    *error = n == 0 ? Reason() : "the folder's name is too long";
    return false;
  }
  // The folders on the way as named, then, when a junction or link on
  // the way leads elsewhere, those the system reaches: each list begins
  // with the folder itself.
  std::vector<std::wstring> folders = FoldersUp(std::wstring(full, n));
  size_t reached_at = folders.size();
  HANDLE h = CreateFileW(name.c_str(), FILE_READ_ATTRIBUTES, kShareAll,
                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                         nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    const std::wstring final_path = PlainFinalPath(h);
    CloseHandle(h);
    std::vector<std::wstring> reached = FoldersUp(final_path);
    if (!final_path.empty() &&
        CompareStringOrdinal(reached[0].c_str(), -1, folders[0].c_str(), -1,
                             TRUE) != CSTR_EQUAL)
      folders.insert(folders.end(), reached.begin(), reached.end());
  }
  std::vector<BYTE> user;
  PSID user_sid = UserSid(&user) ? user.data() : nullptr;
  for (size_t i = 0; i < folders.size(); ++i) {
    const bool itself = i == 0 || i == reached_at;
    bool open = false, missing = false;
    if (!Judge(folders[i], itself ? Judged::kFolder : Judged::kParent,
               user_sid, &open, &missing, error))
      return false;
    if (!open) continue;
    through->clear();
    if (!itself) *through = Utf8(folders[i].c_str());
    return true;
  }
  return false;
}

bool FileOpenToOthers(const std::string& path, std::string* error) {
  std::vector<BYTE> user;
  PSID user_sid = UserSid(&user) ? user.data() : nullptr;
  bool open = false, missing = false;
  std::string reason;
  if (!Judge(Wide(path), Judged::kFile, user_sid, &open, &missing, &reason)) {
    if (!missing) *error = reason;
    return false;
  }
  return open;
}

}  // namespace platform
