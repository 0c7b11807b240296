// Windows path text: the rules by which Windows reads and compares a
// path's characters, applied to the text alone. No call here asks the
// system anything, so every build reads a path as Windows does.
#ifndef MODREG_PLATFORM_WINPATH_H_
#define MODREG_PLATFORM_WINPATH_H_

#include <optional>
#include <string>
#include <string_view>

namespace winpath {

// Returns |path| with each character as Windows compares paths: an ASCII
// letter in lower case, "/" as "\".
std::string Folded(std::string_view path);

// Tells whether |a| and |b| are the same path text as Windows compares
// it: as long, each character as Folded leaves it.
bool Same(std::string_view a, std::string_view b);

// Tells whether |path| lies under folder |dir|, which has no trailing
// backslash: |dir| begins it (as Same compares) and a "\" or "/" follows.
// Nothing lies under an empty |dir|.
bool IsUnder(std::string_view path, std::string_view dir);

// Returns the last component of |path|: what follows its last "\" or
// "/", all of it when it has none.
std::string_view LastComponent(std::string_view path);

// Tells whether |path| is absolute: "X:\...", "X:/..." or
// "\\server\share\..." (either slash), naming the same file whatever the
// process's current folder.
bool IsAbsolute(std::string_view path);

// Returns the length of the root of |path|: "C:\" (3), or
// "\\server\share\" up to and with the separator after the share (all
// of |path| when none follows); either after a "\\?\" or "\\.\" prefix
// too ("\\?\C:\", "\\?\UNC\server\share\"). Either slash; 0 when
// |path| has no such root. For UTF-16 text as for UTF-8.
size_t RootLength(std::string_view path);
size_t RootLength(std::wstring_view path);

// Returns |path| with the components after its first |root| characters
// read as Windows reads them: "\" or "/" between them, each one's trailing
// dots and blanks dropped, "." and empty ones dropped, ".." dropping the
// one before, never the root. The root is kept as it is; the components
// follow it, each after a backslash.
std::string ResolveDots(const std::string& path, size_t root);

// Returns |dir| with each "/" as "\", a "\\?\" or "\\.\" prefix before
// a drive or "UNC\" dropped, its components as ResolveDots reads them (never
// above the drive or share), and no trailing backslash ("C:\" is "C:"), or
// nothing when it is not absolute: a drive letter, a colon and a
// backslash, or "\\server\share".
std::optional<std::string> AbsoluteFolder(const std::string& dir);

// Returns |path| as Windows reads it, for comparing: an absolute one as
// AbsoluteFolder leaves it, another as it is.
std::string Normalized(const std::string& path);

// Tells whether |folder| (as AbsoluteFolder leaves it) is a drive ("C:")
// or a share ("\\server\share") itself.
bool IsRoot(const std::string& folder);

// Tells whether Windows takes |path| for a device rather than a file: its
// last part is CON, PRN, AUX, NUL, COM1 to COM9 or LPT1 to LPT9 (the
// digits ¹ ² ³ too, in Windows-1252 as module paths are written), in any
// case, alone or before blanks, dots, an extension or a colon. UNC paths
// and the \\.\ and \\?\ forms name no such device. Sets |device| to the
// device's name, its letters in upper case, when it finds one.
bool ReservedDeviceName(std::string_view path, std::string* device);

}  // namespace winpath

#endif  // MODREG_PLATFORM_WINPATH_H_
