#include "registry/pe.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "pe_image.h"

using namespace registry;

namespace {

using File = PeFile;

constexpr size_t kData = 0x200;  // the section's file offset
const char* const kNames[] = {
    "xnModuleLoad", "xnModuleUnload", "xnModuleGetExportedNodesCount",
    "xnModuleGetExportedNodesEntryPoints", "xnModuleGetOpenNIVersion"};

// A DLL of |bits| with one section at RVA 0x1000 (file offset 0x200)
// holding an export directory of the five entry points.
File Dll(int bits) {
  File f = DllHeaders(bits, 0x400, 1, 0x200, 0x1000, 0x100);
  PutSection(&f, bits, 0, 0x200, 0x1000, 0x200, kData);
  PutExportDirectory(&f, kData, 5, 5, 0x1028, 0x1040, 0x1060);
  uint32_t name = 0x1080;
  for (uint32_t i = 0; i < 5; ++i) {
    Put32(&f, kData + 0x28 + 4 * i, 0x1000);
    Put32(&f, kData + 0x40 + 4 * i, name);
    Put16(&f, kData + 0x60 + 2 * i, i);
    strcpy(reinterpret_cast<char*>(&f[kData + name - 0x1000]), kNames[i]);
    name += static_cast<uint32_t>(strlen(kNames[i])) + 1;
  }
  return f;
}

PeImage ReadPe(const File& f) { return ReadPeImage(f.data(), f.size()); }

// Dll(bits) with |count| export names, every one pointing at one string of
// |length| 'x's, after their table and their ordinals (all 0) in its
// section, grown to make the file |size| bytes (0: just large enough).
File OneString(int bits, uint32_t count, uint32_t length, size_t size) {
  File f = Dll(bits);
  const uint32_t table = 0x1100, ordinals = table + 4 * count,
                 string = ordinals + 2 * count;
  const size_t needed = kData + (string - 0x1000) + length + 1;
  if (size == 0) size = needed;
  EXPECT_GE(size, needed);
  f.resize(size);
  const uint32_t raw = static_cast<uint32_t>(size - kData);
  PutSection(&f, bits, 0, raw, 0x1000, raw, kData);
  PutExportDirectory(&f, kData, 5, count, 0x1028, table, ordinals);
  for (uint32_t i = 0; i < count; ++i) {
    Put32(&f, kData + (table - 0x1000) + 4 * i, string);
    Put16(&f, kData + (ordinals - 0x1000) + 2 * i, 0);
  }
  memset(&f[kData + (string - 0x1000)], 'x', length);
  return f;
}

TEST(ReadPeImage, ReadsBothWidths) {
  for (int bits : {32, 64}) {
    PeImage image = ReadPe(Dll(bits));
    SCOPED_TRACE(bits == 32 ? "a 32-bit DLL (PE32)" : "a 64-bit DLL (PE32+)");
    ASSERT_EQ(image.status, PeStatus::kImage) << image.problem;
    EXPECT_EQ(image.bits, bits);
    EXPECT_TRUE(image.dll);
    EXPECT_EQ(image.exports, std::vector<std::string>(kNames, kNames + 5));
  }
}

TEST(ReadPeImage, RefusesEveryTruncation) {
  for (int bits : {32, 64}) {
    const File whole = Dll(bits);
    for (size_t size = 0; size < whole.size(); ++size) {
      File part(whole.begin(), whole.begin() + static_cast<long>(size));
      EXPECT_NE(ReadPe(part).status, PeStatus::kImage)
          << bits << "-bit, cut to " << size << " bytes";
    }
  }
}

TEST(ReadPeImage, NamesWhatIsWrongWithDamagedHeaders) {
  struct Case {
    const char* what;
    std::function<void(File*, int)> damage;
    PeStatus status;
    const char* problem;  // for kImage: the number of exports left
  } cases[] = {
      {"no MZ", [](File* f, int) { (*f)[1] = 'Y'; }, PeStatus::kNotPe,
       "no MZ header"},
      {"PE header past the end",
       [](File* f, int) { Put32(f, 0x3c, 0xfffffff0); }, PeStatus::kNotPe,
       "no PE header"},
      {"another optional header", [](File* f, int) { Put16(f, kOpt, 0x107); },
       PeStatus::kNotPe, "no PE32 or PE32+ optional header"},
      {"optional header past the end",
       [](File* f, int) { Put16(f, kPe + 20, 0xffff); }, PeStatus::kDamaged,
       "truncated optional header"},
      {"optional header too short for its directories",
       [](File* f, int) { Put16(f, kPe + 20, 8); }, PeStatus::kDamaged,
       "truncated optional header"},
      {"headers larger than the file",
       [](File* f, int) { Put32(f, kOpt + 60, 0x80000000); },
       PeStatus::kDamaged, "headers larger than the file"},
      {"too many sections", [](File* f, int) { Put16(f, kPe + 6, 0xffff); },
       PeStatus::kDamaged, "section table outside the file"},
      {"section data past the end",
       [](File* f, int b) { Put32(f, SectionTable(b) + 20, 0xfffffff0); },
       PeStatus::kDamaged, "section data outside the file"},
      {"export directory outside every section",
       [](File* f, int b) { Put32(f, Dirs(b), 0xfffffff0); },
       PeStatus::kDamaged, "export directory outside the file"},
      {"export directory across the section's end",
       [](File* f, int b) { Put32(f, Dirs(b), 0x11f0); }, PeStatus::kDamaged,
       "export directory outside the file"},
      {"too many names", [](File* f, int) { Put32(f, kData + 24, 0xffffffff); },
       PeStatus::kDamaged, "export name table outside the file"},
      {"a name outside the file",
       [](File* f, int) { Put32(f, kData + 0x40, 0x7fffffff); },
       PeStatus::kDamaged, "export name outside the file"},
      {"a name without its end",
       [](File* f, int) {
         Put32(f, kData + 0x40, 0x11fc);
         memset(&(*f)[0x3fc], 'x', 4);
       },
       PeStatus::kDamaged, "export name outside the file"},
      {"an ordinal past the functions",
       [](File* f, int) { Put16(f, kData + 0x60, 5); }, PeStatus::kImage, "4"},
      // The first section in the table that holds an RVA maps it, however
      // the others overlap it: a second one over the export section,
      // mapping it to the headers, changes nothing after it, everything
      // before it.
      {"an overlapping section after the one that holds the exports",
       [](File* f, int b) {
         Put16(f, kPe + 6, 2);
         PutSection(f, b, 1, 0, 0x1000, 0x200, 0);
       },
       PeStatus::kImage, "5"},
      {"an overlapping section before the one that holds the exports",
       [](File* f, int b) {
         Put16(f, kPe + 6, 2);
         memcpy(&(*f)[SectionTable(b) + 40], &(*f)[SectionTable(b)], 40);
         PutSection(f, b, 0, 0x200, 0x1000, 0x100, 0);
       },
       PeStatus::kImage, "0"},
      {"an overlapping section before it, over its first name only",
       [](File* f, int b) {
         Put16(f, kPe + 6, 2);
         memcpy(&(*f)[SectionTable(b) + 40], &(*f)[SectionTable(b)], 40);
         // At 0x3e0, a NUL just after it.
         PutSection(f, b, 0, 0x200, 0x1080, 0x10, 0x3e0);
         memset(&(*f)[0x3e0], 'x', 0x10);
       },
       PeStatus::kDamaged, "export name outside the file"},
      {"no export directory",
       [](File* f, int b) {
         Put32s(f, Dirs(b), {0, 0});
       },
       PeStatus::kImage, "0"},
  };
  for (int bits : {32, 64}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.what) + ", " + std::to_string(bits) + "-bit");
      File f = Dll(bits);
      c.damage(&f, bits);
      PeImage image = ReadPe(f);
      EXPECT_EQ(image.status, c.status);
      if (c.status == PeStatus::kImage)
        EXPECT_EQ(std::to_string(image.exports.size()), c.problem);
      else
        EXPECT_EQ(image.problem, c.problem);
    }
  }
}

// Each name is read once and the names together are bounded: by count,
// and by the file's size in bytes. A file past the bounds is not read
// further, its headers kept; names many pointers share are refused by the
// bound, never copied once per pointer.
TEST(ReadPeImage, BoundsTheExportNames) {
  struct Case {
    const char* what;
    uint32_t count, length;
    size_t size;  // 0: as small as the names allow
    PeStatus status;
    const char* problem;  // for kImage: ""
  } cases[] = {
      {"many names at one long string", 64, 0x4000, 0, PeStatus::kPastBounds,
       "more bytes of export names than the file holds"},
      {"names as long as the file", 512, 127, 512 * 128, PeStatus::kImage,
       ""},
      {"names a byte longer than the file", 512, 127, 512 * 128 - 1,
       PeStatus::kPastBounds,
       "more bytes of export names than the file holds"},
      {"as many names as the reader takes", kMaxExportNames, 0, 0,
       PeStatus::kImage, ""},
      {"a name more", kMaxExportNames + 1, 0, 0, PeStatus::kPastBounds,
       "more than 65536 export names"},
  };
  for (int bits : {32, 64}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.what) + ", " + std::to_string(bits) + "-bit");
      const File f = OneString(bits, c.count, c.length, c.size);
      PeImage image = ReadPe(f);
      EXPECT_EQ(image.status, c.status);
      EXPECT_EQ(image.problem, c.problem);
      EXPECT_EQ(image.bits, bits);
      EXPECT_TRUE(image.dll);
      if (c.status == PeStatus::kImage) {
        EXPECT_EQ(image.exports.size(), c.count);
        const std::string last =
            image.exports.empty() ? "" : image.exports.back();
        EXPECT_EQ(last, std::string(c.length, 'x'));
      } else {
        EXPECT_TRUE(image.exports.empty());
      }
    }
  }
}

}  // namespace
