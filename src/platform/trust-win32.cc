// Trust on Windows: whether users other than administrators may change a
// folder, by its owner and DACL and those of its parents, or a file, by
// its own.
#include "platform/trust.h"

#include "platform/path-win32.h"
#include "platform/security-win32.h"
#include "platform/text-win32.h"
#include "platform/winpath.h"

namespace platform {
using namespace win32;
namespace {

// The attributes a replaced file keeps.
constexpr DWORD kKeptAttributes =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
    FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// Judges |path| (a name, or a file open with READ_CONTROL), a folder or
// a file as |judged| says, in |*open|: whether users other than
// administrators may change it. False with |error| set when its
// descriptor cannot be read, and |*missing| when that is because it is
// not there.
template <typename Path>
bool JudgePath(const Path& path, Judged judged, const Judge& judge,
               bool* open, bool* missing, std::string* error) {
  std::vector<DWORD> descriptor;
  if (!ReadSecurity(path,
                    OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                    &descriptor)) {
    const DWORD code = GetLastError();
    *missing = IsMissing(code);
    return Fail(error, code);
  }
  return JudgeDescriptor(descriptor.data(), judged, judge, open) || Fail(error);
}

// The folders of full path |path|, itself first, up to its root, which
// keeps its backslash ("C:\").
std::vector<std::wstring> FoldersUp(std::wstring path) {
  const size_t root = winpath::RootLength(path);
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

// Each folder as JudgeDescriptor judges it (under Wine, which shows the
// files of the user running it as that user's, with that user's).
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
  const Judge judge = ThisProcess(&user);
  for (size_t i = 0; i < folders.size(); ++i) {
    const bool itself = i == 0 || i == reached_at;
    bool open = false, missing = false;
    if (!JudgePath(folders[i], itself ? Judged::kFolder : Judged::kParent,
                   judge, &open, &missing, error))
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
  bool open = false, missing = false;
  std::string reason;
  if (!JudgePath(Wide(path), Judged::kFile, ThisProcess(&user), &open,
                 &missing, &reason)) {
    if (!missing) *error = reason;
    return false;
  }
  return open;
}

bool InputOpenToOthers(const InputFile& file, std::string* error) {
  std::vector<BYTE> user;
  bool open = false, missing = false;
  return JudgePath(Handle(file.handle), Judged::kFile, ThisProcess(&user),
                   &open, &missing, error) &&
         open;
}

// The security descriptor (the DACL; owner and group where the process
// may set them) and the hidden, system, read-only, archive and
// not-indexed attributes.
bool TakeProtection(OutputFile* file, const std::string& target,
                    std::string* error) {
  const std::wstring from = Wide(target);
  DWORD attributes = GetFileAttributesW(from.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    DWORD code = GetLastError();
    return IsMissing(code) || Fail(error, code);
  }
  std::vector<DWORD> descriptor;
  // A DACL that inherits nothing from the folder (its protected flag set)
  // stays so, and one that inherits stays open to the folder's entries.
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  if (!ReadSecurity(from,
                    OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION |
                        DACL_SECURITY_INFORMATION,
                    &descriptor) ||
      !GetSecurityDescriptorControl(descriptor.data(), &control, &revision))
    return Fail(error, "reading the security descriptor of " + target + ": ");
  // Everything is set through the file's own handles, never by its name,
  // which another user of the folder could have moved. The DACL needs
  // WRITE_DAC, the owner's right; owner and group need WRITE_OWNER, which
  // only some may have: they are kept where the process may set them.
  PSECURITY_DESCRIPTOR sd = descriptor.data();
  const SECURITY_INFORMATION dacl =
      DACL_SECURITY_INFORMATION | (control & SE_DACL_PROTECTED
                                       ? PROTECTED_DACL_SECURITY_INFORMATION
                                       : UNPROTECTED_DACL_SECURITY_INFORMATION);
  const HANDLE h = Handle(file->handle);
  if (!SetKernelObjectSecurity(h, dacl, sd))
    return Fail(error, "setting the DACL of " + file->path + ": ");
  HANDLE owner = ReOpenFile(h, WRITE_OWNER, kShareAll, 0);
  if (owner != INVALID_HANDLE_VALUE) {
    if (!SetKernelObjectSecurity(owner, OWNER_SECURITY_INFORMATION |
                                            GROUP_SECURITY_INFORMATION, sd))
      SetKernelObjectSecurity(owner, GROUP_SECURITY_INFORMATION, sd);
    CloseHandle(owner);
  }
  return SetAttributes(h, attributes & kKeptAttributes) ||
         Fail(error, "setting the attributes of " + file->path + ": ");
}

}  // namespace platform
