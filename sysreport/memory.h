// Installed memory and its modules, from the SMBIOS memory devices, the SPD images the kernel
// exposes and the EDAC entries, each used where the better source says nothing.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "sysreport/smbios.h"
#include "sysreport/source.h"
#include "sysreport/spd.h"

namespace sysreport {

struct ModuleFacts {
  std::string source;  // where the block's facts come from
  std::string locator, bankLocator;
  std::string type, format, maker, part, serial, madeWeek;
  uint64_t sizeMBytes = 0;
  int maxRate = 0;  // MT/s
  int ranks = 0;
  std::string channel;  // the channel this module sits on, empty when the slot does not say
  std::optional<SpdFacts> spd;
};

struct MemoryFacts {
  std::string type;
  uint64_t sizeMBytes = 0;
  int channels = 0;  // 0 = not known
  int configuredRate = 0;  // MT/s, 0 = not known
  std::optional<SpdTimings> timings;
  std::vector<ModuleFacts> modules;  // populated modules in slot order
};

struct SpdImage {
  std::string device;  // kernel's name, such as "0-0050"
  std::string bytes;
};

// The SPD EEPROMs the kernel's ee1004, spd5118 and eeprom drivers expose. Each read goes over
// the SMBus and takes tens of milliseconds, so the deadline is asked before every image.
std::vector<SpdImage> ReadSpdImages(const Root& root, const Deadline& deadline);

MemoryFacts CollectMemory(const Root& root, const SmbiosFacts& smbios, const std::vector<SpdImage>& spdImages);

// The channel rule. Each populated module gets a channel key from its slot's texts:
//  1. the bank locator, else the locator, holding "CHANNEL" and a name ("P0 CHANNEL A",
//     "ChannelB-DIMM1"): the name, with whatever names a socket or controller before it;
//  2. else a locator with a channel letter A-H right before the slot digit ("DIMM_A2", "A1");
//  3. else EDAC's "channel N" of its memory controller.
// Channels = the number of distinct keys, known only when every populated module has one;
// a single module is single channel whatever its slot says. DDR5's two sub-channels per module
// are not counted: a channel here is one the memory controller drives.
std::string ChannelOf(const std::string& locator, const std::string& bankLocator);

// "Single", "Dual", "Triple", "Quad", else the number.
std::string ChannelWord(int channels);

}  // namespace sysreport
