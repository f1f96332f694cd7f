#include "sysreport/jedec.h"

#include <cstdio>
#include <vector>

#include "sysreport/source.h"

namespace sysreport {

namespace {

struct Maker {
  uint8_t bank;  // 1..14
  uint8_t code;  // without parity, 1..126
  const char* name;
};

// JEP106 makers of DRAM chips, memory modules, SPD EEPROMs, SPD hubs, temperature sensors and
// registers/buffers on modules, in every bank the list has. Names are the ones module buyers
// know; the published legal name is shortened where it is long ("G Skill Intl" is "G.Skill").
// One place for all of them: SPD bytes, SMBIOS strings and the udev database all resolve here.
constexpr Maker kMakers[] = {
    // Bank 1
    {1, 0x01, "AMD"},
    {1, 0x04, "Fujitsu"},
    {1, 0x07, "Hitachi"},
    {1, 0x09, "Intel"},
    {1, 0x10, "NEC"},
    {1, 0x15, "NXP"},
    {1, 0x17, "Texas Instruments"},
    {1, 0x18, "Toshiba"},
    {1, 0x1C, "Mitsubishi"},
    {1, 0x1F, "Atmel"},
    {1, 0x20, "STMicroelectronics"},
    {1, 0x29, "Microchip"},
    {1, 0x2C, "Micron Technology"},
    {1, 0x2D, "SK Hynix"},
    {1, 0x2E, "OKI"},
    {1, 0x32, "Panasonic"},
    {1, 0x33, "IDT"},
    {1, 0x34, "Cypress"},
    {1, 0x40, "Mosel Vitelic"},
    {1, 0x41, "Infineon"},
    {1, 0x48, "Apple"},
    {1, 0x4A, "Compaq"},
    {1, 0x4E, "Samsung"},
    {1, 0x52, "Alliance"},
    {1, 0x54, "HP"},
    {1, 0x55, "ISSI"},
    {1, 0x5A, "Winbond"},
    {1, 0x60, "LG Semicon"},
    {1, 0x65, "Analog Devices"},
    {1, 0x6F, "Nexcom"},
    // Bank 2
    {2, 0x11, "Dataram"},
    {2, 0x14, "Smart Modular"},
    {2, 0x18, "Kingston"},
    {2, 0x1D, "ISSI"},
    {2, 0x21, "Dallas Semiconductor"},
    {2, 0x32, "Mushkin"},
    {2, 0x37, "AMIC"},
    {2, 0x3A, "PNY"},
    {2, 0x40, "Viking"},
    {2, 0x45, "Micron CMS"},
    {2, 0x4B, "Maxim"},
    {2, 0x4E, "Unigen"},
    {2, 0x4F, "Transcend"},
    {2, 0x50, "Memory Card Technology"},
    {2, 0x5A, "Dane-Elec"},
    {2, 0x5E, "Itec Memory"},
    {2, 0x61, "Wintec"},
    {2, 0x62, "Super PC Memory"},
    {2, 0x63, "MGV Memory"},
    {2, 0x6B, "Goldenram"},
    {2, 0x6F, "Advantage Memory"},
    {2, 0x7A, "Apacer"},
    {2, 0x7B, "Admor Memory"},
    {2, 0x7C, "Foxconn"},
    // Bank 3
    {3, 0x05, "Hypertec"},
    {3, 0x1E, "Corsair"},
    {3, 0x35, "SpecTek"},
    {3, 0x3A, "Micro Memory Bank"},
    {3, 0x4B, "HanBit"},
    {3, 0x67, "AVED Memory"},
    {3, 0x7E, "Elpida"},
    // Bank 4
    {4, 0x03, "Buffalo"},
    {4, 0x0B, "Nanya"},
    {4, 0x13, "GeIL"},
    {4, 0x14, "Mushkin"},
    {4, 0x16, "Netlist"},
    {4, 0x19, "Centon"},
    {4, 0x25, "Kingmax"},
    {4, 0x30, "Memory Experts"},
    {4, 0x4B, "Hypertec"},
    {4, 0x58, "takeMS"},
    {4, 0x5A, "Swissbit"},
    {4, 0x6D, "Memorysolution"},
    {4, 0x73, "RAM Components"},
    {4, 0x78, "SimpleTech"},
    // Bank 5
    {5, 0x08, "Silicon Mountain"},
    {5, 0x0C, "White Electronic Designs"},
    {5, 0x1E, "Intelligent Memory"},
    {5, 0x23, "Renesas"},
    {5, 0x28, "US Modular"},
    {5, 0x30, "OCZ"},
    {5, 0x33, "Inphi"},
    {5, 0x3F, "Pericom"},
    {5, 0x43, "Ramaxel"},
    {5, 0x46, "Legacy Electronics"},
    {5, 0x48, "Powerchip"},
    {5, 0x4B, "ADATA"},
    {5, 0x4D, "G.Skill"},
    {5, 0x51, "Kingbox"},
    {5, 0x54, "Advance Modules"},
    {5, 0x59, "Simmtec"},
    {5, 0x67, "Gigaram"},
    {5, 0x69, "Century Micro"},
    {5, 0x6D, "Supreme Top"},
    {5, 0x6F, "Team Group"},
    {5, 0x71, "Toshiba"},
    // Bank 6
    {6, 0x02, "Patriot"},
    {6, 0x06, "CompuRAM"},
    {6, 0x10, "Gigaram"},
    {6, 0x17, "COS Memory"},
    {6, 0x1B, "Crucial Technology"},
    {6, 0x3A, "Virtium"},
    {6, 0x3E, "PQI"},
    {6, 0x46, "MSI"},
    {6, 0x51, "Qimonda"},
    {6, 0x56, "Walton Chaintech"},
    {6, 0x57, "Aeneon"},
    {6, 0x62, "Goldenmars"},
    {6, 0x6F, "MetaRAM"},
    {6, 0x77, "Avant"},
    {6, 0x78, "ASRock"},
    // Bank 7
    {7, 0x01, "Moveking"},
    {7, 0x05, "Diablo Technologies"},
    {7, 0x16, "Avexir"},
    {7, 0x1B, "Memory Corp"},
    {7, 0x1D, "Rambus"},
    {7, 0x27, "Kingxcon"},
    {7, 0x32, "Montage Technology"},
    {7, 0x34, "Super Talent"},
    {7, 0x45, "Infinite Memories"},
    {7, 0x4F, "Topram"},
    {7, 0x51, "Kinglife"},
    {7, 0x53, "Silicon Power"},
    {7, 0x60, "Memory Exchange"},
    {7, 0x63, "ATP"},
    {7, 0x69, "SanMax"},
    {7, 0x6B, "TwinMOS"},
    {7, 0x6D, "V-Color"},
    {7, 0x71, "Innodisk"},
    {7, 0x78, "Fidelix"},
    // Bank 8
    {8, 0x03, "Strontium"},
    {8, 0x07, "Unifosa"},
    {8, 0x0B, "EKMemory"},
    {8, 0x10, "King Tiger"},
    {8, 0x1A, "Mach Xtreme"},
    {8, 0x1C, "Ramsta"},
    {8, 0x1E, "Teikon"},
    {8, 0x25, "Ramos"},
    {8, 0x26, "Goldenmars"},
    {8, 0x3B, "Ultron"},
    {8, 0x3E, "Lifetime Memory"},
    {8, 0x3F, "Ramsway"},
    {8, 0x42, "Being Advanced Memory"},
    {8, 0x44, "Giantec"},
    {8, 0x46, "Gloway"},
    {8, 0x47, "Kingcore"},
    {8, 0x52, "Memphis Electronic"},
    {8, 0x56, "TMT Memory"},
    {8, 0x57, "Eorex"},
    {8, 0x5D, "Goodram"},
    {8, 0x63, "OCMemory"},
    {8, 0x65, "Shark Gaming"},
    {8, 0x68, "KingboMars"},
    {8, 0x6A, "Transcend"},
    {8, 0x6F, "Zentel"},
    {8, 0x70, "Panram"},
    // Bank 9
    {9, 0x12, "Galax"},
    {9, 0x13, "Gloway"},
    {9, 0x16, "Approved Memory"},
    {9, 0x18, "KLEVV"},
    {9, 0x1A, "UniIC"},
    {9, 0x1C, "eveRAM"},
    {9, 0x33, "Memorysolution"},
    {9, 0x3B, "Unimemory"},
    {9, 0x48, "Lenovo"},
    {9, 0x51, "Accelerated Memory Production"},
    {9, 0x53, "AP Memory"},
    {9, 0x55, "Etron"},
    {9, 0x59, "EVGA"},
    {9, 0x71, "Asgard"},
    {9, 0x75, "Juhor"},
    {9, 0x77, "DSL Memory"},
    // Bank 10
    {10, 0x03, "HPE"},
    {10, 0x04, "Intenso"},
    {10, 0x1C, "MemxPro"},
    {10, 0x21, "Teclast"},
    {10, 0x24, "RamCENTER"},
    {10, 0x2D, "Neo Forza"},
    {10, 0x33, "Lanson Memory"},
    {10, 0x36, "Black Diamond Memory"},
    {10, 0x44, "Xingmem"},
    {10, 0x45, "Gold Key"},
    {10, 0x4D, "Longsys"},
    {10, 0x51, "Antec Memory"},
    {10, 0x5D, "Intelimem"},
    {10, 0x62, "Hyundai Technology"},
    {10, 0x68, "Kimtigo"},
    {10, 0x6C, "Colorful"},
    {10, 0x72, "Gigabyte"},
    {10, 0x74, "Hyundai"},
    {10, 0x75, "Exceleram"},
    {10, 0x77, "Netac"},
    {10, 0x78, "PCCooler"},
    // Bank 11
    {11, 0x02, "KingSpec"},
    {11, 0x0E, "AITC Memory"},
    {11, 0x0F, "UNIC Memory"},
    {11, 0x11, "CXMT"},
    {11, 0x14, "V-GEN"},
    {11, 0x1D, "AMS"},
    {11, 0x1F, "Axia Memory"},
    {11, 0x27, "StarRam"},
    {11, 0x29, "UltraMemory"},
    {11, 0x2D, "Puskill"},
    {11, 0x31, "Biwin"},
    {11, 0x39, "Zotac"},
    {11, 0x42, "Thermaltake"},
    {11, 0x47, "VMemory"},
    {11, 0x48, "Advantech"},
    {11, 0x4C, "Ramonster"},
    {11, 0x53, "Cervoz"},
    {11, 0x56, "Longsys"},
    {11, 0x60, "Oscoo"},
    {11, 0x6B, "Acer"},
    {11, 0x6C, "Artmem"},
    {11, 0x74, "Eorex"},
    {11, 0x76, "Lexar"},
    // Bank 12
    {12, 0x12, "Kingbank"},
    {12, 0x1D, "InnoMem"},
    {12, 0x2E, "Aigo"},
    {12, 0x2F, "Konsemi"},
    {12, 0x57, "KingDisk"},
    {12, 0x5C, "ASUS"},
    {12, 0x6A, "Kowin"},
    {12, 0x6F, "Toooogo"},
    {12, 0x77, "Dahua"},
    // Bank 13
    {13, 0x07, "Biao Ram"},
    {13, 0x0F, "Monarch Memory"},
    {13, 0x10, "Reliance Memory"},
    {13, 0x26, "Timetec"},
    {13, 0x27, "ICMAX"},
    {13, 0x2B, "Biwin"},
    {13, 0x2E, "Fanxiang"},
    {13, 0x5D, "OLOy"},
    {13, 0x63, "Star Memory"},
    {13, 0x64, "Agile Memory"},
    {13, 0x72, "Addlink"},
    {13, 0x7D, "Dell"},
    // Bank 14
    {14, 0x22, "Sabrent"},
    {14, 0x23, "Union Memory"},
    {14, 0x31, "GDRAMARS"},
    {14, 0x32, "Meminsights"},
    {14, 0x35, "Proxmem"},
};

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The bytes of a text made of hexadecimal digit pairs only (after an optional "0x").
std::optional<std::vector<uint8_t>> HexBytes(std::string text) {
  text = Trim(text);
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text = text.substr(2);
  if (text.empty() || text.size() % 2 != 0 || text.size() > 16) return std::nullopt;
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i < text.size(); i += 2) {
    const int hi = HexDigit(text[i]), lo = HexDigit(text[i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    bytes.push_back(static_cast<uint8_t>(hi << 4 | lo));
  }
  return bytes;
}

// Two bytes in either order: continuation count first as the layouts store it, else the other
// way round when only that names a listed maker.
std::optional<std::string> NameOfPair(uint8_t a, uint8_t b) {
  const std::string straight = JedecName(JedecFromBytes(a, b));
  if (!straight.empty()) return straight;
  const std::string swapped = JedecName(JedecFromBytes(b, a));
  if (!swapped.empty()) return swapped;
  return std::nullopt;
}

bool IsPlaceholder(const std::string& text) {
  const std::string u = Upper(Trim(text));
  for (const char* p :
       {"", "UNKNOWN", "UNDEFINED", "NOT SPECIFIED", "NOT AVAILABLE", "N/A", "NONE", "<BAD INDEX>",
        "MANUFACTURER", "TO BE FILLED BY O.E.M.", "DEFAULT STRING", "NO DIMM", "EMPTY"})
    if (u == p) return true;
  return false;
}

}  // namespace

JedecId JedecFromBytes(uint8_t continuation, uint8_t code) {
  return JedecId{(continuation & 0x7F) + 1, code & 0x7F};
}

std::string JedecName(JedecId id) {
  for (const Maker& m : kMakers)
    if (m.bank == id.bank && m.code == id.code) return m.name;
  return {};
}

std::string JedecMakerName(uint16_t bankThenCode) {
  const JedecId id =
      JedecFromBytes(static_cast<uint8_t>(bankThenCode >> 8), static_cast<uint8_t>(bankThenCode & 0xFF));
  const std::string name = JedecName(id);
  if (!name.empty()) return name;
  char buf[48];
  std::snprintf(buf, sizeof buf, "JEDEC bank %d code 0x%02X", id.bank, bankThenCode & 0xFF);
  return buf;
}

std::optional<std::string> MakerFromCodeText(const std::string& raw) {
  std::string text = Trim(raw);
  if (IsPlaceholder(text)) return std::string();
  const std::string upper = Upper(text);
  // udev's form of the Module Manufacturer ID: "Bank 1, Hex 0xCE".
  if (StartsWith(upper, "BANK ")) {
    const size_t comma = upper.find(',');
    const size_t hex = upper.find("HEX ");
    if (comma == std::string::npos || hex == std::string::npos || hex < comma) return std::nullopt;
    int bank = 0;
    for (size_t i = 5; i < comma; ++i) {
      if (upper[i] < '0' || upper[i] > '9' || bank > 100) return std::nullopt;
      bank = bank * 10 + (upper[i] - '0');
    }
    const auto code = HexBytes(text.substr(hex + 4));
    if (bank < 1 || !code || code->size() != 1) return std::nullopt;
    const std::string name = JedecName(JedecId{bank, (*code)[0] & 0x7F});
    if (name.empty()) return std::nullopt;
    return name;
  }
  // "Unknown (80AD)", "Unknown(0x029E)": the code in brackets after the placeholder.
  for (const char* word : {"UNKNOWN", "UNDEFINED"}) {
    if (!StartsWith(upper, word)) continue;
    const size_t open = text.find('('), close = text.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open) return std::nullopt;
    if (Trim(text.substr(std::string(word).size(), open - std::string(word).size())) != "")
      return std::nullopt;
    text = text.substr(open + 1, close - open - 1);
    if (IsPlaceholder(text)) return std::string();
    break;
  }
  const auto bytes = HexBytes(text);
  if (!bytes) return std::nullopt;
  // "029E": continuation count and code. "80CE000080CE": the module maker's two bytes, two zero
  // bytes, the DRAM maker's two bytes (some firmware fills only the last pair).
  if (bytes->size() == 2) return NameOfPair((*bytes)[0], (*bytes)[1]);
  if (bytes->size() == 6) {
    if ((*bytes)[0] != 0 || (*bytes)[1] != 0) return NameOfPair((*bytes)[0], (*bytes)[1]);
    return NameOfPair((*bytes)[4], (*bytes)[5]);
  }
  // "7F7F9E0000000000": the code as JEP106 sends it, one 0x7F per continuation, then the code.
  if (bytes->size() == 8) {
    size_t i = 0;
    while (i < bytes->size() && (*bytes)[i] == 0x7F) ++i;
    if (i == bytes->size() || (*bytes)[i] == 0) return std::nullopt;
    for (size_t k = i + 1; k < bytes->size(); ++k)
      if ((*bytes)[k] != 0) return std::nullopt;
    const std::string name = JedecName(JedecId{static_cast<int>(i) + 1, (*bytes)[i] & 0x7F});
    if (name.empty()) return std::nullopt;
    return name;
  }
  return std::nullopt;
}

std::string MakerFromSmbiosText(const std::string& text) {
  if (const std::optional<std::string> name = MakerFromCodeText(text)) return *name;
  return Trim(text);
}

}  // namespace sysreport
