// Which vector unit the peak kernels use: the widest one the processor has and the operating
// system saves across context switches (a unit the OS does not save faults on first use).
#pragma once

#include <cstdint>

namespace peak {

// Narrowest first; every x86-64 processor has SSE2.
enum class Isa { kSse2 = 0, kAvx2 = 1, kAvx512 = 2 };
constexpr int kIsaCount = 3;

// "SSE2", "AVX2", "AVX-512".
const char* IsaName(Isa isa);
// Accepts "sse2", "avx2", "avx512" / "avx-512" in any case; false for anything else.
bool ParseIsa(const char* text, Isa* isa);

// The registers the choice rests on, as CPUID and XGETBV give them.
struct CpuFeatures {
  uint32_t maxLeaf = 0;   // CPUID.0:EAX
  uint32_t leaf1Ecx = 0;  // CPUID.1:ECX (OSXSAVE bit 27, AVX bit 28)
  uint32_t leaf1Edx = 0;  // CPUID.1:EDX (SSE2 bit 26)
  uint32_t leaf7Ebx = 0;  // CPUID.(7,0):EBX (AVX2 bit 5, AVX512F bit 16); 0 below leaf 7
  uint64_t xcr0 = 0;      // XGETBV(0): the state the OS saves; 0 when OSXSAVE is clear
};

// This processor's registers.
CpuFeatures ReadCpuFeatures();

// True when the kernels of isa may run: the processor has the unit and the OS saves its
// registers (XCR0 bits 1-2 for YMM; also 5-7, opmask and both halves of ZMM, for AVX-512).
bool IsaUsable(const CpuFeatures& features, Isa isa);
// The widest usable unit; SSE2 when nothing wider is.
Isa WidestIsa(const CpuFeatures& features);

}  // namespace peak
