// Building PE module images byte by byte, for the PE reader's tests and
// benchmark: the headers of a DLL, its section table and an export
// directory, each field where the format puts it.
#ifndef MODREG_TESTS_PE_IMAGE_H_
#define MODREG_TESTS_PE_IMAGE_H_

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <vector>

#include "registry/pe.h"

namespace registry {

using PeFile = std::vector<unsigned char>;

// Writes the low 16 bits of |v| at |at|, little-endian.
inline void Put16(PeFile* f, size_t at, uint32_t v) {
  (*f)[at] = v & 0xff;
  (*f)[at + 1] = (v >> 8) & 0xff;
}

// Writes |v| at |at|, little-endian.
inline void Put32(PeFile* f, size_t at, uint32_t v) {
  Put16(f, at, v & 0xffff);
  Put16(f, at + 2, v >> 16);
}

// Writes |values| one after the other from |at|, as Put32 writes each.
inline void Put32s(PeFile* f, size_t at,
                   std::initializer_list<uint32_t> values) {
  size_t i = 0;
  for (uint32_t v : values) Put32(f, at + 4 * i++, v);
}

// Where the PE header lies (e_lfanew), and the optional header after it.
constexpr size_t kPe = 0x40, kOpt = kPe + 24;

// Returns where the data directories begin, the export directory's first,
// in a PE32 (|bits| 32) or PE32+ image.
inline size_t Dirs(int bits) { return kOpt + (bits == 32 ? 96 : 112); }
// Returns where the section table begins, after the optional header and
// its 16 data directories.
inline size_t SectionTable(int bits) { return Dirs(bits) + 16 * 8; }

// Returns |size| bytes, zero but for the headers of a DLL of |bits| for
// i386 or AMD64: |sections| sections, |headers| bytes of headers, 16 data
// directories, the export directory at RVA |exports| of |exports_size|
// bytes.
inline PeFile DllHeaders(int bits, size_t size, uint32_t sections,
                         uint32_t headers, uint32_t exports,
                         uint32_t exports_size) {
  PeFile f(size, 0);
  f[0] = 'M', f[1] = 'Z';
  Put32(&f, 0x3c, kPe);
  memcpy(&f[kPe], "PE\0\0", 4);
  Put16(&f, kPe + 4, bits == 32 ? kMachineI386 : kMachineAmd64);
  Put16(&f, kPe + 6, sections);
  Put16(&f, kPe + 20, static_cast<uint32_t>(SectionTable(bits) - kOpt));
  Put16(&f, kPe + 22, 0x2002);  // a DLL, executable
  Put16(&f, kOpt, bits == 32 ? 0x10b : 0x20b);
  Put32(&f, kOpt + 60, headers);
  Put32s(&f, Dirs(bits) - 4, {16, exports, exports_size});
  return f;
}

// Writes entry |index| of the section table: the section at RVA |rva|,
// |virtual_size| bytes in memory, |raw_size| bytes at file offset |raw|.
inline void PutSection(PeFile* f, int bits, uint32_t index,
                       uint32_t virtual_size, uint32_t rva, uint32_t raw_size,
                       uint32_t raw) {
  Put32s(f, SectionTable(bits) + 40 * size_t{index} + 8,
         {virtual_size, rva, raw_size, raw});
}

// Writes an export directory at file offset |at|: |functions| functions,
// |names| names, and the RVAs of the function, name and ordinal tables.
inline void PutExportDirectory(PeFile* f, size_t at, uint32_t functions,
                               uint32_t names, uint32_t function_table,
                               uint32_t name_table, uint32_t ordinal_table) {
  Put32s(f, at + 20,
         {functions, names, function_table, name_table, ordinal_table});
}

}  // namespace registry

#endif  // MODREG_TESTS_PE_IMAGE_H_
