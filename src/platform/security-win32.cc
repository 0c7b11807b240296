// Security on Windows: identifiers, descriptors, and the judging of them.
#include "platform/security-win32.h"

namespace platform::win32 {

namespace {

// Reads what |kind| asks of this process's token into |info|; DWORDs
// for alignment.
bool ReadToken(TOKEN_INFORMATION_CLASS kind, std::vector<DWORD>* info) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
    return false;
  DWORD size = 0;
  GetTokenInformation(token, kind, nullptr, 0, &size);
  info->assign(size / sizeof(DWORD) + 1, 0);
  const bool ok = size && GetTokenInformation(token, kind, info->data(),
                                              size, &size);
  CloseHandle(token);
  return ok;
}

// Reads the SID that |kind| (TokenUser, TokenOwner) names in this
// process's token into |sid|; both records begin with the SID's address.
bool TokenSid(TOKEN_INFORMATION_CLASS kind, std::vector<BYTE>* sid) {
  std::vector<DWORD> info;
  if (!ReadToken(kind, &info)) return false;
  PSID found = *reinterpret_cast<PSID*>(info.data());
  BYTE* bytes = static_cast<BYTE*>(found);
  sid->assign(bytes, bytes + GetLengthSid(found));
  return true;
}

// Reads the security descriptor of |of| through |get| (GetFileSecurityW,
// GetKernelObjectSecurity), as |parts| ask, into |descriptor|.
template <typename Get, typename Of>
bool ReadDescriptor(Get get, Of of, SECURITY_INFORMATION parts,
                    std::vector<DWORD>* descriptor) {
  DWORD size = 0;
  get(of, parts, nullptr, 0, &size);
  if (size == 0) return false;
  descriptor->assign(size / sizeof(DWORD) + 1, 0);
  return get(of, parts, descriptor->data(),
             static_cast<DWORD>(descriptor->size() * sizeof(DWORD)), &size);
}

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

// True for SYSTEM, Administrators and TrustedInstaller: the owners that
// only administrators act as.
bool IsAdministrative(PSID sid) {
  return IsWellKnown(sid, WinLocalSystemSid) ||
         IsWellKnown(sid, WinBuiltinAdministratorsSid) ||
         IsTrustedInstaller(sid);
}

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

bool IsTrustedOwner(PSID owner) {
  std::vector<BYTE> user, own;
  return owner && (IsAdministrative(owner) ||
                   (UserSid(&user) && EqualSid(owner, user.data())) ||
                   (TokenSid(TokenOwner, &own) && EqualSid(owner, own.data())));
}

bool RunsAsAdministrator() {
  std::vector<DWORD> elevation;
  if (ReadToken(TokenElevation, &elevation) &&
      reinterpret_cast<TOKEN_ELEVATION*>(elevation.data())->TokenIsElevated)
    return true;
  std::vector<BYTE> admins;
  BOOL member = FALSE;
  return WellKnownSid(WinBuiltinAdministratorsSid, &admins) &&
         CheckTokenMembership(nullptr, admins.data(), &member) && member;
}

bool IsTrustedFileOwner(PSID owner) {
  std::vector<BYTE> user;
  return owner && (IsAdministrative(owner) ||
                   ((!RunsAsAdministrator() || UnderWine()) &&
                    UserSid(&user) && EqualSid(owner, user.data())));
}

bool UnderWine() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

bool MakeDescriptor(DWORD rights, bool protect, Descriptor* d) {
  DWORD acl_size = sizeof(ACL);
  for (auto& sid : d->sids)
    if (!sid.empty())
      acl_size += sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) +
                  GetLengthSid(sid.data());
  d->acl.assign(acl_size / sizeof(DWORD) + 1, 0);
  ACL* acl = reinterpret_cast<ACL*>(d->acl.data());
  if (!InitializeAcl(acl, acl_size, ACL_REVISION)) return false;
  for (auto& sid : d->sids)
    if (!sid.empty() &&
        !AddAccessAllowedAce(acl, ACL_REVISION, rights, sid.data()))
      return false;
  if (!InitializeSecurityDescriptor(&d->descriptor,
                                    SECURITY_DESCRIPTOR_REVISION) ||
      !SetSecurityDescriptorDacl(&d->descriptor, TRUE, acl, FALSE) ||
      (!d->owner.empty() &&
       !SetSecurityDescriptorOwner(&d->descriptor, d->owner.data(), FALSE)) ||
      (protect && !SetSecurityDescriptorControl(&d->descriptor,
                                                SE_DACL_PROTECTED,
                                                SE_DACL_PROTECTED)))
    return false;
  d->attributes = {sizeof(SECURITY_ATTRIBUTES), &d->descriptor, FALSE};
  return true;
}

bool MakeOwnerOnly(Descriptor* only, bool administrator) {
  constexpr DWORD kOwnerRights = FILE_GENERIC_READ | FILE_GENERIC_WRITE |
                                 DELETE | WRITE_DAC | WRITE_OWNER;
  // Protected: nothing the folder passes on is added.
  only->sids[0].clear();
  only->owner.clear();
  return (administrator ? WellKnownSid(WinBuiltinAdministratorsSid,
                                       &only->owner)
                        : UserSid(&only->sids[0])) &&
         WellKnownSid(WinLocalSystemSid, &only->sids[1]) &&
         WellKnownSid(WinBuiltinAdministratorsSid, &only->sids[2]) &&
         MakeDescriptor(kOwnerRights, true, only);
}

bool AdministratorsOnly(PSECURITY_DESCRIPTOR sd) {
  BOOL present = FALSE, defaulted = FALSE;
  ACL* acl = nullptr;
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  if (!GetSecurityDescriptorDacl(sd, &present, &acl, &defaulted) ||
      !GetSecurityDescriptorControl(sd, &control, &revision) || !present ||
      !acl || !(control & SE_DACL_PROTECTED))
    return false;
  for (DWORD i = 0; i < acl->AceCount; ++i) {
    ACCESS_ALLOWED_ACE* ace = nullptr;
    if (!GetAce(acl, i, reinterpret_cast<void**>(&ace))) return false;
    if (ace->Header.AceType == ACCESS_DENIED_ACE_TYPE) continue;
    PSID sid = &ace->SidStart;
    if (ace->Header.AceType != ACCESS_ALLOWED_ACE_TYPE ||
        !(IsWellKnown(sid, WinLocalSystemSid) ||
          IsWellKnown(sid, WinBuiltinAdministratorsSid)))
      return false;
  }
  return true;
}

Judge ThisProcess(std::vector<BYTE>* user) {
  return {UserSid(user) ? user->data() : nullptr, RunsAsAdministrator(),
          UnderWine()};
}

bool ReadSecurity(const std::wstring& path, SECURITY_INFORMATION parts,
                  std::vector<DWORD>* descriptor) {
  return ReadDescriptor(GetFileSecurityW, path.c_str(), parts, descriptor);
}

bool ReadSecurity(HANDLE file, SECURITY_INFORMATION parts,
                  std::vector<DWORD>* descriptor) {
  return ReadDescriptor(GetKernelObjectSecurity, file, parts, descriptor);
}

bool JudgeDescriptor(PSECURITY_DESCRIPTOR sd, Judged judged,
                     const Judge& judge, bool* open) {
  BOOL present = FALSE, defaulted = FALSE;
  ACL* acl = nullptr;
  PSID owner = nullptr;
  if (!GetSecurityDescriptorDacl(sd, &present, &acl, &defaulted) ||
      !GetSecurityDescriptorOwner(sd, &owner, &defaulted))
    return false;
  *open = true;
  // An owner may change the DACL, whatever it says.
  const bool users_own = judge.user && EqualSid(owner, judge.user);
  if (!owner || (!IsAdministrative(owner) &&
                 !(users_own && (!judge.administrator || judge.wine))))
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
        IsWellKnown(sid, WinCreatorOwnerSid) ||
        (judge.user && !judge.administrator && EqualSid(sid, judge.user)))
      continue;
    return true;
  }
  *open = false;
  return true;
}

}  // namespace platform::win32
