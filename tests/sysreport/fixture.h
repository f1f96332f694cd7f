// Fixture machines for the report tool: trees of the files Linux keeps its facts in, with SMBIOS
// tables and SPD images encoded here from the published structure layouts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fixture {

// A folder under /tmp that is removed with the object.
class Tree {
 public:
  Tree();
  ~Tree();
  Tree(const Tree&) = delete;
  Tree& operator=(const Tree&) = delete;
  const std::string& Root() const { return root_; }
  void File(const std::string& path, const std::string& bytes);
  void Link(const std::string& path, const std::string& target);

 private:
  std::string root_;
};

// One SMBIOS structure: formatted area (header written from type, length and handle) and strings.
class Structure {
 public:
  Structure(uint8_t type, uint8_t length, uint16_t handle);
  Structure& Byte(size_t offset, uint8_t v);
  Structure& Word(size_t offset, uint16_t v);
  Structure& Dword(size_t offset, uint32_t v);
  // Adds a string and stores its number at offset; an empty text stores 0 (no string).
  Structure& Str(size_t offset, const std::string& text);
  std::string Bytes() const;

 private:
  std::string formatted_;
  std::vector<std::string> strings_;
};

std::string Table(const std::vector<Structure>& structures);  // with the end-of-table structure

struct MemoryDevice {
  std::string locator, bank, maker, serial, part;
  uint16_t sizeMBytes = 0;  // 0 = empty slot
  uint8_t type = 0x1A;      // DDR4
  uint16_t speed = 0, configured = 0;
};
Structure Type17(uint16_t handle, const MemoryDevice& d);

struct Module {
  uint16_t maker = 0x04CD;  // G.Skill
  std::string part = "F4-3200C16-8GVKB";
  uint32_t serial = 0x12345678;
  int tCKps = 625, tAAps = 13750, tRCDps = 13750, tRPps = 13750, tRASps = 32000;
  int tRFCps = 350000;  // DDR5 stores it in ns: a multiple of 1000 there
  uint64_t casMask = 0;  // bits as the layout stores them
  int dieGbits = 8, ranks = 1, width = 8;
};
std::string Ddr4Spd(const Module& m);  // 512 bytes, checksum set
std::string Ddr5Spd(const Module& m);  // 1024 bytes, checksum set

// Whole machines.
void Ddr4Desktop(Tree& t);     // two DDR4 modules with SPD, full SMBIOS, NVMe and SATA drives
void Ddr5Desktop(Tree& t);     // two DDR5 modules with SPD, full SMBIOS
void VirtualMachine(Tree& t);  // no DMI at all, KVM hypervisor, one virtio disk
void DesktopWithoutRoot(Tree& t);  // no raw tables, DMI strings without serials, SPD readable
void EdacServer(Tree& t);          // memory known only to the EDAC driver

}  // namespace fixture
