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
// True for SYSTEM, Administrators and TrustedInstaller: the owners that
// only administrators act as.
bool IsAdministrative(PSID sid);
// True for the owners this process trusts with what it writes or waits
// for: those of IsAdministrative, this process's user, and the owner its
// token gives what it makes (on Windows the user or Administrators; under
// Wine a group of the user's own).
bool IsTrustedOwner(PSID owner);

// A security descriptor whose DACL grants one set of rights to three
// SIDs, and no one else anything, with the buffers it points to.
struct Descriptor {
  SECURITY_DESCRIPTOR descriptor;
  std::vector<DWORD> acl;  // DWORDs: an ACL must be aligned
  std::vector<BYTE> sids[3];
  SECURITY_ATTRIBUTES attributes;
};

// Makes |d| grant |rights| to each of |d->sids|, in that order; with
// |protect|, its DACL takes nothing that the parent passes on.
bool MakeDescriptor(DWORD rights, bool protect, Descriptor* d);

// Makes |only| a protected DACL that lets this process's user, SYSTEM and
// Administrators read, write, delete the file and change its permissions
// and owner, and no one else anything. (Wine makes it mode 0660, less the
// umask: it maps an entry for a user of the token to the group's bits
// too.)
bool MakeOwnerOnly(Descriptor* only);

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

// Judges the security descriptor |sd| of a folder or file, as |judged|
// says, in |*open|: whether users other than administrators may change
// it. Its owner is not SYSTEM, Administrators or TrustedInstaller (under
// Wine also not |user|), or its DACL is missing or lets anyone else but
// its owner, them and CREATOR OWNER change it: in a folder create or
// change files, in it or a parent remove or rename what is in it; a file
// write or delete; either change permissions or owner. False when |sd|
// cannot be read.
bool JudgeDescriptor(PSECURITY_DESCRIPTOR sd, Judged judged, PSID user,
                     bool* open);

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
