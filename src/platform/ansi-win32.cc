// The ANSI code page on Windows: the system's.
#include "platform/ansi.h"

#include "platform/win32_text.h"

namespace platform {
using namespace win32;

// GetACP(), not CP_ACP: the flags each conversion takes depend on the
// code page, UTF-8 on a system set to use it for the ANSI calls.
bool ToAnsi(const std::string& text, std::string* ansi) {
  return ToCodePage(GetACP(), text, ansi);
}

std::string FromAnsi(const std::string& ansi) {
  return Utf8(WideFrom(GetACP(), ansi).c_str());
}

}  // namespace platform
