#include "cpuinfo.h"

#include <cstring>

#include "format.h"

namespace membw_internal {

bool HasCpuid() {
  // The processor has CPUID when bit 21 of EFLAGS can be toggled.
  uint64_t before, after;
  asm volatile(
      "pushfq\n\t"
      "pop %[before]\n\t"
      "mov %[before], %[after]\n\t"
      "xor $0x200000, %[after]\n\t"
      "push %[after]\n\t"
      "popfq\n\t"
      "pushfq\n\t"
      "pop %[after]\n\t"
      "push %[before]\n\t"
      "popfq\n\t"
      : [before] "=&r"(before), [after] "=&r"(after)
      :
      : "cc", "memory");
  return ((before ^ after) & 0x200000) != 0;
}

CpuidRegs Cpuid(uint32_t leaf, uint32_t subleaf) {
  CpuidRegs r;
  asm volatile("cpuid" : "=a"(r.eax), "=b"(r.ebx), "=c"(r.ecx), "=d"(r.edx) : "a"(leaf), "c"(subleaf));
  return r;
}

namespace {

struct Vendor {
  char text[13];
  int code;
};

Vendor ReadVendor() {
  Vendor v{};
  const CpuidRegs r = Cpuid(0);
  std::memcpy(v.text, &r.ebx, 4);
  std::memcpy(v.text + 4, &r.edx, 4);
  std::memcpy(v.text + 8, &r.ecx, 4);
  v.text[12] = '\0';
  v.code = VendorCode(v.text);
  return v;
}

bool Bit(uint32_t value, int bit) { return ((value >> bit) & 1u) != 0; }

// One feature line: the label, then every present name followed by a space.
struct Feature {
  const char* name;
  bool present;
};

void WriteFeatureLine(const char* label, const Feature* features, int count) {
  char line[300];
  size_t n = FormatText(line, sizeof line, "%s ", label);
  for (int i = 0; i < count; ++i)
    if (features[i].present) n += FormatText(line + n, sizeof line - n, "%s ", features[i].name);
  FormatText(line + n, sizeof line - n, "\n");
  PrintText("%s", line);
}

}  // namespace

int VendorCode(const char* vendor) {
  static constexpr const char* kEndings[] = {"ntel", "cAMD", "tead", "auls", "Mx86",
                                             "Rise", "iven", "UMC ", " NSC", "SiS "};
  const size_t length = std::strlen(vendor);
  if (length < 4) return 0;
  for (int i = 0; i < 10; ++i)
    if (std::memcmp(vendor + length - 4, kEndings[i], 4) == 0) return i + 1;
  return 0;
}

uint32_t ProbeVectorFlags() {
  if (!HasCpuid()) return 0;
  const Vendor vendor = ReadVendor();
  const uint32_t maxLeaf = Cpuid(0).eax;
  CpuidRegs leaf1{0, 0, 0, 0};
  if (maxLeaf >= 1) leaf1 = Cpuid(1);
  uint32_t extEdx = 0;
  if (Cpuid(0x80000000).eax >= 0x80000001u) extEdx = Cpuid(0x80000001).edx;
  uint32_t flags = 0;
  if (Bit(leaf1.edx, 23)) flags |= kFlagMmx;
  if (Bit(extEdx, 22) || Bit(leaf1.edx, 25)) flags |= kFlagMmxPlus;
  if (Bit(extEdx, 31)) flags |= kFlag3dNow;
  if (Bit(extEdx, 30)) flags |= kFlag3dNowPlus;
  if (Bit(leaf1.edx, 25)) flags |= kFlagSse;
  if (Bit(leaf1.edx, 26)) flags |= kFlagSse2;
  if (Bit(leaf1.ecx, 0) && vendor.code != 3) flags |= kFlagSse3;
  return flags;
}

void WriteCpuReport() {
  if (!HasCpuid()) return;  // identification without CPUID is out of scope; no feature lines either
  const Vendor vendor = ReadVendor();
  const uint32_t maxLeaf = Cpuid(0).eax;
  const CpuidRegs leaf1 = maxLeaf >= 1 ? Cpuid(1) : CpuidRegs{0, 0, 0, 0};
  const uint32_t maxExt = Cpuid(0x80000000).eax;
  const bool hasExt1 = maxExt >= 0x80000001u;
  const CpuidRegs ext1 = hasExt1 ? Cpuid(0x80000001) : CpuidRegs{0, 0, 0, 0};

  const uint32_t stepping = leaf1.eax & 0xF, model = (leaf1.eax >> 4) & 0xF, family = (leaf1.eax >> 8) & 0xF;
  // Identification word: vendor, family, model, stepping, CPUID present.
  const uint32_t identity =
      static_cast<uint32_t>(vendor.code & 0xF) | family << 4 | model << 8 | stepping << 12 | 1u << 29;

  PrintText("%s family %X model %X stepping %X\n", vendor.text, family, model, stepping);

  // The tables know processors by the displayed family and model, which fold in the extended fields.
  uint32_t displayFamily = family, displayModel = model;
  if (family == 0xF) displayFamily += (leaf1.eax >> 20) & 0xFF;
  if (family == 0xF || family == 0x6 || family == 0x7) displayModel |= ((leaf1.eax >> 16) & 0xF) << 4;
  const char* name = ProcessorName(vendor.code, displayFamily, displayModel);
  PrintText("%s processor\n", name ? name : "[unknown]");

  if (maxExt >= 0x80000004u) {
    char brand[49] = {};
    for (uint32_t i = 0; i < 3; ++i) {
      const CpuidRegs r = Cpuid(0x80000002u + i);
      std::memcpy(brand + 16 * i, &r, 16);
    }
    brand[48] = '\0';
    PrintText("BIOS name string: \"%s\"\n", brand);
  }

  WriteCacheLines(vendor.code, maxLeaf, hasExt1 ? maxExt : 0);

  const uint32_t edx = leaf1.edx;
  const uint32_t ecx = vendor.code == 3 ? 0 : leaf1.ecx;  // Cyrix leaves leaf 1 ECX undefined
  const uint32_t xedx = ext1.edx, xecx = ext1.ecx;
  const uint32_t flags = ProbeVectorFlags();

  const Feature scalar[] = {{"FPU", Bit(edx, 0)},
                            {"CMOV", Bit(edx, 15)},
                            {"CX8", Bit(edx, 8)},
                            {"CX16", Bit(ecx, 13)},
                            {"AMD64", Bit(xedx, 29)}};
  const Feature vector[] = {{"MMX", (flags & kFlagMmx) != 0},      {"MMX+", (flags & kFlagMmxPlus) != 0},
                            {"3DNow!", (flags & kFlag3dNow) != 0}, {"3DNow!+", (flags & kFlag3dNowPlus) != 0},
                            {"SSE", (flags & kFlagSse) != 0},      {"SSE2", (flags & kFlagSse2) != 0},
                            {"SSE3", (flags & kFlagSse3) != 0}};
  const Feature general[] = {{"MSR", Bit(edx, 5)},     {"FXSR", Bit(edx, 24)},   {"CLFSH", Bit(edx, 19)},
                             {"SENTER", Bit(edx, 11)}, {"SCALL", Bit(xedx, 11)}, {"VMX", Bit(ecx, 5)},
                             {"SVM", Bit(xecx, 2)}};
  const Feature addressing[] = {{"PSE", Bit(edx, 3)},  {"PSE36", Bit(edx, 17)}, {"PAE", Bit(edx, 6)},
                                {"PGE", Bit(edx, 13)}, {"PAT", Bit(edx, 16)},   {"MTRR", Bit(edx, 12)}};
  const Feature monitoring[] = {{"TSC", Bit(edx, 4)},
                                {"TMSC", Bit(edx, 22)},
                                {"TM", Bit(edx, 29)},
                                {"TM2", Bit(ecx, 8)},
                                {"MNTR", Bit(ecx, 3)}};
  const Feature other[] = {{"VME", Bit(edx, 1)},  {"DE", Bit(edx, 2)},   {"MCE", Bit(edx, 7)},
                           {"MCA", Bit(edx, 14)}, {"APIC", Bit(edx, 9)}, {"DS", Bit(edx, 21)},
                           {"SS", Bit(edx, 27)},  {"NX", Bit(xedx, 20)}, {"DCA", Bit(ecx, 18)}};
  WriteFeatureLine("Scalar:", scalar, 5);
  WriteFeatureLine("Vector:", vector, 7);
  WriteFeatureLine("General:", general, 7);
  WriteFeatureLine("Addressing:", addressing, 6);
  WriteFeatureLine("Monitoring:", monitoring, 5);
  WriteFeatureLine("Other:", other, 9);

  if ((identity & 0xFF) == 0xF1 && Bit(edx, 28))
    PrintText("HTT: %X logical core(s) supported\n", (leaf1.ebx >> 16) & 0xFF);
}

}  // namespace membw_internal
