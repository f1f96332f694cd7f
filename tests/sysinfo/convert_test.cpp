#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "sysinfo/system_spec.h"
#include "sysinfo/text.h"

using namespace sysinfo;

namespace {

const std::string kDashes(40, '-');

SystemSpec Convert(const std::vector<std::string>& report) { return SystemSpec{ConvertReport(report)}; }

// A section title, its dash line, an empty line, then the lines given.
std::vector<std::string> Section(const std::string& title, std::vector<std::string> body) {
  std::vector<std::string> lines{"report", kDashes, "", title, kDashes, ""};
  lines.insert(lines.end(), body.begin(), body.end());
  lines.push_back("");
  lines.push_back("");
  return lines;
}

std::string FixturePath(const std::string& name) {
  const char* root = std::getenv("QUORVEX_SOURCE_DIR");
  return std::string(root ? root : ".") + "/tests/fixtures/reports/" + name;
}

}  // namespace

TEST(ConvertReport, ShortReports) {
  EXPECT_TRUE(ConvertReport({}).empty());
  EXPECT_TRUE(ConvertReport({"a\tb", "c\td"}).empty());
  // Three lines: only the third is converted (with an empty section title).
  EXPECT_EQ(ConvertReport({"x\t1", "y\t2", "Label\tValue"}), (std::vector<std::string>{"LABEL: \"Value\""}));
}

TEST(ConvertReport, PrefixedSectionUnindentedAndIndented) {
  const auto spec = Convert(Section("Chipset", {"Memory Type\t\tDDR4", "\tMemory Type\t\tDDR4"}));
  ASSERT_EQ(spec.lines.size(), 2u);
  EXPECT_EQ(spec.lines[0], "CHIP_MEMORY_TYPE: \"DDR4\"");
  EXPECT_EQ(spec.lines[1], "CHIPSET: \"Memory Type: DDR4\"");
  EXPECT_EQ(SpecValue(spec, "CHIP_MEMORY_TYPE"), "DDR4");
}

TEST(ConvertReport, IndentedLinesKeepThePrefixInProcessorAndDmiSections) {
  const auto pi = Convert(Section("Processors Information", {"\tNumber of threads\t16 (max 16)"}));
  EXPECT_EQ(pi.lines, (std::vector<std::string>{"PI_NUMBER_OF_THREADS: \"16 (max 16)\""}));
  const auto dmi = Convert(Section("DMI", {"DMI Baseboard", "\tvendor\t\tACME Co., Ltd."}));
  EXPECT_EQ(dmi.lines, (std::vector<std::string>{"DMI_VENDOR: \"ACME Co. Ltd.\""}));
  const auto map = Convert(Section("Processors Map", {"\tCore 0\t\tThreads 0, 1"}));
  EXPECT_TRUE(map.lines.empty());
}

TEST(ConvertReport, ModuleBlocksAndTheSuffixLag) {
  const auto spec =
      Convert(Section("Memory SPD", {"DIMM #\t\t\t\t1", "\tSize\t\t8192 MBytes", "\tPart number\tAAA-1",
                                     "DIMM #\t\t\t\t2", "\tSize\t\t4096 MBytes", "\tPart number\tBBB-2"}));
  const std::vector<std::string> expected{"MEM_: \"Size: 8192 MBytes\"", "MEM_1##: \"Part number: AAA-1\"",
                                          "MEM_1##: \"Size: 4096 MBytes\"",
                                          "MEM_2##: \"Part number: BBB-2\""};
  EXPECT_EQ(spec.lines, expected);
  EXPECT_EQ(SpecValue(spec, "MEM_2##: \"Part number: "), "BBB-2");
  EXPECT_EQ(SpecValue(spec, "MEM_1##: \"Part number: "), "AAA-1");
  EXPECT_EQ(SpecValue(spec, "MEM_3##: \"Part number: "), "*");
}

TEST(ConvertReport, SlotDigitNamesTheDmiMemoryModule) {
  const auto spec = Convert(
      Section("DMI Memory Device", {"\tdesignation\tDIMM1", "\ttype\t\tDDR4", "\tsize\t\t16 GBytes"}));
  EXPECT_EQ(SpecValue(spec, "DMI_MEMORY_MODULE:"), "size1 16 GBytes");
}

TEST(ConvertReport, AnyLineWithTwoDashesStartsASection) {
  const auto spec =
      Convert(Section("Software", {"Windows Version\tSeven", "Note\t\tsee -- here", "", "Label\t\tValue"}));
  // The line before the "--" line ("Windows Version<TAB>Seven") becomes the title; even the empty
  // lines after it now carry a colon and are kept.
  ASSERT_EQ(spec.lines.size(), 5u);
  EXPECT_EQ(spec.lines[2], "WINDOWS_VERSION: \"Seven Label: Value\"");
  EXPECT_EQ(spec.lines[3], "WINDOWS_VERSION: \"Seven\"");
  EXPECT_EQ(SpecValue(spec, "SW_WINDOWS_VERSION"), "Seven");
}

TEST(ConvertReport, DroppedLines) {
  const auto spec = Convert(Section("Misc", {"Thread dumps\tx", "Values\t\t00 00 00", "no colon here",
                                             "\tSlot:\t1", "PCI Device\t\tbus 0", "Kept\t\tyes"}));
  EXPECT_EQ(spec.lines, (std::vector<std::string>{"MISC_KEPT: \"yes\""}));
}

TEST(ConvertReport, ValuesAreCutAfter98Characters) {
  const std::string longValue(120, 'v');
  const auto spec = Convert(Section("Misc", {"Long\t\t" + longValue}));
  ASSERT_EQ(spec.lines.size(), 1u);
  EXPECT_EQ(spec.lines[0], "MISC_LONG: \"" + std::string(98, 'v') + "\"");
  EXPECT_EQ(SpecValue(spec, "MISC_LONG").size(), 98u);
}

TEST(ConvertReport, RewritesInsideValues) {
  const auto spec =
      Convert(Section("Misc", {"A\t\tunknown", "B\t\tx_y;z=w<1>", "C\t\tC:\\dir", "D\t\thttp://site/ x"}));
  EXPECT_EQ(SpecValue(spec, "MISC_A"), "Unknown");
  EXPECT_EQ(SpecValue(spec, "MISC_B"), "x y z w 1");
  EXPECT_EQ(SpecValue(spec, "MISC_C"), "C .dir");
  EXPECT_EQ(SpecValue(spec, "MISC_D"), "site x");
}

TEST(SpecValue, FirstNthAndSentinels) {
  SystemSpec spec{{"K_A: \"one\"", "K_A: \"two\"", "K_EMPTY: \"\"", "K_TIME: \"1:12\""}};
  EXPECT_EQ(SpecValue(spec, "K_A"), "one");
  EXPECT_EQ(SpecValueNth(spec, "K_A", 1), "one");
  EXPECT_EQ(SpecValueNth(spec, "K_A", 2), "two");
  EXPECT_EQ(SpecValueNth(spec, "K_A", 3), "*");
  EXPECT_EQ(SpecValueNth(spec, "K_TIME", 2), "*");
  EXPECT_EQ(SpecValue(spec, "K_EMPTY"), "unknown");
  EXPECT_EQ(SpecValue(spec, "K_TIME"), "1 12");
  EXPECT_EQ(SpecValue(spec, "K_MISSING"), "*");
  EXPECT_EQ(SpecValue(SystemSpec{}, "K_A"), "*");
  // Matching ignores letter case and looks at the whole line.
  EXPECT_EQ(SpecValue(spec, "k_a"), "K_A one");
  EXPECT_EQ(SpecValue(spec, "two"), "K_A");
}

TEST(SpecValue, LabelInOtherLetterCaseReturnsTheWholeLine) {
  SystemSpec spec{{"MEM_1##: \"Part number: AAA-1\""}};
  EXPECT_EQ(SpecValue(spec, "MEM_1##: \"part number: "), "MEM_1## Part number AAA-1");
}

TEST(MemoryClock, FromTheFrequency) {
  EXPECT_EQ(MemoryClock(SystemSpec{{"CHIP_MEMORY_FREQUENCY: \"1600.2 MHz (3:48)\""}}), 3201);
  EXPECT_EQ(MemoryClock(SystemSpec{{"CHIP_MEMORY_FREQUENCY: \"1800.0 MHz\""}}), 3601);
  EXPECT_EQ(MemoryClock(SystemSpec{{"CHIP_MEMORY_FREQUENCY: \"\""}}), 0);
  EXPECT_EQ(MemoryClock(SystemSpec{{"CHIP_MEMORY_FREQUENCY: \"fast\""}}), 0);
  EXPECT_EQ(MemoryClock(SystemSpec{{"CHIP_MEMORY_FREQUENCY: \"99999999999999999999999 MHz\""}}), 0);
  EXPECT_EQ(MemoryClock(SystemSpec{}), 0);
}

TEST(MachineIdHash, DigestOfTheSerials) {
  EXPECT_EQ(Md5HexUpper(""), "D41D8CD98F00B204E9800998ECF8427E");
  EXPECT_EQ(MachineIdHash(SystemSpec{}), Md5HexUpper("********"));
  EXPECT_EQ(MachineIdHash(SystemSpec{}), "47C6B15ACA93873F58522F26300D181D");
  SystemSpec spec{{"STORAGE: \"Serial: S 1\"", "DMI_VENDOR: \"Acme Inc\"", "MEM_2##: \"Serial number: 77\""}};
  EXPECT_EQ(MachineIdHash(spec), Md5HexUpper("S1**"
                                             "*77*"
                                             "*AcmeInc"));
}

TEST(ConvertReport, DesktopFixture) {
  std::ifstream in(FixturePath("desktop.txt"), std::ios::binary);
  ASSERT_TRUE(in) << FixturePath("desktop.txt");
  std::stringstream bytes;
  bytes << in.rdbuf();
  const SystemSpec spec{ConvertReport(SplitLines(bytes.str()))};
  EXPECT_EQ(SpecValue(spec, "PI_SPECIFICATION"), "AMD Ryzen 7 5800X 8-Core Processor");
  EXPECT_EQ(SpecValue(spec, "CHIP_MEMORY_SIZE: "), "32 GBytes");
  EXPECT_EQ(SpecValue(spec, "CHIP_RAS#_TO_CAS#_DELAY_(TRCD)"), "18");
  EXPECT_EQ(SpecValueNth(spec, "DMI_VENDOR: ", 2), "Micro-Star International Co. Ltd.");
  EXPECT_EQ(SpecValue(spec, "STORAGE: \"Serial: "), "S5GXNF0R123456");
  EXPECT_EQ(SpecValue(spec, "APIC"), "*");  // the thread dump section is dropped
  EXPECT_EQ(MemoryClock(spec), 3601);
  EXPECT_EQ(MachineIdHash(spec), "8101BA010DE926AE5F268FE2A318AE13");
}

TEST(IsHardwareReport, OnlyAReportWithAProcessorsSection) {
  std::ifstream fixture(FixturePath("desktop.txt"), std::ios::binary);
  std::stringstream bytes;
  bytes << fixture.rdbuf();
  EXPECT_TRUE(IsHardwareReport(Convert(SplitLines(bytes.str()))));
  EXPECT_TRUE(IsHardwareReport(Convert(Section("Processors Information", {"Name\t\tAMD Ryzen"}))));

  // A password file, or any text with tabbed lines under a dash line: no processor among them.
  const SystemSpec passwd =
      Convert({"root:x:0:0:root:/root:/bin/bash", "daemon:x:1:1:daemon:/usr/sbin:/usr/sbin/nologin",
               "bin:x:2:2:bin:/bin:/usr/sbin/nologin", "sys:x:3:3:sys:/dev:/usr/sbin/nologin"});
  EXPECT_FALSE(IsHardwareReport(passwd));
  EXPECT_FALSE(IsHardwareReport(Convert(Section("Display Adapters", {"Name\t\tSome GPU"}))));
  EXPECT_FALSE(IsHardwareReport(SystemSpec{}));
}
