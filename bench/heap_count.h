// Heap accounting for the benchmarks: the program that links
// heap_count.cc has every operator new and delete counted.
#ifndef MODREG_BENCH_HEAP_COUNT_H_
#define MODREG_BENCH_HEAP_COUNT_H_

#include <cstddef>

// Starts a new peak measurement; returns the live bytes to subtract.
size_t ResetPeak();

// Returns the most bytes live since ResetPeak returned |base|, less it.
size_t PeakSince(size_t base);

#endif  // MODREG_BENCH_HEAP_COUNT_H_
