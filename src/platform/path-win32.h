// Files on Windows by handle: the handles of OutputFile and InputFile,
// final paths, long names, and whether a handle is the file a path names.
// Included only by the *-win32.cc files.
#ifndef MODREG_PLATFORM_PATH_WIN32_H_
#define MODREG_PLATFORM_PATH_WIN32_H_

#include <windows.h>

#include <stdint.h>

#include <string>

namespace platform::win32 {

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

// Sets the attributes of the open file |h|; none is "normal".
bool SetAttributes(HANDLE h, DWORD attributes);

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

}  // namespace platform::win32

#endif  // MODREG_PLATFORM_PATH_WIN32_H_
