// The tool run over fixture machines, its report converted by the program's own reader, and the
// panel texts and derived values compared with what the user must see.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <random>

#include "core/host.h"
#include "platform/file_io.h"
#include "platform/process.h"
#include "sysinfo/panels.h"
#include "sysinfo/system_spec.h"
#include "sysinfo/text.h"
#include "tests/sysreport/fixture.h"

namespace {

struct Outcome {
  std::vector<std::string> report;
  sysinfo::SystemSpec spec;
  sysinfo::PanelTexts panels;
  double memoryClock = 0;
};

// Runs the tool over a tree; asNormalUser drops root's rights first (setpriv to nobody), so that a
// file only root may read stays unread as on a user's machine. Run by a normal user already, the
// tool simply runs.
Outcome RunTool(const std::string& root, bool asNormalUser = false) {
  fixture::Tree::Shared shared;
  fixture::Tree out(shared);
  std::filesystem::permissions(out.Root(), std::filesystem::perms::all);
  if (root.empty())
    ::unsetenv("QUORVEX_SYSROOT");
  else
    ::setenv("QUORVEX_SYSROOT", root.c_str(), 1);
  const std::string txt = "-txt=" + out.Root() + "/txtdump";
  const platform::ProcessOutcome run =
      asNormalUser && ::geteuid() == 0
          ? platform::RunProgram(
                "/usr/bin/setpriv",
                {"--reuid=65534", "--regid=65534", "--clear-groups", "--", SYSREPORT_EXE, txt}, 20000)
          : platform::RunProgram(SYSREPORT_EXE, {txt}, 20000);
  Outcome o;
  ::unsetenv("QUORVEX_SYSROOT");
  EXPECT_TRUE(run.started) << run.error;
  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitCode, 0u);
  std::string bytes;
  EXPECT_TRUE(platform::ReadWholeFile(out.Root() + "/txtdump.txt", &bytes));
  EXPECT_FALSE(platform::FileExists(out.Root() + "/txtdump.txt.part"));
  o.report = sysinfo::SplitLines(bytes);
  o.spec.lines = sysinfo::ConvertReport(o.report);
  o.memoryClock = sysinfo::MemoryClock(o.spec);
  o.panels = sysinfo::ComposePanels(o.spec, o.memoryClock);
  return o;
}

std::string Dump(const Outcome& o) {
  std::string s;
  for (const std::string& l : o.spec.lines) s += l + "\n";
  return s;
}

TEST(SysreportFixtures, Ddr4DualChannelDesktopWithSpdAndFullSmbios) {
  fixture::Tree t;
  fixture::Ddr4Desktop(t);
  const Outcome o = RunTool(t.Root());
  SCOPED_TRACE(Dump(o));
  EXPECT_EQ(o.panels.osp, "Fixture Linux 24 x86-64, Linux 6.8.0-fixture");
  EXPECT_EQ(o.panels.cpup, "Intel Core i7-8700K @ 3.70GHz");
  EXPECT_EQ(o.panels.cpucores, "12");
  // cpufreq gives 4700000 + 100 * cpu kHz: the busy core is the fastest, cpu11 at 4701.1 MHz
  // (the mean of all twelve, 4700.55, would count idle cores).
  EXPECT_EQ(sysinfo::SpecValue(o.spec, "PI_CORE_SPEED"), "4701.1 MHz");
  EXPECT_EQ(o.panels.ramp, "16 GB - DDR4 - 3201 MHz - Dual Channel");
  // JEDEC DDR4-3200AA minimum times (13.75 ns, 32 ns, 350 ns) at 625 ps per clock.
  EXPECT_EQ(o.panels.ramtimip, "22-22-22-52-560-* (TRCD-TRP-TRAS-TRFC-CR)");
  EXPECT_EQ(o.panels.ramp1(), "G.Skill - F4-3200C16-8GVKB");
  EXPECT_EQ(o.panels.ramp2(), "G.Skill - F4-3200C16-8GVKB");
  EXPECT_EQ(o.panels.ramp3(), "* - *");
  EXPECT_EQ(o.panels.mainbp, "Asrock - Z370 Taichi - Rev 1.01");
  EXPECT_DOUBLE_EQ(o.memoryClock, 3201);
  EXPECT_EQ(sysinfo::SpecValue(o.spec, "PI_L2_CACHE:"),
            "6 x 256 KBytes, 4-way set associative, 64-byte line size");
  EXPECT_EQ(sysinfo::SpecValue(o.spec, "PI_L3_CACHE:"),
            "12 MBytes, 16-way set associative, 64-byte line size");
  EXPECT_EQ(core::LargestCacheKBytes(o.spec), "12288");
  EXPECT_EQ(sysinfo::SpecValue(o.spec, "Virtualization"), "*");
  EXPECT_EQ(sysinfo::SpecValueNth(o.spec, "DMI_VENDOR: ", 1), "American Megatrends Inc.");
  EXPECT_EQ(sysinfo::SpecValueNth(o.spec, "DMI_CHASSIS_SERIAL: ", 1), "CHS-00042");
  // Drives in name order (the loop device is not a drive); module serials from SPD.
  EXPECT_EQ(sysinfo::MachineIdHash(o.spec),
            sysinfo::Md5HexUpper("S4EWNX0R123456ZFL1ABCDCHS-000421234567812345679**AmericanMegatrendsInc."));
}

TEST(SysreportFixtures, EveryKeyTheProgramReadsIsThereWhenTheFactIsKnown) {
  fixture::Tree t;
  fixture::Ddr4Desktop(t);
  const Outcome o = RunTool(t.Root());
  const std::string q = "\"";
  const std::vector<std::pair<std::string, int>> keys = {{"SW_WINDOWS_VERSION", 1},
                                                         {"PI_SPECIFICATION", 1},
                                                         {"PI_NUMBER_OF_THREADS:", 1},
                                                         {"PI_CORE_SPEED", 1},
                                                         {"PI_L2_CACHE:", 1},
                                                         {"PI_L3_CACHE:", 1},
                                                         {"CHIP_MEMORY_SIZE: ", 1},
                                                         {"CHIP_MEMORY_TYPE", 1},
                                                         {"CHIP_CHANNELS", 1},
                                                         {"CHIP_MEMORY_FREQUENCY", 1},
                                                         {"CHIP_CAS#_LATENCY_(CL)", 1},
                                                         {"CHIP_RAS#_TO_CAS#_DELAY_(TRCD)", 1},
                                                         {"CHIP_RAS#_PRECHARGE_(TRP)", 1},
                                                         {"CHIP_CYCLE_TIME_(TRAS)", 1},
                                                         {"CHIP_ROW_REFRESH_CYCLE_TIME_(TRFC)", 1},
                                                         {"MEM_1##: " + q + "Module Manufacturer(ID): ", 1},
                                                         {"MEM_2##: " + q + "Module Manufacturer(ID): ", 1},
                                                         {"MEM_1##: " + q + "Part number: ", 1},
                                                         {"MEM_2##: " + q + "Part number: ", 1},
                                                         {"MEM_1##: " + q + "Serial number: ", 1},
                                                         {"MEM_2##: " + q + "Serial number: ", 1},
                                                         {"DMI_VENDOR: ", 1},
                                                         {"DMI_VENDOR: ", 2},
                                                         {"DMI_MODEL: ", 1},
                                                         {"DMI_VERSION: ", 1},
                                                         {"DMI_CHASSIS_SERIAL: ", 1},
                                                         {"STORAGE: " + q + "Serial: ", 1},
                                                         {"STORAGE: " + q + "Serial: ", 2}};
  for (const auto& [key, n] : keys) {
    const std::string v = sysinfo::SpecValueNth(o.spec, key, n);
    EXPECT_NE(v, "*") << key << " #" << n;
    EXPECT_NE(v, "unknown") << key << " #" << n;
  }
  // Facts Linux cannot tell are left out, never made up.
  EXPECT_EQ(sysinfo::SpecValue(o.spec, "CHIP_COMMAND_RATE_(CR)"), "*");
  EXPECT_EQ(sysinfo::SpecValue(o.spec, "PI_L4_CACHE:"), "*");
  EXPECT_EQ(sysinfo::SpecValue(o.spec, "MEM_3##: " + q + "Part number: "), "*");
}

TEST(SysreportFixtures, Ddr5DesktopTakesChannelsFromTheBankLocators) {
  fixture::Tree t;
  fixture::Ddr5Desktop(t);
  const Outcome o = RunTool(t.Root());
  SCOPED_TRACE(Dump(o));
  EXPECT_EQ(o.panels.cpup, "AMD Ryzen 7 7700X 8-Core ");  // the deleted "Processor" leaves its blank
  EXPECT_EQ(o.panels.ramp, "32 GB - DDR5 - 4801 MHz - Dual Channel");
  // DDR5-4800B: 16 ns gives 38.4 clocks, 39 by the rounding rule, lifted to the supported CL40;
  // 32 ns and 295 ns at 2400 MHz are 76.8 and 708 clocks.
  EXPECT_EQ(o.panels.ramtimip, "40-39-39-77-708-* (TRCD-TRP-TRAS-TRFC-CR)");
  EXPECT_EQ(o.panels.ramp1(), "Kingston - KF560C36-16");
  EXPECT_EQ(o.panels.ramp2(), "Kingston - KF560C36-16");
  EXPECT_EQ(o.panels.mainbp, "Micro-star International Co. Ltd. - Mag B650 Tomahawk Wifi - 1.0");
  EXPECT_EQ(sysinfo::SpecValueNth(o.spec, "MEM_2##: \"Serial number: ", 1), "0A1B2C3E");
}

TEST(SysreportFixtures, VirtualMachineWithoutDmiLeavesMemoryFactsOut) {
  fixture::Tree t;
  fixture::VirtualMachine(t);
  const Outcome o = RunTool(t.Root());
  SCOPED_TRACE(Dump(o));
  EXPECT_EQ(o.panels.osp, "Debian GNU/Linux 12 x86-64, Linux 6.1.0-18-amd64 (VM)");
  EXPECT_EQ(o.panels.cpup, "Intel Xeon ");
  EXPECT_EQ(o.panels.cpucores, "2");
  EXPECT_EQ(sysinfo::SpecValue(o.spec, "PI_CORE_SPEED"), "3700.0 MHz");  // no cpufreq: the kernel's cpu MHz
  EXPECT_EQ(o.panels.ramp, "* - * - 0 MHz - * Channel");
  EXPECT_EQ(o.panels.ramtimip, "*-*-*-*-*-* (TRCD-TRP-TRAS-TRFC-CR)");
  EXPECT_EQ(o.panels.mainbp, "* - * - *");
  EXPECT_EQ(o.memoryClock, 0);
  EXPECT_EQ(sysinfo::SpecValue(o.spec, "SW_VIRTUALIZATION:"), "KVM");
  EXPECT_EQ(sysinfo::SpecValueNth(o.spec, "STORAGE: \"Serial: ", 1), "overlayblk");
  EXPECT_EQ(sysinfo::SpecValue(o.spec, "CHIP_MEMORY_TYPE"), "*");
  EXPECT_EQ(core::LargestCacheKBytes(o.spec), "12288");  // the processor's facts still size the latency test
}

TEST(SysreportFixtures, GuestKnownOnlyByItsFirmwareNamesIsMarkedVirtual) {
  fixture::Tree t;
  t.File("/sys/class/dmi/id/sys_vendor", "QEMU\n");
  t.File("/sys/class/dmi/id/product_name", "Standard PC (Q35 + ICH9, 2009)\n");
  t.File("/sys/class/dmi/id/bios_vendor", "SeaBIOS\n");
  t.File("/etc/os-release", "PRETTY_NAME=\"Guest Linux\"\n");
  const Outcome o = RunTool(t.Root());
  SCOPED_TRACE(Dump(o));
  EXPECT_EQ(sysinfo::SpecValue(o.spec, "SW_VIRTUALIZATION:"), "QEMU");
  EXPECT_EQ(o.panels.osp, "Guest Linux (VM)");
}

TEST(SysreportFixtures, DesktopReadWithoutRootReportsOnlyWhatItCanRead) {
  fixture::Tree t;
  fixture::DesktopWithoutRoot(t);
  const Outcome o = RunTool(t.Root());
  SCOPED_TRACE(Dump(o));
  // SPD tells type, size and modules; the speed the board runs them at and the channels need
  // the firmware's table, so they stay unknown instead of being guessed.
  EXPECT_EQ(o.panels.ramp, "16 GB - DDR4 - 0 MHz - * Channel");
  EXPECT_EQ(o.panels.ramtimip, "*-*-*-*-*-* (TRCD-TRP-TRAS-TRFC-CR)");
  EXPECT_EQ(o.panels.ramp1(), "Corsair - CMK16GX4M2B3200C16");
  EXPECT_EQ(o.panels.mainbp, "Gigabyte Technology Co. Ltd. - B460m Ds3h - X.x");
  EXPECT_EQ(sysinfo::SpecValueNth(o.spec, "DMI_VENDOR: ", 1), "American Megatrends Inc.");
  EXPECT_EQ(sysinfo::SpecValue(o.spec, "DMI_CHASSIS_SERIAL: "), "*");
  EXPECT_EQ(sysinfo::SpecValue(o.spec, "Virtualization"), "*");
  EXPECT_EQ(sysinfo::SpecValueNth(o.spec, "STORAGE: \"Serial: ", 1), "WD-WCC6Y1234567");
}

TEST(SysreportFixtures, EdacGivesTypeSizeAndChannelsWhenNothingElseDoes) {
  fixture::Tree t;
  fixture::EdacServer(t);
  const Outcome o = RunTool(t.Root());
  SCOPED_TRACE(Dump(o));
  EXPECT_EQ(o.panels.ramp, "32 GB - DDR4 - 0 MHz - Dual Channel");
  EXPECT_EQ(o.panels.ramp1(), "* - *");
  EXPECT_EQ(sysinfo::SpecValue(o.spec, "MEM_1##: \"Module format: "), "UDIMM");
}

TEST(SysreportFixtures, EmptyTreeGivesAReportWithNothingInvented) {
  fixture::Tree t;
  const Outcome o = RunTool(t.Root());
  SCOPED_TRACE(Dump(o));
  EXPECT_GE(o.report.size(), 3u);
  EXPECT_EQ(o.panels.osp, "*");
  EXPECT_EQ(o.panels.cpup, "*");
  EXPECT_EQ(sysinfo::SpecValue(o.spec, "PI_CORE_SPEED"), "*");
}

TEST(SysreportFixtures, GarbageInEveryFileStillGivesAReport) {
  fixture::Tree t;
  std::mt19937 rng(7);
  auto bytes = [&](size_t n) {
    std::string s(n, '\0');
    for (char& c : s) c = static_cast<char>(rng() & 0xFF);
    return s;
  };
  for (const char* path :
       {"/.cpuid", "/proc/cpuinfo", "/etc/os-release", "/proc/sys/kernel/osrelease",
        "/sys/firmware/dmi/tables/DMI", "/sys/bus/i2c/drivers/ee1004/0-0050/eeprom",
        "/sys/devices/system/cpu/online", "/sys/devices/system/cpu/cpu0/cache/index0/size",
        "/sys/devices/system/cpu/cpu0/cache/index0/level", "/sys/class/dmi/id/bios_vendor",
        "/sys/devices/system/edac/mc/mc0/dimm0/size", "/sys/block/sda/size", "/run/udev/data/+dmi:id"})
    t.File(path, bytes(4096));
  t.File("/sys/devices/system/cpu/cpu99999999999/topology/core_id", "99999999999999999999\n");
  t.File("/sys/devices/system/cpu/cpu0/cache/index0/level", "99999999999999999999\n");
  t.File("/sys/devices/system/cpu/cpu0/cache/index0/type", "Data\n");
  t.File("/sys/devices/system/cpu/cpu0/cache/index0/ways_of_associativity", "-7\n");
  t.File("/sys/devices/system/edac/mc/mc0/dimm1/size", "18446744073709551616\n");
  const Outcome o = RunTool(t.Root());
  EXPECT_GE(o.report.size(), 3u);
  // A damaged udev entry loses its facts, never the report.
  fixture::Tree u;
  fixture::UserDdr4Desktop(u);
  std::string entry = fixture::UdevEntry(
      {fixture::MemoryDevice{"DIMM_A1", "", "Kingston", "1", "P", 8192, 0x1A, 3200, 3200}});
  entry.replace(entry.find("SIZE="), 5, "SIZE\x01");
  entry +=
      "E:MEMORY_DEVICE_0_CONFIGURED_SPEED_MTS=1" + std::string(400, '9') + "\nE:MEMORY_DEVICE_\xff_SIZE=1\n";
  u.File("/run/udev/data/+dmi:id", entry);
  const Outcome d = RunTool(u.Root());
  SCOPED_TRACE(Dump(d));
  EXPECT_EQ(d.panels.ramp, "16 GB - * - 0 MHz - * Channel");  // the size from /proc/meminfo, nothing made up
}

// The reports of the fixture machines are kept in tests/fixtures/sysreport as samples of the
// layout (they can be fed to quorvex-cli report FILE). A change to the layout shows up here;
// QUORVEX_UPDATE_FIXTURES=1 rewrites them after a deliberate change.
TEST(SysreportFixtures, SampleReportsAreCurrent) {
  const char* source = std::getenv("QUORVEX_SOURCE_DIR");
  if (!source) GTEST_SKIP() << "QUORVEX_SOURCE_DIR is not set";
  const bool update = std::getenv("QUORVEX_UPDATE_FIXTURES") != nullptr;
  const std::pair<const char*, void (*)(fixture::Tree&)> machines[] = {
      {"ddr4-desktop", fixture::Ddr4Desktop},
      {"ddr5-desktop", fixture::Ddr5Desktop},
      {"virtual-machine", fixture::VirtualMachine},
      {"desktop-without-root", fixture::DesktopWithoutRoot},
      {"edac-server", fixture::EdacServer},
      {"user-ddr4-desktop", fixture::UserDdr4Desktop},
      {"user-ddr5-expo-desktop", fixture::UserDdr5ExpoDesktop},
      {"user-laptop-two-sodimms", fixture::UserLaptopTwoSodimms},
      {"user-soldered-lpddr5", fixture::UserSolderedLpddr5},
      {"user-nothing-readable", fixture::UserNothingReadable},
      {"two-socket-server", fixture::TwoSocketServer},
      {"jedec-code-makers", fixture::JedecCodeMakers},
      {"xmp-equals-jedec-kit", fixture::XmpEqualsJedecKit}};
  for (const auto& [name, build] : machines) {
    fixture::Tree t;
    build(t);
    Outcome o = RunTool(t.Root());
    ASSERT_GE(o.report.size(), 2u);
    o.report[1] = std::string("Machine: fixture ") + name;  // the tree's temporary path varies
    std::string text;
    for (const std::string& l : o.report) text += l + "\n";
    const std::string path = std::string(source) + "/tests/fixtures/sysreport/" + name + ".txt";
    if (update) {
      std::filesystem::create_directories(std::filesystem::path(path).parent_path());
      std::string error;
      ASSERT_TRUE(platform::ReplaceFileAtomically(path, text, &error)) << error;
    }
    std::string stored;
    ASSERT_TRUE(platform::ReadWholeFile(path, &stored)) << path;
    EXPECT_EQ(stored, text) << name;
  }
}

// The machines of a normal user's world: each run as root and as nobody, which must read the same.
struct Machine {
  const char* name;
  void (*build)(fixture::Tree&);
  const char* ramp;
  const char* ramtimip;
  const char* ramp1;
  const char* ramp2;
};

// Runs the tool over the machine as root and as a normal user; the panels must read as the table
// says both times, and check() adds what this kind of machine must show besides.
void ExpectPanelsAsBoth(const Machine& m, const std::function<void(const Outcome&, bool user)>& check) {
  fixture::Tree::Shared shared;
  fixture::Tree t(shared);
  m.build(t);
  for (bool user : {false, true}) {
    SCOPED_TRACE(std::string(m.name) + (user ? ", normal user" : ", root"));
    const Outcome o = RunTool(t.Root(), user);
    SCOPED_TRACE(Dump(o));
    EXPECT_EQ(o.panels.ramp, m.ramp);
    EXPECT_EQ(o.panels.ramtimip, m.ramtimip);
    EXPECT_EQ(o.panels.ramp1(), m.ramp1);
    EXPECT_EQ(o.panels.ramp2(), m.ramp2);
    check(o, user);
  }
}

const Machine kUserMachines[] = {
    {"DDR4 desktop, udev database only", fixture::UserDdr4Desktop, "16 GB - DDR4 - 3201 MHz - Dual Channel",
     "*-*-*-*-*-* (TRCD-TRP-TRAS-TRFC-CR)", "Kingston - KF432C16BB/8", "Kingston - KF432C16BB/8"},
    {"DDR5 desktop with an EXPO kit", fixture::UserDdr5ExpoDesktop, "32 GB - DDR5 - 6001 MHz - Dual Channel",
     "30-38-38-96-885-* (TRCD-TRP-TRAS-TRFC-CR)", "G.Skill - F5-6000J3038F16G", "G.Skill - F5-6000J3038F16G"},
    {"laptop with two SODIMMs", fixture::UserLaptopTwoSodimms, "16 GB - DDR4 - 3201 MHz - Dual Channel",
     "*-*-*-*-*-* (TRCD-TRP-TRAS-TRFC-CR)", "SK Hynix - HMA81GS6DJR8N-XN", "SK Hynix - HMA81GS6DJR8N-XN"},
    {"laptop, two SODIMMs in slots of one name", fixture::UserLaptopSameSlotNames,
     "16 GB - DDR4 - 3201 MHz - Dual Channel", "*-*-*-*-*-* (TRCD-TRP-TRAS-TRFC-CR)",
     "Samsung - M471A1K43DB1-CWE", "Samsung - M471A1K43DB1-CWE"},
    {"laptop, slots named by where they sit", fixture::UserLaptopPlacedSlots,
     "16 GB - DDR4 - 2668 MHz - Dual Channel", "*-*-*-*-*-* (TRCD-TRP-TRAS-TRFC-CR)",
     "Micron - 8ATF1G64HZ-3G2J1", "Micron - 8ATF1G64HZ-3G2J1"},
    {"soldered LPDDR5", fixture::UserSolderedLpddr5, "16 GB - LPDDR5 - 6401 MHz - Dual Channel",
     "*-*-*-*-*-* (TRCD-TRP-TRAS-TRFC-CR)", "Micron Technology - MT62F1G32D4DR-031 WT B",
     "Micron Technology - MT62F1G32D4DR-031 WT B"},
};

TEST(SysreportUserMachines, PanelsAsRootAndAsANormalUser) {
  for (const Machine& m : kUserMachines) {
    ExpectPanelsAsBoth(m, [](const Outcome& o, bool) {
      EXPECT_GT(o.memoryClock, 0);  // upload and compare are offered
      EXPECT_EQ(sysinfo::MemoryNotice(o.spec), "");
      EXPECT_NE(o.panels.osp, "*");
    });
  }
}

// Root reads all 24 modules from the table; a normal user, whose udev entry was cut after 18, gets
// the kernel's size and no channel count instead of 288 GB on 18 channels.
TEST(SysreportUserMachines, ACutUdevEntryGivesTheKernelsSizeAndNoChannels) {
  fixture::Tree t(fixture::Tree::Shared{});
  fixture::ServerWithCutUdevEntry(t);
  EXPECT_EQ(RunTool(t.Root()).panels.ramp, "384 GB - DDR5 - 4801 MHz - 24 Channel");
  const Outcome user = RunTool(t.Root(), true);
  SCOPED_TRACE(Dump(user));
  EXPECT_EQ(user.panels.ramp, "377 GB - DDR5 - 4801 MHz - * Channel");
}

TEST(SysreportUserMachines, UdevFactsAreNamedAsTheirSource) {
  fixture::Tree t;
  fixture::UserDdr4Desktop(t);
  const Outcome o = RunTool(t.Root());
  EXPECT_EQ(sysinfo::SpecValue(o.spec, "CHIP_MEMORY_SOURCE:"), "udev database");
  EXPECT_EQ(sysinfo::SpecValue(o.spec, "MEM_1##: \"Source: "), "udev database memory device");
  EXPECT_EQ(o.panels.ramp3(), "* - *");  // the empty slots are no modules
  EXPECT_EQ(o.panels.mainbp, "Asustek Computer Inc. - Prime B660-plus D4 - Rev 1.xx");
  EXPECT_EQ(sysinfo::SpecValue(o.spec, "DMI_CHASSIS_SERIAL: "), "*");
}

TEST(SysreportUserMachines, ExpoTimingsSayWhereTheyComeFrom) {
  fixture::Tree t;
  fixture::UserDdr5ExpoDesktop(t);
  const Outcome o = RunTool(t.Root());
  EXPECT_EQ(sysinfo::SpecValue(o.spec, "CHIP_TIMINGS_SOURCE:"), "EXPO profile 1");
  EXPECT_EQ(sysinfo::SpecValue(o.spec, "CHIP_MEMORY_TYPE"), "DDR5");  // from SPD: udev said "<OUT OF SPEC>"
}

TEST(SysreportUserMachines, OutOfSpecTypeWithoutSpdIsLeftOut) {
  fixture::Tree t;
  fixture::UserDdr5ExpoDesktop(t);
  std::filesystem::remove_all(t.Root() + "/sys/bus/i2c");
  const Outcome o = RunTool(t.Root());
  EXPECT_EQ(o.panels.ramp, "32 GB - * - 6001 MHz - Dual Channel");
  EXPECT_EQ(o.panels.ramp1(), "* - F5-6000J3038F16G");  // "Unknown" names nobody
}

TEST(SysreportUserMachines, NothingReadableWithoutRootIsSaidOnce) {
  fixture::Tree::Shared shared;
  fixture::Tree t(shared);
  fixture::UserNothingReadable(t);
  const Outcome o = RunTool(t.Root(), true);
  SCOPED_TRACE(Dump(o));
  EXPECT_EQ(o.panels.ramp, "16 GB - * - 0 MHz - * Channel");  // MemTotal 15.5 GiB, rounded up
  EXPECT_EQ(o.memoryClock, 0);
  EXPECT_NE(sysinfo::MemoryNotice(o.spec), "");
  // A machine with the udev entry says nothing.
  fixture::Tree u;
  fixture::UserDdr4Desktop(u);
  EXPECT_EQ(sysinfo::MemoryNotice(RunTool(u.Root(), true).spec), "");
}

// Machines whose firmware table root reads; a normal user gets the same from udev's copy.
const Machine kRootMachines[] = {
    {"two-socket server with 16 RDIMMs", fixture::TwoSocketServer, "512 GB - DDR4 - 2934 MHz - 16 Channel",
     "*-*-*-*-*-* (TRCD-TRP-TRAS-TRFC-CR)", "Samsung - M393A4K40CB2-CVF", "Samsung - M393A4K40CB2-CVF"},
    {"firmware writing JEDEC codes as makers", fixture::JedecCodeMakers,
     "32 GB - DDR4 - 3201 MHz - Dual Channel", "*-*-*-*-*-* (TRCD-TRP-TRAS-TRFC-CR)",
     "Corsair - CMK16GX4M2B3200C16", "Samsung - M378A1K43EB2-CWE"},
    {"XMP kit whose JEDEC grade equals its XMP speed", fixture::XmpEqualsJedecKit,
     "32 GB - DDR4 - 3201 MHz - Dual Channel", "16-18-18-36-560-* (TRCD-TRP-TRAS-TRFC-CR)",
     "G.Skill - F4-3200C16-16GVK", "G.Skill - F4-3200C16-16GVK"},
};

TEST(SysreportRootMachines, PanelsAsRootAndAsANormalUser) {
  for (const Machine& m : kRootMachines) {
    ExpectPanelsAsBoth(m, [](const Outcome& o, bool user) {
      EXPECT_EQ(
          sysinfo::SpecValue(o.spec, "CHIP_MEMORY_SOURCE:").find(user ? "udev database" : "SMBIOS table"),
          0u);
    });
  }
}

TEST(SysreportRootMachines, EveryMakerFormResolves) {
  fixture::Tree t;
  fixture::JedecCodeMakers(t);
  const Outcome o = RunTool(t.Root());
  EXPECT_EQ(o.panels.ramp3(), "G.Skill - F4-3200C16-8GVKB");  // the SMBIOS 3.2 Module Manufacturer ID
  EXPECT_EQ(o.panels.ramp4(), "Micron Technology - CT8G4DFRA32A.C8FE");  // "Unknown (0x2C80)"
}

TEST(SysreportLive, ThisMachineFillsTheProcessorAndOs) {
  const Outcome o = RunTool("");
  SCOPED_TRACE(Dump(o));
  EXPECT_NE(o.panels.osp, "*");
  EXPECT_NE(o.panels.cpup, "*");
  EXPECT_NE(o.panels.cpucores, "*");
  EXPECT_NE(sysinfo::SpecValue(o.spec, "PI_CORE_SPEED"), "*");
}

TEST(SysreportCommandLine, WithoutTxtArgumentItWritesNothingAndFails) {
  const platform::ProcessOutcome run = platform::RunProgram(SYSREPORT_EXE, {}, 5000);
  EXPECT_TRUE(run.started);
  EXPECT_EQ(run.exitCode, 1u);
}

}  // namespace
