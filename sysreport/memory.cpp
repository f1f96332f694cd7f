#include "sysreport/memory.h"

#include <cctype>
#include <map>
#include <set>

#include "sysreport/jedec.h"
#include "sysreport/udev.h"

namespace sysreport {

namespace {

bool IsAlnum(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsSep(char c) { return c == ' ' || c == '_' || c == '-'; }

// "CHANNEL" then blanks, "_" or "-", then the channel's name: whatever names a socket or a
// controller before it ("P0 CHANNEL A", "Controller1-ChannelA") and the name.
std::string ChannelWordKey(const std::string& upper) {
  const size_t at = upper.find("CHANNEL");
  if (at == std::string::npos) return {};
  size_t p = at + 7;
  while (p < upper.size() && IsSep(upper[p])) ++p;
  size_t e = p;
  while (e < upper.size() && IsAlnum(upper[e]) && e - p < 4) ++e;
  if (e == p) return {};
  std::string before = upper.substr(0, at);
  const size_t dimm = before.find("DIMM");
  if (dimm != std::string::npos) before = before.substr(0, dimm);
  std::string key;
  for (char c : before)
    if (IsAlnum(c)) key += c;
  return key + "/" + upper.substr(p, e - p);
}

// "CONTROLLER0-DIMM1": the controller's number.
std::string ControllerKey(const std::string& u) {
  const size_t at = u.find("CONTROLLER");
  if (at == std::string::npos || u.find("DIMM") == std::string::npos) return {};
  size_t p = at + 10;
  while (p < u.size() && IsSep(u[p])) ++p;
  size_t e = p;
  while (e < u.size() && IsDigit(u[e]) && e - p < 3) ++e;
  return e == p ? std::string() : u.substr(p, e - p);
}

// A channel letter followed by the slot digit, as a word or right after "DIMM": "DIMM_A1",
// "DIMMB2", "A1". The position of the letter, npos when there is none.
size_t LetterDigitAt(const std::string& u) {
  for (size_t i = 0; i + 1 < u.size(); ++i) {
    const bool letter = u[i] >= 'A' && u[i] <= 'P';
    const bool digit = IsDigit(u[i + 1]);
    const bool startsWord = i == 0 || !IsAlnum(u[i - 1]) || (i >= 4 && u.compare(i - 4, 4, "DIMM") == 0);
    const bool endsWord = i + 2 >= u.size() || !IsAlnum(u[i + 2]);
    if (letter && digit && startsWord && endsWord) return i;
  }
  return std::string::npos;
}

// "CPU1_DIMM_A1", "P2-DIMMB1", "CPU2 DIMM C2": the socket ("CPU1", "P2") that starts the
// locator, and where the rest begins; empty when the locator does not start with one.
std::string SocketPrefix(const std::string& u, size_t* rest) {
  for (const char* word : {"CPU", "P"}) {
    if (!StartsWith(u, word)) continue;
    const size_t p = std::string(word).size();
    size_t e = p;
    while (e < u.size() && IsDigit(u[e]) && e - p < 2) ++e;
    if (e > p && e < u.size() && IsSep(u[e])) {
      *rest = e + 1;
      return word + u.substr(p, e - p);
    }
  }
  *rest = 0;
  return {};
}

// "DIMM A", "SODIMM B": a single letter after the word and nothing after it.
std::string LetterAlone(const std::string& u) {
  const size_t at = u.rfind("DIMM");
  if (at == std::string::npos) return {};
  size_t p = at + 4;
  if (p >= u.size() || !IsSep(u[p])) return {};
  while (p < u.size() && IsSep(u[p])) ++p;
  if (p + 1 == u.size() && u[p] >= 'A' && u[p] <= 'H') return std::string(1, u[p]);
  return {};
}

// "BANK 2": the number, -1 when the text is not that.
int BankNumber(const std::string& u) {
  if (!StartsWith(u, "BANK")) return -1;
  size_t p = 4;
  while (p < u.size() && IsSep(u[p])) ++p;
  if (p == u.size() || u.size() - p > 2) return -1;
  int n = 0;
  for (; p < u.size(); ++p) {
    if (!IsDigit(u[p])) return -1;
    n = n * 10 + (u[p] - '0');
  }
  return n;
}

bool SaysNothingAboutChannels(const std::string& u) {
  // "DIMM 0", "DIMM1", "SODIMM 1", "Slot 2", "Bottom - Slot 1 (left)": only a slot number and
  // where the slot sits (or nothing).
  std::string rest = u;
  for (const char* word : {"SODIMM", "DIMM", "SLOT", "BOTTOM", "TOP", "LEFT", "RIGHT"}) {
    for (size_t at = rest.find(word); at != std::string::npos; at = rest.find(word))
      rest.erase(at, std::string(word).size());
  }
  for (char c : rest)
    if (!IsDigit(c) && !IsSep(c) && c != '(' && c != ')') return false;
  return true;
}

int TypeMinimumRate(const std::string& type) {
  static const std::pair<const char*, int> kMinimum[] = {{"LPDDR5", 1600}, {"LPDDR4", 1600}, {"LPDDR3", 800},
                                                         {"DDR5", 3200},   {"DDR4", 1600},   {"DDR3", 800},
                                                         {"DDR2", 400}};
  for (const auto& [name, rate] : kMinimum)
    if (StartsWith(type, name)) return rate;
  return 0;
}

bool SameText(const std::string& a, const std::string& b) {
  return !a.empty() && Upper(Trim(a)) == Upper(Trim(b));
}

bool LowPower(const ModuleFacts& m) { return StartsWith(m.type, "LPDDR"); }

void AddSource(std::string* list, const std::string& source) {
  if (source.empty() || list->find(source) != std::string::npos) return;
  *list += (list->empty() ? "" : ", ") + source;
}

constexpr const char* kUdevDeviceSource = "udev database memory device";

// MemTotal of /proc/meminfo in KBytes; 0 when unreadable.
uint64_t MemTotalKBytes(const Root& root) {
  const std::optional<std::string> info = root.Read("/proc/meminfo", 16384);
  if (!info) return 0;
  const size_t at = info->find("MemTotal:");
  if (at == std::string::npos) return 0;
  try {
    const uint64_t kBytes = std::stoull(info->substr(at + 9));
    return kBytes < (uint64_t{1} << 44) ? kBytes : 0;
  } catch (...) {  // not a number: as if the line were not there
    return 0;
  }
}

// The size the kernel sees, in whole GBytes as MBytes (a machine's usable memory is a little less
// than what is fitted); 0 when unknown.
uint64_t MemTotalAsFittedMBytes(const Root& root) {
  const uint64_t kBytes = MemTotalKBytes(root);
  return (kBytes + 1024 * 1024 - 1) / (1024 * 1024) * 1024;
}

}  // namespace

std::string ChannelOf(const std::string& locator, const std::string& bankLocator) {
  const std::string loc = Upper(Trim(locator)), bank = Upper(Trim(bankLocator));
  for (const std::string& text : {bank, loc}) {
    const std::string key = ChannelWordKey(text);
    if (!key.empty()) return "channel:" + key;
  }
  for (const std::string& text : {loc, bank}) {
    const std::string key = ControllerKey(text);
    if (!key.empty()) return "controller:" + key;
  }
  size_t rest = 0;
  const std::string socket = SocketPrefix(loc, &rest);
  const size_t at = LetterDigitAt(loc.substr(rest));
  if (at != std::string::npos) {
    const char letter = loc[rest + at];
    if (!socket.empty()) return "socket:" + socket + "/" + letter;
    return std::string("letter:") + letter;
  }
  const std::string alone = LetterAlone(loc);
  if (!alone.empty()) return "letter:" + alone;
  const int n = BankNumber(bank);
  if (n >= 0 && SaysNothingAboutChannels(loc)) return "bank-pair:" + std::to_string(n / 2);
  return {};
}

int CountChannels(const std::vector<ModuleFacts>& modules, int slots) {
  if (modules.empty()) return 0;
  if (modules.size() == 1 && !LowPower(modules[0])) return 1;
  std::map<std::string, int> widthOf;  // key -> widest module on it
  std::map<std::string, int> modulesOn;
  std::string form;
  for (const ModuleFacts& m : modules) {
    if (m.channel.empty()) return 0;
    const std::string f = m.channel.substr(0, m.channel.find(':'));
    if (!form.empty() && f != form) return 0;  // two naming forms on one machine: cannot tell
    form = f;
    int& w = widthOf[m.channel];
    w = std::max(w, m.dataWidth);
    ++modulesOn[m.channel];
  }
  // Bank numbers say a channel only when each pair holds one module. A letter that more than two
  // modules share is no channel (some servers name the socket by the letter: "A1" to "A12").
  // Two modules in a board's only two slots, or in two slots of the same name ("DIMM0" on BANK 0
  // and on BANK 1: slot 0 of each channel), sit on two channels whatever their bank numbers.
  if (form == "bank-pair" && modules.size() == 2 &&
      (slots == 2 || SameText(modules[0].locator, modules[1].locator))) {
    const int a = BankNumber(Upper(Trim(modules[0].bankLocator)));
    const int b = BankNumber(Upper(Trim(modules[1].bankLocator)));
    return a != b ? 2 : 0;
  }
  for (const auto& [key, n] : modulesOn) {
    if (form == "bank-pair" && n > 1) return 0;
    if ((form == "letter" || form == "socket") && n > 2) return 0;
  }
  bool lowPower = false;
  for (const ModuleFacts& m : modules) lowPower = lowPower || LowPower(m);
  if (!lowPower) return static_cast<int>(widthOf.size());
  // Soldered LPDDR: narrow channels, counted as the 64-bit channels their widths add up to.
  int bits = 0;
  for (const auto& [key, w] : widthOf) {
    if (w <= 0) return 0;
    bits += w;
  }
  return std::max(1, bits / 64);
}

std::string ChannelWord(int channels) {
  switch (channels) {
    case 1:
      return "Single";
    case 2:
      return "Dual";
    case 3:
      return "Triple";
    case 4:
      return "Quad";
    default:
      return std::to_string(channels);
  }
}

int ConfiguredRate(int field, int rated, const std::vector<int>& spdRates, const std::string& type,
                   int version) {
  if (field <= 0) return 0;
  if (version >= 301) return field;  // MT/s by definition
  std::vector<int> known = spdRates;
  if (rated > 0) known.push_back(rated);
  for (int k : known)
    if (SameRate(k, field)) return field;
  for (int k : known)
    if (SameRate(k, 2 * field)) return 2 * field;
  const int minimum = TypeMinimumRate(type);
  if (minimum > 0 && field < minimum * 99 / 100 && 2 * field >= minimum * 99 / 100) return 2 * field;
  return field;
}

std::vector<SpdImage> ReadSpdImages(const Root& root, const Deadline& deadline) {
  std::vector<SpdImage> images;
  for (const char* driver : {"ee1004", "spd5118", "eeprom"}) {
    const std::string base = std::string("/sys/bus/i2c/drivers/") + driver;
    for (const std::string& device : root.List(base)) {
      if (device.find('-') == std::string::npos) continue;  // bind, unbind, module, uevent
      if (deadline.Passed()) return images;
      const std::optional<std::string> bytes = root.Read(base + "/" + device + "/eeprom", 2048);
      if (bytes && DecodeSpd(*bytes)) images.push_back({device, *bytes});
      if (images.size() >= 16) return images;
    }
  }
  return images;
}

namespace {

// The SPD images that decode, each with its device and whether a slot has taken it.
struct DecodedSpds {
  std::vector<SpdFacts> facts;
  std::vector<std::string> devices;
  std::vector<bool> used;
};

DecodedSpds DecodeSpdImages(const std::vector<SpdImage>& images) {
  DecodedSpds spds;
  for (const SpdImage& image : images) {
    if (std::optional<SpdFacts> f = DecodeSpd(image.bytes)) {
      spds.facts.push_back(*f);
      spds.devices.push_back(image.device);
    }
  }
  spds.used.assign(spds.facts.size(), false);
  return spds;
}

// The memory devices: the firmware's table when we could read it, else udev's copy of them.
struct MemoryDevices {
  std::vector<SmbiosMemoryDevice> devices;
  std::string source = "SMBIOS memory device";
};

MemoryDevices ReadMemoryDevices(const Root& root, const SmbiosFacts& smbios) {
  MemoryDevices found;
  found.devices = smbios.memoryDevices;
  if (found.devices.empty()) {
    const UdevMemory udev = ReadUdevMemory(root);
    if (udev.present) {
      found.devices = udev.devices;
      found.source = kUdevDeviceSource;
    }
  }
  return found;
}

// The SPD image a slot takes: the one with its serial, else its part number, else the next unused
// one; -1 when none is left.
int PickSpd(const DecodedSpds& spds, const SmbiosMemoryDevice& d) {
  for (size_t i = 0; i < spds.facts.size(); ++i)
    if (!spds.used[i] && SameText(spds.facts[i].serial, d.serial)) return static_cast<int>(i);
  for (size_t i = 0; i < spds.facts.size(); ++i)
    if (!spds.used[i] && SameText(spds.facts[i].part, d.partNumber)) return static_cast<int>(i);
  for (size_t i = 0; i < spds.facts.size(); ++i)
    if (!spds.used[i]) return static_cast<int>(i);
  return -1;
}

// The populated slots, each with its SPD image; the first configured speed and its rating.
void AddSlotModules(const MemoryDevices& found, DecodedSpds& spds, MemoryFacts* m, int* fieldRate,
                    int* ratedRate) {
  for (const SmbiosMemoryDevice& d : found.devices) {
    if (!d.sizeKnown || d.sizeMBytes == 0) continue;
    ModuleFacts mod;
    mod.source = found.source;
    mod.locator = d.locator;
    mod.bankLocator = d.bankLocator;
    mod.type = d.type;
    mod.format = d.formFactor;
    mod.maker = !d.moduleMaker.empty() ? d.moduleMaker : MakerFromSmbiosText(d.manufacturer);
    mod.part = d.partNumber;
    mod.serial = d.serial;
    mod.sizeMBytes = d.sizeMBytes;
    mod.maxRate = static_cast<int>(d.speed);
    mod.ranks = d.ranks;
    mod.dataWidth = d.dataWidth;
    mod.channel = ChannelOf(d.locator, d.bankLocator);
    if (const int pick = PickSpd(spds, d); pick >= 0) {
      spds.used[pick] = true;
      mod.spd = spds.facts[pick];
      mod.source = "module EEPROM " + spds.devices[pick] + ", " + found.source;
    }
    if (*fieldRate == 0 && d.configuredSpeed > 0) {
      *fieldRate = static_cast<int>(d.configuredSpeed);
      *ratedRate = static_cast<int>(d.speed);
    }
    m->modules.push_back(mod);
  }
  if (!m->modules.empty())
    AddSource(&m->sources, found.source == "SMBIOS memory device" ? "SMBIOS table" : "udev database");
}

// SPD images with no slot to go with (neither the table nor udev readable).
void AddModulesWithoutSlot(const DecodedSpds& spds, MemoryFacts* m) {
  for (size_t i = 0; i < spds.facts.size(); ++i) {
    if (spds.used[i]) continue;
    ModuleFacts mod;
    mod.source = "module EEPROM " + spds.devices[i];
    mod.spd = spds.facts[i];
    m->modules.push_back(mod);
  }
}

// SPD facts where readable override what the firmware's table says about the module.
void ApplySpdFacts(MemoryFacts* m) {
  for (ModuleFacts& mod : m->modules) {
    if (!mod.spd) continue;
    AddSource(&m->sources, "SPD EEPROM");
    const SpdFacts& s = *mod.spd;
    mod.type = s.type;
    if (!s.format.empty()) mod.format = s.format;
    // An SPD without a maker code (0, or the continuation byte alone) leaves the firmware's.
    const int code = s.makerCode & 0x7F;
    if (code != 0 && code != 0x7F) mod.maker = JedecMakerName(s.makerCode);
    if (!s.part.empty()) mod.part = s.part;
    mod.serial = s.serial;
    if (s.sizeMBytes) mod.sizeMBytes = s.sizeMBytes;
    mod.maxRate = s.maxRate;
    mod.ranks = s.ranks;
    mod.madeWeek = s.madeWeek;
  }
}

// EDAC, where a memory controller driver is loaded, knows sizes, kinds and channels.
void AddEdacModules(const Root& root, MemoryFacts* m) {
  for (const std::string& mc : root.List("/sys/devices/system/edac/mc")) {
    if (!StartsWith(mc, "mc")) continue;
    const std::string base = "/sys/devices/system/edac/mc/" + mc;
    for (const std::string& dimm : root.List(base)) {
      if (!StartsWith(dimm, "dimm") && !StartsWith(dimm, "rank")) continue;
      const std::string dir = base + "/" + dimm + "/";
      uint64_t size = 0;
      try {
        size = std::stoull(root.Attribute(dir + "size"));
      } catch (...) {
        // no size: the entry is skipped just below
      }
      if (size == 0 || size > (uint64_t{1} << 24)) continue;
      ModuleFacts mod;
      mod.source = "EDAC " + mc + "/" + dimm;
      mod.sizeMBytes = size;
      const std::string kind = Upper(root.Attribute(dir + "dimm_mem_type"));
      for (const char* t : {"LPDDR5", "LPDDR4", "DDR5", "DDR4", "DDR3", "DDR2"}) {
        if (kind.find(t) != std::string::npos) {
          mod.type = t;
          break;
        }
      }
      if (kind.find("UNBUFFERED") != std::string::npos)
        mod.format = "UDIMM";
      else if (kind.find("REGISTERED") != std::string::npos)
        mod.format = "RDIMM";
      mod.locator = root.Attribute(dir + "dimm_label");
      const std::string key = ChannelWordKey(Upper(root.Attribute(dir + "dimm_location")));
      if (!key.empty()) mod.channel = "edac:" + mc + "/" + key;
      m->modules.push_back(mod);
      AddSource(&m->sources, "EDAC");
    }
  }
}

// No source knows the modules: the kernel still knows how much memory there is.
void SizeFromMeminfo(const Root& root, MemoryFacts* m) {
  m->sizeMBytes = MemTotalAsFittedMBytes(root);
  if (m->sizeMBytes > 0) AddSource(&m->sources, "/proc/meminfo (size only)");
}

// udevd keeps at most 16 KBytes of the firmware's entry, so on a machine with many modules the
// last ones are cut off: when the modules add up to less than the kernel sees, the size comes from
// the kernel and the channels are left unknown rather than counted from a part.
void CutUdevEntry(const Root& root, const MemoryDevices& found, MemoryFacts* m) {
  if (found.source != kUdevDeviceSource || m->modules.empty()) return;
  if (MemTotalKBytes(root) <= m->sizeMBytes * 1024) return;
  m->sizeMBytes = MemTotalAsFittedMBytes(root);
  m->channels = 0;
  AddSource(&m->sources, "/proc/meminfo (size, the udev database entry is cut short)");
}

// The configured speed, reconciled with what the modules are rated for; the timings as the board
// runs them: a profile at the configured speed, else the JEDEC grade.
void SpeedAndTimings(int fieldRate, int ratedRate, int smbiosVersion, MemoryFacts* m) {
  std::vector<int> spdRates;
  for (const ModuleFacts& mod : m->modules) {
    if (!mod.spd) continue;
    spdRates.push_back(mod.spd->maxRate);
    for (const SpdProfile& p : mod.spd->profiles) spdRates.push_back(p.rate);
  }
  m->configuredRate = ConfiguredRate(fieldRate, ratedRate, spdRates, m->type, smbiosVersion);
  for (const ModuleFacts& mod : m->modules) {
    if (mod.spd && m->configuredRate > 0) {
      m->timings = TimingsAsRun(*mod.spd, m->configuredRate, &m->timingsSource);
      break;
    }
  }
}

}  // namespace

MemoryFacts CollectMemory(const Root& root, const SmbiosFacts& smbios,
                          const std::vector<SpdImage>& spdImages) {
  MemoryFacts m;
  DecodedSpds spds = DecodeSpdImages(spdImages);
  const MemoryDevices found = ReadMemoryDevices(root, smbios);

  int fieldRate = 0, ratedRate = 0;
  AddSlotModules(found, spds, &m, &fieldRate, &ratedRate);
  AddModulesWithoutSlot(spds, &m);
  ApplySpdFacts(&m);
  if (m.modules.empty()) AddEdacModules(root, &m);

  for (const ModuleFacts& mod : m.modules) {
    m.sizeMBytes += mod.sizeMBytes;
    if (m.type.empty()) m.type = mod.type;
  }
  m.channels = CountChannels(m.modules, static_cast<int>(found.devices.size()));
  if (m.sizeMBytes == 0) SizeFromMeminfo(root, &m);
  CutUdevEntry(root, found, &m);
  SpeedAndTimings(fieldRate, ratedRate, smbios.version, &m);

  // Told only when the table is there and root's alone, not where a machine has none.
  const bool anyModuleSource = !found.devices.empty() || !spds.facts.empty() || !m.modules.empty();
  const char* table = "/sys/firmware/dmi/tables/DMI";
  m.restricted = !smbios.present && !anyModuleSource && root.Exists(table) && !root.Read(table, 1);
  return m;
}

}  // namespace sysreport
