// The ANSI code page on POSIX: Windows-1252, as Wine has it for an English
// locale.
#include "platform/ansi.h"

namespace platform {
namespace {

// Windows-1252's characters for bytes 0x80 to 0x9F; the five it leaves
// undefined stand for the control characters of their own value, as
// Windows converts them.
const char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// The next character of UTF-8 |text| at |*at|, or -1 when it is not
// well formed there.
long NextCodePoint(const std::string& text, size_t* at) {
  const unsigned char lead = static_cast<unsigned char>(text[(*at)++]);
  if (lead < 0x80) return lead;
  const int more = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC2 ? 1 : -1;
  if (more < 0 || lead > 0xF4) return -1;
  long c = lead & (0x3F >> more);
  for (int i = 0; i < more; ++i, ++*at) {
    if (*at >= text.size() || (text[*at] & 0xC0) != 0x80) return -1;
    c = c << 6 | (text[*at] & 0x3F);
  }
  const long least[] = {0, 0x80, 0x800, 0x10000};
  if (c < least[more] || (c >= 0xD800 && c < 0xE000) || c > 0x10FFFF)
    return -1;
  return c;
}

void AppendUtf8(long c, std::string* out) {
  if (c < 0x80) {
    *out += static_cast<char>(c);
  } else if (c < 0x800) {
    *out += static_cast<char>(0xC0 | c >> 6);
    *out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    *out += static_cast<char>(0xE0 | c >> 12);
    *out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    *out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

}  // namespace

bool ToAnsi(const std::string& text, std::string* ansi) {
  ansi->clear();
  for (size_t at = 0; at < text.size();) {
    const long c = NextCodePoint(text, &at);
    if (c < 0) return false;
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
      *ansi += static_cast<char>(c);
      continue;
    }
    size_t i = 0;
    while (i < 32 && kCp1252High[i] != c) ++i;
    if (i == 32) return false;
    *ansi += static_cast<char>(0x80 + i);
  }
  return true;
}

const winpath::CodePage& AnsiCodePage() {
  static const winpath::CodePage windows_1252;  // no lead bytes
  return windows_1252;
}

std::string FromAnsi(const std::string& ansi) {
  std::string text;
  for (unsigned char c : ansi)
    AppendUtf8(c >= 0x80 && c < 0xA0 ? kCp1252High[c - 0x80] : c, &text);
  return text;
}

}  // namespace platform
