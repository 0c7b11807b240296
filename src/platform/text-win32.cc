// Text on Windows: conversions between UTF-8, UTF-16 and code pages, and
// the system's reasons.
#include "platform/text-win32.h"

namespace platform::win32 {

Conversion ConversionFlags(UINT code_page) {
  switch (code_page) {
    case CP_UTF8:
    case 54936:  // GB18030
      return {WC_ERR_INVALID_CHARS, MB_ERR_INVALID_CHARS, false};
    case 42:     // Symbol
    case 50220:  // the ISO 2022 code pages
    case 50221:
    case 50222:
    case 50225:
    case 50227:
    case 50229:
    case CP_UTF7:
      return {0, 0, false};
    default:
      if (code_page >= 57002 && code_page <= 57011)  // ISCII
        return {0, 0, false};
      return {WC_NO_BEST_FIT_CHARS, MB_ERR_INVALID_CHARS, true};
  }
}

std::string Utf8(const wchar_t* text, int size) {
  int n =
      WideCharToMultiByte(CP_UTF8, 0, text, size, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return std::string();
  std::string narrow(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, size, narrow.data(), n, nullptr,
                      nullptr);
  if (size < 0) narrow.resize(static_cast<size_t>(n) - 1);  // the NUL
  return narrow;
}

std::wstring WideFrom(UINT code_page, const std::string& text) {
  const DWORD flags = ConversionFlags(code_page).wide_flags;
  int n = MultiByteToWideChar(code_page, flags, text.c_str(), -1, nullptr, 0);
  if (n <= 0) return std::wstring();
  std::wstring wide(static_cast<size_t>(n), L'\0');
  if (MultiByteToWideChar(code_page, flags, text.c_str(), -1, wide.data(),
                          n) != n)
    return std::wstring();
  wide.resize(static_cast<size_t>(n) - 1);
  return wide;
}

bool ToCodePage(UINT code_page, const std::string& text, std::string* out) {
  const std::wstring wide = Wide(text);
  if (wide.empty() != text.empty()) return false;  // not UTF-8
  const Conversion conversion = ConversionFlags(code_page);
  BOOL defaulted = FALSE;
  BOOL* used = conversion.tells_default ? &defaulted : nullptr;
  int n = WideCharToMultiByte(code_page, conversion.narrow_flags, wide.c_str(),
                              -1, nullptr, 0, nullptr, used);
  if (n <= 0 || defaulted) return false;
  std::string narrow(static_cast<size_t>(n), '\0');
  if (WideCharToMultiByte(code_page, conversion.narrow_flags, wide.c_str(), -1,
                          narrow.data(), n, nullptr, used) != n ||
      defaulted)
    return false;
  narrow.resize(static_cast<size_t>(n) - 1);
  // The way back must give the same characters: no best fit slipped in,
  // nor a default character where the code page cannot say so.
  if (WideFrom(code_page, narrow) != wide) return false;
  *out = narrow;
  return true;
}

std::string Reason(DWORD code) {
  wchar_t* text = nullptr;
  DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER |
                               FORMAT_MESSAGE_FROM_SYSTEM |
                               FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, code, 0, reinterpret_cast<wchar_t*>(&text),
                           0, nullptr);
  std::string reason = n && text ? Utf8(text, static_cast<int>(n)) : "";
  reason.erase(reason.find_last_not_of("\r\n .") + 1);
  if (text) LocalFree(text);
  if (reason.empty()) reason = "error " + std::to_string(code);
  return reason;
}

}  // namespace platform::win32
