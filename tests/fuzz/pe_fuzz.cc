// libFuzzer target over the PE reader: module files are untrusted, so any
// bytes must give an answer, never a read outside them. Seeds: the test
// modules in pe-seeds/ (tests/modules/module.c, built as tests/CMakeLists.txt
// builds it).
//
// Besides the sanitizers' checks: an image has a width of 32 or 64 bits,
// a failure says why, and every export name is bytes of the input.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "registry/pe.h"

using namespace registry;

namespace {

[[noreturn]] void PeViolation(const char* what) {
  fprintf(stderr, "pe_fuzz: %s\n", what);
  abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const PeImage image = ReadPeImage(data, size);
  if (image.status != PeStatus::kImage) {
    if (image.problem.empty()) PeViolation("a failure without its reason");
    return 0;
  }
  if (image.bits != 32 && image.bits != 64) PeViolation("an image of no width");
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  for (const std::string& name : image.exports) {
    if (name.find('\0') != std::string::npos) PeViolation("a NUL in a name");
    if (bytes.find(name + '\0') == std::string_view::npos)
      PeViolation("an export name that is not in the file");
  }
  return 0;
}
