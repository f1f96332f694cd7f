// Makers of memory modules, DRAM chips and the SPD hubs and registers on them, by their JEDEC
// JEP106 identification code, and the forms in which firmware and SPD data carry that code.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace sysreport {

// A JEP106 code: the bank (1 = no continuation code) and the code within it, parity bit
// removed (1..126).
struct JedecId {
  int bank = 0;
  int code = 0;
};

// The maker's name as module buyers know it ("G.Skill", "SK Hynix"); empty when not listed.
std::string JedecName(JedecId id);

// Two bytes as SPD data and the SMBIOS Module Manufacturer ID store them: the number of
// continuation codes (odd parity in bit 7) first, then the code (odd parity in bit 7).
JedecId JedecFromBytes(uint8_t continuation, uint8_t code);

// The name for SPD bytes; "JEDEC bank B code 0xCC" when the code is not listed, so the user
// still sees what the module says.
std::string JedecMakerName(uint16_t bankThenCode);

// The maker named by a memory device's Manufacturer string when the firmware wrote a JEDEC code
// there instead of a name: "029E", "0x80CE", "CE80", "80CE000080CE", "Unknown (80AD)", and the
// udev database's "Bank 1, Hex 0xCE". Nothing when the text is not such a code or the code is not
// listed; an empty name for texts that name nobody ("Unknown", "Undefined", "Not Specified").
std::optional<std::string> MakerFromCodeText(const std::string& text);

// The maker to show for a memory device's Manufacturer string: the listed name for a code, ""
// for a placeholder, else the text as the firmware wrote it.
std::string MakerFromSmbiosText(const std::string& text);

}  // namespace sysreport
