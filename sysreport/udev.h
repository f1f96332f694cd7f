// The memory devices systemd-udevd decodes from the SMBIOS table at boot (as root, rule
// 70-memory.rules) and keeps in its world-readable database entry for the firmware's DMI device,
// so a normal user learns what only root could read from the table itself.
#pragma once

#include <string>
#include <vector>

#include "sysreport/smbios.h"
#include "sysreport/source.h"

namespace sysreport {

inline constexpr const char* kUdevDmiEntry = "/run/udev/data/+dmi:id";

struct UdevMemory {
  bool present = false;                     // the entry holds at least one memory device
  int arraySlots = 0;                       // MEMORY_ARRAY_NUM_DEVICES
  std::vector<SmbiosMemoryDevice> devices;  // by the device number udev gives, gaps left out
};

// Parses the entry's text: "E:NAME=VALUE" lines, names and meanings as systemd's dmi_memory_id
// writes them (sizes in bytes, PRESENT=0 for an empty slot, "<OUT OF SPEC>" for a type its
// release does not name). A damaged line loses only the fact it carries.
UdevMemory ParseUdevMemory(const std::string& text);

UdevMemory ReadUdevMemory(const Root& root);

}  // namespace sysreport
