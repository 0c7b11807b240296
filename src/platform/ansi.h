// The ANSI code page, in which the registry holds paths: the system's,
// Windows-1252 where there is none (as Wine has it for an English
// locale).
#ifndef MODREG_PLATFORM_ANSI_H_
#define MODREG_PLATFORM_ANSI_H_

#include <string>

#include "platform/winpath.h"

namespace platform {

// The ANSI code page's lead bytes, for reading the registry's paths
// (winpath): the system's (GetCPInfo), on Windows; none on POSIX, as in
// Windows-1252.
const winpath::CodePage& AnsiCodePage();

// Converts |text|, in UTF-8, to the ANSI code page, exactly: false when a
// character has no exact form there (no best fit, no default character).
bool ToAnsi(const std::string& text, std::string* ansi);

// Converts |ansi|, in the ANSI code page, to UTF-8.
std::string FromAnsi(const std::string& ansi);

}  // namespace platform

#endif  // MODREG_PLATFORM_ANSI_H_
