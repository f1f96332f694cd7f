// The memory rules on their own: the channel forms, the maker codes, the udev database entry,
// the configured speed and the overclocking profiles.
#include "sysreport/memory.h"

#include <gtest/gtest.h>

#include <random>

#include "sysreport/jedec.h"
#include "sysreport/spd.h"
#include "sysreport/udev.h"
#include "tests/sysreport/fixture.h"

namespace {

using sysreport::ChannelOf;

sysreport::ModuleFacts Module(const std::string& locator, const std::string& bank,
                              const std::string& type = "DDR4", int width = 64) {
  sysreport::ModuleFacts m;
  m.locator = locator;
  m.bankLocator = bank;
  m.type = type;
  m.dataWidth = width;
  m.channel = ChannelOf(locator, bank);
  return m;
}

int Count(const std::vector<std::pair<std::string, std::string>>& slots, const std::string& type = "DDR4",
          int boardSlots = 0) {
  std::vector<sysreport::ModuleFacts> modules;
  for (const auto& [loc, bank] : slots) modules.push_back(Module(loc, bank, type));
  return sysreport::CountChannels(modules, boardSlots);
}

// One test per locator form of the channel table.
TEST(ChannelForms, ChannelWordInTheLocator) {
  EXPECT_EQ(Count({{"ChannelA-DIMM0", "BANK 0"}, {"ChannelB-DIMM0", "BANK 2"}}), 2);
  EXPECT_EQ(Count({{"ChannelA-DIMM0", "BANK 0"}, {"ChannelA-DIMM1", "BANK 1"}}), 1);
}

TEST(ChannelForms, ChannelWordInTheBankLocatorKeepsSocketsApart) {
  EXPECT_EQ(Count({{"DIMM 1", "P0 CHANNEL A"}, {"DIMM 1", "P0 CHANNEL B"}}), 2);
  EXPECT_EQ(Count({{"DIMM 0", "P0 CHANNEL A"}, {"DIMM 1", "P0 CHANNEL A"}}), 1);
  EXPECT_EQ(Count({{"DIMM 0", "P0 CHANNEL A"}, {"DIMM 0", "P1 CHANNEL A"}}), 2);
  EXPECT_EQ(Count({{"P1-DIMMA1", "P0_Node0_Channel0_Dimm0"}, {"P2-DIMMA1", "P1_Node1_Channel0_Dimm0"}}), 2);
}

TEST(ChannelForms, ControllerAndChannel) {
  EXPECT_EQ(Count({{"Controller0-ChannelA-DIMM0", "BANK 0"}, {"Controller1-ChannelA-DIMM0", "BANK 0"}}), 2);
  EXPECT_EQ(Count({{"Controller0-ChannelA-DIMM0", "BANK 0"}, {"Controller0-ChannelA-DIMM1", "BANK 0"}}), 1);
}

TEST(ChannelForms, ControllerAloneIsOneDdr5Channel) {
  EXPECT_EQ(Count({{"Controller0-DIMM1", "BANK 0"}, {"Controller1-DIMM1", "BANK 0"}}, "DDR5"), 2);
  EXPECT_EQ(Count({{"Controller0-DIMM0", "BANK 0"}, {"Controller0-DIMM1", "BANK 0"}}, "DDR5"), 1);
}

TEST(ChannelForms, LetterAndSlotDigit) {
  EXPECT_EQ(Count({{"DIMM_A1", ""}, {"DIMM_B1", ""}}), 2);
  EXPECT_EQ(Count({{"DIMM_A1", ""}, {"DIMM_A2", ""}, {"DIMM_B1", ""}, {"DIMM_B2", ""}}), 2);
  EXPECT_EQ(Count({{"DIMMA2", ""}, {"DIMMB2", ""}}), 2);
  EXPECT_EQ(Count({{"A1", ""}, {"B2", ""}}), 2);
  // Three modules on one letter: the letter names a socket, not a channel.
  EXPECT_EQ(Count({{"A1", ""}, {"A2", ""}, {"A3", ""}, {"B1", ""}}), 0);
}

TEST(ChannelForms, SocketAndLetterOnServers) {
  std::vector<std::pair<std::string, std::string>> slots;
  for (const char* cpu : {"CPU1", "CPU2"})
    for (char ch = 'A'; ch <= 'F'; ++ch) slots.push_back({std::string(cpu) + "_DIMM_" + ch + "1", ""});
  EXPECT_EQ(Count(slots), 12);
  EXPECT_NE(ChannelOf("CPU1_DIMM_A1", ""), ChannelOf("CPU2_DIMM_A1", ""));
  EXPECT_EQ(ChannelOf("P1-DIMMA1", ""), ChannelOf("P1-DIMMA2", ""));  // "P1" is the socket, not channel P
  EXPECT_NE(ChannelOf("P1-DIMMA1", ""), ChannelOf("P2-DIMMA1", ""));
}

TEST(ChannelForms, LetterAloneOnLaptops) {
  EXPECT_EQ(Count({{"DIMM A", "BANK 0"}, {"DIMM B", "BANK 2"}}), 2);
  EXPECT_EQ(Count({{"SODIMM A", ""}, {"SODIMM B", ""}}), 2);
}

TEST(ChannelForms, BankPairsOnlyWhenEachPairHoldsOneModule) {
  EXPECT_EQ(Count({{"DIMM 0", "BANK 0"}, {"DIMM 1", "BANK 2"}}), 2);
  // BANK 0 and BANK 1 could be two slots of one channel or two channels: left out ...
  EXPECT_EQ(Count({{"DIMM 0", "BANK 0"}, {"DIMM 1", "BANK 1"}}), 0);
  EXPECT_EQ(Count({{"DIMM 0", "BANK 0"}, {"DIMM 1", "BANK 1"}}, "DDR4", 4), 0);
  // ... unless the board has only these two slots, or both slots bear one name (slot 0 of each).
  EXPECT_EQ(Count({{"DIMM 0", "BANK 0"}, {"DIMM 1", "BANK 1"}}, "DDR4", 2), 2);
  EXPECT_EQ(Count({{"DIMM0", "BANK 0"}, {"DIMM0", "BANK 1"}}), 2);
  EXPECT_EQ(Count({{"DIMM0", "BANK 0"}, {"DIMM0", "BANK 0"}}), 0);
  EXPECT_EQ(Count({{"Bottom - Slot 1 (left)", "BANK 0"}, {"Bottom - Slot 2 (right)", "BANK 2"}}), 2);
}

TEST(ChannelForms, NeverGuessed) {
  EXPECT_EQ(ChannelOf("", ""), "");
  EXPECT_EQ(ChannelOf("DIMM 0", "NODE 1"), "");
  EXPECT_EQ(Count({{"DIMM 0", ""}, {"DIMM 1", ""}}), 0);
  // Two naming forms on one machine say nothing together.
  EXPECT_EQ(Count({{"ChannelA-DIMM0", ""}, {"DIMM_B1", ""}}), 0);
  EXPECT_EQ(Count({{"DIMM 0", ""}}), 1);  // one module is one channel whatever its slot says
  EXPECT_EQ(sysreport::ChannelWord(2), "Dual");
  EXPECT_EQ(sysreport::ChannelWord(16), "16");
}

TEST(ChannelForms, SolderedLpddrCountsSixtyFourBitChannels) {
  std::vector<sysreport::ModuleFacts> modules;
  for (const char* mc : {"Controller0", "Controller1"})
    for (char ch : {'A', 'B', 'C', 'D'})
      modules.push_back(Module(std::string(mc) + "-Channel" + ch, "BANK 0", "LPDDR5", 16));
  EXPECT_EQ(sysreport::CountChannels(modules), 2);  // 8 x 16 bits
  modules.resize(4);
  EXPECT_EQ(sysreport::CountChannels(modules), 1);
  modules[0].dataWidth = 0;  // a width not given: cannot tell
  EXPECT_EQ(sysreport::CountChannels(modules), 0);
}

// One test per form in which a maker code reaches us.
TEST(MakerCodes, SpdBytesWithParity) {
  EXPECT_EQ(sysreport::JedecMakerName(0x80CE), "Samsung");
  EXPECT_EQ(sysreport::JedecMakerName(0x80AD), "SK Hynix");
  EXPECT_EQ(sysreport::JedecMakerName(0x802C), "Micron Technology");
  EXPECT_EQ(sysreport::JedecMakerName(0x0198), "Kingston");
  EXPECT_EQ(sysreport::JedecMakerName(0x029E), "Corsair");
  EXPECT_EQ(sysreport::JedecMakerName(0x04CD), "G.Skill");
  EXPECT_EQ(sysreport::JedecMakerName(0x859B), "Crucial Technology");
  EXPECT_EQ(sysreport::JedecMakerName(0x0B92), "Kingbank");            // bank 12
  EXPECT_EQ(sysreport::JedecMakerName(0x8632), "Montage Technology");  // SPD hubs and registers
  EXPECT_EQ(sysreport::JedecMakerName(0x0A05), "JEDEC bank 11 code 0x05");
}

TEST(MakerCodes, TwoByteText) {
  EXPECT_EQ(sysreport::MakerFromSmbiosText("029E"), "Corsair");
  EXPECT_EQ(sysreport::MakerFromSmbiosText("80CE"), "Samsung");
}

TEST(MakerCodes, WithoutParityBits) {
  EXPECT_EQ(sysreport::MakerFromSmbiosText("004E"), "Samsung");
  EXPECT_EQ(sysreport::MakerFromSmbiosText("021E"), "Corsair");
}

TEST(MakerCodes, WithHexPrefix) { EXPECT_EQ(sysreport::MakerFromSmbiosText("0x80AD"), "SK Hynix"); }

TEST(MakerCodes, EitherByteOrder) {
  EXPECT_EQ(sysreport::MakerFromSmbiosText("CE80"), "Samsung");
  EXPECT_EQ(sysreport::MakerFromSmbiosText("9801"), "Kingston");
}

TEST(MakerCodes, SixByteText) {
  EXPECT_EQ(sysreport::MakerFromSmbiosText("80CE000080CE"), "Samsung");
  EXPECT_EQ(sysreport::MakerFromSmbiosText("802C0000802C"), "Micron Technology");
  EXPECT_EQ(sysreport::MakerFromSmbiosText("0000000080AD"), "SK Hynix");  // only the DRAM maker's pair
}

TEST(MakerCodes, ContinuationSequence) {
  EXPECT_EQ(sysreport::MakerFromSmbiosText("7F7F9E0000000000"), "Corsair");
}

TEST(MakerCodes, BracketedAfterUnknown) {
  EXPECT_EQ(sysreport::MakerFromSmbiosText("Unknown (80AD)"), "SK Hynix");
  EXPECT_EQ(sysreport::MakerFromSmbiosText("Unknown(0x029E)"), "Corsair");
  EXPECT_EQ(sysreport::MakerFromSmbiosText("Undefined (04CD)"), "G.Skill");
}

TEST(MakerCodes, PlaceholdersNameNobody) {
  for (const char* text : {"Unknown", "Undefined", "Not Specified", "", "  ", "Unknown ()"})
    EXPECT_EQ(sysreport::MakerFromSmbiosText(text), "") << text;
}

TEST(MakerCodes, NamesAndUnlistedCodesStayAsWritten) {
  EXPECT_EQ(sysreport::MakerFromSmbiosText("G Skill Intl"), "G Skill Intl");
  EXPECT_EQ(sysreport::MakerFromSmbiosText("Samsung"), "Samsung");
  EXPECT_EQ(sysreport::MakerFromSmbiosText("ABCD"), "ABCD");  // no listed maker either way round
  EXPECT_EQ(sysreport::MakerFromSmbiosText("1234"), "1234");
}

TEST(MakerCodes, ModuleManufacturerIdAsUdevWritesIt) {
  EXPECT_EQ(sysreport::MakerFromCodeText("Bank 1, Hex 0xCE"), "Samsung");
  EXPECT_EQ(sysreport::MakerFromCodeText("Bank 5, Hex 0xCD"), "G.Skill");
  EXPECT_FALSE(sysreport::MakerFromCodeText("Bank 99, Hex 0xCE"));
  EXPECT_EQ(sysreport::JedecName(sysreport::JedecFromBytes(0x04, 0xCD)), "G.Skill");
}

TEST(UdevEntry, SizesInBytesEmptySlotsAndTypes) {
  fixture::MemoryDevice a{"DIMM_A1", "BANK 0", "", "", "", 0, 0x1A, 0, 0};
  fixture::MemoryDevice b{"DIMM_A2", "BANK 1", "Kingston", "1", "KF432", 16384, 0x1A, 3200, 3200};
  const sysreport::UdevMemory u = sysreport::ParseUdevMemory(fixture::UdevEntry({a, b}));
  ASSERT_EQ(u.devices.size(), 2u);
  EXPECT_TRUE(u.present);
  EXPECT_EQ(u.arraySlots, 2);
  EXPECT_TRUE(u.devices[0].sizeKnown);
  EXPECT_EQ(u.devices[0].sizeMBytes, 0u);      // PRESENT=0
  EXPECT_EQ(u.devices[0].manufacturer, "");    // "Not Specified"
  EXPECT_EQ(u.devices[1].sizeMBytes, 16384u);  // 17179869184 bytes
  EXPECT_EQ(u.devices[1].type, "DDR4");
  EXPECT_EQ(u.devices[1].formFactor, "DIMM");
  EXPECT_EQ(u.devices[1].configuredSpeed, 3200u);
  EXPECT_EQ(u.devices[1].dataWidth, 64);
  const sysreport::UdevMemory old = sysreport::ParseUdevMemory(fixture::UdevEntry({b}, "<OUT OF SPEC>"));
  ASSERT_EQ(old.devices.size(), 1u);
  EXPECT_EQ(old.devices[0].type, "");  // an unknown type, not a name
}

TEST(UdevEntry, DamagedLinesLoseOnlyTheirFact) {
  const std::string text =
      "E:MEMORY_DEVICE_0_SIZE=8589934592\n"
      "E:MEMORY_DEVICE_0_TYPE DDR4\n"  // no "="
      "E:MEMORY_DEVICE_0_PART_NUMBER=AB\x01"
      "CD\n"                                                              // control byte
      "E:MEMORY_DEVICE_0_CONFIGURED_SPEED_MTS=99999999999999999999999\n"  // huge
      "E:MEMORY_DEVICE_0_LOCATOR=DIMM_A1\n"
      "E:MEMORY_DEVICE__SIZE=8589934592\n"             // missing index
      "E:MEMORY_DEVICE_99999_SIZE=8589934592\n"        // index too long
      "E:MEMORY_DEVICE_3_SIZE=18446744073709551615\n"  // past any module
      "E:MEMORY_DEVICE_5_SIZE=4294967296\n"            // a gap before it is fine
      "E:=\nE:\nX\n\n";
  const sysreport::UdevMemory u = sysreport::ParseUdevMemory(text);
  ASSERT_EQ(u.devices.size(), 3u);
  EXPECT_EQ(u.devices[0].sizeMBytes, 8192u);
  EXPECT_EQ(u.devices[0].type, "");
  EXPECT_EQ(u.devices[0].partNumber, "");
  EXPECT_EQ(u.devices[0].configuredSpeed, 0u);
  EXPECT_EQ(u.devices[0].locator, "DIMM_A1");
  EXPECT_FALSE(u.devices[1].sizeKnown);  // device 3
  EXPECT_EQ(u.devices[2].sizeMBytes, 4096u);
}

TEST(UdevEntry, RandomBytesNeverCrash) {
  std::mt19937 rng(11);
  const std::string good =
      fixture::UdevEntry({fixture::MemoryDevice{"A1", "", "Kingston", "1", "P", 8192, 0x1A, 3200, 3200}});
  for (int round = 0; round < 500; ++round) {
    std::string text = good;
    for (int k = 0; k < 8; ++k) text[rng() % text.size()] = static_cast<char>(rng() & 0xFF);
    (void)sysreport::ParseUdevMemory(text);
    std::string noise(rng() % 4096, '\0');
    for (char& c : noise) c = static_cast<char>(rng() % 3 == 0 ? '\n' : rng() & 0xFF);
    (void)sysreport::ParseUdevMemory("E:MEMORY_DEVICE_0_" + noise);
  }
}

TEST(ConfiguredSpeed, TransferRateAsWritten) {
  EXPECT_EQ(sysreport::ConfiguredRate(3200, 3200, {}, "DDR4", 0), 3200);
  EXPECT_EQ(sysreport::ConfiguredRate(2666, 3200, {}, "DDR4", 0), 2666);
  EXPECT_EQ(sysreport::ConfiguredRate(1600, 3200, {}, "DDR4", 302), 1600);  // SMBIOS 3.1 on: MT/s
}

TEST(ConfiguredSpeed, HalfTheTransferRateBeforeSmbios31) {
  EXPECT_EQ(sysreport::ConfiguredRate(1600, 3200, {}, "DDR4", 300), 3200);          // matches the rated speed
  EXPECT_EQ(sysreport::ConfiguredRate(1800, 2133, {2133, 3600}, "DDR4", 0), 3600);  // an XMP profile's speed
  EXPECT_EQ(sysreport::ConfiguredRate(667, 0, {}, "DDR3", 0), 1334);  // below DDR3's slowest rate
  EXPECT_EQ(sysreport::ConfiguredRate(800, 0, {}, "DDR3", 0), 800);   // DDR3-800 exists: as written
  EXPECT_EQ(sysreport::ConfiguredRate(0, 3200, {}, "DDR4", 0), 0);
}

TEST(Profiles, Xmp2SelectedWhenItsSpeedIsTheConfiguredOne) {
  fixture::Module m;  // JEDEC DDR4-3200 CL22
  m.xmp = {{625, 10000, 11250, 11250, 22500, 350000}, {555, 10000, 11100, 11100, 21100, 350000}};
  const auto f = sysreport::DecodeSpd(fixture::Ddr4Spd(m));
  ASSERT_TRUE(f);
  ASSERT_EQ(f->profiles.size(), 2u);
  EXPECT_EQ(f->profiles[1].rate, 3600);
  std::string source;
  auto t = sysreport::TimingsAsRun(*f, 3200, &source);
  ASSERT_TRUE(t);
  EXPECT_EQ(source, "XMP 2.0 profile 1");  // the first profile at that speed, not the JEDEC grade
  EXPECT_EQ(std::vector<int>({t->cl, t->rcd, t->rp, t->ras, t->rfc}),
            std::vector<int>({16, 18, 18, 36, 560}));
  t = sysreport::TimingsAsRun(*f, 3600, &source);
  ASSERT_TRUE(t);
  EXPECT_EQ(source, "XMP 2.0 profile 2");
  EXPECT_EQ(t->cl, 18);
  t = sysreport::TimingsAsRun(*f, 2933, &source);  // no profile there: the JEDEC grade covers it
  ASSERT_TRUE(t);
  EXPECT_EQ(source, "JEDEC");
  EXPECT_FALSE(sysreport::TimingsAsRun(*f, 4000, &source));  // nothing describes 4000
}

TEST(Profiles, Xmp3AndExpoOnDdr5) {
  fixture::Module m;
  m.tCKps = 416;
  m.tAAps = m.tRCDps = m.tRPps = 16000;
  m.tRASps = 32000;
  m.tRFCps = 295000;
  m.dieGbits = 16;
  m.xmp = {{277, 10000, 10000, 10000, 28000, 295000}};   // 7200 CL36
  m.expo = {{333, 10000, 12667, 12667, 32000, 295000}};  // 6000 CL30
  const auto f = sysreport::DecodeSpd(fixture::Ddr5Spd(m));
  ASSERT_TRUE(f);
  ASSERT_EQ(f->profiles.size(), 2u);
  std::string source;
  auto t = sysreport::TimingsAsRun(*f, 6000, &source);
  ASSERT_TRUE(t);
  EXPECT_EQ(source, "EXPO profile 1");
  EXPECT_EQ(std::vector<int>({t->cl, t->rcd, t->rp, t->ras, t->rfc}),
            std::vector<int>({30, 38, 38, 96, 885}));
  t = sysreport::TimingsAsRun(*f, 7200, &source);
  ASSERT_TRUE(t);
  EXPECT_EQ(source, "XMP 3.0 profile 1");
  EXPECT_EQ(t->cl, 36);
  t = sysreport::TimingsAsRun(*f, 4800, &source);
  ASSERT_TRUE(t);
  EXPECT_EQ(source, "JEDEC");
  EXPECT_EQ(t->cl, 40);
}

}  // namespace
