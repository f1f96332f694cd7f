#include "peak/isa.h"

#include <gtest/gtest.h>

namespace peak {
namespace {

constexpr uint32_t kOsxsave = 1u << 27, kAvx = 1u << 28, kAvx2 = 1u << 5, kAvx512f = 1u << 16;

CpuFeatures Features(uint32_t leaf1Ecx, uint32_t leaf7Ebx, uint64_t xcr0, uint32_t maxLeaf = 0x1B) {
  CpuFeatures f;
  f.maxLeaf = maxLeaf;
  f.leaf1Ecx = leaf1Ecx;
  f.leaf1Edx = 1u << 26;
  f.leaf7Ebx = leaf7Ebx;
  f.xcr0 = xcr0;
  return f;
}

TEST(IsaChoice, TheWidestUnitTheOsSaves) {
  const uint32_t ecx = kOsxsave | kAvx;
  EXPECT_EQ(WidestIsa(Features(ecx, kAvx2 | kAvx512f, 0xE7)), Isa::kAvx512);
  EXPECT_EQ(WidestIsa(Features(ecx, kAvx2, 0xE7)), Isa::kAvx2);
  EXPECT_EQ(WidestIsa(Features(ecx, kAvx2, 0x7)), Isa::kAvx2);
  EXPECT_EQ(WidestIsa(Features(0, 0, 0)), Isa::kSse2);
}

TEST(IsaChoice, AUnitTheOsDoesNotSaveIsNotUsed) {
  const uint32_t ecx = kOsxsave | kAvx;
  // AVX-512 on the processor, but the OS saves only YMM state (or lacks one of opmask/ZMM halves).
  EXPECT_EQ(WidestIsa(Features(ecx, kAvx2 | kAvx512f, 0x7)), Isa::kAvx2);
  EXPECT_EQ(WidestIsa(Features(ecx, kAvx2 | kAvx512f, 0x67)), Isa::kAvx2);
  EXPECT_EQ(WidestIsa(Features(ecx, kAvx2 | kAvx512f, 0xA7)), Isa::kAvx2);
  // No YMM state at all: SSE only, though every bit of the processor says more.
  EXPECT_EQ(WidestIsa(Features(ecx, kAvx2 | kAvx512f, 0x3)), Isa::kSse2);
  // XCR0 read as if the OS had enabled XSAVE, but CPUID says it has not.
  EXPECT_EQ(WidestIsa(Features(kAvx, kAvx2 | kAvx512f, 0xE7)), Isa::kSse2);
}

TEST(IsaChoice, MissingFeatureBitsAndLeaves) {
  // AVX2 needs leaf 1's AVX bit too; leaf 7 counts only where it exists.
  EXPECT_EQ(WidestIsa(Features(kOsxsave, kAvx2, 0x7)), Isa::kSse2);
  EXPECT_EQ(WidestIsa(Features(kOsxsave | kAvx, kAvx2 | kAvx512f, 0xE7, 6)), Isa::kSse2);
  // AVX-512F alone is enough for the AVX-512 kernels, whatever AVX2 says.
  const CpuFeatures f = Features(kOsxsave, kAvx512f, 0xE7);
  EXPECT_TRUE(IsaUsable(f, Isa::kAvx512));
  EXPECT_FALSE(IsaUsable(f, Isa::kAvx2));
  EXPECT_TRUE(IsaUsable(f, Isa::kSse2));
}

TEST(IsaChoice, NamesBothWays) {
  for (Isa isa : {Isa::kSse2, Isa::kAvx2, Isa::kAvx512}) {
    Isa parsed = Isa::kSse2;
    ASSERT_TRUE(ParseIsa(IsaName(isa), &parsed)) << IsaName(isa);
    EXPECT_EQ(parsed, isa);
  }
  Isa parsed = Isa::kSse2;
  EXPECT_TRUE(ParseIsa("avx512", &parsed));
  EXPECT_EQ(parsed, Isa::kAvx512);
  EXPECT_FALSE(ParseIsa("avx", &parsed));
  EXPECT_FALSE(ParseIsa("avx2x", &parsed));
  EXPECT_FALSE(ParseIsa("", &parsed));
}

}  // namespace
}  // namespace peak
