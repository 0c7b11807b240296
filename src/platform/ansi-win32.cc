// The ANSI code page on Windows: the system's.
#include "platform/ansi.h"

#include "platform/text-win32.h"

namespace platform {
using namespace win32;

// GetACP(), not CP_ACP: the flags each conversion takes depend on the
// code page, UTF-8 on a system set to use it for the ANSI calls.
bool ToAnsi(const std::string& text, std::string* ansi) {
  return ToCodePage(GetACP(), text, ansi);
}

const winpath::CodePage& AnsiCodePage() {
  static const winpath::CodePage code_page = [] {
    winpath::CodePage lead_bytes;
    CPINFO info;
    // UTF-8 and the single-byte code pages give no range.
    if (GetCPInfo(GetACP(), &info))
      for (int i = 0; i + 1 < MAX_LEADBYTES && info.LeadByte[i]; i += 2)
        lead_bytes.AddLeadBytes(info.LeadByte[i], info.LeadByte[i + 1]);
    return lead_bytes;
  }();
  return code_page;
}

std::string FromAnsi(const std::string& ansi) {
  return Utf8(WideFrom(GetACP(), ansi).c_str());
}

}  // namespace platform
