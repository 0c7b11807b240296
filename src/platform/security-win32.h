// Security on Windows: identifiers, the descriptors this process makes,
// and the judging of descriptors it reads. Included only by the
// *-win32.cc files and the Windows-only tests.
#ifndef MODREG_PLATFORM_SECURITY_WIN32_H_
#define MODREG_PLATFORM_SECURITY_WIN32_H_

#include <windows.h>

#include <string>
#include <vector>

namespace platform::win32 {

// Reads the SID of this process's user into |sid|.
bool UserSid(std::vector<BYTE>* sid);
// Makes the SID of well-known group |type| in |sid|.
bool WellKnownSid(WELL_KNOWN_SID_TYPE type, std::vector<BYTE>* sid);
// True when |sid| is the well-known |type|.
bool IsWellKnown(PSID sid, WELL_KNOWN_SID_TYPE type);
// True for the owners this process trusts with what it writes or waits
// for: those of IsAdministrative, this process's user, and the owner its
// token gives what it makes (on Windows the user or Administrators; under
// Wine a group of the user's own).
bool IsTrustedOwner(PSID owner);
// True for the owners this process trusts with a file it writes: those
// of IsAdministrative, and this process's user when it runs as no
// administrator (or under Wine, whose files show as that user's).
bool IsTrustedFileOwner(PSID owner);
// True when this process's token is elevated or has Administrators
// enabled: what it makes is then the Administrators', for them and
// SYSTEM only, and it trusts no one else's.
bool RunsAsAdministrator();

// A security descriptor whose DACL grants one set of rights to up to
// three SIDs, and no one else anything, with the buffers it points to.
struct Descriptor {
  SECURITY_DESCRIPTOR descriptor;
  std::vector<DWORD> acl;  // DWORDs: an ACL must be aligned
  std::vector<BYTE> sids[3];  // empty ones are left out
  std::vector<BYTE> owner;    // empty: the token's default owner
  SECURITY_ATTRIBUTES attributes;
};

// Makes |d| grant |rights| to each of |d->sids| given, in that order,
// owned by |d->owner| when given; with |protect|, its DACL takes nothing
// that the parent passes on.
bool MakeDescriptor(DWORD rights, bool protect, Descriptor* d);

// Makes |only| a protected DACL that lets SYSTEM and Administrators, and
// this process's user unless |administrator| (by default as
// RunsAsAdministrator says this process runs), read, write, delete the
// file and change its permissions and owner, and no one else anything;
// with |administrator| the file is the Administrators' too. (Wine makes
// it mode 0660, less the umask: it maps an entry for a user of the token
// to the group's bits too.)
bool MakeOwnerOnly(Descriptor* only,
                   bool administrator = RunsAsAdministrator());
// True when the DACL of |sd| is protected and grants no one but SYSTEM
// and Administrators anything: what MakeOwnerOnly makes for an
// administrator.
bool AdministratorsOnly(PSECURITY_DESCRIPTOR sd);

// True when this process runs under Wine, which shows the files of the
// POSIX user running it as owned by the token's user, and those of other
// users as Anonymous's: there this process's user is the owner root is
// on POSIX. On Windows an elevated process's user has unelevated
// processes too.
bool UnderWine();

// What a judgement of who may change something is about.
enum class Judged {
  kFolder,  // a folder: its own entries and those its files take
  kParent,  // a folder on the way to one: what is in it
  kFile,    // a file
};

// Who judges: whom a descriptor may name depends on it.
struct Judge {
  PSID user = nullptr;         // this process's user, if known
  bool administrator = false;  // as RunsAsAdministrator says
  bool wine = false;           // as UnderWine says
};
// This process as a judge; |user| keeps its user's SID.
Judge ThisProcess(std::vector<BYTE>* user);

// Judges the security descriptor |sd| of a folder or file, as |judged|
// says, for |judge|, in |*open|: whether users other than administrators
// (and, when the judge is none, its user) may change it. Its owner is not
// SYSTEM, Administrators or TrustedInstaller, nor the judge's user when
// the judge is no administrator (or under Wine, whose files show as the
// user's), or its DACL is missing or lets anyone else but its owner,
// them, CREATOR OWNER and that user change it: in a folder create or
// change files, in it or a parent remove or rename what is in it; a file
// write or delete; either change permissions or owner. The user of an
// administrator's run is not trusted: the same user's unelevated
// processes hold it too. False when |sd| cannot be read.
bool JudgeDescriptor(PSECURITY_DESCRIPTOR sd, Judged judged,
                     const Judge& judge, bool* open);

// Reads the security descriptor of |path|, as |parts| ask, into
// |descriptor|; DWORDs for alignment.
bool ReadSecurity(const std::wstring& path, SECURITY_INFORMATION parts,
                  std::vector<DWORD>* descriptor);
// Reads the security descriptor of the file open as |file| (with
// READ_CONTROL), the same way.
bool ReadSecurity(HANDLE file, SECURITY_INFORMATION parts,
                  std::vector<DWORD>* descriptor);

}  // namespace platform::win32

#endif  // MODREG_PLATFORM_SECURITY_WIN32_H_
