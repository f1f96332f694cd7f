// Processor facts: name, topology, caches, the current core clock, and the hypervisor.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sysreport/source.h"

namespace sysreport {

struct CacheFacts {
  int level = 0;
  std::string type;  // "Data", "Instruction", "Unified"
  uint64_t sizeKBytes = 0;
  int ways = 0;  // 0 when not known
  int lineSize = 0;
  int instances = 1;
};

struct CpuFacts {
  std::string vendor;
  std::string brand;
  std::string family, model, stepping;
  int sockets = 0, cores = 0, threads = 0;
  double coreMHz = 0;
  std::string clockSource;  // how coreMHz was obtained
  std::vector<CacheFacts> caches;
  bool hypervisorBit = false;
  std::string hypervisorVendor;  // CPUID 0x40000000 signature, as text
  std::vector<std::string> instructions;
};

// CPUID facts come from <root>/.cpuid when that file exists (fixtures), else from the processor
// itself when the root is live. The clock is measured only on the live machine.
CpuFacts ProbeCpu(const Root& root, const Deadline& deadline);

// Caches from AMD's older leaves 0x80000005 (L1: ECX data, EDX instruction) and 0x80000006 (ECX L2,
// EDX L3), for processors and hypervisors that answer leaf 0x8000001D with nothing. instances holds
// the logical processors sharing each cache, as the deterministic leaves give it: threadsPerCore
// for L1 and L2, every thread (allThreads) for L3.
std::vector<CacheFacts> AmdLegacyCaches(uint32_t l1Ecx, uint32_t l1Edx, uint32_t l2Ecx, uint32_t l2Edx,
                                        int threadsPerCore, int allThreads);

// "2 x 1 MBytes, 16-way set associative, 64-byte line size".
std::string CacheText(const CacheFacts& cache);
// The hypervisor's usual name for a CPUID signature ("KVMKVMKVM" -> "KVM").
std::string HypervisorName(const std::string& signature);

}  // namespace sysreport
