#include "peak/isa.h"

#include <cpuid.h>

#include <cctype>
#include <string>

namespace peak {
namespace {

constexpr uint32_t kEcxOsxsave = 1u << 27;
constexpr uint32_t kEcxAvx = 1u << 28;
constexpr uint32_t kEbxAvx2 = 1u << 5;
constexpr uint32_t kEbxAvx512f = 1u << 16;
constexpr uint64_t kXcr0Ymm = 0x6;   // SSE and AVX state
constexpr uint64_t kXcr0Zmm = 0xE6;  // plus opmask, ZMM_Hi256 and Hi16_ZMM

bool Has(uint64_t value, uint64_t bits) { return (value & bits) == bits; }

}  // namespace

const char* IsaName(Isa isa) {
  switch (isa) {
    case Isa::kSse2:
      return "SSE2";
    case Isa::kAvx2:
      return "AVX2";
    case Isa::kAvx512:
      return "AVX-512";
  }
  return "?";
}

bool ParseIsa(const char* text, Isa* isa) {
  if (text == nullptr) return false;
  std::string folded;
  for (const char* c = text; *c != '\0' && folded.size() < 16; ++c)
    if (*c != '-') folded += static_cast<char>(std::tolower(static_cast<unsigned char>(*c)));
  for (Isa each : {Isa::kSse2, Isa::kAvx2, Isa::kAvx512}) {
    std::string name;
    for (const char* c = IsaName(each); *c != '\0'; ++c)
      if (*c != '-') name += static_cast<char>(std::tolower(static_cast<unsigned char>(*c)));
    if (folded == name) {
      *isa = each;
      return true;
    }
  }
  return false;
}

CpuFeatures ReadCpuFeatures() {
  CpuFeatures features;
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (__get_cpuid(0, &a, &b, &c, &d) == 0) return features;
  features.maxLeaf = a;
  if (features.maxLeaf >= 1 && __get_cpuid(1, &a, &b, &c, &d) != 0) {
    features.leaf1Ecx = c;
    features.leaf1Edx = d;
  }
  if (features.maxLeaf >= 7) {
    __cpuid_count(7, 0, a, b, c, d);
    features.leaf7Ebx = b;
  }
  // XGETBV faults unless the OS has set CR4.OSXSAVE, which CPUID mirrors.
  if (Has(features.leaf1Ecx, kEcxOsxsave)) {
    uint32_t low = 0, high = 0;
    asm volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    features.xcr0 = (static_cast<uint64_t>(high) << 32) | low;
  }
  return features;
}

bool IsaUsable(const CpuFeatures& f, Isa isa) {
  const bool osSaves = Has(f.leaf1Ecx, kEcxOsxsave);
  const uint32_t leaf7 = f.maxLeaf >= 7 ? f.leaf7Ebx : 0;
  switch (isa) {
    case Isa::kSse2:
      // Long mode implies SSE2, whatever a hypervisor's leaf 1 says.
      return true;
    case Isa::kAvx2:
      return osSaves && Has(f.leaf1Ecx, kEcxAvx) && Has(leaf7, kEbxAvx2) && Has(f.xcr0, kXcr0Ymm);
    case Isa::kAvx512:
      return osSaves && Has(leaf7, kEbxAvx512f) && Has(f.xcr0, kXcr0Zmm);
  }
  return false;
}

Isa WidestIsa(const CpuFeatures& features) {
  for (Isa isa : {Isa::kAvx512, Isa::kAvx2})
    if (IsaUsable(features, isa)) return isa;
  return Isa::kSse2;
}

}  // namespace peak
