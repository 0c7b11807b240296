// Text on Windows: UTF-8, UTF-16 and each code page, and the system's
// reasons. Paths are UTF-8 strings, converted to UTF-16 at each call into
// the system; every file is opened through the wide calls. Included only
// by the *-win32.cc files and the Windows-only tests.
#ifndef MODREG_PLATFORM_TEXT_WIN32_H_
#define MODREG_PLATFORM_TEXT_WIN32_H_

#include <windows.h>

#include <string>

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
// UTF-8; empty on failure.
std::string Utf8(const wchar_t* text, int size = -1);

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

// Sets |error| to the system's reason for |code|, the last failure's
// when none is given; returns false.
inline bool Fail(std::string* error, DWORD code = GetLastError()) {
  *error = Reason(code);
  return false;
}

// The same, after |doing| (what failed, as "reading X: ").
inline bool Fail(std::string* error, const std::string& doing) {
  *error = doing + Reason();
  return false;
}

// True for the codes that say there is no such file or folder.
inline bool IsMissing(DWORD code) {
  return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
}

}  // namespace platform::win32

#endif  // MODREG_PLATFORM_TEXT_WIN32_H_
