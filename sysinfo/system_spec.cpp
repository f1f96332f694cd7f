#include "sysinfo/system_spec.h"

#include <openssl/evp.h>

#include <array>
#include <charconv>
#include <cmath>
#include <utility>

#include "sysinfo/report_keys.h"
#include "sysinfo/text.h"

namespace sysinfo {
namespace {

// The fixed chain that turns a composed report line into KEY: VALUE form. Row 1 (SPD + slot
// suffix), row 30 (a blank appended first) and row 35 (slot digit) depend on the pass and are
// applied around this table.
const std::array<std::pair<const char*, const char*>, 28> kRowsAfterSpd = {{
    {"--", " "},
    {";", " "},
    {"=", " "},
    {"<", " "},
    {">", " "},
    {"\\", "."},
    {": : :", ": "},
    {": :", ": "},
    {"CPU-Z version ", "CPU-Z version: "},
    {"_", " "},
    {" : ", ": "},
    {"., ", ". "},
    {"unknown", "Unknown"},
    {"Processors Information ", "PI_"},
    {"Processors Map ", "PM_"},
    {"Memory SPD", "MEM_"},
    {"Chipset ", "CHIP_"},
    {"Hardware monitor ", "HWM_"},
    {"DMI: ", "DMI_"},
    {"DMI ", "DMI_"},
    {"Software ", "SW_"},
    {"Voltage ", "V"},
    {"Temperature ", "T"},
    {"Fan ", "F"},
    {" VCore)", " VCORE)"},
    {"PCI-Express", "PCIe"},
    {"http://", " "},
    {"://", " "},
}};

const std::array<std::pair<const char*, const char*>, 4> kRowsAfterSlash = {{
    {"_: : ", "_"},
    {"::", ": "},
    {"Processors Information: ", "PI_"},
    {"Hardware Monitors: ", "Hardware_Monitors_"},
}};

// Lines holding any of these say nothing the program reads.
const std::array<const char*, 19> kDropped = {
    " Connector:", " List:",       "Thread ",       "DIMM #: : ",    "Hardware Monitors ",
    "LPCIO",       "MCHBAR",       "Slot:",         "APICs",         "Monitoring Vendor",
    "Enclosure",   " 00 00 ",      " FF FF ",       " 00 FF ",       "ACPI: ",
    "PCI Device ", "PCI Device: ", "PCI_DEVICES: ", "Processors Map"};

constexpr size_t kValueWindow = 99;  // from the blank after the colon: 98 value characters

std::string TakeLine(const SystemSpec& spec, const std::string& key, int n) {
  if (spec.lines.empty() || n < 1) return kAbsent;
  const std::string upperKey = UpperAscii(key);
  int count = 0;
  for (const std::string& line : spec.lines) {
    if (!Contains(UpperAscii(line), upperKey)) continue;
    if (count != n) ++count;
    if (count == n) return line;
  }
  return kAbsent;
}

std::string CleanValue(const std::string& line, const std::string& key) {
  std::string s = ReplaceAll(line, key, " ");
  s = CollapseBlanks(Trim(ReplaceAll(s, "\"", " ")));
  s = CollapseBlanks(Trim(ReplaceAll(s, ":", " ")));
  if (Trim(s).empty()) return kUnknown;
  return s;
}

std::string Lookup(const SystemSpec& spec, const std::string& key, int n) {
  const std::string line = TakeLine(spec, key, n);
  if (line == kAbsent) return kAbsent;
  return CleanValue(line, key);
}

}  // namespace

std::vector<std::string> ConvertReport(const std::vector<std::string>& reportLines) {
  std::vector<std::string> out;
  const size_t n = reportLines.size();
  if (n < 3) return out;
  std::string section, slotDigit, slotSuffix;
  for (size_t i = 0; i + 2 < n; ++i) {
    std::string probe = ReplaceAll(ReplaceAll(reportLines[i], "\t", ": "), "\"", " ") + "##";
    for (char d = '0'; d <= '5'; ++d)
      if (Contains(probe, std::string("DIMM") + d)) slotDigit = std::string(1, d);
    if (Contains(probe, "DIMM #")) slotSuffix = ReplaceAll(probe, "DIMM #", "");
    if (i > 0 && Contains(probe, "--")) section = Trim(ReplaceAll(reportLines[i - 1], "\t", ": "));

    std::string w = section + "_" + ReplaceAll(reportLines[i + 2], "\t", ": ");
    w = ReplaceAll(w, "SPD", "SPD" + slotSuffix);
    for (const auto& [search, replacement] : kRowsAfterSpd) w = ReplaceAll(w, search, replacement);
    w = ReplaceAll(w + " ", "/ ", " ");
    for (const auto& [search, replacement] : kRowsAfterSlash) w = ReplaceAll(w, search, replacement);
    w = ReplaceAll(w, "DMI_Memory Device: size:", "DMI_Memory Module: size" + slotDigit + ":");
    w = Trim(CollapseBlanks(w)) + " ";

    const size_t colon = w.find(": ");
    if (colon == std::string::npos || w[0] == ':') continue;
    bool dropped = false;
    for (const char* text : kDropped) dropped = dropped || Contains(w, text);
    if (dropped) continue;

    const std::string key = Trim(ReplaceAll(UpperAscii(w.substr(0, colon + 1)), " ", "_"));
    const std::string value = Trim(w.substr(colon + 1, kValueWindow));
    out.push_back(key + " \"" + value + "\"");
  }
  return out;
}

bool IsHardwareReport(const SystemSpec& spec) {
  for (const std::string& line : spec.lines)
    if (line.rfind("PI_", 0) == 0) return true;
  return false;
}

std::string SpecValue(const SystemSpec& spec, const std::string& key) { return Lookup(spec, key, 1); }

std::string SpecValueNth(const SystemSpec& spec, const std::string& key, int n) {
  return Lookup(spec, key, n);
}

double MemoryClock(const SystemSpec& spec) {
  std::string f = SpecValue(spec, kReportKeys.memoryFrequency);
  f = RemoveBlanks(ReplaceAll(UpperAscii(StripParentheses(f)), "MHZ", ""));
  const std::string t = ReplaceAll(ReplaceAll("0" + f, ".", ""), ",", "");
  // Only plain digits are a number here; anything else leaves the clock unknown.
  for (char c : t)
    if (c < '0' || c > '9') return 0;
  double number = 0;
  const auto parsed = std::from_chars(t.data(), t.data() + t.size(), number);
  if (parsed.ec != std::errc() || parsed.ptr != t.data() + t.size()) return 0;
  if (!std::isfinite(number) || number > 1e15) return 0;  // keeps the 64-bit steps exact
  const long long a = static_cast<long long>(std::nearbyint(number)) * 2;
  return std::nearbyint(static_cast<double>(a) / 10.0) + 1;
}

std::string Md5HexUpper(const std::string& bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_md5(), nullptr) != 1 || length != 16)
    return {};
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned int i = 0; i < length; ++i) {
    out.push_back(kHex[digest[i] >> 4]);
    out.push_back(kHex[digest[i] & 15]);
  }
  return out;
}

std::string MachineIdHash(const SystemSpec& spec) {
  const std::string storage = std::string("STORAGE: ") + "\"" + "Serial: ";
  std::string text = SpecValueNth(spec, storage, 1) + SpecValueNth(spec, storage, 2) +
                     SpecValueNth(spec, "DMI_CHASSIS_SERIAL: ", 1);
  for (int slot = 1; slot <= 4; ++slot)
    text += SpecValueNth(spec, "MEM_" + std::to_string(slot) + "##: \"Serial number: ", 1);
  text += SpecValueNth(spec, "DMI_VENDOR: ", 1);
  return Md5HexUpper(RemoveBlanks(text));
}

}  // namespace sysinfo
