#include "sysreport/memory.h"

#include <cctype>
#include <set>

namespace sysreport {

namespace {

bool IsAlnum(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; }

// "CHANNEL" then blanks, "_" or "-", then the channel's name: the text up to that name.
std::string ChannelKeyAt(const std::string& upper, size_t at) {
  size_t p = at + 7;
  while (p < upper.size() && (upper[p] == ' ' || upper[p] == '_' || upper[p] == '-')) ++p;
  size_t e = p;
  while (e < upper.size() && IsAlnum(upper[e]) && e - p < 4) ++e;
  if (e == p) return {};
  // A controller or socket named before the channel ("P0 CHANNEL A") keeps channels of
  // different controllers apart.
  std::string before = upper.substr(0, at);
  const size_t dimm = before.find("DIMM");
  if (dimm != std::string::npos) before = before.substr(0, dimm);
  std::string key;
  for (char c : before)
    if (IsAlnum(c)) key += c;
  return key + "CH" + upper.substr(p, e - p);
}

std::string SpdMaker(const SpdFacts& spd) { return JedecMakerName(spd.makerCode); }

bool SameText(const std::string& a, const std::string& b) {
  return !a.empty() && Upper(Trim(a)) == Upper(Trim(b));
}

}  // namespace

std::string ChannelOf(const std::string& locator, const std::string& bankLocator) {
  for (const std::string& text : {bankLocator, locator}) {
    const std::string u = Upper(text);
    const size_t at = u.find("CHANNEL");
    if (at != std::string::npos) {
      const std::string key = ChannelKeyAt(u, at);
      if (!key.empty()) return key;
    }
  }
  // "DIMM_A1", "DIMMB2", "DIMM A0", "A1_DIMM0": a channel letter followed by the slot digit.
  const std::string u = Upper(locator);
  for (size_t i = 0; i + 1 < u.size(); ++i) {
    const bool letter = u[i] >= 'A' && u[i] <= 'H';
    const bool digit = std::isdigit(static_cast<unsigned char>(u[i + 1])) != 0;
    const bool startsWord = i == 0 || !IsAlnum(u[i - 1]) || (i >= 4 && u.compare(i - 4, 4, "DIMM") == 0);
    const bool endsWord = i + 2 >= u.size() || !IsAlnum(u[i + 2]);
    if (letter && digit && startsWord && endsWord) return std::string("CH") + u[i];
  }
  return {};
}

std::string ChannelWord(int channels) {
  switch (channels) {
    case 1: return "Single";
    case 2: return "Dual";
    case 3: return "Triple";
    case 4: return "Quad";
    default: return std::to_string(channels);
  }
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

MemoryFacts CollectMemory(const Root& root, const SmbiosFacts& smbios, const std::vector<SpdImage>& spdImages) {
  MemoryFacts m;
  std::vector<SpdFacts> spds;
  std::vector<std::string> spdDevices;
  for (const SpdImage& image : spdImages) {
    if (std::optional<SpdFacts> f = DecodeSpd(image.bytes)) {
      spds.push_back(*f);
      spdDevices.push_back(image.device);
    }
  }
  std::vector<bool> spdUsed(spds.size(), false);

  // Populated SMBIOS slots first; each takes the SPD image with its serial, else its part
  // number, else the next unused one.
  for (const SmbiosMemoryDevice& d : smbios.memoryDevices) {
    if (!d.sizeKnown || d.sizeMBytes == 0) continue;
    ModuleFacts mod;
    mod.source = "SMBIOS memory device";
    mod.locator = d.locator;
    mod.bankLocator = d.bankLocator;
    mod.type = d.type;
    mod.format = d.formFactor;
    mod.maker = d.manufacturer;
    mod.part = d.partNumber;
    mod.serial = d.serial;
    mod.sizeMBytes = d.sizeMBytes;
    mod.maxRate = static_cast<int>(d.speed);
    mod.ranks = d.ranks;
    mod.channel = ChannelOf(d.locator, d.bankLocator);
    int pick = -1;
    for (size_t i = 0; i < spds.size() && pick < 0; ++i)
      if (!spdUsed[i] && SameText(spds[i].serial, d.serial)) pick = static_cast<int>(i);
    for (size_t i = 0; i < spds.size() && pick < 0; ++i)
      if (!spdUsed[i] && SameText(spds[i].part, d.partNumber)) pick = static_cast<int>(i);
    for (size_t i = 0; i < spds.size() && pick < 0; ++i)
      if (!spdUsed[i]) pick = static_cast<int>(i);
    if (pick >= 0) {
      spdUsed[pick] = true;
      mod.spd = spds[pick];
      mod.source = "module EEPROM " + spdDevices[pick] + ", SMBIOS memory device";
    }
    if (m.configuredRate == 0 && d.configuredSpeed > 0) m.configuredRate = static_cast<int>(d.configuredSpeed);
    m.modules.push_back(mod);
  }
  // SPD images with no SMBIOS slot to go with (tables not readable).
  for (size_t i = 0; i < spds.size(); ++i) {
    if (spdUsed[i]) continue;
    ModuleFacts mod;
    mod.source = "module EEPROM " + spdDevices[i];
    mod.spd = spds[i];
    m.modules.push_back(mod);
  }
  // SPD facts where readable override what the firmware's table says about the module.
  for (ModuleFacts& mod : m.modules) {
    if (!mod.spd) continue;
    const SpdFacts& s = *mod.spd;
    mod.type = s.type;
    if (!s.format.empty()) mod.format = s.format;
    mod.maker = SpdMaker(s);
    if (!s.part.empty()) mod.part = s.part;
    mod.serial = s.serial;
    if (s.sizeMBytes) mod.sizeMBytes = s.sizeMBytes;
    mod.maxRate = s.maxRate;
    mod.ranks = s.ranks;
    mod.madeWeek = s.madeWeek;
  }
  // EDAC, where a memory controller driver is loaded, knows sizes, kinds and channels.
  if (m.modules.empty()) {
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
        }
        if (size == 0) continue;
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
        if (kind.find("UNBUFFERED") != std::string::npos) mod.format = "UDIMM";
        else if (kind.find("REGISTERED") != std::string::npos) mod.format = "RDIMM";
        mod.locator = root.Attribute(dir + "dimm_label");
        const std::string location = root.Attribute(dir + "dimm_location");
        const std::string u = Upper(location);
        const size_t at = u.find("CHANNEL");
        if (at != std::string::npos) mod.channel = mc + ChannelKeyAt(u, at);
        m.modules.push_back(mod);
      }
    }
  }

  std::set<std::string> channels;
  bool everyChannelKnown = !m.modules.empty();
  for (const ModuleFacts& mod : m.modules) {
    m.sizeMBytes += mod.sizeMBytes;
    if (m.type.empty()) m.type = mod.type;
    if (mod.channel.empty()) everyChannelKnown = false;
    else channels.insert(mod.channel);
  }
  if (m.modules.size() == 1) m.channels = 1;
  else if (everyChannelKnown) m.channels = static_cast<int>(channels.size());

  // Timings: the SPD's minimum times at the speed the board runs the memory.
  for (const ModuleFacts& mod : m.modules) {
    if (mod.spd && m.configuredRate > 0) {
      m.timings = TimingsAt(*mod.spd, m.configuredRate);
      break;
    }
  }
  return m;
}

}  // namespace sysreport
