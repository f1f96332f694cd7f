// The cycle, the work bound and the result text, tested without loading the module.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <set>
#include <string>

#include "latency/chase.h"

namespace {

using namespace memlat_internal;

class Lines {
 public:
  explicit Lines(uint64_t count) { ok_ = MapLines(count, &buffer_); }
  ~Lines() { UnmapLines(&buffer_); }
  bool ok() const { return ok_; }
  char* at(uint64_t i) const { return buffer_.lines + i * kLineBytes; }
  char* next(uint64_t i) const { return *reinterpret_cast<char**>(at(i)); }
  uint64_t count() const { return buffer_.count; }

 private:
  LineBuffer buffer_;
  bool ok_ = false;
};

// Index of the line p points at, or -1 when p is not the start of a line of the buffer.
int64_t IndexOf(const Lines& lines, const char* p) {
  const char* first = lines.at(0);
  if (p < first || p >= lines.at(lines.count())) return -1;
  const uint64_t offset = static_cast<uint64_t>(p - first);
  return offset % kLineBytes == 0 ? static_cast<int64_t>(offset / kLineBytes) : -1;
}

TEST(RandomCycle, IsOneCycleThroughEveryLine) {
  for (uint64_t count : {1ull, 2ull, 3ull, 16ull, 1000ull, 65537ull}) {
    Lines lines(count);
    ASSERT_TRUE(lines.ok());
    EXPECT_EQ(reinterpret_cast<uintptr_t>(lines.at(0)) % kHugePageBytes, 0u) << "start not huge-page aligned";
    LinkRandomCycle(lines.at(0), count, 7);
    std::vector<bool> seen(count, false);
    uint64_t at = 0;
    for (uint64_t step = 0; step < count; ++step) {
      ASSERT_FALSE(seen[at]) << "line " << at << " visited twice among " << count;
      seen[at] = true;
      const int64_t next = IndexOf(lines, lines.next(at));
      ASSERT_GE(next, 0) << "pointer leaves the buffer or misses a line start";
      at = static_cast<uint64_t>(next);
    }
    EXPECT_EQ(at, 0u) << "the walk does not close after " << count << " loads";
  }
}

TEST(RandomCycle, SameSeedSameCycleAndOrderHelpsNoPrefetcherOrTlb) {
  constexpr uint64_t kCount = 1 << 16;  // 4 MiB: 1024 pages of 4 KiB
  Lines a(kCount), b(kCount), c(kCount);
  ASSERT_TRUE(a.ok() && b.ok() && c.ok());
  LinkRandomCycle(a.at(0), kCount, 42);
  LinkRandomCycle(b.at(0), kCount, 42);
  LinkRandomCycle(c.at(0), kCount, 43);
  uint64_t differ = 0, samePage = 0, nearby = 0;
  for (uint64_t i = 0; i < kCount; ++i) {
    const int64_t next = IndexOf(a, a.next(i));
    ASSERT_EQ(next, IndexOf(b, b.next(i)));
    if (next != IndexOf(c, c.next(i))) ++differ;
    if (static_cast<uint64_t>(next) / 64 == i / 64) ++samePage;
    if (std::llabs(next - static_cast<int64_t>(i)) <= 4) ++nearby;
  }
  EXPECT_GT(differ, kCount * 9 / 10);
  // A random successor shares the page with chance 1/1024 and is a close neighbour with 8/65536.
  EXPECT_LT(samePage, kCount / 200);
  EXPECT_LT(nearby, kCount / 1000);
}

TEST(RoundPlan, KeepsCutsAndFloorsInWholeBlocks) {
  // Fast memory: the caller's count stands, rounded up to a block.
  EXPECT_EQ(PlanRoundLoads(22000000, 1.5, 250e6, 262144), 22000000u);
  EXPECT_EQ(PlanRoundLoads(1000001, 1.5, 250e6, 1000), 1000064u);
  // Slow memory: cut to the budget (250 ms at 100 ns = 2.5 million).
  EXPECT_EQ(PlanRoundLoads(22000000, 100.0, 250e6, 262144), 2500032u);
  // Never below the floor, however slow, and a tiny request is raised to it.
  EXPECT_EQ(PlanRoundLoads(22000000, 1e9, 250e6, 262144), 262144u);
  EXPECT_EQ(PlanRoundLoads(1, 1.0, 250e6, 262144), 262144u);
  // No rate known: nothing is cut.
  EXPECT_EQ(PlanRoundLoads(640, 0.0, 250e6, 64), 640u);
  EXPECT_EQ(PlanRoundLoads(1, 0.0, 0.0, 0), kLoadsPerBlock);
}

std::string Format(double ns, size_t size = 64) {
  char text[64];
  memset(text, 'x', sizeof text);
  const size_t length = FormatNanoseconds(ns, text, size);
  if (length == 0) return "<none>";
  EXPECT_EQ(text[length], '\0');
  return std::string(text, length);
}

TEST(ResultText, FourDecimalsPointAndUnit) {
  EXPECT_EQ(Format(78.4312), "78.4312 ns");
  EXPECT_EQ(Format(0.0), "0.0000 ns");
  EXPECT_EQ(Format(1.23456), "1.2346 ns");
  EXPECT_EQ(Format(99.99996), "100.0000 ns");  // the carry reaches the whole part
  EXPECT_EQ(Format(1234567.00004), "1234567.0000 ns");
  // Nothing that is not a time, and nothing that does not fit.
  EXPECT_EQ(Format(-0.5), "<none>");
  EXPECT_EQ(Format(std::nan("")), "<none>");
  EXPECT_EQ(Format(1e300), "<none>");
  EXPECT_EQ(Format(78.4312, 10), "<none>");
  EXPECT_EQ(Format(78.4312, 11), "78.4312 ns");
}

TEST(AvailableMemory, IsKnownAndPlausible) {
  const uint64_t bytes = AvailableMemoryBytes();
  EXPECT_GT(bytes, 16ull << 20);
  EXPECT_LT(bytes, 1ull << 50);
}

}  // namespace
