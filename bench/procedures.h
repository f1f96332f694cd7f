// The two measuring procedures every benchmark is built from, apart from any kernel: the block
// sweep and the four-kernel array test. They take kernels as plain function pointers, so the
// rate arithmetic can run against a fake timing.
#pragma once

#include <cstdint>

#include "catalogue.h"
#include "membw.h"

namespace membw_internal {

// Contract of every kernel: size in Kb, repetitions; allocates, initialises, times only its
// loop, releases, and returns the elapsed whole milliseconds.
using Kernel = uint32_t (*)(uint32_t sizeKb, uint32_t repetitions);

// What a kernel returns when it could not get its buffers (no real measurement lasts 49 days).
constexpr uint32_t kKernelNoMemory = 0xFFFFFFFFu;

// Settings of one run, as the options left them.
struct RunSettings {
  uint32_t passGb = 8;       // G
  uint32_t arrayKb = 32768;  // A
  uint32_t runs = 1;         // R
  int32_t prefetchMode = 0;  // P
};

// A kernel with the number of arrays its loop streams, each of which counts in its rate.
struct KernelTraffic {
  Kernel kernel;
  uint32_t arrays;
};

// Labels that follow each result line of the non-temporal array test; null for other families.
struct Labels {
  const char* result[4];
  const char* batch[4];
};

// The labels of the four kernels the prefetch mode picked, by whether each prefetches with T0.
Labels PrefetchLabels(const bool t0[4]);

// Mb/s of a kernel moving `arrays` arrays of G Gb each in ms. A time of 0 ms has no rate;
// callers refuse it before asking.
double Rate(uint32_t passGb, uint32_t arrays, uint32_t ms);

// Sweeps blocks of 1 Kb up to A Kb, one line per block. Result 0, or 1 after an error message.
int BlockSweep(const char* line, KernelTraffic kernel, const RunSettings& settings, MembwOutput output);

// Copy, Scale, Add, Triad R times with the family's lines; labels may be null.
int ArrayTest(const FamilyLines& lines, const KernelTraffic kernels[4], const Labels* labels,
              const RunSettings& settings, MembwOutput output);

}  // namespace membw_internal
