// The PE reader over crafted module files of growing size, at the worst
// its bounds let through and past them: its time per byte and its memory
// should not grow with the file.
//
//   pe_bench [benchmark flags]
//
// BM_SharedString/<MiB>  4096 export names, all pointing at one string,
//                        together exactly as long as the file: the most
//                        copying the byte bound allows
// BM_PastBound/<MiB>     4096 names at one string of half the file: refused
//                        once the file's size in bytes has been read
// BM_DistinctNames/<MiB> 65536 names, each its own string, filling the
//                        file
// BM_ManySections        65535 sections, the one holding the 65536 names
//                        last in the table, every name looked up in it
//
// Each reports bytes_per_second over the file and heap_x: the peak of live
// heap bytes during a read over the file's size.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "heap_count.h"
#include "pe_image.h"
#include "registry/pe.h"

using namespace registry;

namespace {

using File = PeFile;

constexpr uint32_t kExports = 0x1000;  // the export section's RVA

// A 64-bit DLL of |size| bytes whose export section, last of |sections|,
// holds |count| names: all pointing at one string of |shared| bytes, or,
// when |shared| is 0, each its own string, the strings spread to fill the
// section. The sections before it lie elsewhere, a byte each.
File Module(size_t size, uint32_t sections, uint32_t count, size_t shared) {
  const size_t headers =
      (SectionTable(64) + 40ull * sections + 0xfff) & ~size_t{0xfff};
  File f = DllHeaders(64, size, sections, static_cast<uint32_t>(headers),
                      kExports, 40);
  for (uint32_t i = 0; i + 1 < sections; ++i)
    PutSection(&f, 64, i, 0, 0x10000000 + 0x1000 * i, 1, 0);
  const uint32_t raw = static_cast<uint32_t>(size - headers);
  PutSection(&f, 64, sections - 1, raw, kExports, raw,
             static_cast<uint32_t>(headers));
  auto at = [&](uint32_t rva) { return headers + (rva - kExports); };
  const uint32_t names = kExports + 40, ordinals = names + 4 * count;
  const uint32_t strings = ordinals + 2 * count;
  PutExportDirectory(&f, at(kExports), 1, count, 0, names, ordinals);
  const size_t room = size - at(strings);
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t rva = strings;
    if (shared == 0) {
      rva += static_cast<uint32_t>(room / count * i);
      memset(&f[at(rva)], 'n', room / count - 1);
    }
    Put32(&f, at(names) + 4 * i, rva);
  }
  if (shared) memset(&f[at(strings)], 's', shared);
  return f;
}

void TimeRead(benchmark::State& state, const File& f, PeStatus expected) {
  size_t peak = 0;
  for (auto _ : state) {
    const size_t base = ResetPeak();
    PeImage image = ReadPeImage(f.data(), f.size());
    if (image.status != expected) {
      state.SkipWithError(("unexpected result: " + image.problem).c_str());
      return;
    }
    benchmark::DoNotOptimize(image);
    peak = std::max(peak, PeakSince(base));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * f.size()));
  state.counters["heap_x"] =
      static_cast<double>(peak) / static_cast<double>(f.size());
}

constexpr uint32_t kShared = 4096;

void BM_SharedString(benchmark::State& state) {
  const size_t size = static_cast<size_t>(state.range(0)) << 20;
  // Names of |length| bytes and a NUL each, adding up to the file's size.
  const size_t length = size / kShared - 1;
  TimeRead(state, Module(size, 1, kShared, length), PeStatus::kImage);
}

void BM_PastBound(benchmark::State& state) {
  const size_t size = static_cast<size_t>(state.range(0)) << 20;
  TimeRead(state, Module(size, 1, kShared, size / 2), PeStatus::kPastBounds);
}

void BM_DistinctNames(benchmark::State& state) {
  const size_t size = static_cast<size_t>(state.range(0)) << 20;
  TimeRead(state, Module(size, 1, kMaxExportNames, 0), PeStatus::kImage);
}

void BM_ManySections(benchmark::State& state) {
  TimeRead(state, Module(4 << 20, 65535, kMaxExportNames, 0), PeStatus::kImage);
}

BENCHMARK(BM_SharedString)->RangeMultiplier(4)->Range(1, 64)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PastBound)->RangeMultiplier(4)->Range(1, 64)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DistinctNames)->RangeMultiplier(4)->Range(1, 64)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ManySections)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
