// The decoders on their own: damaged input is refused without a crash, and the rules that pick
// channels, timings and makers.
#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <tuple>

#include "sysreport/cpu.h"
#include "sysreport/memory.h"
#include "sysreport/report_writer.h"
#include "sysreport/smbios.h"
#include "sysreport/spd.h"
#include "tests/sysreport/fixture.h"

namespace {

TEST(SpdDecode, ChecksumMismatchOrWrongKindIsRefused) {
  fixture::Module m;
  std::string image = fixture::Ddr4Spd(m);
  ASSERT_TRUE(sysreport::DecodeSpd(image));
  image[40] ^= 1;
  EXPECT_FALSE(sysreport::DecodeSpd(image));
  EXPECT_FALSE(sysreport::DecodeSpd(std::string(512, '\xFF')));
  EXPECT_FALSE(sysreport::DecodeSpd(fixture::Ddr4Spd(m).substr(0, 200)));
  EXPECT_FALSE(sysreport::DecodeSpd(""));
}

TEST(SpdDecode, Ddr4SizeMakerAndSerial) {
  fixture::Module m;
  m.dieGbits = 16;
  m.ranks = 2;
  const auto f = sysreport::DecodeSpd(fixture::Ddr4Spd(m));
  ASSERT_TRUE(f);
  EXPECT_EQ(f->sizeMBytes, 32768u);
  EXPECT_EQ(f->maxRate, 3200);
  EXPECT_EQ(sysreport::JedecMakerName(f->makerCode), "G.Skill");
  EXPECT_EQ(f->serial, "12345678");
  EXPECT_EQ(f->part, "F4-3200C16-8GVKB");
  EXPECT_EQ(sysreport::JedecMakerName(0x0A05), "JEDEC bank 11 code 0x05");
}

TEST(SpdTimings, SlowerSpeedGivesFewerClocksAndFasterThanListedGivesNone) {
  fixture::Module m;
  const auto f = sysreport::DecodeSpd(fixture::Ddr4Spd(m));
  ASSERT_TRUE(f);
  const auto at2400 = sysreport::TimingsAt(*f, 2400);  // 833 ps per clock
  ASSERT_TRUE(at2400);
  EXPECT_EQ(at2400->cl, 20);  // 16.5 clocks rounds to 17, lifted to the supported CL20
  EXPECT_EQ(at2400->rcd, 17);
  // An overclocking profile's speed: the JEDEC minimum times do not say how it is driven.
  EXPECT_FALSE(sysreport::TimingsAt(*f, 3600));
  EXPECT_FALSE(sysreport::TimingsAt(*f, 0));
}

TEST(SmbiosParse, TruncatedAndGarbageTablesEndTheWalkWithoutCrashing) {
  fixture::MemoryDevice d{"DIMM_A1", "", "Maker", "1", "P", 4096, 0x1A, 2400, 2400};
  const std::string table = fixture::Table({fixture::Type17(1, d)});
  for (size_t cut = 0; cut < table.size(); ++cut) {
    const auto s = sysreport::ParseSmbios(table.substr(0, cut));
    EXPECT_LE(s.size(), 2u);
  }
  std::string garbage(300, '\x11');
  garbage[1] = '\x02';  // a length shorter than the header
  EXPECT_TRUE(sysreport::ParseSmbios(garbage).empty());
  const auto facts = sysreport::ReadSmbiosFacts(sysreport::ParseSmbios(table));
  ASSERT_EQ(facts.memoryDevices.size(), 1u);
  EXPECT_EQ(facts.memoryDevices[0].sizeMBytes, 4096u);
  EXPECT_EQ(facts.memoryDevices[0].type, "DDR4");
  EXPECT_EQ(facts.memoryDevices[0].locator, "DIMM_A1");
}

TEST(Channels, LocatorRules) {
  using sysreport::ChannelOf;
  EXPECT_EQ(ChannelOf("ChannelA-DIMM0", "BANK 0"), ChannelOf("ChannelA-DIMM1", "BANK 1"));
  EXPECT_NE(ChannelOf("ChannelA-DIMM0", "BANK 0"), ChannelOf("ChannelB-DIMM0", "BANK 2"));
  EXPECT_NE(ChannelOf("DIMM 1", "P0 CHANNEL A"), ChannelOf("DIMM 1", "P0 CHANNEL B"));
  EXPECT_NE(ChannelOf("DIMM 0", "P0 CHANNEL A"), ChannelOf("DIMM 0", "P1 CHANNEL A"));  // two sockets
  EXPECT_EQ(ChannelOf("DIMM_A1", ""), ChannelOf("DIMM_A2", ""));
  EXPECT_NE(ChannelOf("DIMM_A1", ""), ChannelOf("DIMM_B1", ""));
  EXPECT_EQ(ChannelOf("A1", ""), ChannelOf("A2", ""));
  EXPECT_EQ(ChannelOf("", ""), "");
  EXPECT_EQ(sysreport::ChannelWord(2), "Dual");
  EXPECT_EQ(sysreport::ChannelWord(8), "8");
}

TEST(ReportLayout, MachineTextsCannotOpenSectionsOrModules) {
  EXPECT_EQ(sysreport::SafeValue("  A--B---C\tD\r\n"), "A-B-C D");
  EXPECT_EQ(sysreport::SafeValue("DIMM #1"), "DIMM 1");
  sysreport::ReportWriter w("h1", "h2");
  w.Value("Empty", "");
  w.Value("Kept", "", false, true);
  w.Value("Label", "v", true);
  w.ModuleBlock(3);
  EXPECT_EQ(w.Text(), "h1\nh2\n\nKept\t\t\n\tLabel\t\tv\nDIMM #\t\t\t\t3\n");
}

}  // namespace

namespace {

// Random images with a valid checksum reach every field decoder; random tables reach the walk.
TEST(DamagedInput, RandomSpdImagesAndTablesNeverCrashTheDecoders) {
  std::mt19937 rng(20261208);
  auto bytes = [&](size_t n) {
    std::string s(n, '\0');
    for (char& c : s) c = static_cast<char>(rng() & 0xFF);
    return s;
  };
  for (int round = 0; round < 300; ++round) {
    for (const auto& [kind, size, crcEnd] :
         {std::tuple<uint8_t, size_t, size_t>{0x0C, 512, 126}, {0x12, 1024, 510}, {0x0B, 256, 126}}) {
      std::string image = bytes(size);
      image[2] = static_cast<char>(kind);
      if (kind == 0x0B) image[0] = static_cast<char>(image[0] & 0x7F);
      const uint16_t crc = sysreport::SpdCrc16(image, 0, crcEnd);
      image[crcEnd] = static_cast<char>(crc & 0xFF);
      image[crcEnd + 1] = static_cast<char>(crc >> 8);
      const auto f = sysreport::DecodeSpd(image);
      ASSERT_TRUE(f) << round;
      for (int rate : {1600, 2400, 3200, 4800, 6400}) (void)sysreport::TimingsAt(*f, rate);
      (void)sysreport::JedecMakerName(f->makerCode);
    }
    const std::string table = bytes(64 + rng() % 2048);
    const auto facts = sysreport::ReadSmbiosFacts(sysreport::ParseSmbios(table));
    const sysreport::Root nowhere("/nonexistent-quorvex-root");
    (void)sysreport::CollectMemory(nowhere, facts, {});
  }
}

}  // namespace

namespace {

TEST(Caches, HybridProcessorListsEachCoreKindsCacheApart) {
  fixture::Tree t;
  // Two performance cores with their own 1280 KB L2, four efficiency cores sharing one 2 MB L2.
  const struct {
    int cpu;
    const char* size;
    const char* ways;
    const char* shared;
  } l2[] = {{0, "1280K", "10", "0"},   {1, "1280K", "10", "1"},   {2, "2048K", "16", "2-5"},
            {3, "2048K", "16", "2-5"}, {4, "2048K", "16", "2-5"}, {5, "2048K", "16", "2-5"}};
  t.File("/sys/devices/system/cpu/online", "0-5\n");
  for (const auto& c : l2) {
    const std::string d = "/sys/devices/system/cpu/cpu" + std::to_string(c.cpu) + "/cache/index2/";
    t.File(d + "level", "2\n");
    t.File(d + "type", "Unified\n");
    t.File(d + "size", std::string(c.size) + "\n");
    t.File(d + "ways_of_associativity", std::string(c.ways) + "\n");
    t.File(d + "coherency_line_size", "64\n");
    t.File(d + "shared_cpu_list", std::string(c.shared) + "\n");
  }
  const sysreport::Root root(t.Root());
  const sysreport::CpuFacts f =
      sysreport::ProbeCpu(root, sysreport::Deadline(std::chrono::milliseconds(1000)));
  ASSERT_EQ(f.caches.size(), 2u);
  EXPECT_EQ(sysreport::CacheText(f.caches[0]), "2 x 1280 KBytes, 10-way set associative, 64-byte line size");
  EXPECT_EQ(sysreport::CacheText(f.caches[1]), "2 MBytes, 16-way set associative, 64-byte line size");
}

}  // namespace

// A hypervisor that answers leaf 0x8000001D with zeros still answers the older AMD leaves; these
// are the registers of such a guest (48 KB L1 data, 32 KB L1 instruction, 1 MB L2, 508 MB L3
// whose ways are left to the empty leaf).
TEST(Caches, OlderAmdLeavesGiveTheCachesWhenTheTopologyLeafIsEmpty) {
  const auto caches = sysreport::AmdLegacyCaches(0x300c0140, 0x20080140, 0x04006140, 0x0fe09140, 1, 2);
  ASSERT_EQ(caches.size(), 4u);
  EXPECT_EQ(sysreport::CacheText(caches[0]), "48 KBytes, 12-way set associative, 64-byte line size");
  EXPECT_EQ(caches[0].type, "Data");
  EXPECT_EQ(sysreport::CacheText(caches[1]), "32 KBytes, 8-way set associative, 64-byte line size");
  EXPECT_EQ(caches[1].type, "Instruction");
  EXPECT_EQ(caches[2].level, 2);
  EXPECT_EQ(sysreport::CacheText(caches[2]), "1 MBytes, 8-way set associative, 64-byte line size");
  EXPECT_EQ(caches[3].level, 3);
  EXPECT_EQ(caches[3].sizeKBytes, 1016u * 512);
  EXPECT_EQ(caches[3].ways, 0);
  EXPECT_EQ(caches[3].instances, 2);  // shared by both threads

  // A level the processor does not have (ways code 0) or a zero size is left out; 0xFF ways in L1
  // means fully associative, which the text does not spell out.
  const auto few = sysreport::AmdLegacyCaches(0x40FF0140, 0, 0x02000140, 0, 2, 0);
  ASSERT_EQ(few.size(), 1u);
  EXPECT_EQ(few[0].ways, 0);
  EXPECT_EQ(few[0].instances, 2);
}
