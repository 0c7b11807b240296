// Windows path text: the rules by which Windows reads and compares a
// path's characters, applied to the text alone. No call here asks the
// system anything, so every build reads a path as Windows does.
//
// The rules that split a path or fold its letters take the code page its
// bytes are in (a CodePage): in a double-byte one (932, 936, 949, 950) the
// byte after a lead byte belongs to it, and may be 0x5C or an ASCII
// letter ("\x94\x5C" is one character in 932), so it is never taken for a
// "\" or folded. The registry's paths are in the ANSI code page
// (platform::AnsiCodePage()); the tool's own names, in UTF-8, in Utf8().
#ifndef MODREG_PLATFORM_WINPATH_H_
#define MODREG_PLATFORM_WINPATH_H_

#include <bitset>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace platform::winpath {

// A code page as path text needs it: which bytes begin a two-byte
// character. Such a byte and the one after it (whatever it is) are one
// character, as Windows reads them; a lead byte that ends the text is a
// character alone.
class CodePage {
 public:
  // No lead bytes: Windows-1252 and the other single-byte code pages,
  // and UTF-8, in which no byte of a multi-byte character is below 0x80.
  CodePage() = default;

  // The lead bytes in the ranges given, each from its first byte to its
  // last, both in: as GetCPInfo's LeadByte gives them (932: 0x81 to 0x9F
  // and 0xE0 to 0xFC).
  explicit CodePage(
      std::initializer_list<std::pair<unsigned char, unsigned char>> ranges) {
    for (const auto& [first, last] : ranges) AddLeadBytes(first, last);
  }

  void AddLeadBytes(unsigned char first, unsigned char last) {
    for (unsigned b = first; b <= last; ++b) lead_.set(b);
  }

  bool IsLeadByte(char c) const { return lead_[static_cast<unsigned char>(c)]; }

  // Whether it has lead bytes: a double-byte code page.
  bool IsDoubleByte() const { return lead_.any(); }

  // The length of the character that begins at |at| (< text.size()).
  size_t CharSize(std::string_view text, size_t at) const {
    return IsLeadByte(text[at]) && at + 1 < text.size() ? 2 : 1;
  }

 private:
  std::bitset<256> lead_;
};

// The rules for UTF-8 text (the command line's folders, the host's and
// the tool's own names): no lead bytes.
inline CodePage Utf8() { return CodePage(); }

// Returns |path|, in |cp|, with each character as Windows compares paths:
// an ASCII letter in lower case, "/" as "\"; a two-byte character as it
// is.
std::string Folded(std::string_view path, const CodePage& cp);

// Tells whether |a| and |b|, in |cp|, are the same path text as Windows
// compares it: as long, each character as Folded leaves it.
bool Same(std::string_view a, std::string_view b, const CodePage& cp);

// Tells whether |path| lies under folder |dir|, both in |cp|, which has
// no trailing backslash: |dir| begins it (as Same compares, ending where
// a character of |path| does) and a "\" or "/" follows. Nothing lies
// under an empty |dir|.
bool IsUnder(std::string_view path, std::string_view dir, const CodePage& cp);

// Returns the last component of |path|, in |cp|: what follows its last
// "\" or "/", all of it when it has none.
std::string_view LastComponent(std::string_view path, const CodePage& cp);

// Tells whether |path| is absolute: "X:\...", "X:/..." or
// "\\server\share\..." (either slash), naming the same file whatever the
// process's current folder. In any code page: no lead byte is a letter
// or a slash.
bool IsAbsolute(std::string_view path);

// Returns the length of the root of |path|: "C:\" (3), or
// "\\server\share\" up to and with the separator after the share (all
// of |path| when none follows); either after a "\\?\" or "\\.\" prefix
// too ("\\?\C:\", "\\?\UNC\server\share\"). Either slash; 0 when
// |path| has no such root. For UTF-16 text as for UTF-8.
size_t RootLength(std::string_view path);
size_t RootLength(std::wstring_view path);

// Returns |path|, in |cp|, with the components after its first |root|
// bytes (ending where a character does) read as Windows reads them: "\" or "/" between them, each one's trailing
// dots and blanks dropped, "." and empty ones dropped, ".." dropping the
// one before, never the root. The root is kept as it is; the components
// follow it, each after a backslash.
std::string ResolveDots(const std::string& path, size_t root,
                        const CodePage& cp);

// Returns |dir|, in |cp|, with each "/" as "\", a "\\?\" or "\\.\" prefix before
// a drive or "UNC\" dropped, its components as ResolveDots reads them (never
// above the drive or share), and no trailing backslash ("C:\" is "C:"), or
// nothing when it is not absolute: a drive letter, a colon and a
// backslash, or "\\server\share".
std::optional<std::string> AbsoluteFolder(const std::string& dir,
                                          const CodePage& cp);

// Returns |path|, in |cp|, as Windows reads it, for comparing: an absolute one as
// AbsoluteFolder leaves it, another as it is.
std::string Normalized(const std::string& path, const CodePage& cp);

// Tells whether |folder| (as AbsoluteFolder leaves it, in |cp|) is a drive ("C:")
// or a share ("\\server\share") itself.
bool IsRoot(const std::string& folder, const CodePage& cp);

// Tells whether Windows takes |path|, in |cp|, for a device rather than a
// file: its last part is CON, PRN, AUX, NUL, COM1 to COM9 or LPT1 to LPT9 (the
// digits ¹ ² ³ too, in Windows-1252 as module paths are written, not in a
// double-byte code page, where B9, B2, B3 are other characters), in any
// case, alone or before blanks, dots, an extension or a colon. UNC paths
// and the \\.\ and \\?\ forms name no such device. Sets |device| to the
// device's name, its letters in upper case, when it finds one.
bool ReservedDeviceName(std::string_view path, const CodePage& cp,
                        std::string* device);

}  // namespace platform::winpath

#endif  // MODREG_PLATFORM_WINPATH_H_
