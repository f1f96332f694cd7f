// CPUID: the feature probe that gates the MMX benchmarks, and the -i report.
#pragma once

#include <cstdint>

namespace membw_internal {

// Vector feature flag bits.
enum : uint32_t {
  kFlagMmx = 1u << 0,
  kFlagMmxPlus = 1u << 1,
  kFlag3dNow = 1u << 2,
  kFlag3dNowPlus = 1u << 3,
  kFlagSse = 1u << 4,
  kFlagSse2 = 1u << 5,
  kFlagSse3 = 1u << 6,
};

struct CpuidRegs {
  uint32_t eax, ebx, ecx, edx;
};

bool HasCpuid();
CpuidRegs Cpuid(uint32_t leaf, uint32_t subleaf = 0);

// The seven vector flags; all clear without CPUID.
uint32_t ProbeVectorFlags();

// Vendor code by the last four characters of the 12-character vendor text (0 when unknown).
int VendorCode(const char* vendor);

// Writes the whole report to standard output.
void WriteCpuReport();

// Name tables: a name with core and process size, or nullptr when the tables do not know the
// processor. Family and model are the displayed ones (base plus extended fields).
const char* ProcessorName(int vendorCode, uint32_t family, uint32_t model);

// Cache and TLB lines: leaf 2 descriptors (with leaf 4 for 0xFF) on Intel, leaves 0x80000005/6
// on AMD and the others that follow AMD's layout.
void WriteCacheLines(int vendorCode, uint32_t maxLeaf, uint32_t maxExtendedLeaf);

}  // namespace membw_internal
