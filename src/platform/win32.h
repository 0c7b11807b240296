// What the Windows side of platform.h shares among its parts (the process,
// files, the log, trust, the lock): text in UTF-8, UTF-16 and each code
// page, the system's reasons, handles, final paths, security identifiers
// and descriptors, and the judging of descriptors. Paths are UTF-8
// strings, converted to UTF-16 at each call into the system; every file
// is opened through the wide calls. Included only by the *-win32.cc files
// and the Windows-only tests.
#ifndef MODREG_PLATFORM_WIN32_H_
#define MODREG_PLATFORM_WIN32_H_

#include <windows.h>

#include <stdint.h>

#include <string>
#include <vector>

namespace platform::win32 {

// What WideCharToMultiByte and MultiByteToWideChar take for a code page:
// most refuse no flag, but UTF-8 and GB18030 take only the one that
// refuses invalid text, ISO 2022, ISCII, UTF-7 and Symbol none at all, and
// none of these three kinds takes the default-character arguments (the
// call fails, ERROR_INVALID_FLAGS or ERROR_INVALID_PARAMETER).
struct Conversion {
  DWORD narrow_flags;  // WideCharToMultiByte's
  DWORD wide_flags;    // MultiByteToWideChar's
  bool tells_default;  // lpUsedDefaultChar may be given
};

// Returns what the conversions take for |code_page|, a code page's own
// number (GetACP()'s, not CP_ACP): for most, no best fit going to it and
// no invalid text coming from it, and whether a default character went
// in.
Conversion ConversionFlags(UINT code_page);

// Converts |size| UTF-16 units of |text| (up to its NUL when -1) to
// |code_page|; empty on failure.
std::string Narrow(UINT code_page, const wchar_t* text, int size = -1);

// Converts UTF-16 |text| to UTF-8.
inline std::string Utf8(const wchar_t* text, int size = -1) {
  return Narrow(CP_UTF8, text, size);
}

// Converts |text| in |code_page| (a code page's own number, or CP_UTF8)
// to UTF-16: first asks for the length, then converts. Empty when |text|
// is not valid there.
std::wstring WideFrom(UINT code_page, const std::string& text);

// Converts a path as the tool holds it (UTF-8) to the system's UTF-16.
inline std::wstring Wide(const std::string& path) {
  return WideFrom(CP_UTF8, path);
}

// Converts UTF-8 |text| to |code_page| (its own number), exactly, into
// |*out|: false when a character has no exact form there (no best fit,
// no default character) or |text| is not UTF-8. Where the flags cannot
// tell, the way back does: it must give the same characters.
bool ToCodePage(UINT code_page, const std::string& text, std::string* out);

// Returns the system's message for error |code|, without its final full
// stop and line end; "error N" when it has none.
std::string Reason(DWORD code = GetLastError());

// True for the codes that say there is no such file or folder.
inline bool IsMissing(DWORD code) {
  return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
}

// Every other opener of a file may read, write and delete it meanwhile.
constexpr DWORD kShareAll =
    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Converts the |handle| of an OutputFile or InputFile to the system's.
inline HANDLE Handle(long long handle) {
  return reinterpret_cast<HANDLE>(static_cast<intptr_t>(handle));
}

// Converts the system's handle |h| to an OutputFile's or InputFile's.
inline long long HandleNumber(HANDLE h) {
  return static_cast<long long>(reinterpret_cast<intptr_t>(h));
}

// How often CreateOutput removes what is in the way, and OpenAppend tries
// to open or make the log, before they give up.
constexpr int kCreateAttempts = 8;

// The length of the root of full path |path|: "C:\", "\\server\share\",
// "\\?\C:\", "\\?\UNC\server\share\".
size_t RootLength(const std::wstring& path);

// Returns full path |path| with the part that exists spelled with long
// names, as GetLongPathNameW gives them (8.3 short names such as
// PROGRA~1 expanded); the rest as it is.
std::wstring LongNames(const std::wstring& path);

// Returns the name under which the system knows the open |h|, with links
// and junctions on the way resolved; empty on failure.
std::wstring FinalPath(HANDLE h);

// Returns the final path of |h| without its "\\?\" prefix ("\\?\UNC\"
// becomes "\\"); empty on failure.
std::wstring PlainFinalPath(HANDLE h);

// Tells whether the open |h| is the file |rest| names in |folder|: its
// final name is the final name of |folder| followed by |rest| (case aside).
bool OpenedAs(HANDLE h, const std::wstring& folder, const std::wstring& rest);

// Tells whether the open |h| is the file at |path| and not one a link
// there leads to: the folder of |path| and the name in it, each as the
// system resolves it. FILE_FLAG_OPEN_REPARSE_POINT opens a Windows link
// itself; Wine shows a POSIX symbolic link as the file it leads to, under
// that file's own name.
bool OpenedItself(HANDLE h, const std::wstring& path);

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

}  // namespace platform::win32

#endif  // MODREG_PLATFORM_WIN32_H_
