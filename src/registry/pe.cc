#include "registry/pe.h"

#include <algorithm>
#include <cstring>
#include <set>
#include <utility>

namespace registry {

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

constexpr uint32_t kNoSection = UINT32_MAX;

// From |begin| up to the next span's begin, the RVAs that |section| (an
// index into the table, or kNoSection) maps.
struct Span {
  uint64_t begin;
  uint32_t section;
};

struct Image {
  Bytes bytes;
  uint32_t header_size = 0;  // SizeOfHeaders, within the file
  std::vector<Section> sections;
  // The RVAs cut where a section's raw data begins or ends, each piece
  // given to the first section in the table that holds it, in the order
  // of the RVAs: an RVA is found in a time that does not grow with the
  // count of sections, however they overlap.
  std::vector<Span> spans;

  void Index() {
    std::vector<std::pair<uint64_t, uint32_t>> edges;  // at, section
    for (uint32_t i = 0; i < sections.size(); ++i) {
      const Section& s = sections[i];
      if (s.raw_size == 0) continue;
      edges.push_back({s.address, i});
      edges.push_back({uint64_t{s.address} + s.raw_size, i});
    }
    std::sort(edges.begin(), edges.end());
    std::set<uint32_t> open;  // the sections holding the RVAs being passed
    for (size_t i = 0; i < edges.size();) {
      const uint64_t at = edges[i].first;
      for (; i < edges.size() && edges[i].first == at; ++i) {
        const Section& s = sections[edges[i].second];
        if (s.address == at) open.insert(edges[i].second);
        if (uint64_t{s.address} + s.raw_size == at) open.erase(edges[i].second);
      }
      const uint32_t first = open.empty() ? kNoSection : *open.begin();
      if (spans.empty() || spans.back().section != first)
        spans.push_back({at, first});
    }
  }

  // The file offset of the |length| bytes at |rva|, when the file holds
  // them: in one section's raw data or in the headers; |end|, when given,
  // is where that section's raw data (or the headers) end in the file.
  bool Map(uint32_t rva, uint64_t length, uint64_t* offset,
           uint64_t* end = nullptr) const {
    auto after = std::upper_bound(
        spans.begin(), spans.end(), uint64_t{rva},
        [](uint64_t at, const Span& span) { return at < span.begin; });
    if (after != spans.begin() && after[-1].section != kNoSection) {
      const Section& s = sections[after[-1].section];
      uint64_t into = rva - s.address;
      if (length > s.raw_size - into) return false;
      *offset = s.raw_at + into;
      if (end) *end = uint64_t{s.raw_at} + s.raw_size;
      return true;
    }
    if (rva < header_size && length <= header_size - rva) {
      *offset = rva;
      if (end) *end = header_size;
      return true;
    }
    return false;
  }
};

// Returns an image of |status| that says |problem|, nothing read.
PeImage ImageFailure(PeStatus status, std::string problem) {
  PeImage image;
  image.status = status;
  image.problem = std::move(problem);
  return image;
}

// Export directory: NumberOfFunctions at 20, NumberOfNames at 24, then the
// RVAs of AddressOfFunctions, AddressOfNames, AddressOfNameOrdinals.
//
// Each name is read once, in one pass over its bytes, and the reading is
// bounded: no more than kMaxExportNames names, and no more bytes of names
// (their NULs included) than the file holds, which a file whose names are
// its own, one string each, never exceeds. Many names pointing at one long
// string thus cost no more than the file's size, in time and in memory.
//
// Appends the names to |out|'s exports; on failure, sets its status and
// problem.
bool ReadExports(const Image& image, uint32_t rva, uint32_t size,
                 PeImage* out) {
  if (rva == 0 && size == 0) return true;  // exports nothing
  const auto fail = [out](std::string problem,
                          PeStatus status = PeStatus::kDamaged) {
    out->status = status;
    out->problem = std::move(problem);
    return false;
  };
  uint64_t dir = 0;
  if (!image.Map(rva, 40, &dir))
    return fail("export directory outside the file");
  const Bytes& b = image.bytes;
  const uint32_t functions = b.U32(dir + 20);
  const uint32_t count = b.U32(dir + 24);
  uint64_t name_table = 0, ordinals = 0;
  if (!image.Map(b.U32(dir + 32), uint64_t{count} * 4, &name_table) ||
      !image.Map(b.U32(dir + 36), uint64_t{count} * 2, &ordinals))
    return fail("export name table outside the file");
  // Built by appending: GCC 12 warns of an overlap (-Wrestrict) that
  // "literal" + string does not have.
  if (count > kMaxExportNames)
    return fail(
        std::string("more than ").append(std::to_string(kMaxExportNames)) +
            " export names",
        PeStatus::kPastBounds);
  uint64_t left = b.size;  // bytes of names still to be read
  for (uint32_t i = 0; i < count; ++i) {
    uint64_t at = 0, end = 0;
    if (!image.Map(b.U32(name_table + 4ull * i), 1, &at, &end))
      return fail("export name outside the file");
    const uint64_t look = std::min(end - at, left);
    const void* nul = memchr(b.data + at, 0, look);
    if (!nul && look == end - at) return fail("export name outside the file");
    if (!nul)
      return fail("more bytes of export names than the file holds",
                  PeStatus::kPastBounds);
    const char* name = reinterpret_cast<const char*>(b.data + at);
    const size_t length = static_cast<const char*>(nul) - name;
    left -= length + 1;
    // A name whose ordinal leads to no function cannot be found.
    if (b.U16(ordinals + 2ull * i) < functions)
      out->exports.emplace_back(name, length);
  }
  return true;
}

}  // namespace

PeImage ReadPeImage(const unsigned char* data, size_t size) {
  const Bytes b{data, size};
  if (!b.Has(0, 64) || b.data[0] != 'M' || b.data[1] != 'Z')
    return ImageFailure(PeStatus::kNotPe, "no MZ header");
  const uint64_t pe = b.U32(0x3c);
  if (!b.Has(pe, 24) || b.U32(pe) != 0x00004550)
    return ImageFailure(PeStatus::kNotPe, "no PE header");
  PeImage out;
  out.machine = b.U16(pe + 4);
  const uint16_t section_count = b.U16(pe + 6);
  const uint16_t optional_size = b.U16(pe + 20);
  out.dll = (b.U16(pe + 22) & 0x2000) != 0;
  const uint64_t opt = pe + 24;
  if (!b.Has(opt, 2))
    return ImageFailure(PeStatus::kDamaged, "truncated PE header");
  const uint16_t magic = b.U16(opt);
  if (magic != 0x10b && magic != 0x20b)
    return ImageFailure(PeStatus::kNotPe, "no PE32 or PE32+ optional header");
  out.bits = magic == 0x10b ? 32 : 64;
  // Where NumberOfRvaAndSizes and the data directories are.
  const uint64_t dirs_at = out.bits == 32 ? 96 : 112;
  if (optional_size < dirs_at || !b.Has(opt, optional_size))
    return ImageFailure(PeStatus::kDamaged, "truncated optional header");
  Image image{b, 0, {}, {}};
  image.header_size = b.U32(opt + 60);
  if (!b.Has(0, image.header_size))
    return ImageFailure(PeStatus::kDamaged, "headers larger than the file");
  const uint64_t table = opt + optional_size;
  if (!b.Has(table, uint64_t{section_count} * 40))
    return ImageFailure(PeStatus::kDamaged, "section table outside the file");
  for (uint64_t at = table; at < table + section_count * 40ull; at += 40) {
    Section s{b.U32(at + 12), b.U32(at + 16), b.U32(at + 20)};
    if (s.raw_size && !b.Has(s.raw_at, s.raw_size))
      return ImageFailure(PeStatus::kDamaged, "section data outside the file");
    image.sections.push_back(s);
  }
  image.Index();
  const uint32_t dir_count = b.U32(opt + dirs_at - 4);
  if (dir_count >= 1 && optional_size >= dirs_at + 8 &&
      !ReadExports(image, b.U32(opt + dirs_at), b.U32(opt + dirs_at + 4),
                   &out)) {
    if (out.status != PeStatus::kPastBounds)
      return ImageFailure(out.status, out.problem);
    out.exports.clear();
    return out;
  }
  out.status = PeStatus::kImage;
  return out;
}

}  // namespace registry
