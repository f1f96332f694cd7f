// The texts of the summary panels, composed from the system specification.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "sysinfo/system_spec.h"

namespace sysinfo {

// A panel not composed yet.
inline constexpr const char* kPanelPlaceholder = "* - *";

struct PanelTexts {
  std::string osp = kPanelPlaceholder;       // operating system
  std::string cpup = kPanelPlaceholder;      // processor name
  std::string cpucores;                      // hardware thread count
  std::string cpuclockp;                     // processor clock + " MHz"
  std::string ramp = kPanelPlaceholder;      // size - type - clock MHz - channels Channel
  std::string ramtimip = kPanelPlaceholder;  // CL-tRCD-tRP-tRAS-tRFC-CR (legend)
  std::array<std::string, 4> modules{kPanelPlaceholder, kPanelPlaceholder, kPanelPlaceholder,
                                     kPanelPlaceholder};  // ramp1 .. ramp4
  std::string mainbp = kPanelPlaceholder;                 // maker - model - revision

  const std::string& ramp1() const { return modules[0]; }
  const std::string& ramp2() const { return modules[1]; }
  const std::string& ramp3() const { return modules[2]; }
  const std::string& ramp4() const { return modules[3]; }
};

// All panels in the order the gathering composes them. memoryClock is MemoryClock(spec).
PanelTexts ComposePanels(const SystemSpec& spec, double memoryClock);

// The single panels, for callers that fill them one at a time.
std::string ComposeOsp(const SystemSpec& spec);
std::string ComposeCpup(const SystemSpec& spec);
std::string ComposeCpuCores(const SystemSpec& spec);
std::string ComposeCpuClock(const SystemSpec& spec);
std::string ComposeRamp(const SystemSpec& spec, double memoryClock);
std::string ComposeRamTimings(const SystemSpec& spec);
std::string ComposeModule(const SystemSpec& spec, int slot);  // slot 1..4
std::string ComposeMainboard(const SystemSpec& spec);

// What the user is told, once and quietly, when the report says the memory facts could not be
// read without root (the memory panel's tooltip, one line on standard error); empty otherwise.
std::string MemoryNotice(const SystemSpec& spec);

// First character and every character after a blank upper-cased, all others lower-cased.
std::string TitleCaseWords(std::string_view text);

// A clock figure with one decimal digit to whole MHz (4389.2 -> 4389); "0" when unreadable.
std::string ClockText(std::string_view text);

}  // namespace sysinfo
