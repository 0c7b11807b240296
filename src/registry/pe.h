// Reading a module file's PE headers and export names without loading it:
// loading would run the module's code, and a 32-bit process cannot load a
// 64-bit module. The bytes are untrusted: every offset and size is checked
// against them.
#ifndef MODREG_REGISTRY_PE_H_
#define MODREG_REGISTRY_PE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace registry {

enum class PeStatus {
  kImage,    // a PE image whose headers and export names could be read
  kNotPe,    // no PE image at all (no "MZ" or "PE" signature, another
             // optional header)
  kDamaged,  // a PE image with a header, section or export table that
             // points outside the file or contradicts itself
  kPastBounds,  // a PE image whose export names are more than the reader
                // takes (kMaxExportNames, or more bytes of names than the
                // file holds): its headers read, its names not
};

struct PeImage {
  PeStatus status = PeStatus::kNotPe;
  std::string problem;  // unless kImage: what is wrong, in a few words
  // For kImage and kPastBounds:
  uint16_t machine = 0;  // IMAGE_FILE_HEADER.Machine
  int bits = 0;          // 32 (PE32) or 64 (PE32+)
  bool dll = false;      // IMAGE_FILE_DLL is set
  // For kImage: the exported names whose ordinal leads to a function, in
  // the file's order.
  std::vector<std::string> exports;
};

constexpr uint16_t kMachineI386 = 0x014c;
constexpr uint16_t kMachineAmd64 = 0x8664;

// The most export names read. Linkers number exports in 16 bits: a file
// with more names is none of theirs.
constexpr uint32_t kMaxExportNames = 65536;

// Reads the image in the |size| bytes at |data|, in time and memory linear
// in |size|: its names add up to no more than |size| bytes.
PeImage ReadPeImage(const unsigned char* data, size_t size);

}  // namespace registry

#endif  // MODREG_REGISTRY_PE_H_
