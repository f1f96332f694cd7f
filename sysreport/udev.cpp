#include "sysreport/udev.h"

#include <map>
#include <optional>
#include <sstream>

#include "sysreport/jedec.h"

namespace sysreport {

namespace {

struct Slot {
  SmbiosMemoryDevice device;
  bool sizeSeen = false;
  bool empty = false;
};

std::optional<uint64_t> Number(const std::string& text, uint64_t max) {
  if (text.empty() || text.size() > 20) return std::nullopt;
  uint64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    const uint64_t digit = static_cast<uint64_t>(c - '0');
    if (v > (max - digit) / 10) return std::nullopt;
    v = v * 10 + digit;
  }
  return v;
}

// What dmi_memory_id writes for a string the firmware left out or got wrong.
std::string Text(const std::string& value) {
  const std::string u = Upper(value);
  if (u == "NOT SPECIFIED" || u == "<BAD INDEX>" || u == "<OUT OF SPEC>") return {};
  return value;
}

// The DDR kinds the program names; "<OUT OF SPEC>" (DDR5 and LPDDR5 before systemd 252.22),
// "Unknown", "Other" and the like are no type.
std::string TypeName(const std::string& value) {
  for (uint8_t code = 0x01; code < 0x40; ++code) {
    const std::string name = SmbiosMemoryTypeName(code);
    if (!name.empty() && name == value) return name;
  }
  return {};
}

std::string FormFactor(const std::string& value) {
  for (const char* f : {"DIMM", "SODIMM", "FB-DIMM", "Die"})
    if (value == f) return f;
  if (value == "Row Of Chips") return "Row of chips";
  return {};
}

}  // namespace

UdevMemory ParseUdevMemory(const std::string& text) {
  UdevMemory out;
  std::map<int, Slot> slots;
  std::istringstream in(text);
  int lines = 0;
  for (std::string line; std::getline(in, line) && ++lines <= 20000;) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!StartsWith(line, "E:")) continue;
    const size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    const std::string name = line.substr(2, eq - 2);
    const std::string raw = line.substr(eq + 1);
    bool control = false;
    for (char c : raw) control = control || static_cast<unsigned char>(c) < 32 || c == 127;
    if (control || raw.size() > 256) continue;  // damaged: the fact is left out
    const std::string value = Trim(raw);
    if (name == "MEMORY_ARRAY_NUM_DEVICES") {
      if (const auto n = Number(value, 4096)) out.arraySlots += static_cast<int>(*n);
      continue;
    }
    if (!StartsWith(name, "MEMORY_DEVICE_")) continue;
    size_t p = 14;
    size_t digits = 0;
    while (p < name.size() && name[p] >= '0' && name[p] <= '9' && digits < 4) {
      ++p;
      ++digits;
    }
    if (digits == 0 || p >= name.size() || name[p] != '_') continue;
    const auto index = Number(name.substr(14, digits), 1023);
    if (!index) continue;
    const std::string field = name.substr(p + 1);
    if (slots.size() >= 256 && !slots.count(static_cast<int>(*index))) continue;
    Slot& slot = slots[static_cast<int>(*index)];
    SmbiosMemoryDevice& d = slot.device;
    if (field == "SIZE") {
      // Bytes; anything past 16 TiB for one module is damage, not memory.
      const auto bytes = Number(value, uint64_t{1} << 44);
      if (!bytes) continue;
      slot.sizeSeen = true;
      d.sizeMBytes = *bytes / (1024 * 1024);
      d.sizeKnown = d.sizeMBytes > 0;
    } else if (field == "PRESENT") {
      if (value == "0") slot.empty = true;
    } else if (field == "TYPE") {
      d.type = TypeName(value);
    } else if (field == "FORM_FACTOR") {
      d.formFactor = FormFactor(value);
    } else if (field == "LOCATOR") {
      d.locator = Text(value);
    } else if (field == "BANK_LOCATOR") {
      d.bankLocator = Text(value);
    } else if (field == "MANUFACTURER") {
      d.manufacturer = Text(value);
    } else if (field == "SERIAL_NUMBER") {
      d.serial = Text(value);
    } else if (field == "PART_NUMBER") {
      d.partNumber = Text(value);
    } else if (field == "SPEED_MTS") {
      // The table's word is printed as it stands: 65535 means "see the extended field", which
      // this entry does not carry.
      if (const auto n = Number(value, 100000); n && *n < 65535) d.speed = static_cast<uint32_t>(*n);
    } else if (field == "CONFIGURED_SPEED_MTS") {
      if (const auto n = Number(value, 100000); n && *n < 65535)
        d.configuredSpeed = static_cast<uint32_t>(*n);
    } else if (field == "RANK") {
      if (const auto n = Number(value, 15)) d.ranks = static_cast<int>(*n);
    } else if (field == "DATA_WIDTH") {
      if (const auto n = Number(value, 1024)) d.dataWidth = static_cast<int>(*n);
    } else if (field == "MODULE_MANUFACTURER_ID") {
      if (const auto name = MakerFromCodeText(value)) d.moduleMaker = *name;
    }
  }
  for (auto& [index, slot] : slots) {
    if (slot.empty) {
      slot.device.sizeKnown = true;
      slot.device.sizeMBytes = 0;
    } else if (!slot.sizeSeen) {
      slot.device.sizeKnown = false;
    }
    out.devices.push_back(slot.device);
  }
  for (const SmbiosMemoryDevice& d : out.devices)
    if (d.sizeKnown) out.present = true;
  return out;
}

UdevMemory ReadUdevMemory(const Root& root) {
  const std::optional<std::string> text = root.Read(kUdevDmiEntry, 256 * 1024);
  if (!text) return {};
  return ParseUdevMemory(*text);
}

}  // namespace sysreport
