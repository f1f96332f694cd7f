// Cache and TLB lines of the -i report. A line names the level ("1x", "2x", "3x") and the kind:
// I instruction, D data, U unified.
#include <cstdint>

#include "cpuinfo.h"
#include "format.h"

namespace membw_internal {

namespace {

enum Kind : uint8_t { kNone, kCache, kTrace, kTlb4K, kTlb4M, kTlbBoth, kPrefetch, kUseLeaf4, kUseLeaf18 };

// One leaf 2 descriptor: what it names, its level and kind letter, size (Kb, Kuops or entries),
// ways (0xFF fully associative), line size, lines per sector.
struct Descriptor {
  uint8_t code;
  Kind kind;
  uint8_t level;
  char letter;
  uint32_t size;
  uint16_t ways;
  uint16_t line;
  uint8_t linesPerTag;
};

constexpr uint16_t kFull = 0xFF;

constexpr Descriptor kDescriptors[] = {
    {0x01, kTlb4K, 1, 'I', 32, 4, 0, 0},        {0x02, kTlb4M, 1, 'I', 2, kFull, 0, 0},
    {0x03, kTlb4K, 1, 'D', 64, 4, 0, 0},        {0x04, kTlb4M, 1, 'D', 8, 4, 0, 0},
    {0x05, kTlb4M, 1, 'D', 32, 4, 0, 0},        {0x06, kCache, 1, 'I', 8, 4, 32, 0},
    {0x08, kCache, 1, 'I', 16, 4, 32, 0},       {0x09, kCache, 1, 'I', 32, 4, 64, 0},
    {0x0A, kCache, 1, 'D', 8, 2, 32, 0},        {0x0B, kTlb4M, 1, 'I', 4, 4, 0, 0},
    {0x0C, kCache, 1, 'D', 16, 4, 32, 0},       {0x0D, kCache, 1, 'D', 16, 4, 64, 0},
    {0x0E, kCache, 1, 'D', 24, 6, 64, 0},       {0x1D, kCache, 2, 'U', 128, 2, 64, 0},
    {0x21, kCache, 2, 'U', 256, 8, 64, 0},      {0x22, kCache, 3, 'U', 512, 4, 64, 2},
    {0x23, kCache, 3, 'U', 1024, 8, 64, 2},     {0x24, kCache, 2, 'U', 1024, 16, 64, 0},
    {0x25, kCache, 3, 'U', 2048, 8, 64, 2},     {0x29, kCache, 3, 'U', 4096, 8, 64, 2},
    {0x2C, kCache, 1, 'D', 32, 8, 64, 0},       {0x30, kCache, 1, 'I', 32, 8, 64, 0},
    {0x41, kCache, 2, 'U', 128, 4, 32, 0},      {0x42, kCache, 2, 'U', 256, 4, 32, 0},
    {0x43, kCache, 2, 'U', 512, 4, 32, 0},      {0x44, kCache, 2, 'U', 1024, 4, 32, 0},
    {0x45, kCache, 2, 'U', 2048, 4, 32, 0},     {0x46, kCache, 3, 'U', 4096, 4, 64, 0},
    {0x47, kCache, 3, 'U', 8192, 8, 64, 0},     {0x48, kCache, 2, 'U', 3072, 12, 64, 0},
    {0x49, kCache, 2, 'U', 4096, 16, 64, 0},    {0x4A, kCache, 3, 'U', 6144, 12, 64, 0},
    {0x4B, kCache, 3, 'U', 8192, 16, 64, 0},    {0x4C, kCache, 3, 'U', 12288, 12, 64, 0},
    {0x4D, kCache, 3, 'U', 16384, 16, 64, 0},   {0x4E, kCache, 2, 'U', 6144, 24, 64, 0},
    {0x4F, kTlb4K, 1, 'I', 32, kFull, 0, 0},    {0x50, kTlbBoth, 1, 'I', 64, kFull, 0, 0},
    {0x51, kTlbBoth, 1, 'I', 128, kFull, 0, 0}, {0x52, kTlbBoth, 1, 'I', 256, kFull, 0, 0},
    {0x55, kTlb4M, 1, 'I', 7, kFull, 0, 0},     {0x56, kTlb4M, 1, 'D', 16, 4, 0, 0},
    {0x57, kTlb4K, 1, 'D', 16, 4, 0, 0},        {0x59, kTlb4K, 1, 'D', 16, kFull, 0, 0},
    {0x5A, kTlb4M, 1, 'D', 32, 4, 0, 0},        {0x5B, kTlbBoth, 1, 'D', 64, kFull, 0, 0},
    {0x5C, kTlbBoth, 1, 'D', 128, kFull, 0, 0}, {0x5D, kTlbBoth, 1, 'D', 256, kFull, 0, 0},
    {0x60, kCache, 1, 'D', 16, 8, 64, 0},       {0x61, kTlb4K, 1, 'I', 48, kFull, 0, 0},
    {0x63, kTlb4M, 1, 'D', 32, 4, 0, 0},        {0x64, kTlb4K, 1, 'D', 512, 4, 0, 0},
    {0x66, kCache, 1, 'D', 8, 4, 64, 0},        {0x67, kCache, 1, 'D', 16, 4, 64, 0},
    {0x68, kCache, 1, 'D', 32, 4, 64, 0},       {0x6A, kTlb4K, 1, 'D', 64, 8, 0, 0},
    {0x6B, kTlb4K, 1, 'D', 256, 8, 0, 0},       {0x6C, kTlb4M, 1, 'D', 128, 8, 0, 0},
    {0x70, kTrace, 1, 'I', 12, 8, 0, 0},        {0x71, kTrace, 1, 'I', 16, 8, 0, 0},
    {0x72, kTrace, 1, 'I', 32, 8, 0, 0},        {0x76, kTlb4M, 1, 'I', 8, kFull, 0, 0},
    {0x78, kCache, 2, 'U', 1024, 4, 64, 0},     {0x79, kCache, 2, 'U', 128, 8, 64, 2},
    {0x7A, kCache, 2, 'U', 256, 8, 64, 2},      {0x7B, kCache, 2, 'U', 512, 8, 64, 2},
    {0x7C, kCache, 2, 'U', 1024, 8, 64, 2},     {0x7D, kCache, 2, 'U', 2048, 8, 64, 0},
    {0x7F, kCache, 2, 'U', 512, 2, 64, 0},      {0x80, kCache, 2, 'U', 512, 8, 64, 0},
    {0x82, kCache, 2, 'U', 256, 8, 32, 0},      {0x83, kCache, 2, 'U', 512, 8, 32, 0},
    {0x84, kCache, 2, 'U', 1024, 8, 32, 0},     {0x85, kCache, 2, 'U', 2048, 8, 32, 0},
    {0x86, kCache, 2, 'U', 512, 4, 64, 0},      {0x87, kCache, 2, 'U', 1024, 8, 64, 0},
    {0xA0, kTlb4K, 1, 'D', 32, kFull, 0, 0},    {0xB0, kTlb4K, 1, 'I', 128, 4, 0, 0},
    {0xB1, kTlb4M, 1, 'I', 4, 4, 0, 0},         {0xB2, kTlb4K, 1, 'I', 64, 4, 0, 0},
    {0xB3, kTlb4K, 1, 'D', 128, 4, 0, 0},       {0xB4, kTlb4K, 1, 'D', 256, 4, 0, 0},
    {0xB5, kTlb4K, 1, 'I', 64, 8, 0, 0},        {0xB6, kTlb4K, 1, 'I', 128, 8, 0, 0},
    {0xBA, kTlb4K, 1, 'D', 64, 4, 0, 0},        {0xC0, kTlbBoth, 1, 'D', 8, 4, 0, 0},
    {0xC1, kTlb4K, 2, 'U', 1024, 8, 0, 0},      {0xC2, kTlb4K, 1, 'D', 16, 4, 0, 0},
    {0xC3, kTlb4K, 2, 'U', 1536, 6, 0, 0},      {0xCA, kTlb4K, 2, 'U', 512, 4, 0, 0},
    {0xD0, kCache, 3, 'U', 512, 4, 64, 0},      {0xD1, kCache, 3, 'U', 1024, 4, 64, 0},
    {0xD2, kCache, 3, 'U', 2048, 4, 64, 0},     {0xD6, kCache, 3, 'U', 1024, 8, 64, 0},
    {0xD7, kCache, 3, 'U', 2048, 8, 64, 0},     {0xD8, kCache, 3, 'U', 4096, 8, 64, 0},
    {0xDC, kCache, 3, 'U', 1536, 12, 64, 0},    {0xDD, kCache, 3, 'U', 3072, 12, 64, 0},
    {0xDE, kCache, 3, 'U', 6144, 12, 64, 0},    {0xE2, kCache, 3, 'U', 2048, 16, 64, 0},
    {0xE3, kCache, 3, 'U', 4096, 16, 64, 0},    {0xE4, kCache, 3, 'U', 8192, 16, 64, 0},
    {0xEA, kCache, 3, 'U', 12288, 24, 64, 0},   {0xEB, kCache, 3, 'U', 18432, 24, 64, 0},
    {0xEC, kCache, 3, 'U', 24576, 24, 64, 0},   {0xF0, kPrefetch, 0, 0, 0, 0, 0, 0},
    {0xF1, kPrefetch, 0, 0, 0, 0, 0, 0},        {0xFE, kUseLeaf18, 0, 0, 0, 0, 0, 0},
    {0xFF, kUseLeaf4, 0, 0, 0, 0, 0, 0},
};

const Descriptor* FindDescriptor(uint8_t code) {
  for (const Descriptor& d : kDescriptors)
    if (d.code == code) return &d;
  return nullptr;
}

// What the report found, so that missing pieces can be named "[unknown]".
struct Seen {
  bool dataCache = false, codeCache = false, dataTlb = false, codeTlb = false;
};

void CacheLine(Seen& seen, uint32_t level, char letter, uint32_t kb, uint32_t ways, uint32_t line,
               uint32_t linesPerTag) {
  if (linesPerTag > 1)
    PrintText("%ux %c-cache: %uKb, %u-way, %u line(s) per tag, %u bytes per line\n", level, letter, kb, ways,
              linesPerTag, line);
  else
    PrintText("%ux %c-cache: %uKb, %u-way, %u bytes per line\n", level, letter, kb, ways, line);
  if (level == 1 && letter == 'D') seen.dataCache = true;
  if (level == 1 && letter == 'I') seen.codeCache = true;
}

void TlbLine(Seen& seen, uint32_t level, char letter, char pages, uint32_t entries, uint32_t ways) {
  PrintText("%ux %c-TLB (4%cb pages): %u entries, %u-way\n", level, letter, pages, entries, ways);
  if (pages == 'K' && letter != 'I') seen.dataTlb = true;
  if (pages == 'K' && letter != 'D') seen.codeTlb = true;
}

void WriteUnknowns(const Seen& seen) {
  if (!seen.codeCache) PrintText("I-cache: [unknown]\n");
  if (!seen.dataCache) PrintText("D-cache: [unknown]\n");
  if (!seen.codeTlb) PrintText("I-TLB (4Kb pages): [unknown]\n");
  if (!seen.dataTlb) PrintText("D-TLB (4Kb pages): [unknown]\n");
}

// Deterministic cache parameters, one subleaf per cache.
void WriteLeaf4(Seen& seen) {
  for (uint32_t i = 0; i < 16; ++i) {
    const CpuidRegs r = Cpuid(4, i);
    const uint32_t type = r.eax & 0x1F;
    if (type == 0) break;
    const uint32_t level = (r.eax >> 5) & 7;
    const uint32_t ways = ((r.ebx >> 22) & 0x3FF) + 1;
    const uint32_t partitions = ((r.ebx >> 12) & 0x3FF) + 1;
    const uint32_t line = (r.ebx & 0xFFF) + 1;
    const uint64_t sets = static_cast<uint64_t>(r.ecx) + 1;
    const uint64_t kb = ways * partitions * line * sets / 1024;
    const char letter = type == 1 ? 'D' : type == 2 ? 'I' : 'U';
    const bool fully = (r.eax >> 9) & 1;
    CacheLine(seen, level, letter, static_cast<uint32_t>(kb),
              fully ? static_cast<uint32_t>(kb * 1024 / line) : ways, line, 0);
  }
}

// Deterministic address translation parameters, one subleaf per TLB structure.
void WriteLeaf18(Seen& seen) {
  const uint32_t last = Cpuid(0x18, 0).eax;
  for (uint32_t i = 0; i <= last && i < 32; ++i) {
    const CpuidRegs r = Cpuid(0x18, i);
    const uint32_t type = r.edx & 0x1F;
    if (type == 0) continue;
    const uint32_t level = (r.edx >> 5) & 7;
    const bool fully = (r.edx >> 8) & 1;
    const uint32_t ways = (r.ebx >> 16) & 0xFFFF;
    const uint32_t entries = fully ? ways : ways * r.ecx;
    const char letter = type == 1 ? 'D' : type == 2 ? 'I' : 'U';
    if (r.ebx & 1) TlbLine(seen, level, letter, 'K', entries, ways);
    if (r.ebx & 6) TlbLine(seen, level, letter, 'M', entries, ways);
  }
}

void WriteIntel(uint32_t maxLeaf) {
  Seen seen;
  if (maxLeaf >= 2) {
    bool leaf4 = false, leaf18 = false;
    const CpuidRegs first = Cpuid(2);
    const uint32_t rounds = (first.eax & 0xFF) ? (first.eax & 0xFF) : 1;
    for (uint32_t round = 0; round < rounds && round < 16; ++round) {
      const CpuidRegs r = round == 0 ? first : Cpuid(2);
      const uint32_t regs[4] = {r.eax, r.ebx, r.ecx, r.edx};
      for (int k = 0; k < 4; ++k) {
        if (regs[k] & 0x80000000u) continue;  // register holds no descriptors
        for (int b = 0; b < 4; ++b) {
          if (k == 0 && b == 0) continue;  // the round count
          const Descriptor* d = FindDescriptor(static_cast<uint8_t>(regs[k] >> (8 * b)));
          if (!d) continue;
          switch (d->kind) {
            case kCache:
              CacheLine(seen, d->level, d->letter, d->size, d->ways, d->line, d->linesPerTag);
              break;
            case kTrace:
              PrintText("%ux I-cache: %uKuops, %u-way\n", 1u, d->size, static_cast<uint32_t>(d->ways));
              seen.codeCache = true;
              break;
            case kTlb4K:
              TlbLine(seen, d->level, d->letter, 'K', d->size, d->ways);
              break;
            case kTlb4M:
              TlbLine(seen, d->level, d->letter, 'M', d->size, d->ways);
              break;
            case kTlbBoth:
              TlbLine(seen, d->level, d->letter, 'K', d->size, d->ways);
              TlbLine(seen, d->level, d->letter, 'M', d->size, d->ways);
              break;
            case kUseLeaf4:
              leaf4 = true;
              break;
            case kUseLeaf18:
              leaf18 = true;
              break;
            default:
              break;
          }
        }
      }
    }
    if (leaf4 && maxLeaf >= 4) WriteLeaf4(seen);
    if (leaf18 && maxLeaf >= 0x18) WriteLeaf18(seen);
  }
  WriteUnknowns(seen);
}

// Ways of a cache level from the cache topology leaf, which newer parts point to with code 9.
uint32_t AmdTopologyWays(uint32_t level, uint32_t maxExt) {
  if (maxExt < 0x8000001Du) return 0;
  for (uint32_t i = 0; i < 8; ++i) {
    const CpuidRegs r = Cpuid(0x8000001Du, i);
    if ((r.eax & 0x1F) == 0) break;
    if (((r.eax >> 5) & 7) == level && (r.eax & 0x1F) != 2) return ((r.ebx >> 22) & 0x3FF) + 1;
  }
  return 0;
}

// Associativity of leaf 0x80000006 fields.
uint32_t AmdWays(uint32_t code, uint32_t entries, uint32_t level = 0, uint32_t maxExt = 0) {
  static constexpr uint32_t kWays[16] = {0, 1, 2, 0, 4, 0, 8, 0, 16, 0, 32, 48, 64, 96, 128, 0};
  if (code == 9) return AmdTopologyWays(level, maxExt);
  return code == 0xF ? entries : kWays[code & 0xF];
}

void WriteAmd(uint32_t maxExt) {
  Seen seen;
  if (maxExt >= 0x80000005u) {
    const CpuidRegs r = Cpuid(0x80000005u);
    auto ways = [](uint32_t code, uint32_t entries) { return code == 0xFF ? entries : code; };
    const uint32_t dKb = r.ecx >> 24, iKb = r.edx >> 24;
    if (iKb)
      CacheLine(seen, 1, 'I', iKb,
                ways((r.edx >> 16) & 0xFF, iKb * 1024 / ((r.edx & 0xFF) ? (r.edx & 0xFF) : 64)), r.edx & 0xFF,
                (r.edx >> 8) & 0xFF);
    if (dKb)
      CacheLine(seen, 1, 'D', dKb,
                ways((r.ecx >> 16) & 0xFF, dKb * 1024 / ((r.ecx & 0xFF) ? (r.ecx & 0xFF) : 64)), r.ecx & 0xFF,
                (r.ecx >> 8) & 0xFF);
    // 4K pages in EBX, 2M/4M pages in EAX: data in the upper half, code in the lower.
    const uint32_t tlbs[2] = {r.ebx, r.eax};
    const char pages[2] = {'K', 'M'};
    for (int t = 0; t < 2; ++t) {
      const uint32_t v = tlbs[t];
      if ((v & 0xFF) != 0) TlbLine(seen, 1, 'I', pages[t], v & 0xFF, ways((v >> 8) & 0xFF, v & 0xFF));
      if (((v >> 16) & 0xFF) != 0)
        TlbLine(seen, 1, 'D', pages[t], (v >> 16) & 0xFF, ways(v >> 24, (v >> 16) & 0xFF));
    }
  }
  if (maxExt >= 0x80000006u) {
    const CpuidRegs r = Cpuid(0x80000006u);
    const uint32_t tlbs[2] = {r.ebx, r.eax};
    const char pages[2] = {'K', 'M'};
    for (int t = 0; t < 2; ++t) {
      const uint32_t v = tlbs[t];
      const uint32_t iEntries = v & 0xFFF, dEntries = (v >> 16) & 0xFFF;
      if (iEntries && ((v >> 12) & 0xF))
        TlbLine(seen, 2, 'I', pages[t], iEntries, AmdWays((v >> 12) & 0xF, iEntries));
      if (dEntries && (v >> 28)) TlbLine(seen, 2, 'D', pages[t], dEntries, AmdWays(v >> 28, dEntries));
    }
    const uint32_t l2Kb = r.ecx >> 16, l2Line = r.ecx & 0xFF;
    if (l2Kb && ((r.ecx >> 12) & 0xF))
      CacheLine(seen, 2, 'U', l2Kb,
                AmdWays((r.ecx >> 12) & 0xF, l2Kb * 1024 / (l2Line ? l2Line : 64), 2, maxExt), l2Line,
                (r.ecx >> 8) & 0xF);
    const uint32_t l3Kb = (r.edx >> 18) * 512, l3Line = r.edx & 0xFF;
    if (l3Kb && ((r.edx >> 12) & 0xF))
      CacheLine(seen, 3, 'U', l3Kb,
                AmdWays((r.edx >> 12) & 0xF, l3Kb * 1024 / (l3Line ? l3Line : 64), 3, maxExt), l3Line,
                (r.edx >> 8) & 0xF);
  }
  WriteUnknowns(seen);
}

}  // namespace

void WriteCacheLines(int vendorCode, uint32_t maxLeaf, uint32_t maxExtendedLeaf) {
  if (vendorCode == 1)
    WriteIntel(maxLeaf);
  else
    WriteAmd(maxExtendedLeaf);
}

}  // namespace membw_internal
