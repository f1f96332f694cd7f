// Installed memory and its modules. Sources per fact, each used where the better one says nothing:
// the SMBIOS memory devices from the firmware's table (root only), else the same devices as
// systemd-udevd's database keeps them (every user), then the SPD EEPROMs the kernel exposes
// (timings, JEDEC maker codes, serials, overclocking profiles) and EDAC; the size from
// /proc/meminfo when no source knows the modules.
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
  int dataWidth = 0;    // bits, 0 = not known
  std::string channel;  // the channel key of the slot (see ChannelOf), empty when the slot does not say
  std::optional<SpdFacts> spd;
};

struct MemoryFacts {
  std::string type;
  uint64_t sizeMBytes = 0;
  int channels = 0;        // 64-bit channels, 0 = not known
  int configuredRate = 0;  // MT/s, 0 = not known
  std::optional<SpdTimings> timings;
  std::string sources;        // the sources the facts came from, as the report names them
  std::string timingsSource;  // "XMP 2.0 profile 1", "EXPO profile 1", "JEDEC"
  // The firmware's table exists but only root may read it, and nothing else readable describes
  // the modules: the user is told why type, clock and channels are missing.
  bool restricted = false;
  std::vector<ModuleFacts> modules;  // populated modules in slot order
};

struct SpdImage {
  std::string device;  // kernel's name, such as "0-0050"
  std::string bytes;
};

// The SPD EEPROMs the kernel's ee1004, spd5118 and eeprom drivers expose. Each read goes over
// the SMBus and takes tens of milliseconds, so the deadline is asked before every image.
std::vector<SpdImage> ReadSpdImages(const Root& root, const Deadline& deadline);

MemoryFacts CollectMemory(const Root& root, const SmbiosFacts& smbios,
                          const std::vector<SpdImage>& spdImages);

// The channel rule: a table of the ways firmware names memory slots, tried in this order on the
// slot's locator and bank locator (letters compared in upper case):
//
//  form            | examples                                        | channel key
//  ----------------+-------------------------------------------------+------------------------------
//  channel word    | "ChannelA-DIMM0", "P0 CHANNEL A" (bank),        | what names the socket or
//                  | "Controller0-ChannelA-DIMM0",                   | controller before "CHANNEL",
//                  | "P0_Node0_Channel0_Dimm0" (bank)                | and the channel's name
//  controller      | "Controller0-DIMM1", "Controller1-DIMM1"        | the controller (DDR5 boards
//                  |                                                 | with one channel each)
//  socket + letter | "CPU1_DIMM_A1", "P2-DIMMB1", "CPU2 DIMM C2"     | socket and letter
//  letter + digit  | "DIMM_A1", "DIMM_B2", "DIMMA2", "A1", "B2"      | the letter
//  letter alone    | "DIMM A", "DIMM B", "SODIMM A"                  | the letter
//  bank pairs      | "DIMM 0" + "BANK 0", "DIMM 1" + "BANK 2"        | bank number / 2 (two slots
//                  |                                                 | per channel), only when no two
//                  |                                                 | modules share a pair
//  EDAC            | "channel 1 slot 0" (EDAC dimm_location)         | controller and channel
//
// The key starts with the form's name, so slots named in different forms never count as one
// channel. Channels are known only when every populated module has a key of one form; else the
// count is left out, never guessed. A single DIMM is one channel whatever its slot says. A letter
// that more than two modules share is no channel (servers that name the socket by the letter,
// "A1" to "A12"), and bank pairs count only when no two modules share one.
//
// A channel here is 64 bits wide, as the reference ranges and the uploaded results count them:
// a DDR5 DIMM's two 32-bit subchannels are one channel ("Dual" for two DIMMs on two channels,
// the word DDR4 desktops use), and soldered LPDDR memory counts its devices' data widths in
// 64-bit channels (eight 16-bit LPDDR5 channels are "Dual").
std::string ChannelOf(const std::string& locator, const std::string& bankLocator);

// The number of 64-bit channels the modules use, 0 when it cannot be told.
// slots: the memory devices the firmware lists, filled or not (0: not known).
int CountChannels(const std::vector<ModuleFacts>& modules, int slots = 0);

// "Single", "Dual", "Triple", "Quad", else the number.
std::string ChannelWord(int channels);

// The configured speed in MT/s from the firmware's Configured Memory Speed field. Before SMBIOS
// 3.1 that field was a clock in MHz, and firmware of that age writes either half the transfer
// rate or the rate itself; the reading that matches the module's rated speed or one of its SPD
// speeds wins, and a value below the memory type's slowest transfer rate is taken as half of it.
// version: SMBIOS major * 100 + minor, 0 when not known (the udev database does not tell).
int ConfiguredRate(int fieldValue, int ratedRate, const std::vector<int>& spdRates, const std::string& type,
                   int version);

}  // namespace sysreport
