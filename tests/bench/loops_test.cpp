// Every kernel loop on guarded buffers: the destination holds the computed values, and no loop
// writes outside its arrays, whatever the chunk count (the non-temporal loops treat their last
// chunk apart) and over more than one pass.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "float_loops.h"
#include "int_loops.h"
#include "mmx_loops.h"
#include "nt_loops.h"

namespace {

constexpr size_t kGuard = 1024;
constexpr uint8_t kGuardByte = 0xA5;

// An array with guard zones on both sides, 64-byte aligned like a large heap block.
class Guarded {
 public:
  explicit Guarded(size_t bytes) : bytes_(bytes), storage_(bytes + 2 * kGuard + 64, kGuardByte) {
    const uintptr_t raw = reinterpret_cast<uintptr_t>(storage_.data()) + kGuard;
    data_ = reinterpret_cast<uint8_t*>((raw + 63) & ~uintptr_t{63});
  }
  uint8_t* data() { return data_; }
  template <typename T>
  T at(size_t i) const {
    T v;
    std::memcpy(&v, data_ + i * sizeof(T), sizeof(T));
    return v;
  }
  size_t count(size_t width) const { return bytes_ / width; }
  bool GuardsIntact() const {
    for (const uint8_t* p = storage_.data(); p < data_; ++p)
      if (*p != kGuardByte) return false;
    for (const uint8_t* p = data_ + bytes_; p < storage_.data() + storage_.size(); ++p)
      if (*p != kGuardByte) return false;
    return true;
  }

 private:
  size_t bytes_;
  std::vector<uint8_t> storage_;
  uint8_t* data_;
};

template <typename T>
void ExpectAll(const Guarded& array, T value, const char* what) {
  size_t wrong = 0;
  for (size_t i = 0; i < array.count(sizeof(T)); ++i)
    if (array.at<T>(i) != value) ++wrong;
  EXPECT_EQ(wrong, 0u) << what;
  EXPECT_TRUE(array.GuardsIntact()) << what;
}

void LeaveMmxState() { asm volatile("emms" ::: "memory"); }

TEST(IntLoops, ComputeEveryElementInsideTheArrays) {
  using namespace membw_internal::int_loops;
  for (uint32_t chunks : {1u, 3u}) {
    const uint32_t bytes = chunks * 256;  // 2 x 128-byte chunks for the array loops
    Guarded a(bytes), b(bytes), c(bytes);
    Fill32Pair(a.data(), 33, b.data(), 55, bytes);
    ExpectAll<uint32_t>(a, 33, "fill first");
    ExpectAll<uint32_t>(b, 55, "fill second");
    IntCopyLoop(a.data(), c.data(), bytes / 128, 2);
    ExpectAll<uint32_t>(c, 33, "intcp");
    IntScaleLoop(a.data(), c.data(), bytes / 128, 2);
    ExpectAll<uint32_t>(c, 33 * 77, "intsc");
    IntAddLoop(a.data(), b.data(), c.data(), bytes / 128, 2);
    ExpectAll<uint32_t>(c, 33 + 55, "intad");
    IntTriadLoop(a.data(), b.data(), c.data(), bytes / 128, 2);
    ExpectAll<uint32_t>(c, 55 * 77 + 33, "inttr");
    IntWriteLoop(c.data(), bytes / 256, 2);
    ExpectAll<uint32_t>(c, 0, "intwr");
    Fill32(a.data(), bytes, 7);
    IntReadLoop(a.data(), bytes / 256, 2);
    ExpectAll<uint32_t>(a, 7, "intrd leaves its block alone");
  }
}

TEST(FloatLoops, ComputeEveryElementInsideTheArrays) {
  using namespace membw_internal::float_loops;
  const double pi = std::acos(-1.0), ln2 = std::log(2.0);
  for (uint32_t chunks : {1u, 3u}) {
    const uint32_t bytes = chunks * 512;
    Guarded a(bytes), b(bytes), c(bytes);
    FillPi(a.data(), b.data(), bytes);
    ExpectAll<double>(a, pi, "fill first");
    ExpectAll<double>(b, pi, "fill second");
    FloatCopyLoop(a.data(), c.data(), bytes / 256, 2);
    ExpectAll<double>(c, pi, "floatcp");
    FloatScaleLoop(a.data(), c.data(), bytes / 256, 2);
    EXPECT_NEAR(c.at<double>(0), pi * ln2, 1e-15);
    EXPECT_EQ(c.at<double>(c.count(8) - 1), c.at<double>(0));
    FloatAddLoop(a.data(), b.data(), c.data(), bytes / 256, 2);
    ExpectAll<double>(c, 2 * pi, "floatad");
    FloatTriadLoop(a.data(), b.data(), c.data(), bytes / 256, 2);
    EXPECT_NEAR(c.at<double>(5), pi * ln2 + pi, 1e-15);
    EXPECT_TRUE(c.GuardsIntact());
    FloatWriteLoop(c.data(), bytes / 512, 2);
    ExpectAll<double>(c, 0.0, "floatwr");
    FillZero(a.data(), nullptr, bytes);
    ExpectAll<double>(a, 0.0, "fill zero");
    FloatReadLoop(a.data(), bytes / 512, 3);
    ExpectAll<double>(a, 0.0, "floatrd leaves its block alone");
    // The register stack is empty again: the compiler's own x87 code still works.
    volatile long double x = 1.5L;
    EXPECT_EQ(static_cast<double>(x * 2), 3.0);
  }
}

constexpr uint16_t kCopy = 33, kScale = 33 * 77, kAdd = 33 + 55, kTriad = 55 * 77 + 33;
constexpr uint64_t kWords33 = 0x0021002100210021ULL, kWords55 = 0x0037003700370037ULL;

TEST(MmxLoops, ComputeEveryElementInsideTheArrays) {
  using namespace membw_internal::mmx_loops;
  for (uint32_t chunks : {1u, 3u}) {
    const uint32_t bytes = chunks * 512;
    Guarded a(bytes), b(bytes), c(bytes);
    FillMmx(a.data(), kWords33, b.data(), kWords55, bytes);
    MmxCopyLoop(a.data(), c.data(), bytes / 256, 2);
    LeaveMmxState();
    ExpectAll<uint16_t>(c, kCopy, "mmxcp");
    MmxScaleLoop(a.data(), c.data(), bytes / 256, 2);
    LeaveMmxState();
    ExpectAll<uint16_t>(c, kScale, "mmxsc");
    MmxAddLoop(a.data(), b.data(), c.data(), bytes / 256, 2);
    LeaveMmxState();
    ExpectAll<uint16_t>(c, kAdd, "mmxad");
    MmxTriadLoop(a.data(), b.data(), c.data(), bytes / 256, 2);
    LeaveMmxState();
    ExpectAll<uint16_t>(c, kTriad, "mmxtr");
    MmxWriteLoop(c.data(), bytes / 512, 2);
    LeaveMmxState();
    ExpectAll<uint16_t>(c, 0, "mmxwr");
    MmxReadLoop(a.data(), bytes / 512, 2);
    LeaveMmxState();
    ExpectAll<uint16_t>(a, kCopy, "mmxrd leaves its block alone");
  }
}

TEST(NonTemporalLoops, ComputeEveryElementAndStopAtTheLastChunk) {
  using namespace membw_internal::nt_loops;
  // One chunk is only the unprefetched last one; two and five mix both kinds.
  for (uint32_t chunks : {1u, 2u, 5u}) {
    SCOPED_TRACE(chunks);
    const uint32_t bytes = chunks * 512;
    Guarded a(bytes), b(bytes), c(bytes);
    FillNt2(a.data(), kWords33, b.data(), kWords55, bytes);
    LeaveMmxState();
    ExpectAll<uint16_t>(a, kCopy, "fill first");
    ExpectAll<uint16_t>(b, 55, "fill second");
    struct {
      void (*loop)(const void*, void*, uint32_t, uint32_t);
      uint16_t value;
      const char* name;
    } copies[] = {{CopyNtLoop, kCopy, "mmxcp_nt"},
                  {CopyNtT0Loop, kCopy, "mmxcp_nt_t0"},
                  {ScaleNtLoop, kScale, "mmxsc_nt"},
                  {ScaleNtT0Loop, kScale, "mmxsc_nt_t0"}};
    for (const auto& k : copies) {
      std::memset(c.data(), 0xFF, bytes);
      k.loop(a.data(), c.data(), bytes / 256, 2);
      LeaveMmxState();
      ExpectAll<uint16_t>(c, k.value, k.name);
    }
    struct {
      void (*loop)(const void*, const void*, void*, uint32_t, uint32_t);
      uint16_t value;
      const char* name;
    } adds[] = {{AddNtLoop, kAdd, "mmxad_nt"},
                {AddNtT0Loop, kAdd, "mmxad_nt_t0"},
                {TriadNtLoop, kTriad, "mmxtr_nt"},
                {TriadNtT0Loop, kTriad, "mmxtr_nt_t0"}};
    for (const auto& k : adds) {
      std::memset(c.data(), 0xFF, bytes);
      k.loop(a.data(), b.data(), c.data(), bytes / 256, 2);
      LeaveMmxState();
      ExpectAll<uint16_t>(c, k.value, k.name);
    }
    std::memset(c.data(), 0xFF, bytes);
    WriteNtLoop(c.data(), bytes / 512, 2);
    LeaveMmxState();
    ExpectAll<uint16_t>(c, 0, "mmxwr_nt");
    ReadNtLoop(a.data(), bytes / 512, 2);
    LeaveMmxState();
    ExpectAll<uint16_t>(a, kCopy, "mmxrd_nt leaves its block alone");
  }
}

TEST(NonTemporalLoops, NoRepetitionOrNoChunkTouchesNothing) {
  using namespace membw_internal::nt_loops;
  Guarded c(512);
  std::memset(c.data(), 0x11, 512);
  WriteNtLoop(c.data(), 1, 0);
  WriteNtLoop(c.data(), 0, 3);
  LeaveMmxState();
  ExpectAll<uint8_t>(c, 0x11, "untouched");
}

}  // namespace
