// What the Windows side of platform.h shares among its parts: text,
// reasons, final paths and security identifiers.
#include "platform/win32.h"

namespace platform::win32 {

Conversion ConversionFlags(UINT code_page) {
  switch (code_page) {
    case CP_UTF8:
    case 54936:  // GB18030
      return {WC_ERR_INVALID_CHARS, MB_ERR_INVALID_CHARS, false};
    case 42:     // Symbol
    case 50220:  // the ISO 2022 code pages
    case 50221:
    case 50222:
    case 50225:
    case 50227:
    case 50229:
    case CP_UTF7:
      return {0, 0, false};
    default:
      if (code_page >= 57002 && code_page <= 57011)  // ISCII
        return {0, 0, false};
      return {WC_NO_BEST_FIT_CHARS, MB_ERR_INVALID_CHARS, true};
  }
}

std::string Narrow(UINT code_page, const wchar_t* text, int size) {
  int n = WideCharToMultiByte(code_page, 0, text, size, nullptr, 0, nullptr,
                              nullptr);
  if (n <= 0) return std::string();
  std::string narrow(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(code_page, 0, text, size, narrow.data(), n, nullptr,
                      nullptr);
  if (size < 0) narrow.resize(static_cast<size_t>(n) - 1);  // the NUL
  return narrow;
}

std::wstring WideFrom(UINT code_page, const std::string& text) {
  const DWORD flags = ConversionFlags(code_page).wide_flags;
  int n = MultiByteToWideChar(code_page, flags, text.c_str(), -1, nullptr, 0);
  if (n <= 0) return std::wstring();
  std::wstring wide(static_cast<size_t>(n), L'\0');
  if (MultiByteToWideChar(code_page, flags, text.c_str(), -1, wide.data(),
                          n) != n)
    return std::wstring();
  wide.resize(static_cast<size_t>(n) - 1);
  return wide;
}

bool ToCodePage(UINT code_page, const std::string& text, std::string* out) {
  const std::wstring wide = Wide(text);
  if (wide.empty() != text.empty()) return false;  // not UTF-8
  const Conversion conversion = ConversionFlags(code_page);
  BOOL defaulted = FALSE;
  BOOL* used = conversion.tells_default ? &defaulted : nullptr;
  int n = WideCharToMultiByte(code_page, conversion.narrow_flags, wide.c_str(),
                              -1, nullptr, 0, nullptr, used);
  if (n <= 0 || defaulted) return false;
  std::string narrow(static_cast<size_t>(n), '\0');
  if (WideCharToMultiByte(code_page, conversion.narrow_flags, wide.c_str(), -1,
                          narrow.data(), n, nullptr, used) != n ||
      defaulted)
    return false;
  narrow.resize(static_cast<size_t>(n) - 1);
  // The way back must give the same characters: no best fit slipped in,
  // nor a default character where the code page cannot say so.
  if (WideFrom(code_page, narrow) != wide) return false;
  *out = narrow;
  return true;
}

std::string Reason(DWORD code) {
  wchar_t* text = nullptr;
  DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER |
                               FORMAT_MESSAGE_FROM_SYSTEM |
                               FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, code, 0, reinterpret_cast<wchar_t*>(&text),
                           0, nullptr);
  std::string reason = n && text ? Utf8(text, static_cast<int>(n)) : "";
  while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' ||
                             reason.back() == ' ' || reason.back() == '.'))
    reason.pop_back();
  if (text) LocalFree(text);
  if (reason.empty()) reason = "error " + std::to_string(code);
  return reason;
}

std::wstring FinalPath(HANDLE h) {
  wchar_t name[MAX_PATH * 2];
  DWORD n = GetFinalPathNameByHandleW(h, name, MAX_PATH * 2,
                                      FILE_NAME_NORMALIZED);
  return n == 0 || n >= MAX_PATH * 2 ? std::wstring() : std::wstring(name, n);
}

std::wstring PlainFinalPath(HANDLE h) {
  std::wstring path = FinalPath(h);
  if (path.compare(0, 8, L"\\\\?\\UNC\\") == 0)
    path.replace(0, 8, L"\\\\");
  else if (path.compare(0, 4, L"\\\\?\\") == 0)
    path.erase(0, 4);
  return path;
}

size_t RootLength(const std::wstring& path) {
  size_t at = 0;
  bool unc = path.compare(0, 2, L"\\\\") == 0;
  if (path.compare(0, 4, L"\\\\?\\") == 0) {
    at = 4;
    unc = path.compare(4, 4, L"UNC\\") == 0;
    if (unc) at = 8;
  } else if (unc) {
    at = 2;
  }
  if (!unc) return path.size() >= at + 3 ? at + 3 : path.size();
  // Past the server's and the share's names.
  for (int part = 0; part < 2 && at != std::wstring::npos; ++part) {
    at = path.find(L'\\', at);
    if (at != std::wstring::npos) ++at;
  }
  return at == std::wstring::npos ? path.size() : at;
}

std::wstring LongNames(const std::wstring& path) {
  // The longest part of |path| that exists, asked for its long names.
  const size_t root = RootLength(path);
  std::wstring part = path;
  for (;;) {
    DWORD n = GetLongPathNameW(part.c_str(), nullptr, 0);
    std::wstring long_name(n, L'\0');
    if (n && GetLongPathNameW(part.c_str(), long_name.data(), n) == n - 1) {
      long_name.resize(n - 1);
      return long_name + path.substr(part.size());
    }
    size_t slash = part.find_last_of(L"\\/");
    if (slash == std::wstring::npos || slash < root) return path;
    part.resize(slash);
  }
}

namespace {

// Splits |path| into its folder, as a name to open, and the name in it.
// The folder of "C:\\name" is "C:\\", never "C:", which names the current
// folder of drive C:; that of "name" is ".".
void SplitName(const std::wstring& path, std::wstring* dir,
               std::wstring* name) {
  size_t slash = path.find_last_of(L"\\/");
  if (slash == std::wstring::npos) {
    const bool drive = path.size() >= 2 && path[1] == L':';  // "C:name"
    *dir = drive ? path.substr(0, 2) : L".";
    *name = path.substr(drive ? 2 : 0);
    return;
  }
  const bool absolute = path.compare(0, 2, L"\\\\") == 0 ||
                        (path.size() >= 3 && path[1] == L':');
  const bool root = slash == 0 || (absolute && slash < RootLength(path));
  *dir = path.substr(0, root ? slash + 1 : slash);
  *name = path.substr(slash + 1);
}

}  // namespace

bool OpenedAs(HANDLE h, const std::wstring& folder, const std::wstring& rest) {
  HANDLE at = CreateFileW(folder.c_str(), FILE_READ_ATTRIBUTES, kShareAll,
                          nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                          nullptr);
  if (at == INVALID_HANDLE_VALUE) return false;
  std::wstring expected = FinalPath(at);
  CloseHandle(at);
  if (expected.empty()) return false;
  if (expected.back() != L'\\') expected += L'\\';
  expected += rest;
  const std::wstring opened = FinalPath(h);
  return !opened.empty() &&
         CompareStringOrdinal(expected.c_str(), -1, opened.c_str(), -1,
                              TRUE) == CSTR_EQUAL;
}

bool OpenedItself(HANDLE h, const std::wstring& path) {
  std::wstring dir, name;
  SplitName(path, &dir, &name);
  return OpenedAs(h, dir, name);
}

namespace {

// Reads the SID that |kind| (TokenUser, TokenOwner) names in this
// process's token into |sid|; both records begin with the SID's address.
bool TokenSid(TOKEN_INFORMATION_CLASS kind, std::vector<BYTE>* sid) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
    return false;
  DWORD size = 0;
  GetTokenInformation(token, kind, nullptr, 0, &size);
  std::vector<DWORD> info(size / sizeof(DWORD) + 1);
  bool ok = size && GetTokenInformation(token, kind, info.data(), size,
                                        &size);
  CloseHandle(token);
  if (!ok) return false;
  PSID found = *reinterpret_cast<PSID*>(info.data());
  BYTE* bytes = static_cast<BYTE*>(found);
  sid->assign(bytes, bytes + GetLengthSid(found));
  return true;
}

}  // namespace

bool UserSid(std::vector<BYTE>* sid) { return TokenSid(TokenUser, sid); }

bool WellKnownSid(WELL_KNOWN_SID_TYPE type, std::vector<BYTE>* sid) {
  DWORD size = SECURITY_MAX_SID_SIZE;
  sid->resize(size);
  return CreateWellKnownSid(type, nullptr, sid->data(), &size);
}

bool IsWellKnown(PSID sid, WELL_KNOWN_SID_TYPE type) {
  BYTE known[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof known;
  return CreateWellKnownSid(type, nullptr, known, &size) &&
         EqualSid(sid, known);
}

namespace {

bool IsTrustedInstaller(PSID sid) {
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  PSID installer = nullptr;
  if (!AllocateAndInitializeSid(&nt, 6, 80, 956008885, 3418522649u,
                                1831038044, 1853292631, 2271478464u, 0, 0,
                                &installer))
    return false;
  bool same = EqualSid(sid, installer);
  FreeSid(installer);
  return same;
}

}  // namespace

bool IsAdministrative(PSID sid) {
  return IsWellKnown(sid, WinLocalSystemSid) ||
         IsWellKnown(sid, WinBuiltinAdministratorsSid) ||
         IsTrustedInstaller(sid);
}

bool IsTrustedOwner(PSID owner) {
  std::vector<BYTE> user, own;
  return owner && (IsAdministrative(owner) ||
                   (UserSid(&user) && EqualSid(owner, user.data())) ||
                   (TokenSid(TokenOwner, &own) && EqualSid(owner, own.data())));
}

bool UnderWine() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

bool MakeDescriptor(DWORD rights, bool protect, Descriptor* d) {
  DWORD acl_size = sizeof(ACL);
  for (auto& sid : d->sids)
    acl_size += sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) +
                GetLengthSid(sid.data());
  d->acl.assign(acl_size / sizeof(DWORD) + 1, 0);
  ACL* acl = reinterpret_cast<ACL*>(d->acl.data());
  if (!InitializeAcl(acl, acl_size, ACL_REVISION)) return false;
  for (auto& sid : d->sids)
    if (!AddAccessAllowedAce(acl, ACL_REVISION, rights, sid.data()))
      return false;
  if (!InitializeSecurityDescriptor(&d->descriptor,
                                    SECURITY_DESCRIPTOR_REVISION) ||
      !SetSecurityDescriptorDacl(&d->descriptor, TRUE, acl, FALSE) ||
      (protect && !SetSecurityDescriptorControl(&d->descriptor,
                                                SE_DACL_PROTECTED,
                                                SE_DACL_PROTECTED)))
    return false;
  d->attributes = {sizeof(SECURITY_ATTRIBUTES), &d->descriptor, FALSE};
  return true;
}

bool MakeOwnerOnly(Descriptor* only) {
  constexpr DWORD kOwnerRights = FILE_GENERIC_READ | FILE_GENERIC_WRITE |
                                 DELETE | WRITE_DAC | WRITE_OWNER;
  // Protected: nothing the folder passes on is added.
  return UserSid(&only->sids[0]) &&
         WellKnownSid(WinLocalSystemSid, &only->sids[1]) &&
         WellKnownSid(WinBuiltinAdministratorsSid, &only->sids[2]) &&
         MakeDescriptor(kOwnerRights, true, only);
}

bool ReadSecurity(const std::wstring& path, SECURITY_INFORMATION parts,
                  std::vector<DWORD>* descriptor) {
  DWORD size = 0;
  GetFileSecurityW(path.c_str(), parts, nullptr, 0, &size);
  if (size == 0) return false;
  descriptor->assign(size / sizeof(DWORD) + 1, 0);
  return GetFileSecurityW(path.c_str(), parts, descriptor->data(),
                          static_cast<DWORD>(descriptor->size() *
                                             sizeof(DWORD)),
                          &size);
}

}  // namespace platform::win32
