// The SMBIOS structure table as the kernel exposes it (/sys/firmware/dmi/tables/DMI).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sysreport {

struct SmbiosStructure {
  uint8_t type = 0;
  uint16_t handle = 0;
  std::string formatted;             // the formatted area, header included
  std::vector<std::string> strings;  // string set; string number n is strings[n - 1]

  bool Has(size_t offset, size_t width) const { return offset + width <= formatted.size(); }
  uint8_t Byte(size_t offset) const;   // 0 when the structure is too short
  uint16_t Word(size_t offset) const;  // little-endian, 0 when too short
  uint32_t Dword(size_t offset) const;
  // The string whose number is stored at offset, trimmed; empty for number 0 or a bad number.
  std::string String(size_t offset) const;
};

// Walks the table; a truncated or malformed structure ends the walk, keeping what came before.
std::vector<SmbiosStructure> ParseSmbios(const std::string& table);

// Memory device (type 17) facts the report uses.
struct SmbiosMemoryDevice {
  std::string locator, bankLocator, manufacturer, serial, partNumber;
  uint64_t sizeMBytes = 0;  // 0 = empty slot
  bool sizeKnown = false;
  std::string type;              // "DDR4"; empty when not a DDR kind we name
  std::string formFactor;        // "DIMM", "SODIMM", ...
  uint32_t speed = 0;            // MT/s the module is rated for
  uint32_t configuredSpeed = 0;  // as the firmware wrote it: MT/s, or MHz before SMBIOS 3.1
  int ranks = 0;
  int dataWidth = 0;        // bits, 0 = not given
  std::string moduleMaker;  // from the SMBIOS 3.2 Module Manufacturer ID, empty when not given
};

struct SmbiosFacts {
  bool present = false;
  std::string biosVendor, biosVersion, biosDate;
  std::string systemVendor, systemProduct, systemVersion, systemSerial;
  bool hasBaseboard = false, hasBios = false;
  std::string boardVendor, boardModel, boardVersion, boardSerial;
  bool hasChassis = false;
  std::string chassisVendor, chassisType, chassisSerial;
  std::vector<SmbiosMemoryDevice> memoryDevices;  // every slot, empty ones included
  int arraySlots = 0;  // type 16 number of devices, summed over system memory arrays
  int version = 0;     // major * 100 + minor from the entry point, 0 when not known
};

SmbiosFacts ReadSmbiosFacts(const std::vector<SmbiosStructure>& structures);

// The SMBIOS version (major * 100 + minor) from the entry point structure, 0 when it is not one.
int SmbiosVersion(const std::string& entryPoint);

std::string SmbiosMemoryTypeName(uint8_t code);
std::string ChassisTypeName(uint8_t code);

}  // namespace sysreport
