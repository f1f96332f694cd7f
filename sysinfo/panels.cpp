#include "sysinfo/panels.h"

#include <cmath>
#include <string>

#include "sysinfo/report_keys.h"
#include "sysinfo/text.h"

namespace sysinfo {
namespace {

std::string Clean(const std::string& text) { return CollapseBlanks(StripParentheses(text)); }

std::string Delete(const std::string& text, const char* what) {
  return CollapseBlanks(ReplaceAll(text, what, ""));
}

}  // namespace

std::string ComposeOsp(const SystemSpec& spec) {
  std::string s = Clean(SpecValue(spec, kReportKeys.windowsVersion));
  s = CollapseBlanks(ReplaceAll(s, "Service Pack", "SP"));
  s = Delete(s, "Premium");
  s = Delete(s, "Edition");
  s = CollapseBlanks(ReplaceAll(s, "Microsoft", "MS "));
  if (SpecValue(spec, "Virtualization") != kAbsent) s += " (VM)";
  return s;
}

std::string ComposeCpup(const SystemSpec& spec) {
  std::string s = Clean(SpecValue(spec, kReportKeys.processor));
  s = Delete(s, "CPU");
  return Delete(s, "Processor");
}

std::string ComposeCpuCores(const SystemSpec& spec) {
  return Trim(Delete(Clean(SpecValue(spec, kReportKeys.threads)), kReportKeys.threads));
}

std::string ComposeCpuClock(const SystemSpec& spec) {
  return ClockText(Clean(SpecValue(spec, kReportKeys.coreSpeed))) + " MHz";
}

std::string ComposeRamp(const SystemSpec& spec, double memoryClock) {
  const std::string size = ReplaceAll(SpecValue(spec, "CHIP_MEMORY_SIZE: "), "GBytes", "GB");
  const std::string rest =
      StripParentheses(SpecValue(spec, kReportKeys.memoryType) + " - " + ShortestNumberText(memoryClock) +
                       " MHz - " + SpecValue(spec, kReportKeys.channels) + " Channel");
  return CollapseBlanks(size + " - " + rest);
}

std::string ComposeRamTimings(const SystemSpec& spec) {
  const std::string cl = ReplaceAll(SpecValue(spec, "CHIP_CAS#_LATENCY_(CL)"), ".0", "");
  return CollapseBlanks(cl + "-" + SpecValue(spec, "CHIP_RAS#_TO_CAS#_DELAY_(TRCD)") + "-" +
                        SpecValue(spec, "CHIP_RAS#_PRECHARGE_(TRP)") + "-" +
                        SpecValue(spec, "CHIP_CYCLE_TIME_(TRAS)") + "-" +
                        SpecValue(spec, "CHIP_ROW_REFRESH_CYCLE_TIME_(TRFC)") + "-" +
                        SpecValue(spec, "CHIP_COMMAND_RATE_(CR)") + " (TRCD-TRP-TRAS-TRFC-CR)");
}

std::string ComposeModule(const SystemSpec& spec, int slot) {
  const std::string block = "MEM_" + std::to_string(slot) + "##: \"";
  const std::string maker = StripParentheses(SpecValue(spec, block + "Module Manufacturer(ID): "));
  const std::string part = StripParentheses(SpecValue(spec, block + "Part number: "));
  return CollapseBlanks(maker + " - " + part);
}

std::string ComposeMainboard(const SystemSpec& spec) {
  const std::string vendor = StripParentheses(SpecValueNth(spec, "DMI_VENDOR: ", 2));
  const std::string model = StripParentheses(SpecValue(spec, "DMI_MODEL: "));
  const std::string revision = StripParentheses(SpecValue(spec, "DMI_VERSION: "));
  return CollapseBlanks(TitleCaseWords(vendor + " - " + model + " - " + revision));
}

PanelTexts ComposePanels(const SystemSpec& spec, double memoryClock) {
  PanelTexts p;
  p.osp = ComposeOsp(spec);
  p.cpup = ComposeCpup(spec);
  p.cpucores = ComposeCpuCores(spec);
  p.cpuclockp = ComposeCpuClock(spec);
  p.ramp = ComposeRamp(spec, memoryClock);
  p.ramtimip = ComposeRamTimings(spec);
  for (int slot = 1; slot <= 4; ++slot) p.modules[slot - 1] = ComposeModule(spec, slot);
  p.mainbp = ComposeMainboard(spec);
  return p;
}

std::string MemoryNotice(const SystemSpec& spec) {
  if (SpecValue(spec, kReportKeys.memoryAccess) == kAbsent) return {};
  return "Memory type, clock, channels and modules are unknown: the firmware's memory table "
         "(/sys/firmware/dmi/tables/DMI) is readable only by root, udev keeps no copy of it "
         "(/run/udev/data/+dmi:id, systemd 248 or later), and no module SPD EEPROM is readable "
         "(kernel modules ee1004, spd5118). Upload and compare need these facts; run as root, they are read.";
}

std::string TitleCaseWords(std::string_view text) {
  std::string out(text);
  for (size_t i = 0; i < out.size(); ++i) {
    char& c = out[i];
    const bool wordStart = i == 0 || out[i - 1] == ' ';
    if (wordStart && c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (!wordStart && c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

std::string ClockText(std::string_view text) {
  std::string s;
  for (char c : text) {
    const bool kept = (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
    s.push_back(kept ? c : ' ');
  }
  s = Trim("0" + ReplaceAll(ReplaceAll(s, ",", ""), ".", ""));
  // A whole number: optional sign, then digits only (so "0-5" or "0 5" fail).
  size_t i = (!s.empty() && (s[0] == '+' || s[0] == '-')) ? 1 : 0;
  if (i == s.size() || s.size() - i > 15) return "0";
  for (size_t k = i; k < s.size(); ++k)
    if (s[k] < '0' || s[k] > '9') return "0";
  long long value = std::stoll(s.substr(i));
  if (s[0] == '-') value = -value;
  const double tenth = static_cast<double>(value + 1) / 10.0;
  return std::to_string(static_cast<long long>(std::nearbyint(tenth)));
}

}  // namespace sysinfo
