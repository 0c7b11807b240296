#include "registry/check.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Which module paths Windows takes for a device: the check reports them
// without opening them.
TEST(ReservedDeviceName, AsWindowsTakesTheLastPart) {
  struct Case {
    const char* path;
    const char* device;  // "" for a file
  } cases[] = {
      {"C:\\Acme\\NUL", "NUL"},
      {"C:\\Acme\\nul.dll", "NUL"},
      {"C:\\Acme\\Con.tar.gz", "CON"},
      {"C:\\Acme\\aux.", "AUX"},
      {"C:\\Acme\\aux. . ", "AUX"},
      {"C:\\Acme\\PRN .dll", "PRN"},
      {"C:\\Acme\\prn:", "PRN"},
      {"C:\\Acme\\com1:x", "COM1"},
      {"C:\\Acme\\com1.dll", "COM1"},
      {"C:\\Acme\\COM9", "COM9"},
      {"C:\\Acme\\Lpt5.DLL", "LPT5"},
      {"C:\\Acme\\LPT9 .dll. ", "LPT9"},
      {"C:\\Acme\\com\xb9.dll", "COM\xb9"},  // Windows-1252 superscripts
      {"C:\\Acme\\lpt\xb2", "LPT\xb2"},
      {"C:\\Acme\\COM\xb3.dll", "COM\xb3"},
      {"C:/Acme/nul.dll", "NUL"},
      {"\\Acme\\nul.dll", "NUL"},
      {"C:nul.dll", "NUL"},
      {"nul.dll", "NUL"},
      {"NUL", "NUL"},
      {"C:\\Acme\\NULL.dll", ""},
      {"C:\\Acme\\CONSOLE.dll", ""},
      {"C:\\Acme\\xnul.dll", ""},
      {"C:\\Acme\\ nul.dll", ""},  // a leading blank stays
      {"C:\\Acme\\COM0.dll", ""},
      {"C:\\Acme\\COM10.dll", ""},
      {"C:\\Acme\\LPT.dll", ""},
      {"C:\\Acme\\COMA.dll", ""},
      {"C:\\Acme\\COM\xb4.dll", ""},      // an acute accent, no digit
      {"C:\\Acme\\COM\xc2\xb9.dll", ""},  // UTF-8 is not the code page
      {"C:\\nul\\module.dll", ""},        // a folder's name
      {"C:\\Acme\\nul\\", ""},
      {"\\\\server\\share\\nul.dll", ""},
      {"//server/share/nul.dll", ""},
      {"\\\\?\\C:\\Acme\\nul.dll", ""},
      {"\\\\.\\C:\\Acme\\nul.dll", ""},
      {"C:", ""},
      {"", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    std::string device = "untouched";
    const bool found = ReservedDeviceName(c.path, &device);
    EXPECT_EQ(found, *c.device != '\0');
    EXPECT_EQ(device, found ? c.device : "untouched");
  }
}

}  // namespace
