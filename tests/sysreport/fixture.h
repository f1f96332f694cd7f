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
  // A tree every user may read (for running the tool as a normal user), under the temporary folder.
  struct Shared {};
  explicit Tree(Shared);
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
  uint16_t width = 64;         // data width in bits
  uint8_t form = 0x09;         // DIMM; 0x0D SODIMM, 0x0B row of chips
  uint16_t moduleMakerId = 0;  // SMBIOS 3.2 field; 0 writes the older, shorter structure
};
Structure Type17(uint16_t handle, const MemoryDevice& d);

// The lines systemd-udevd's dmi_memory_id writes for the memory devices into
// /run/udev/data/+dmi:id (sizes in bytes, PRESENT=0 and "Not Specified" strings for empty slots).
// typeName overrides the name of d.type ("<OUT OF SPEC>" as releases before 252.22 write it).
std::string UdevEntry(const std::vector<MemoryDevice>& devices, const std::string& typeName = "");

struct Module {
  uint16_t maker = 0x04CD;  // G.Skill
  std::string part = "F4-3200C16-8GVKB";
  uint32_t serial = 0x12345678;
  int tCKps = 625, tAAps = 13750, tRCDps = 13750, tRPps = 13750, tRASps = 32000;
  int tRFCps = 350000;   // DDR5 stores it in ns: a multiple of 1000 there
  uint64_t casMask = 0;  // bits as the layout stores them
  int dieGbits = 8, ranks = 1, width = 8;
  struct Profile {
    int tCKps, tAAps, tRCDps, tRPps, tRASps, tRFCps;
  };
  std::vector<Profile> xmp;   // XMP 2.0 on DDR4 (up to 2), XMP 3.0 on DDR5 (up to 3)
  std::vector<Profile> expo;  // EXPO on DDR5 (up to 2)
};
std::string Ddr4Spd(const Module& m);  // 512 bytes, checksum set
std::string Ddr5Spd(const Module& m);  // 1024 bytes, checksum set

// Whole machines.
void Ddr4Desktop(Tree& t);         // two DDR4 modules with SPD, full SMBIOS, NVMe and SATA drives
void Ddr5Desktop(Tree& t);         // two DDR5 modules with SPD, full SMBIOS
void VirtualMachine(Tree& t);      // no DMI at all, KVM hypervisor, one virtio disk
void DesktopWithoutRoot(Tree& t);  // no raw tables, DMI strings without serials, SPD readable
void EdacServer(Tree& t);          // memory known only to the EDAC driver

// Machines read by a normal user: raw SMBIOS tables and the DMI serial files are root's only.
void UserDdr4Desktop(Tree& t);  // udev database with four slots, no SPD
void UserDdr5ExpoDesktop(
    Tree& t);  // udev database from an old systemd (DDR5 "<OUT OF SPEC>"), EXPO kit's SPD
void UserLaptopTwoSodimms(Tree& t);     // "DIMM A" / "DIMM B" SODIMMs, udev database
void UserSolderedLpddr5(Tree& t);       // eight 16-bit LPDDR5 channels, udev database
void UserNothingReadable(Tree& t);      // no udev memory entry, no SPD; the table exists (root only)
void UserLaptopSameSlotNames(Tree& t);  // two SODIMMs both in "DIMM0", on BANK 0 and BANK 1
void UserLaptopPlacedSlots(Tree& t);    // "Bottom - Slot 1 (left)" / "... 2 (right)", BANK 0 and 2
// Read as root.
void TwoSocketServer(Tree& t);         // 16 ECC RDIMMs in "CPU1_DIMM_A1" style slots
void ServerWithCutUdevEntry(Tree& t);  // 24 DDR5 RDIMMs; udev's entry holds the first 18
void JedecCodeMakers(Tree& t);         // firmware writing JEDEC codes as memory device makers
void XmpEqualsJedecKit(Tree& t);       // "3200C16" kit: JEDEC DDR4-3200 CL22 and XMP 3200 CL16

}  // namespace fixture
