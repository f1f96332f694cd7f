#include "sysinfo/panels.h"

#include <gtest/gtest.h>

using namespace sysinfo;

TEST(Panels, OperatingSystem) {
  SystemSpec spec{{"SW_WINDOWS_VERSION: \"Microsoft Windows 7 Home Premium Edition Service Pack 1 (6.1)\""}};
  EXPECT_EQ(ComposeOsp(spec), "MS Windows 7 Home SP 1 ");
  spec.lines.push_back("PI_INSTRUCTIONS: \"MMX, SSE, VIRTUALIZATION\"");
  EXPECT_EQ(ComposeOsp(spec), "MS Windows 7 Home SP 1  (VM)");
  EXPECT_EQ(ComposeOsp(SystemSpec{{"SW_WINDOWS_VERSION: \"\""}}), "unknown");
}

TEST(Panels, ProcessorNameThreadsAndClock) {
  SystemSpec spec{{"PI_SPECIFICATION: \"Intel(R) Core(TM) i7-8700K CPU @ 3.70GHz\"",
                   "PI_NUMBER_OF_THREADS: \"8 (8)\"", "PI_CORE_SPEED: \"4389.2 MHz\""}};
  EXPECT_EQ(ComposeCpup(spec), "Intel Core i7-8700K @ 3.70GHz");
  EXPECT_EQ(ComposeCpuCores(spec), "8");
  EXPECT_EQ(ComposeCpuClock(spec), "4389 MHz");
}

TEST(Panels, ClockText) {
  EXPECT_EQ(ClockText("4389.2"), "4389");
  EXPECT_EQ(ClockText("3600.4"), "3600");
  EXPECT_EQ(ClockText("3600.5"), "3601");
  EXPECT_EQ(ClockText("3600"), "360");
  EXPECT_EQ(ClockText("4389.2 MHz"), "4389");
  EXPECT_EQ(ClockText("unknown"), "0");
  EXPECT_EQ(ClockText("*"), "0");
  EXPECT_EQ(ClockText("1 2"), "0");
  EXPECT_EQ(ClockText("99999999999999999999"), "0");
}

TEST(Panels, MemoryAndTimings) {
  SystemSpec spec{{"CHIP_MEMORY_SIZE: \"32 GBytes\"", "CHIP_MEMORY_TYPE: \"DDR4 (registered)\"",
                   "CHIP_CHANNELS: \"Dual\"", "CHIP_CAS#_LATENCY_(CL): \"16.0\"",
                   "CHIP_RAS#_TO_CAS#_DELAY_(TRCD): \"18\"", "CHIP_RAS#_PRECHARGE_(TRP): \"18\"",
                   "CHIP_CYCLE_TIME_(TRAS): \"38\"", "CHIP_ROW_REFRESH_CYCLE_TIME_(TRFC): \"630\"",
                   "CHIP_COMMAND_RATE_(CR): \"1T\""}};
  EXPECT_EQ(ComposeRamp(spec, 3201), "32 GB - DDR4 - 3201 MHz - Dual Channel");
  EXPECT_EQ(ComposeRamTimings(spec), "16-18-18-38-630-1T (TRCD-TRP-TRAS-TRFC-CR)");
  spec.lines[3] = "CHIP_CAS#_LATENCY_(CL): \"16.5\"";
  EXPECT_EQ(ComposeRamTimings(spec).substr(0, 8), "16.5-18-");
  spec.lines.erase(spec.lines.begin() + 3);
  EXPECT_EQ(ComposeRamTimings(spec).substr(0, 5), "*-18-");
}

TEST(Panels, ModulesAndMainboard) {
  SystemSpec spec{{"MEM_2##: \"Module Manufacturer(ID): G.Skill (CD04)\"",
                   "MEM_2##: \"Part number: F4-3600\"", "DMI_VENDOR: \"American Megatrends\"",
                   "DMI_VENDOR: \"ACME BOARDS INC.\"", "DMI_MODEL: \"X100-PRO (MS-1)\"",
                   "DMI_VERSION: \"REV 1.XX\""}};
  EXPECT_EQ(ComposeModule(spec, 1), "* - *");
  EXPECT_EQ(ComposeModule(spec, 2), "G.Skill - F4-3600");
  EXPECT_EQ(ComposeMainboard(spec), "Acme Boards Inc. - X100-pro - Rev 1.xx");
  spec.lines.erase(spec.lines.begin() + 3);
  EXPECT_EQ(ComposeMainboard(spec), "* - X100-pro - Rev 1.xx");
}

TEST(Panels, TitleCaseWordsCoversTheWholeText) {
  EXPECT_EQ(TitleCaseWords("ACME BOARDS INC. - X100-PRO - REV 1.XX"),
            "Acme Boards Inc. - X100-pro - Rev 1.xx");
  const std::string longText(300, 'A');
  EXPECT_EQ(TitleCaseWords(longText + " " + longText),
            "A" + std::string(299, 'a') + " A" + std::string(299, 'a'));
  EXPECT_EQ(TitleCaseWords("\xC4\xD6 x"), "\xC4\xD6 X");
}

TEST(Panels, EmptySpecification) {
  const PanelTexts p = ComposePanels(SystemSpec{}, 0);
  EXPECT_EQ(p.osp, "*");
  EXPECT_EQ(p.cpup, "*");
  EXPECT_EQ(p.cpucores, "*");
  EXPECT_EQ(p.cpuclockp, "0 MHz");
  EXPECT_EQ(p.ramp, "* - * - 0 MHz - * Channel");
  EXPECT_EQ(p.ramtimip, "*-*-*-*-*-* (TRCD-TRP-TRAS-TRFC-CR)");
  for (const std::string& module : p.modules) EXPECT_EQ(module, "* - *");
  EXPECT_EQ(p.mainbp, "* - * - *");
  EXPECT_EQ(PanelTexts{}.osp, "* - *");
}
