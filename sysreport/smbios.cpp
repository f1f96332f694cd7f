#include "sysreport/smbios.h"

#include "sysreport/jedec.h"
#include "sysreport/source.h"

namespace sysreport {

uint8_t SmbiosStructure::Byte(size_t o) const { return Has(o, 1) ? static_cast<uint8_t>(formatted[o]) : 0; }
uint16_t SmbiosStructure::Word(size_t o) const {
  return Has(o, 2) ? static_cast<uint16_t>(Byte(o) | (Byte(o + 1) << 8)) : 0;
}
uint32_t SmbiosStructure::Dword(size_t o) const {
  return Has(o, 4) ? static_cast<uint32_t>(Word(o)) | (static_cast<uint32_t>(Word(o + 2)) << 16) : 0;
}
std::string SmbiosStructure::String(size_t o) const {
  const uint8_t n = Byte(o);
  if (n == 0 || n > strings.size()) return {};
  return Trim(strings[n - 1]);
}

std::vector<SmbiosStructure> ParseSmbios(const std::string& table) {
  std::vector<SmbiosStructure> out;
  size_t pos = 0;
  while (pos + 4 <= table.size() && out.size() < 4096) {
    SmbiosStructure s;
    s.type = static_cast<uint8_t>(table[pos]);
    const size_t length = static_cast<uint8_t>(table[pos + 1]);
    if (length < 4 || pos + length > table.size()) break;
    s.handle = static_cast<uint16_t>(static_cast<uint8_t>(table[pos + 2]) |
                                     (static_cast<uint8_t>(table[pos + 3]) << 8));
    s.formatted = table.substr(pos, length);
    // The string set follows, each string NUL-terminated, the set ended by one more NUL.
    size_t p = pos + length;
    const size_t end = table.find(std::string("\0\0", 2), p);
    if (end == std::string::npos) break;
    if (end > p) {
      size_t start = p;
      while (start < end + 1) {
        const size_t nul = table.find('\0', start);
        if (nul == std::string::npos || nul > end) break;
        s.strings.push_back(table.substr(start, nul - start));
        start = nul + 1;
        if (start > end) break;
      }
    }
    pos = end + 2;
    const uint8_t type = s.type;
    out.push_back(std::move(s));
    if (type == 127) break;
  }
  return out;
}

std::string SmbiosMemoryTypeName(uint8_t code) {
  switch (code) {
    case 0x0F:
      return "SDRAM";
    case 0x12:
      return "DDR";
    case 0x13:
      return "DDR2";
    case 0x14:
      return "DDR2 FB-DIMM";
    case 0x18:
      return "DDR3";
    case 0x1A:
      return "DDR4";
    case 0x1B:
      return "LPDDR";
    case 0x1C:
      return "LPDDR2";
    case 0x1D:
      return "LPDDR3";
    case 0x1E:
      return "LPDDR4";
    case 0x22:
      return "DDR5";
    case 0x23:
      return "LPDDR5";
    default:
      return {};
  }
}

std::string ChassisTypeName(uint8_t code) {
  switch (code & 0x7F) {
    case 0x03:
      return "Desktop";
    case 0x04:
      return "Low Profile Desktop";
    case 0x06:
      return "Mini Tower";
    case 0x07:
      return "Tower";
    case 0x08:
      return "Portable";
    case 0x09:
      return "Laptop";
    case 0x0A:
      return "Notebook";
    case 0x0D:
      return "All in One";
    case 0x0E:
      return "Sub Notebook";
    case 0x11:
      return "Main Server Chassis";
    case 0x17:
      return "Rack Mount Chassis";
    case 0x1E:
      return "Tablet";
    case 0x1F:
      return "Convertible";
    case 0x23:
      return "Mini PC";
    default:
      return {};
  }
}

namespace {

std::string FormFactorName(uint8_t code) {
  switch (code) {
    case 0x09:
      return "DIMM";
    case 0x0D:
      return "SODIMM";
    case 0x0F:
      return "FB-DIMM";
    case 0x10:
      return "Die";
    case 0x0B:
      return "Row of chips";
    default:
      return {};
  }
}

SmbiosMemoryDevice MemoryDevice(const SmbiosStructure& s) {
  SmbiosMemoryDevice d;
  const uint16_t size = s.Word(0x0C);
  if (s.Has(0x0C, 2) && size != 0xFFFF) {
    d.sizeKnown = true;
    if (size == 0x7FFF && s.Has(0x1C, 4))
      d.sizeMBytes = s.Dword(0x1C) & 0x7FFFFFFF;
    else if (size & 0x8000)
      d.sizeMBytes = (size & 0x7FFF) / 1024;  // given in KBytes
    else
      d.sizeMBytes = size;
  }
  d.formFactor = FormFactorName(s.Byte(0x0E));
  d.locator = s.String(0x10);
  d.bankLocator = s.String(0x11);
  d.type = SmbiosMemoryTypeName(s.Byte(0x12));
  d.speed = s.Word(0x15);
  if (d.speed == 0xFFFF && s.Has(0x54, 4)) d.speed = s.Dword(0x54);
  d.manufacturer = s.String(0x17);
  d.serial = s.String(0x18);
  d.partNumber = s.String(0x1A);
  d.ranks = s.Byte(0x1B) & 0x0F;
  d.configuredSpeed = s.Word(0x20);
  if (d.configuredSpeed == 0xFFFF && s.Has(0x58, 4)) d.configuredSpeed = s.Dword(0x58);
  if (d.speed == 0xFFFF) d.speed = 0;
  if (d.configuredSpeed == 0xFFFF) d.configuredSpeed = 0;
  const uint16_t width = s.Word(0x0A);
  if (width != 0xFFFF) d.dataWidth = width;
  // SMBIOS 3.2: the module maker's JEDEC code as the SPD stores it, continuation count first.
  if (s.Has(0x2C, 2) && s.Word(0x2C) != 0)
    d.moduleMaker = JedecName(JedecFromBytes(s.Byte(0x2C), s.Byte(0x2D)));
  return d;
}

}  // namespace

int SmbiosVersion(const std::string& e) {
  auto b = [&](size_t o) { return o < e.size() ? static_cast<uint8_t>(e[o]) : 0; };
  if (e.compare(0, 5, "_SM3_") == 0 && e.size() >= 9) return b(7) * 100 + b(8);
  if (e.compare(0, 4, "_SM_") == 0 && e.size() >= 8) return b(6) * 100 + b(7);
  return 0;
}

SmbiosFacts ReadSmbiosFacts(const std::vector<SmbiosStructure>& structures) {
  SmbiosFacts f;
  f.present = !structures.empty();
  for (const SmbiosStructure& s : structures) {
    switch (s.type) {
      case 0:
        if (f.hasBios) break;
        f.hasBios = true;
        f.biosVendor = s.String(0x04);
        f.biosVersion = s.String(0x05);
        f.biosDate = s.String(0x08);
        break;
      case 1:
        f.systemVendor = s.String(0x04);
        f.systemProduct = s.String(0x05);
        f.systemVersion = s.String(0x06);
        f.systemSerial = s.String(0x07);
        break;
      case 2:
        if (f.hasBaseboard) break;
        f.hasBaseboard = true;
        f.boardVendor = s.String(0x04);
        f.boardModel = s.String(0x05);
        f.boardVersion = s.String(0x06);
        f.boardSerial = s.String(0x07);
        break;
      case 3:
        if (f.hasChassis) break;
        f.hasChassis = true;
        f.chassisVendor = s.String(0x04);
        f.chassisType = ChassisTypeName(s.Byte(0x05));
        f.chassisSerial = s.String(0x07);
        break;
      case 16:
        if (s.Byte(0x05) == 0x03) f.arraySlots += s.Word(0x0D);  // system memory
        break;
      case 17:
        f.memoryDevices.push_back(MemoryDevice(s));
        break;
      default:
        break;
    }
  }
  return f;
}

}  // namespace sysreport
