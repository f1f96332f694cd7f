// Processor names by vendor, displayed family and model: brand, core and process size.
#include <cstddef>
#include <cstdint>

#include "cpuinfo.h"

namespace membw_internal {

namespace {

struct NameEntry {
  uint32_t family;
  uint32_t firstModel;
  uint32_t lastModel;
  const char* name;
};

constexpr NameEntry kIntel[] = {
    {4, 0x0, 0x1, "Intel 486DX (P4, 1000 nm)"},
    {4, 0x2, 0x2, "Intel 486SX (P4S, 1000 nm)"},
    {4, 0x3, 0x3, "Intel 486DX2 (P24, 800 nm)"},
    {4, 0x4, 0x4, "Intel 486SL (P23, 800 nm)"},
    {4, 0x5, 0x5, "Intel 486SX2 (P23, 800 nm)"},
    {4, 0x7, 0x7, "Intel 486DX2 WB (P24D, 800 nm)"},
    {4, 0x8, 0x8, "Intel 486DX4 (P24C, 600 nm)"},
    {5, 0x1, 0x1, "Intel Pentium (P5, 800 nm)"},
    {5, 0x2, 0x2, "Intel Pentium (P54C, 600 nm)"},
    {5, 0x3, 0x3, "Intel Pentium OverDrive (P24T, 600 nm)"},
    {5, 0x4, 0x4, "Intel Pentium MMX (P55C, 350 nm)"},
    {5, 0x7, 0x7, "Intel Pentium (P54C, 350 nm)"},
    {5, 0x8, 0x8, "Intel Pentium MMX (Tillamook, 250 nm)"},
    {6, 0x01, 0x01, "Intel Pentium Pro (P6, 350 nm)"},
    {6, 0x03, 0x03, "Intel Pentium II (Klamath, 350 nm)"},
    {6, 0x05, 0x05, "Intel Pentium II (Deschutes, 250 nm)"},
    {6, 0x06, 0x06, "Intel Celeron (Mendocino, 250 nm)"},
    {6, 0x07, 0x07, "Intel Pentium III (Katmai, 250 nm)"},
    {6, 0x08, 0x08, "Intel Pentium III (Coppermine, 180 nm)"},
    {6, 0x09, 0x09, "Intel Pentium M (Banias, 130 nm)"},
    {6, 0x0A, 0x0A, "Intel Pentium III Xeon (Cascades, 180 nm)"},
    {6, 0x0B, 0x0B, "Intel Pentium III (Tualatin, 130 nm)"},
    {6, 0x0D, 0x0D, "Intel Pentium M (Dothan, 90 nm)"},
    {6, 0x0E, 0x0E, "Intel Core Duo (Yonah, 65 nm)"},
    {6, 0x0F, 0x0F, "Intel Core 2 (Merom/Conroe, 65 nm)"},
    {6, 0x15, 0x15, "Intel EP80579 (Tolapai, 65 nm)"},
    {6, 0x16, 0x16, "Intel Core 2 (Merom-L, 65 nm)"},
    {6, 0x17, 0x17, "Intel Core 2 (Penryn/Wolfdale, 45 nm)"},
    {6, 0x1A, 0x1A, "Intel Core i7 (Nehalem/Bloomfield, 45 nm)"},
    {6, 0x1C, 0x1C, "Intel Atom (Bonnell, 45 nm)"},
    {6, 0x1D, 0x1D, "Intel Xeon 7400 (Dunnington, 45 nm)"},
    {6, 0x1E, 0x1E, "Intel Core i5/i7 (Lynnfield, 45 nm)"},
    {6, 0x1F, 0x1F, "Intel Core i7 (Havendale, 45 nm)"},
    {6, 0x25, 0x25, "Intel Core i3/i5 (Westmere/Clarkdale, 32 nm)"},
    {6, 0x26, 0x26, "Intel Atom (Lincroft, 45 nm)"},
    {6, 0x27, 0x27, "Intel Atom (Saltwell/Penwell, 32 nm)"},
    {6, 0x2A, 0x2A, "Intel Core (Sandy Bridge, 32 nm)"},
    {6, 0x2C, 0x2C, "Intel Core i7/Xeon (Westmere-EP/Gulftown, 32 nm)"},
    {6, 0x2D, 0x2D, "Intel Core i7/Xeon E5 (Sandy Bridge-E/EP, 32 nm)"},
    {6, 0x2E, 0x2E, "Intel Xeon 7500 (Nehalem-EX, 45 nm)"},
    {6, 0x2F, 0x2F, "Intel Xeon E7 (Westmere-EX, 32 nm)"},
    {6, 0x35, 0x35, "Intel Atom (Cloverview, 32 nm)"},
    {6, 0x36, 0x36, "Intel Atom (Cedarview, 32 nm)"},
    {6, 0x37, 0x37, "Intel Atom (Silvermont/Bay Trail, 22 nm)"},
    {6, 0x3A, 0x3A, "Intel Core (Ivy Bridge, 22 nm)"},
    {6, 0x3C, 0x3C, "Intel Core (Haswell, 22 nm)"},
    {6, 0x3D, 0x3D, "Intel Core (Broadwell, 14 nm)"},
    {6, 0x3E, 0x3E, "Intel Core i7/Xeon E5/E7 v2 (Ivy Bridge-E/EP/EX, 22 nm)"},
    {6, 0x3F, 0x3F, "Intel Core i7/Xeon E5 v3 (Haswell-E/EP, 22 nm)"},
    {6, 0x45, 0x45, "Intel Core (Haswell-ULT, 22 nm)"},
    {6, 0x46, 0x46, "Intel Core (Haswell/Crystal Well, 22 nm)"},
    {6, 0x47, 0x47, "Intel Core (Broadwell-H, 14 nm)"},
    {6, 0x4A, 0x4A, "Intel Atom (Silvermont/Merrifield, 22 nm)"},
    {6, 0x4C, 0x4C, "Intel Atom (Airmont/Cherry Trail, 14 nm)"},
    {6, 0x4D, 0x4D, "Intel Atom C2000 (Avoton, 22 nm)"},
    {6, 0x4E, 0x4E, "Intel Core (Skylake-U/Y, 14 nm)"},
    {6, 0x4F, 0x4F, "Intel Core i7/Xeon E5 v4 (Broadwell-E/EP, 14 nm)"},
    {6, 0x55, 0x55, "Intel Xeon Scalable (Skylake-SP/Cascade Lake, 14 nm)"},
    {6, 0x56, 0x56, "Intel Xeon D (Broadwell-DE, 14 nm)"},
    {6, 0x57, 0x57, "Intel Xeon Phi (Knights Landing, 14 nm)"},
    {6, 0x5A, 0x5A, "Intel Atom (Moorefield, 22 nm)"},
    {6, 0x5C, 0x5C, "Intel Atom (Goldmont/Apollo Lake, 14 nm)"},
    {6, 0x5E, 0x5E, "Intel Core (Skylake-S/H, 14 nm)"},
    {6, 0x5F, 0x5F, "Intel Atom C3000 (Denverton, 14 nm)"},
    {6, 0x66, 0x66, "Intel Core (Cannon Lake, 10 nm)"},
    {6, 0x6A, 0x6A, "Intel Xeon Scalable (Ice Lake-SP, 10 nm)"},
    {6, 0x6C, 0x6C, "Intel Xeon D (Ice Lake-D, 10 nm)"},
    {6, 0x7A, 0x7A, "Intel Atom (Goldmont Plus/Gemini Lake, 14 nm)"},
    {6, 0x7D, 0x7E, "Intel Core (Ice Lake, 10 nm)"},
    {6, 0x85, 0x85, "Intel Xeon Phi (Knights Mill, 14 nm)"},
    {6, 0x86, 0x86, "Intel Atom (Tremont/Snow Ridge, 10 nm)"},
    {6, 0x8A, 0x8A, "Intel Core (Lakefield, 10 nm)"},
    {6, 0x8C, 0x8D, "Intel Core (Tiger Lake, 10 nm SuperFin)"},
    {6, 0x8E, 0x8E, "Intel Core (Kaby Lake/Whiskey Lake/Amber Lake/Comet Lake-U, 14 nm)"},
    {6, 0x8F, 0x8F, "Intel Xeon Scalable (Sapphire Rapids, Intel 7)"},
    {6, 0x96, 0x96, "Intel Atom (Tremont/Elkhart Lake, 10 nm)"},
    {6, 0x97, 0x97, "Intel Core (Alder Lake-S, Intel 7)"},
    {6, 0x9A, 0x9A, "Intel Core (Alder Lake-P, Intel 7)"},
    {6, 0x9C, 0x9C, "Intel Pentium/Celeron (Tremont/Jasper Lake, 10 nm)"},
    {6, 0x9E, 0x9E, "Intel Core (Kaby Lake/Coffee Lake-S/H, 14 nm)"},
    {6, 0xA5, 0xA5, "Intel Core (Comet Lake-S/H, 14 nm)"},
    {6, 0xA6, 0xA6, "Intel Core (Comet Lake-U, 14 nm)"},
    {6, 0xA7, 0xA7, "Intel Core (Rocket Lake, 14 nm)"},
    {6, 0xAA, 0xAC, "Intel Core Ultra (Meteor Lake, Intel 4)"},
    {6, 0xAD, 0xAE, "Intel Xeon 6 (Granite Rapids, Intel 3)"},
    {6, 0xAF, 0xAF, "Intel Xeon 6 (Sierra Forest, Intel 3)"},
    {6, 0xB5, 0xB5, "Intel Core Ultra (Arrow Lake-U, Intel 3)"},
    {6, 0xB6, 0xB6, "Intel Atom (Crestmont/Grand Ridge, Intel 7)"},
    {6, 0xB7, 0xB7, "Intel Core (Raptor Lake-S, Intel 7)"},
    {6, 0xBA, 0xBA, "Intel Core (Raptor Lake-P, Intel 7)"},
    {6, 0xBD, 0xBD, "Intel Core Ultra (Lunar Lake, TSMC N3B)"},
    {6, 0xBE, 0xBE, "Intel Core i3/N (Alder Lake-N, Intel 7)"},
    {6, 0xBF, 0xBF, "Intel Core (Raptor Lake-S, Intel 7)"},
    {6, 0xC5, 0xC6, "Intel Core Ultra (Arrow Lake, TSMC N3B)"},
    {6, 0xCC, 0xCC, "Intel Core Ultra (Panther Lake, Intel 18A)"},
    {6, 0xCF, 0xCF, "Intel Xeon Scalable (Emerald Rapids, Intel 7)"},
    {6, 0xDD, 0xDD, "Intel Xeon 6 (Clearwater Forest, Intel 18A)"},
    {15, 0x0, 0x1, "Intel Pentium 4 (Willamette, 180 nm)"},
    {15, 0x2, 0x2, "Intel Pentium 4 (Northwood, 130 nm)"},
    {15, 0x3, 0x4, "Intel Pentium 4 (Prescott, 90 nm)"},
    {15, 0x6, 0x6, "Intel Pentium 4 (Cedar Mill, 65 nm)"},
};

constexpr NameEntry kAmd[] = {
    {4, 0x3, 0x3, "AMD Am486DX2 (800 nm)"},
    {4, 0x7, 0x7, "AMD Am486DX2 WB (800 nm)"},
    {4, 0x8, 0x9, "AMD Am486DX4 (500 nm)"},
    {4, 0xE, 0xF, "AMD Am5x86 (350 nm)"},
    {5, 0x0, 0x3, "AMD K5 (SSA5/5k86, 350 nm)"},
    {5, 0x6, 0x6, "AMD K6 (K6, 300 nm)"},
    {5, 0x7, 0x7, "AMD K6 (Little Foot, 250 nm)"},
    {5, 0x8, 0x8, "AMD K6-2 (Chomper, 250 nm)"},
    {5, 0x9, 0x9, "AMD K6-III (Sharptooth, 250 nm)"},
    {5, 0xA, 0xA, "AMD Geode LX (130 nm)"},
    {5, 0xD, 0xD, "AMD K6-2+/K6-III+ (180 nm)"},
    {6, 0x1, 0x1, "AMD Athlon (Argon, 250 nm)"},
    {6, 0x2, 0x2, "AMD Athlon (Pluto/Orion, 180 nm)"},
    {6, 0x3, 0x3, "AMD Duron (Spitfire, 180 nm)"},
    {6, 0x4, 0x4, "AMD Athlon (Thunderbird, 180 nm)"},
    {6, 0x6, 0x6, "AMD Athlon XP/MP (Palomino, 180 nm)"},
    {6, 0x7, 0x7, "AMD Duron (Morgan, 180 nm)"},
    {6, 0x8, 0x8, "AMD Athlon XP (Thoroughbred, 130 nm)"},
    {6, 0xA, 0xA, "AMD Athlon XP (Barton/Thorton, 130 nm)"},
    {0xF, 0x00, 0x0F, "AMD Athlon 64/Opteron (K8 ClawHammer/SledgeHammer, 130 nm)"},
    {0xF, 0x10, 0x3F, "AMD Athlon 64/Opteron (K8 Winchester/Venice/Toledo, 90 nm)"},
    {0xF, 0x40, 0x5F, "AMD Athlon 64 X2/Opteron (K8 Windsor/Santa Rosa, 90 nm)"},
    {0xF, 0x60, 0x7F, "AMD Athlon 64 X2 (K8 Brisbane, 65 nm)"},
    {0xF, 0xC0, 0xCF, "AMD Athlon 64 FX (K8 Windsor, 90 nm)"},
    {0x10, 0x02, 0x02, "AMD Phenom/Opteron (K10 Agena/Barcelona, 65 nm)"},
    {0x10, 0x04, 0x04, "AMD Phenom II/Opteron (K10 Deneb/Shanghai, 45 nm)"},
    {0x10, 0x05, 0x05, "AMD Athlon II (K10 Propus, 45 nm)"},
    {0x10, 0x06, 0x06, "AMD Athlon II/Sempron (K10 Regor/Sargas, 45 nm)"},
    {0x10, 0x08, 0x08, "AMD Opteron (K10 Istanbul/Lisbon, 45 nm)"},
    {0x10, 0x09, 0x09, "AMD Opteron 6100 (K10 Magny-Cours, 45 nm)"},
    {0x10, 0x0A, 0x0A, "AMD Phenom II X6 (K10 Thuban, 45 nm)"},
    {0x11, 0x00, 0xFF, "AMD Turion X2 Ultra (Griffin, 65 nm)"},
    {0x12, 0x00, 0xFF, "AMD A-Series (K10 Llano, 32 nm)"},
    {0x14, 0x00, 0xFF, "AMD E/C-Series (Bobcat Ontario/Zacate, 40 nm)"},
    {0x15, 0x00, 0x01, "AMD FX/Opteron (Bulldozer Zambezi/Interlagos, 32 nm)"},
    {0x15, 0x02, 0x0F, "AMD FX/Opteron (Piledriver Vishera/Abu Dhabi, 32 nm)"},
    {0x15, 0x10, 0x1F, "AMD A-Series (Piledriver Trinity/Richland, 32 nm)"},
    {0x15, 0x30, 0x3F, "AMD A-Series (Steamroller Kaveri/Godavari, 28 nm)"},
    {0x15, 0x60, 0x6F, "AMD A-Series (Excavator Carrizo/Bristol Ridge, 28 nm)"},
    {0x15, 0x70, 0x7F, "AMD A/E-Series (Excavator Stoney Ridge, 28 nm)"},
    {0x16, 0x00, 0x0F, "AMD A/E-Series (Jaguar Kabini/Temash, 28 nm)"},
    {0x16, 0x30, 0x3F, "AMD A/E-Series (Puma Beema/Mullins, 28 nm)"},
    {0x17, 0x00, 0x07, "AMD Ryzen/EPYC (Zen Summit Ridge/Naples, 14 nm)"},
    {0x17, 0x08, 0x0F, "AMD Ryzen (Zen+ Pinnacle Ridge, 12 nm)"},
    {0x17, 0x10, 0x17, "AMD Ryzen (Zen Raven Ridge, 14 nm)"},
    {0x17, 0x18, 0x1F, "AMD Ryzen (Zen+ Picasso, 12 nm)"},
    {0x17, 0x20, 0x2F, "AMD Athlon/Ryzen (Zen Dali/Pollock, 14 nm)"},
    {0x17, 0x30, 0x3F, "AMD EPYC/Threadripper (Zen 2 Rome/Castle Peak, 7 nm)"},
    {0x17, 0x60, 0x6F, "AMD Ryzen (Zen 2 Renoir/Lucienne, 7 nm)"},
    {0x17, 0x70, 0x7F, "AMD Ryzen (Zen 2 Matisse, 7 nm)"},
    {0x17, 0x90, 0x9F, "AMD APU (Zen 2 Van Gogh, 7 nm)"},
    {0x17, 0xA0, 0xAF, "AMD Ryzen/Athlon (Zen 2 Mendocino, 6 nm)"},
    {0x19, 0x00, 0x0F, "AMD EPYC/Threadripper (Zen 3 Milan/Chagall, 7 nm)"},
    {0x19, 0x10, 0x1F, "AMD EPYC/Threadripper (Zen 4 Genoa/Storm Peak, 5 nm)"},
    {0x19, 0x20, 0x2F, "AMD Ryzen (Zen 3 Vermeer, 7 nm)"},
    {0x19, 0x40, 0x4F, "AMD Ryzen (Zen 3+ Rembrandt, 6 nm)"},
    {0x19, 0x50, 0x5F, "AMD Ryzen (Zen 3 Cezanne/Barcelo, 7 nm)"},
    {0x19, 0x60, 0x6F, "AMD Ryzen (Zen 4 Raphael, 5 nm)"},
    {0x19, 0x70, 0x7F, "AMD Ryzen (Zen 4 Phoenix/Hawk Point, 4 nm)"},
    {0x19, 0xA0, 0xAF, "AMD EPYC (Zen 4c Bergamo/Siena, 5 nm)"},
    {0x1A, 0x00, 0x0F, "AMD EPYC (Zen 5 Turin, 4 nm)"},
    {0x1A, 0x10, 0x1F, "AMD EPYC (Zen 5c Turin Dense, 3 nm)"},
    {0x1A, 0x20, 0x2F, "AMD Ryzen AI (Zen 5 Strix Point, 4 nm)"},
    {0x1A, 0x40, 0x4F, "AMD Ryzen (Zen 5 Granite Ridge, 4 nm)"},
    {0x1A, 0x60, 0x6F, "AMD Ryzen AI (Zen 5 Krackan Point, 4 nm)"},
    {0x1A, 0x70, 0x7F, "AMD Ryzen AI Max (Zen 5 Strix Halo, 4 nm)"},
};

constexpr NameEntry kCyrix[] = {
    {4, 0x4, 0x4, "Cyrix MediaGX (Gx86, 600 nm)"},   {5, 0x2, 0x2, "Cyrix 6x86 (M1, 650 nm)"},
    {5, 0x4, 0x4, "Cyrix MediaGXm (GXm, 350 nm)"},   {6, 0x0, 0x0, "Cyrix 6x86MX/MII (M2, 350 nm)"},
    {6, 0x5, 0x5, "VIA Cyrix III (Joshua, 180 nm)"},
};

constexpr NameEntry kCentaur[] = {
    {5, 0x4, 0x4, "IDT WinChip (C6, 350 nm)"},        {5, 0x8, 0x8, "IDT WinChip 2 (C6-2, 250 nm)"},
    {5, 0x9, 0x9, "IDT WinChip 3 (C6-3, 250 nm)"},    {6, 0x6, 0x6, "VIA C3 (Samuel, 180 nm)"},
    {6, 0x7, 0x7, "VIA C3 (Samuel 2/Ezra, 150 nm)"},  {6, 0x8, 0x8, "VIA C3 (Ezra-T, 130 nm)"},
    {6, 0x9, 0x9, "VIA C3 (Nehemiah, 130 nm)"},       {6, 0xA, 0xA, "VIA C7 (Esther, 90 nm)"},
    {6, 0xD, 0xD, "VIA C7 (Esther, 90 nm)"},          {6, 0xF, 0xF, "VIA Nano (Isaiah, 65 nm)"},
    {7, 0x1B, 0x1B, "Zhaoxin KaiXian (ZX-D, 28 nm)"}, {7, 0x3B, 0x3B, "Zhaoxin KaiXian (ZX-E, 16 nm)"},
};

constexpr NameEntry kTransmeta[] = {
    {5, 0x4, 0x4, "Transmeta Crusoe (TM5x00, 130 nm)"},
    {15, 0x2, 0x3, "Transmeta Efficeon (TM8x00, 130 nm)"},
};

constexpr NameEntry kRise[] = {
    {5, 0x0, 0x0, "Rise mP6 (Kirin, 250 nm)"},
    {5, 0x2, 0x2, "Rise mP6 (Lynx, 180 nm)"},
};

constexpr NameEntry kNexGen[] = {
    {5, 0x0, 0x0, "NexGen Nx586 (500 nm)"},
};

constexpr NameEntry kUmc[] = {
    {4, 0x1, 0x1, "UMC U5D (600 nm)"},
    {4, 0x2, 0x2, "UMC U5S (600 nm)"},
};

constexpr NameEntry kNsc[] = {
    {5, 0x4, 0x4, "National Semiconductor Geode GX1 (180 nm)"},
    {5, 0x5, 0x5, "National Semiconductor Geode GX2 (150 nm)"},
};

constexpr NameEntry kSis[] = {
    {5, 0x0, 0x0, "SiS 55x (180 nm)"},
};

template <size_t N>
const char* Find(const NameEntry (&table)[N], uint32_t family, uint32_t model) {
  for (const NameEntry& e : table)
    if (e.family == family && model >= e.firstModel && model <= e.lastModel) return e.name;
  return nullptr;
}

}  // namespace

const char* ProcessorName(int vendorCode, uint32_t family, uint32_t model) {
  switch (vendorCode) {
    case 1:
      return Find(kIntel, family, model);
    case 2:
      return Find(kAmd, family, model);
    case 3:
      return Find(kCyrix, family, model);
    case 4:
      return Find(kCentaur, family, model);
    case 5:
      return Find(kTransmeta, family, model);
    case 6:
      return Find(kRise, family, model);
    case 7:
      return Find(kNexGen, family, model);
    case 8:
      return Find(kUmc, family, model);
    case 9:
      return Find(kNsc, family, model);
    case 10:
      return Find(kSis, family, model);
    default:
      return nullptr;
  }
}

}  // namespace membw_internal
