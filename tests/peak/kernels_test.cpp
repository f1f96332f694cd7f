// Each kernel moves exactly the bytes its row claims: all of them, and none beyond the array.
#include "peak/kernels.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "peak/peak.h"
#include "platform/processors.h"

namespace peak {
namespace {

constexpr uint64_t kGuardBytes = 4096;
constexpr uint64_t kGuardByte = 0xA5;

// An aligned array with a guard after it, so a loop that runs over the end shows.
struct Guarded {
  explicit Guarded(uint64_t bytes) : bytes(bytes) {
    const uint64_t whole =
        (bytes + kGuardBytes + 4095) / 4096 * 4096;  // aligned_alloc takes whole alignments
    data = static_cast<unsigned char*>(std::aligned_alloc(4096, whole));
    std::memset(data + bytes, kGuardByte, kGuardBytes);
  }
  ~Guarded() { std::free(data); }
  uint64_t* Words() const { return reinterpret_cast<uint64_t*>(data); }
  bool GuardIntact() const {
    for (uint64_t i = 0; i < kGuardBytes; ++i)
      if (data[bytes + i] != kGuardByte) return false;
    return true;
  }
  unsigned char* data;
  uint64_t bytes;
};

std::vector<const KernelRow*> UsableRows() {
  std::vector<const KernelRow*> rows;
  const CpuFeatures features = ReadCpuFeatures();
  for (const KernelRow& row : kKernelRows)
    if (IsaUsable(features, row.isa)) rows.push_back(&row);
  return rows;
}

// Sizes of one iteration, an odd count of them, and a few granules.
std::vector<uint64_t> SizesFor(const KernelRow& row) {
  return {row.bytes, 7ull * row.bytes, 3 * kArrayGranule + row.bytes};
}

TEST(PeakKernels, TheTableHasEveryOperationForEveryUnit) {
  for (Isa isa : {Isa::kSse2, Isa::kAvx2, Isa::kAvx512})
    for (Operation operation : {Operation::kRead, Operation::kWrite, Operation::kCopy}) {
      const KernelRow* row = FindKernel(operation, isa);
      ASSERT_NE(row, nullptr);
      EXPECT_EQ(row->operation, operation);
      EXPECT_EQ(row->isa, isa);
    }
  EXPECT_FALSE(UsableRows().empty());
}

TEST(PeakKernels, ReadSumsEveryWordOfTheArrayOnEveryPass) {
  for (const KernelRow* row : UsableRows()) {
    if (row->operation != Operation::kRead) continue;
    for (uint64_t bytes : SizesFor(*row)) {
      Guarded array(bytes);
      uint64_t expected = 0;
      for (uint64_t i = 0; i < bytes / 8; ++i) expected += array.Words()[i] = i * 0x9E3779B97F4A7C15ull + 1;
      EXPECT_EQ(row->loop(array.data, nullptr, bytes, 3), expected * 3) << row->name << " " << bytes;
      EXPECT_EQ(row->loop(array.data, nullptr, 0, 3), 0u) << row->name;
      EXPECT_EQ(row->loop(array.data, nullptr, bytes, 0), 0u) << row->name;
    }
  }
}

TEST(PeakKernels, WriteFillsTheWholeArrayAndNothingElse) {
  for (const KernelRow* row : UsableRows()) {
    if (row->operation != Operation::kWrite) continue;
    for (uint64_t bytes : SizesFor(*row)) {
      Guarded array(bytes);
      std::memset(array.data, 0, bytes);
      row->loop(nullptr, array.data, bytes, 2);
      for (uint64_t i = 0; i < bytes / 8; ++i)
        ASSERT_EQ(array.Words()[i], kWritePattern) << row->name << " word " << i;
      EXPECT_TRUE(array.GuardIntact()) << row->name << " " << bytes;
    }
  }
}

TEST(PeakKernels, CopyCopiesTheWholeArrayAndNothingElse) {
  for (const KernelRow* row : UsableRows()) {
    if (row->operation != Operation::kCopy) continue;
    for (uint64_t bytes : SizesFor(*row)) {
      Guarded source(bytes), destination(bytes);
      for (uint64_t i = 0; i < bytes / 8; ++i) source.Words()[i] = ~i * 0x2545F4914F6CDD1Dull;
      std::memset(destination.data, 0, bytes);
      row->loop(source.data, destination.data, bytes, 1);
      EXPECT_EQ(std::memcmp(source.data, destination.data, bytes), 0) << row->name << " " << bytes;
      EXPECT_TRUE(destination.GuardIntact()) << row->name << " " << bytes;
      EXPECT_TRUE(source.GuardIntact()) << row->name << " " << bytes;
    }
  }
}

TEST(PeakRun, CountsEveryThreadsArraysAndPasses) {
  const std::vector<int> allowed = platform::AllowedProcessors();
  // Two threads on one processor are enough to see the counting; more where there are more.
  const std::vector<int> cpus = allowed.size() > 1 ? std::vector<int>{allowed[0], allowed[1]}
                                                   : std::vector<int>{allowed[0], allowed[0]};
  for (Operation operation : {Operation::kRead, Operation::kWrite, Operation::kCopy}) {
    PeakRequest request;
    request.operation = operation;
    request.isa = WidestIsa(ReadCpuFeatures());
    request.cpus = cpus;
    request.arrayBytes = (64 << 10) + 100;  // taken down to the granule
    request.repeats = 2;
    request.bytesPerRepeat = 1 << 20;
    const PeakResult result = MeasurePeak(request);
    ASSERT_TRUE(result.ok) << result.error;
    const uint64_t arrays = operation == Operation::kCopy ? 2 : 1;
    const uint64_t passes = (1 << 20) / (arrays * (64 << 10));
    EXPECT_EQ(result.arrayBytes, 64u << 10);
    EXPECT_EQ(result.bytesMoved, 2 * arrays * (64 << 10) * passes) << OperationName(operation);
    EXPECT_EQ(result.repeatsDone, 2);
    EXPECT_EQ(result.kernel, FindKernel(operation, request.isa));
    EXPECT_GT(result.mbytesPerSecond, 0);
  }
}

TEST(PeakRun, RefusesWhatCannotRunAndHonoursStop) {
  PeakRequest request;
  request.isa = Isa::kSse2;
  request.arrayBytes = 64 << 10;
  EXPECT_FALSE(MeasurePeak(request).ok);  // no processor
  request.cpus = {platform::AllowedProcessors().front()};
  request.arrayBytes = kArrayGranule - 1;
  EXPECT_FALSE(MeasurePeak(request).ok);  // nothing left after rounding

  request.arrayBytes = 64 << 10;
  std::atomic<bool> stop{true};
  const PeakResult stopped = MeasurePeak(request, &stop);
  EXPECT_FALSE(stopped.ok);
  EXPECT_TRUE(stopped.stopped);

  int calls = 0;
  PeakTableOptions options;
  options.arrayBytes = 64 << 10;
  options.cpus = request.cpus;
  const auto results = MeasurePeakTable(
      options, [&](int, int, const std::string&) { ++calls; }, &stop);
  EXPECT_TRUE(results.empty());
  EXPECT_EQ(calls, 0);
}

}  // namespace
}  // namespace peak
