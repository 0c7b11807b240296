#include "registry/pe.h"

namespace {

// The bytes of the file; every read is checked against |size|. Offsets are
// 64-bit so that no sum of two 32-bit fields wraps.
struct Bytes {
  const unsigned char* data;
  uint64_t size;

  bool Has(uint64_t offset, uint64_t length) const {
    return offset <= size && length <= size - offset;
  }
  uint16_t U16(uint64_t at) const {
    return static_cast<uint16_t>(data[at] | data[at + 1] << 8);
  }
  uint32_t U32(uint64_t at) const {
    return static_cast<uint32_t>(U16(at)) |
           static_cast<uint32_t>(U16(at + 2)) << 16;
  }
};

struct Section {
  uint32_t address;   // VirtualAddress
  uint32_t raw_size;  // SizeOfRawData
  uint32_t raw_at;    // PointerToRawData
};

struct Image {
  Bytes bytes;
  uint32_t header_size = 0;  // SizeOfHeaders, within the file
  std::vector<Section> sections;

  // The file offset of the |length| bytes at |rva|, when the file holds
  // them: in one section's raw data or in the headers.
  bool Map(uint32_t rva, uint64_t length, uint64_t* offset) const {
    for (const Section& s : sections) {
      if (rva < s.address || rva - s.address >= s.raw_size) continue;
      uint64_t into = rva - s.address;
      if (length > s.raw_size - into) return false;
      *offset = s.raw_at + into;
      return true;
    }
    if (rva < header_size && length <= header_size - rva) {
      *offset = rva;
      return true;
    }
    return false;
  }

  // The NUL-terminated name at |rva|, within the bytes it maps to.
  bool Name(uint32_t rva, std::string* name) const {
    uint64_t at = 0;
    if (!Map(rva, 1, &at)) return false;
    // The end of the section (or headers) holding |at|.
    uint64_t end = bytes.size;
    for (const Section& s : sections)
      if (at >= s.raw_at && at - s.raw_at < s.raw_size)
        end = uint64_t{s.raw_at} + s.raw_size;
    if (at < header_size && end > header_size) end = header_size;
    for (uint64_t i = at; i < end; ++i) {
      if (bytes.data[i] == 0) {
        name->assign(reinterpret_cast<const char*>(bytes.data + at), i - at);
        return true;
      }
    }
    return false;
  }
};

PeImage Fail(PeStatus status, std::string problem) {
  PeImage image;
  image.status = status;
  image.problem = std::move(problem);
  return image;
}

// Export directory: NumberOfFunctions at 20, NumberOfNames at 24, then the
// RVAs of AddressOfFunctions, AddressOfNames, AddressOfNameOrdinals.
bool ReadExports(const Image& image, uint32_t rva, uint32_t size,
                 std::vector<std::string>* names, std::string* problem) {
  if (rva == 0 && size == 0) return true;  // exports nothing
  uint64_t dir = 0;
  if (!image.Map(rva, 40, &dir)) {
    *problem = "export directory outside the file";
    return false;
  }
  const Bytes& b = image.bytes;
  const uint32_t functions = b.U32(dir + 20);
  const uint32_t count = b.U32(dir + 24);
  uint64_t name_table = 0, ordinals = 0;
  if (!image.Map(b.U32(dir + 32), uint64_t{count} * 4, &name_table) ||
      !image.Map(b.U32(dir + 36), uint64_t{count} * 2, &ordinals)) {
    *problem = "export name table outside the file";
    return false;
  }
  for (uint32_t i = 0; i < count; ++i) {
    std::string name;
    if (!image.Name(b.U32(name_table + 4ull * i), &name)) {
      *problem = "export name outside the file";
      return false;
    }
    // A name whose ordinal leads to no function cannot be found.
    if (b.U16(ordinals + 2ull * i) < functions) names->push_back(name);
  }
  return true;
}

}  // namespace

PeImage ReadPeImage(const unsigned char* data, size_t size) {
  const Bytes b{data, size};
  if (!b.Has(0, 64) || b.data[0] != 'M' || b.data[1] != 'Z')
    return Fail(PeStatus::kNotPe, "no MZ header");
  const uint64_t pe = b.U32(0x3c);
  if (!b.Has(pe, 24) || b.U32(pe) != 0x00004550)
    return Fail(PeStatus::kNotPe, "no PE header");
  PeImage out;
  out.machine = b.U16(pe + 4);
  const uint16_t section_count = b.U16(pe + 6);
  const uint16_t optional_size = b.U16(pe + 20);
  out.dll = (b.U16(pe + 22) & 0x2000) != 0;
  const uint64_t opt = pe + 24;
  if (!b.Has(opt, 2)) return Fail(PeStatus::kDamaged, "truncated PE header");
  const uint16_t magic = b.U16(opt);
  if (magic != 0x10b && magic != 0x20b)
    return Fail(PeStatus::kNotPe, "no PE32 or PE32+ optional header");
  out.bits = magic == 0x10b ? 32 : 64;
  // Where NumberOfRvaAndSizes and the data directories are.
  const uint64_t dirs_at = out.bits == 32 ? 96 : 112;
  if (optional_size < dirs_at || !b.Has(opt, optional_size))
    return Fail(PeStatus::kDamaged, "truncated optional header");
  Image image{b, 0, {}};
  image.header_size = b.U32(opt + 60);
  if (!b.Has(0, image.header_size))
    return Fail(PeStatus::kDamaged, "headers larger than the file");
  const uint64_t table = opt + optional_size;
  if (!b.Has(table, uint64_t{section_count} * 40))
    return Fail(PeStatus::kDamaged, "section table outside the file");
  for (uint64_t at = table; at < table + section_count * 40ull; at += 40) {
    Section s{b.U32(at + 12), b.U32(at + 16), b.U32(at + 20)};
    if (s.raw_size && !b.Has(s.raw_at, s.raw_size))
      return Fail(PeStatus::kDamaged, "section data outside the file");
    image.sections.push_back(s);
  }
  const uint32_t dir_count = b.U32(opt + dirs_at - 4);
  if (dir_count >= 1 && optional_size >= dirs_at + 8) {
    std::string problem;
    if (!ReadExports(image, b.U32(opt + dirs_at), b.U32(opt + dirs_at + 4),
                     &out.exports, &problem))
      return Fail(PeStatus::kDamaged, problem);
  }
  out.status = PeStatus::kImage;
  return out;
}
