#include "tests/sysreport/fixture.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "platform/temp_folder.h"
#include "sysreport/spd.h"

namespace fixture {

Tree::Tree() {
  // Inside this test process's private folder, which goes away with the process.
  static int count = 0;
  std::string error;
  const std::string& folder = platform::PrivateFolder(&error);
  if (folder.empty()) throw std::runtime_error("no private folder: " + error);
  root_ = folder + "/tree-" + std::to_string(++count);
  std::filesystem::create_directories(root_);
}

Tree::Tree(Shared) {
  std::string pattern = std::filesystem::temp_directory_path().string() + "/quorvex-tree-XXXXXX";
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  root_ = pattern;
  std::filesystem::permissions(root_, std::filesystem::perms::owner_all | std::filesystem::perms::group_read |
                                          std::filesystem::perms::group_exec |
                                          std::filesystem::perms::others_read |
                                          std::filesystem::perms::others_exec);
}

Tree::~Tree() {
  std::error_code ec;
  std::filesystem::remove_all(root_, ec);
}

void Tree::File(const std::string& path, const std::string& bytes) {
  const std::filesystem::path p = root_ + path;
  std::filesystem::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << bytes;
}

void Tree::Link(const std::string& path, const std::string& target) {
  const std::filesystem::path p = root_ + path;
  std::filesystem::create_directories(p.parent_path());
  std::filesystem::create_symlink(target, p);
}

Structure::Structure(uint8_t type, uint8_t length, uint16_t handle) : formatted_(length, '\0') {
  formatted_[0] = static_cast<char>(type);
  formatted_[1] = static_cast<char>(length);
  Word(2, handle);
}
Structure& Structure::Byte(size_t o, uint8_t v) {
  formatted_.at(o) = static_cast<char>(v);
  return *this;
}
Structure& Structure::Word(size_t o, uint16_t v) { return Byte(o, v & 0xFF).Byte(o + 1, v >> 8); }
Structure& Structure::Dword(size_t o, uint32_t v) { return Word(o, v & 0xFFFF).Word(o + 2, v >> 16); }
Structure& Structure::Str(size_t o, const std::string& text) {
  if (text.empty()) return Byte(o, 0);
  strings_.push_back(text);
  return Byte(o, static_cast<uint8_t>(strings_.size()));
}
std::string Structure::Bytes() const {
  std::string b = formatted_;
  for (const std::string& s : strings_) b += s + '\0';
  if (strings_.empty()) b += '\0';
  return b + '\0';
}

std::string Table(const std::vector<Structure>& structures) {
  std::string t;
  for (const Structure& s : structures) t += s.Bytes();
  return t + Structure(127, 4, 0xFEFF).Bytes();
}

Structure Type17(uint16_t handle, const MemoryDevice& d) {
  Structure s(17, d.moduleMakerId ? 0x54 : 0x28, handle);
  s.Word(0x04, 0x1000)
      .Word(0x08, d.width)
      .Word(0x0A, d.width)
      .Word(0x0C, d.sizeMBytes < 0x7FFF ? d.sizeMBytes : 0x7FFF)
      .Byte(0x0E, d.form);
  if (d.sizeMBytes >= 0x7FFF) s.Dword(0x1C, d.sizeMBytes);  // the extended size field
  if (d.moduleMakerId) s.Word(0x2C, d.moduleMakerId);
  s.Str(0x10, d.locator).Str(0x11, d.bank).Byte(0x12, d.sizeMBytes ? d.type : 0x02);
  s.Word(0x15, d.speed).Str(0x17, d.maker).Str(0x18, d.serial).Str(0x1A, d.part);
  s.Byte(0x1B, d.sizeMBytes ? 1 : 0).Word(0x20, d.configured);
  return s;
}

std::string UdevEntry(const std::vector<MemoryDevice>& devices, const std::string& typeName) {
  static const std::pair<uint8_t, const char*> kTypes[] = {
      {0x1A, "DDR4"}, {0x18, "DDR3"}, {0x1E, "LPDDR4"}, {0x22, "DDR5"}, {0x23, "LPDDR5"}};
  std::string e =
      "I:12345678\nE:MEMORY_ARRAY_LOCATION=System Board Or "
      "Motherboard\nE:MEMORY_ARRAY_MAX_CAPACITY=137438953472\n";
  e += "E:MEMORY_ARRAY_NUM_DEVICES=" + std::to_string(devices.size()) + "\n";
  for (size_t i = 0; i < devices.size(); ++i) {
    const MemoryDevice& d = devices[i];
    const std::string p = "E:MEMORY_DEVICE_" + std::to_string(i) + "_";
    if (d.sizeMBytes) {
      e += p + "TOTAL_WIDTH=" + std::to_string(d.width) + "\n" + p + "DATA_WIDTH=" + std::to_string(d.width) +
           "\n";
      e += p + "SIZE=" + std::to_string(uint64_t{d.sizeMBytes} * 1024 * 1024) + "\n";
    } else {
      e += p + "PRESENT=0\n";
    }
    e += p + "FORM_FACTOR=" + (d.form == 0x0D ? "SODIMM" : d.form == 0x0B ? "Row Of Chips" : "DIMM") + "\n";
    if (!d.locator.empty()) e += p + "LOCATOR=" + d.locator + "\n";
    if (!d.bank.empty()) e += p + "BANK_LOCATOR=" + d.bank + "\n";
    std::string type = "Unknown";
    for (const auto& [code, name] : kTypes)
      if (code == d.type) type = name;
    if (!typeName.empty() && d.sizeMBytes) type = typeName;
    e += p + "TYPE=" + (d.sizeMBytes ? type : "Unknown") + "\n" + p + "TYPE_DETAIL=Synchronous\n";
    if (d.speed) e += p + "SPEED_MTS=" + std::to_string(d.speed) + "\n";
    e += p + "MANUFACTURER=" + (d.maker.empty() ? "Not Specified" : d.maker) + "\n";
    e += p + "SERIAL_NUMBER=" + (d.serial.empty() ? "Not Specified" : d.serial) + "\n";
    e += p + "ASSET_TAG=Not Specified\n";
    e += p + "PART_NUMBER=" + (d.part.empty() ? "Not Specified" : d.part) + "\n";
    if (d.sizeMBytes) e += p + "RANK=1\n";
    if (d.configured) e += p + "CONFIGURED_SPEED_MTS=" + std::to_string(d.configured) + "\n";
    if (d.moduleMakerId) {
      char id[32];
      std::snprintf(id, sizeof id, "Bank %d, Hex 0x%02X", (d.moduleMakerId & 0x7F) + 1, d.moduleMakerId >> 8);
      e += p + "MODULE_MANUFACTURER_ID=" + id + "\n";
    }
  }
  return e + "E:ID_VENDOR=Fixture\nG:systemd\nV:1\n";
}

namespace {

void Put(std::string& s, size_t o, uint8_t v) { s.at(o) = static_cast<char>(v); }
uint8_t B8(const std::string& s, size_t o) { return static_cast<uint8_t>(s.at(o)); }
void Put16(std::string& s, size_t o, int v) {
  Put(s, o, static_cast<uint8_t>(v & 0xFF));
  Put(s, o + 1, static_cast<uint8_t>((v >> 8) & 0xFF));
}
void Text(std::string& s, size_t o, size_t width, const std::string& text) {
  for (size_t i = 0; i < width; ++i) s.at(o + i) = i < text.size() ? text[i] : ' ';
}
// A time as medium time base (125 ps) units plus a signed fine correction in ps.
void Mtb(std::string& s, size_t o, size_t fineAt, int ps) {
  int mtb = (ps + 124) / 125;
  Put(s, o, static_cast<uint8_t>(mtb));
  Put(s, fineAt, static_cast<uint8_t>(static_cast<int8_t>(ps - mtb * 125)));
}
int Log2(int v) {
  int n = 0;
  while ((1 << n) < v) ++n;
  return n;
}

}  // namespace

std::string Ddr4Spd(const Module& m) {
  std::string s(512, '\0');
  Put(s, 0, 0x23);
  Put(s, 1, 0x11);
  Put(s, 2, 0x0C);
  Put(s, 3, 0x02);                                                 // UDIMM
  Put(s, 4, static_cast<uint8_t>(0x40 | (Log2(m.dieGbits) + 2)));  // 1 Gbit is code 2, each doubling one more
  Put(s, 12, static_cast<uint8_t>(((m.ranks - 1) << 3) | Log2(m.width / 4)));
  Put(s, 13, 0x03);  // 64-bit bus
  Mtb(s, 18, 125, m.tCKps);
  const uint64_t cas = m.casMask ? m.casMask : (1ull << (22 - 7)) | (1ull << (20 - 7)) | (1ull << (16 - 7));
  for (int i = 0; i < 4; ++i) Put(s, 20 + i, static_cast<uint8_t>(cas >> (8 * i)));
  Mtb(s, 24, 123, m.tAAps);
  Mtb(s, 25, 122, m.tRCDps);
  Mtb(s, 26, 121, m.tRPps);
  const int ras = m.tRASps / 125;
  Put(s, 27, static_cast<uint8_t>((ras >> 8) & 0x0F));
  Put(s, 28, static_cast<uint8_t>(ras & 0xFF));
  Put16(s, 30, m.tRFCps / 125);
  Put16(s, 126, sysreport::SpdCrc16(s, 0, 126));
  if (!m.xmp.empty()) {
    Put(s, 384, 0x0C);
    Put(s, 385, 0x4A);
    Put(s, 387, 0x20);
    for (size_t p = 0; p < m.xmp.size() && p < 2; ++p) {
      const Module::Profile& x = m.xmp[p];
      const size_t o = p == 0 ? 393 : 440;
      Put(s, 386, static_cast<uint8_t>(B8(s, 386) | (1 << p)));
      Mtb(s, o + 3, o + 38, x.tCKps);
      for (int i = 0; i < 4; ++i) Put(s, o + 4 + i, i < 3 ? 0xFF : 0x3F);  // CL7 to CL36
      Mtb(s, o + 8, o + 37, x.tAAps);
      Mtb(s, o + 9, o + 36, x.tRCDps);
      Mtb(s, o + 10, o + 35, x.tRPps);
      const int ras = x.tRASps / 125;
      Put(s, o + 11, static_cast<uint8_t>((ras >> 8) & 0x0F));
      Put(s, o + 12, static_cast<uint8_t>(ras & 0xFF));
      Put16(s, o + 14, x.tRFCps / 125);
    }
  }
  Put(s, 320, static_cast<uint8_t>(m.maker >> 8));
  Put(s, 321, static_cast<uint8_t>(m.maker & 0xFF));
  Put(s, 323, 0x21);  // 2021
  Put(s, 324, 0x12);  // week 12
  for (int i = 0; i < 4; ++i) Put(s, 325 + i, static_cast<uint8_t>(m.serial >> (24 - 8 * i)));
  Text(s, 329, 20, m.part);
  return s;
}

std::string Ddr5Spd(const Module& m) {
  std::string s(1024, '\0');
  Put(s, 0, 0x30);
  Put(s, 1, 0x10);
  Put(s, 2, 0x12);
  Put(s, 3, 0x02);                                                      // UDIMM
  Put(s, 4, m.dieGbits == 16 ? 0x04 : m.dieGbits == 32 ? 0x06 : 0x02);  // monolithic
  Put(s, 6, static_cast<uint8_t>(Log2(m.width / 4) << 5));
  Put16(s, 20, m.tCKps);
  const uint64_t cas = m.casMask ? m.casMask : (1ull << ((40 - 20) / 2)) | (1ull << ((42 - 20) / 2));
  for (int i = 0; i < 5; ++i) Put(s, 24 + i, static_cast<uint8_t>(cas >> (8 * i)));
  Put16(s, 30, m.tAAps);
  Put16(s, 32, m.tRCDps);
  Put16(s, 34, m.tRPps);
  Put16(s, 36, m.tRASps);
  Put16(s, 42, m.tRFCps / 1000);
  Put(s, 234, static_cast<uint8_t>((m.ranks - 1) << 3));
  Put(s, 235, 0x22);  // two sub-channels of 32 bits
  Put16(s, 510, sysreport::SpdCrc16(s, 0, 510));
  if (!m.xmp.empty()) {
    Put(s, 640, 0x0C);
    Put(s, 641, 0x4A);
    Put(s, 642, 0x30);
    for (size_t p = 0; p < m.xmp.size() && p < 3; ++p) {
      const Module::Profile& x = m.xmp[p];
      const size_t o = 704 + 64 * p;
      Put(s, 643, static_cast<uint8_t>(B8(s, 643) | (1 << p)));
      Put16(s, o + 5, x.tCKps);
      for (int i = 0; i < 5; ++i) Put(s, o + 7 + i, 0xFF);
      Put16(s, o + 13, x.tAAps);
      Put16(s, o + 15, x.tRCDps);
      Put16(s, o + 17, x.tRPps);
      Put16(s, o + 19, x.tRASps);
      Put16(s, o + 25, x.tRFCps / 1000);
    }
  }
  if (!m.expo.empty()) {
    Text(s, 832, 4, "EXPO");
    Put(s, 836, 0x10);
    for (size_t p = 0; p < m.expo.size() && p < 2; ++p) {
      const Module::Profile& x = m.expo[p];
      const size_t o = 842 + 40 * p;
      Put(s, 837, static_cast<uint8_t>(B8(s, 837) | (p == 0 ? 0x01 : 0x10)));
      Put16(s, o + 4, x.tCKps);
      Put16(s, o + 6, x.tAAps);
      Put16(s, o + 8, x.tRCDps);
      Put16(s, o + 10, x.tRPps);
      Put16(s, o + 12, x.tRASps);
      Put16(s, o + 18, x.tRFCps / 1000);
    }
  }
  Put(s, 512, static_cast<uint8_t>(m.maker >> 8));
  Put(s, 513, static_cast<uint8_t>(m.maker & 0xFF));
  for (int i = 0; i < 4; ++i) Put(s, 517 + i, static_cast<uint8_t>(m.serial >> (24 - 8 * i)));
  Text(s, 521, 30, m.part);
  return s;
}

namespace {

void Processor(Tree& t, const std::string& brand, int cores, int threadsPerCore, int kHz,
               const std::string& extra) {
  const std::string vendor = brand.rfind("AMD", 0) == 0 ? "AuthenticAMD" : "GenuineIntel";
  t.File("/.cpuid", "vendor=" + vendor + "\nbrand=" + brand + "\n" + extra);
  const int threads = cores * threadsPerCore;
  t.File("/sys/devices/system/cpu/online", "0-" + std::to_string(threads - 1) + "\n");
  std::string cpuinfo;
  for (int cpu = 0; cpu < threads; ++cpu) {
    const std::string c = "/sys/devices/system/cpu/cpu" + std::to_string(cpu);
    const int core = cpu % cores;
    t.File(c + "/topology/physical_package_id", "0\n");
    t.File(c + "/topology/core_id", std::to_string(core) + "\n");
    if (kHz) t.File(c + "/cpufreq/scaling_cur_freq", std::to_string(kHz + cpu * 100) + "\n");
    const std::string pair =
        threadsPerCore == 2 ? std::to_string(core) + "," + std::to_string(core + cores) : std::to_string(cpu);
    struct Level {
      const char* level;
      const char* type;
      const char* size;
      const char* ways;
      std::string shared;
    } levels[] = {{"1", "Data", "32K", "8", pair},
                  {"1", "Instruction", "32K", "8", pair},
                  {"2", "Unified", "256K", "4", pair},
                  {"3", "Unified", "12288K", "16", "0-" + std::to_string(threads - 1)}};
    for (int i = 0; i < 4; ++i) {
      const std::string d = c + "/cache/index" + std::to_string(i) + "/";
      t.File(d + "level", std::string(levels[i].level) + "\n");
      t.File(d + "type", std::string(levels[i].type) + "\n");
      t.File(d + "size", std::string(levels[i].size) + "\n");
      t.File(d + "ways_of_associativity", std::string(levels[i].ways) + "\n");
      t.File(d + "coherency_line_size", "64\n");
      t.File(d + "shared_cpu_list", levels[i].shared + "\n");
    }
    cpuinfo += "processor\t: " + std::to_string(cpu) + "\nvendor_id\t: " + vendor +
               "\ncpu family\t: 6\nmodel\t\t: 158\n"
               "model name\t: " +
               brand +
               "\nstepping\t: 10\ncpu MHz\t\t: 3700.000\n"
               "flags\t\t: fpu mmx sse sse2 pni ssse3 sse4_1 sse4_2 lm aes avx avx2 fma\n\n";
  }
  t.File("/proc/cpuinfo", cpuinfo);
}

void Os(Tree& t, const std::string& pretty, const std::string& release) {
  t.File("/etc/os-release", "NAME=\"Fixture Linux\"\nPRETTY_NAME=\"" + pretty + "\"\nID=fixture\n");
  t.File("/proc/sys/kernel/osrelease", release + "\n");
  t.File("/proc/sys/kernel/arch", "x86_64\n");
}

void Disk(Tree& t, const std::string& name, const std::string& sysPath, const std::string& model,
          const std::string& serialFile, const std::string& serial, const std::string& sectors) {
  // /sys/block holds links into the device tree, as on a real machine.
  const std::string real = t.Root() + "/sys/block/" + sysPath;
  std::filesystem::create_directories(real + "/device");
  t.Link("/sys/block/" + name, sysPath);
  std::ofstream(real + "/size") << sectors << "\n";
  std::ofstream(real + "/removable") << "0\n";
  if (!model.empty()) std::ofstream(real + "/device/model") << model << "\n";
  if (serialFile == "vpd_pg80") {
    std::ofstream(real + "/device/vpd_pg80", std::ios::binary) << std::string("\0\x80\0\x14", 4) << serial;
  } else if (!serialFile.empty()) {
    std::ofstream(real + "/" + serialFile) << serial << "\n";
  }
}

Structure Bios(const std::string& vendor, const std::string& version) {
  Structure s(0, 0x18, 0);
  s.Str(0x04, vendor).Str(0x05, version).Str(0x08, "03/22/2021");
  return s;
}

Structure Board(const std::string& vendor, const std::string& model, const std::string& version,
                const std::string& serial) {
  Structure s(2, 0x0F, 2);
  s.Str(0x04, vendor).Str(0x05, model).Str(0x06, version).Str(0x07, serial);
  return s;
}

Structure System(const std::string& vendor, const std::string& product) {
  Structure s(1, 0x1B, 1);
  s.Str(0x04, vendor).Str(0x05, product).Str(0x06, "1.0").Str(0x07, "SYS-0001");
  return s;
}

Structure Chassis(const std::string& serial) {
  Structure s(3, 0x15, 3);
  s.Str(0x04, "Fixture Cases").Byte(0x05, 0x03).Str(0x07, serial);
  return s;
}

Structure Array(int slots) {
  Structure s(16, 0x17, 0x1000);
  s.Byte(0x04, 0x03)
      .Byte(0x05, 0x03)
      .Byte(0x06, 0x03)
      .Dword(0x07, 0x04000000)
      .Word(0x0B, 0xFFFE)
      .Word(0x0D, static_cast<uint16_t>(slots));
  return s;
}

}  // namespace

void Ddr4Desktop(Tree& t) {
  Processor(t, "Intel(R) Core(TM) i7-8700K CPU @ 3.70GHz", 6, 2, 4700000, "");
  Os(t, "Fixture Linux 24 (Desktop)", "6.8.0-fixture");
  MemoryDevice a{
      "ChannelA-DIMM1", "BANK 1", "G Skill Intl", "12345678", "F4-3200C16-8GVKB", 8192, 0x1A, 3200, 3200};
  MemoryDevice b{
      "ChannelB-DIMM1", "BANK 3", "G Skill Intl", "12345679", "F4-3200C16-8GVKB", 8192, 0x1A, 3200, 3200};
  MemoryDevice empty0{"ChannelA-DIMM0", "BANK 0", "", "", "", 0, 0x1A, 0, 0};
  MemoryDevice empty2{"ChannelB-DIMM0", "BANK 2", "", "", "", 0, 0x1A, 0, 0};
  t.File("/sys/firmware/dmi/tables/DMI",
         Table({Bios("American Megatrends Inc.", "P4.30"), System("To Be Filled By O.E.M.", "Z370 Taichi"),
                Board("ASRock", "Z370 Taichi", "Rev 1.01", "M80-B1234567"), Chassis("CHS-00042"), Array(4),
                Type17(0x1100, empty0), Type17(0x1101, a), Type17(0x1102, empty2), Type17(0x1103, b)}));
  Module m;
  m.serial = 0x12345678;
  t.File("/sys/bus/i2c/drivers/ee1004/0-0051/eeprom", Ddr4Spd(m));
  m.serial = 0x12345679;
  t.File("/sys/bus/i2c/drivers/ee1004/0-0053/eeprom", Ddr4Spd(m));
  t.File("/sys/bus/i2c/drivers/ee1004/uevent", "");
  Disk(t, "nvme0n1", "../devices/pci0000:00/0000:00:1d.0/0000:3d:00.0/nvme/nvme0/nvme0n1",
       "Samsung SSD 970 EVO Plus 1TB", "device/serial", "S4EWNX0R123456", "1953525168");
  Disk(t, "sda", "../devices/pci0000:00/0000:00:17.0/ata1/host0/target0:0:0/0:0:0:0/block/sda",
       "ST2000DM008-2FR102", "vpd_pg80", "ZFL1ABCD", "3907029168");
  Disk(t, "loop0", "../devices/virtual/block/loop0", "", "", "", "0");
}

void Ddr5Desktop(Tree& t) {
  Processor(t, "AMD Ryzen 7 7700X 8-Core Processor", 8, 2, 5400000, "");
  Os(t, "Fixture Linux 24 (Desktop)", "6.8.0-fixture");
  MemoryDevice a{"DIMM 1", "P0 CHANNEL A", "Kingston", "0A1B2C3D", "KF560C36-16", 16384, 0x22, 4800, 4800};
  MemoryDevice b{"DIMM 1", "P0 CHANNEL B", "Kingston", "0A1B2C3E", "KF560C36-16", 16384, 0x22, 4800, 4800};
  t.File("/sys/firmware/dmi/tables/DMI",
         Table({Bios("American Megatrends International, LLC.", "1813"),
                System("Micro-Star International Co., Ltd.", "MS-7E12"),
                Board("Micro-Star International Co., Ltd.", "MAG B650 TOMAHAWK WIFI (MS-7D75)", "1.0",
                      "07D7511_N51234"),
                Chassis("Default string"), Array(4), Type17(0x1100, a), Type17(0x1101, b)}));
  Module m;
  m.maker = 0x0198;  // Kingston
  m.part = "KF560C36-16";
  m.tCKps = 416;
  m.tAAps = m.tRCDps = m.tRPps = 16000;
  m.tRASps = 32000;
  m.tRFCps = 295000;
  m.dieGbits = 16;
  m.serial = 0x0A1B2C3D;
  t.File("/sys/bus/i2c/drivers/spd5118/1-0050/eeprom", Ddr5Spd(m));
  m.serial = 0x0A1B2C3E;
  t.File("/sys/bus/i2c/drivers/spd5118/1-0052/eeprom", Ddr5Spd(m));
  Disk(t, "nvme0n1", "../devices/pci0000:00/0000:00:02.1/nvme/nvme0/nvme0n1", "WD_BLACK SN850X 2000GB",
       "device/serial", "23170K801234", "3907029168");
}

void VirtualMachine(Tree& t) {
  Processor(t, "Intel(R) Xeon(R) Processor", 2, 1, 0, "hypervisor=KVMKVMKVM\n");
  Os(t, "Debian GNU/Linux 12 (bookworm)", "6.1.0-18-amd64");
  Disk(t, "vda", "../devices/pci0000:00/0000:00:04.0/virtio1/block/vda", "", "serial", "overlayblk",
       "536870912");
}

void DesktopWithoutRoot(Tree& t) {
  Processor(t, "Intel(R) Core(TM) i5-10400 CPU @ 2.90GHz", 6, 2, 4100000, "");
  Os(t, "Fixture Linux 24 (Desktop)", "6.8.0-fixture");
  const std::string d = "/sys/class/dmi/id/";
  t.File(d + "bios_vendor", "American Megatrends Inc.\n");
  t.File(d + "bios_version", "F21\n");
  t.File(d + "sys_vendor", "Gigabyte Technology Co., Ltd.\n");
  t.File(d + "product_name", "B460M DS3H\n");
  t.File(d + "board_vendor", "Gigabyte Technology Co., Ltd.\n");
  t.File(d + "board_name", "B460M DS3H\n");
  t.File(d + "board_version", "x.x\n");
  t.File(d + "chassis_vendor", "Default string\n");
  t.File(d + "chassis_type", "3\n");
  Module m;
  m.maker = 0x029E;  // Corsair
  m.part = "CMK16GX4M2B3200C16";
  t.File("/sys/bus/i2c/drivers/ee1004/0-0050/eeprom", Ddr4Spd(m));
  m.serial = 0x12345600;
  t.File("/sys/bus/i2c/drivers/ee1004/0-0052/eeprom", Ddr4Spd(m));
  // A SATA disk whose serial only udev's name for it tells.
  Disk(t, "sdb", "../devices/pci0000:00/0000:00:17.0/ata2/host1/target1:0:0/1:0:0:0/block/sdb",
       "WDC WD10EZEX-08WN4A0", "", "", "1953525168");
  t.Link("/dev/disk/by-id/ata-WDC_WD10EZEX-08WN4A0_WD-WCC6Y1234567", "../../sdb");
  t.Link("/dev/disk/by-id/wwn-0x50014ee2b1234567", "../../sdb");
}

void EdacServer(Tree& t) {
  Processor(t, "Intel(R) Xeon(R) E-2288G CPU @ 3.70GHz", 8, 2, 0, "");
  Os(t, "Fixture Linux 24 (Server)", "6.8.0-fixture");
  for (int i = 0; i < 2; ++i) {
    const std::string d = "/sys/devices/system/edac/mc/mc0/dimm" + std::to_string(i) + "/";
    t.File(d + "size", "16384\n");
    t.File(d + "dimm_mem_type", "Unbuffered-DDR4\n");
    t.File(d + "dimm_location", "channel " + std::to_string(i) + " slot 0\n");
    t.File(d + "dimm_label", "mc#0chan#" + std::to_string(i) + "slot#0\n");
  }
}

namespace {

// What /sys/class/dmi/id shows a normal user: the names, never the serials.
void UserDmiStrings(Tree& t, const std::string& vendor, const std::string& board,
                    const std::string& version) {
  const std::string d = "/sys/class/dmi/id/";
  t.File(d + "bios_vendor", "American Megatrends International, LLC.\n");
  t.File(d + "bios_version", "1.20\n");
  t.File(d + "sys_vendor", vendor + "\n");
  t.File(d + "product_name", board + "\n");
  t.File(d + "board_vendor", vendor + "\n");
  t.File(d + "board_name", board + "\n");
  t.File(d + "board_version", version + "\n");
  t.File(d + "chassis_vendor", vendor + "\n");
  t.File(d + "chassis_type", "3\n");
}

void Udev(Tree& t, const std::vector<MemoryDevice>& devices, const std::string& typeName = "") {
  t.File("/run/udev/data/+dmi:id", UdevEntry(devices, typeName));
}

// The firmware's table as the kernel shows it (root only) and the udev entry decoded from the
// same memory devices at boot, as on any machine with systemd.
void Firmware(Tree& t, std::vector<Structure> others, const std::vector<MemoryDevice>& devices) {
  uint16_t handle = 0x1100;
  for (const MemoryDevice& d : devices) others.push_back(Type17(handle++, d));
  t.File("/sys/firmware/dmi/tables/DMI", Table(others));
  std::filesystem::permissions(t.Root() + "/sys/firmware/dmi/tables/DMI", std::filesystem::perms::owner_read);
  Udev(t, devices);
}

void MemInfo(Tree& t, uint64_t kBytes) {
  t.File("/proc/meminfo", "MemTotal:       " + std::to_string(kBytes) + " kB\nMemFree:         1234567 kB\n");
}

}  // namespace

void UserDdr4Desktop(Tree& t) {
  Processor(t, "Intel(R) Core(TM) i5-12600K", 10, 2, 4900000, "");
  Os(t, "Debian GNU/Linux 12 (bookworm)", "6.1.0-26-amd64");
  UserDmiStrings(t, "ASUSTeK COMPUTER INC.", "PRIME B660-PLUS D4", "Rev 1.xx");
  MemoryDevice a{"DIMM_A1", "BANK 0", "", "", "", 0, 0x1A, 0, 0};
  MemoryDevice b{"DIMM_A2", "BANK 1", "Kingston", "9A1B2C3D", "KF432C16BB/8", 8192, 0x1A, 3200, 3200};
  MemoryDevice c{"DIMM_B1", "BANK 2", "", "", "", 0, 0x1A, 0, 0};
  MemoryDevice d{"DIMM_B2", "BANK 3", "Kingston", "9A1B2C3E", "KF432C16BB/8", 8192, 0x1A, 3200, 3200};
  Udev(t, {a, b, c, d});
  MemInfo(t, 16303428);
  Disk(t, "nvme0n1", "../devices/pci0000:00/0000:00:06.0/0000:01:00.0/nvme/nvme0/nvme0n1",
       "KINGSTON SNV2S1000G", "", "", "1953525168");
}

void UserDdr5ExpoDesktop(Tree& t) {
  Processor(t, "AMD Ryzen 7 7800X3D 8-Core Processor", 8, 2, 5000000, "");
  Os(t, "Debian GNU/Linux 12 (bookworm)", "6.1.0-26-amd64");
  UserDmiStrings(t, "Gigabyte Technology Co., Ltd.", "B650 AORUS ELITE AX", "x.x");
  // An AM5 board: two slots per channel, the channel in the bank locator. systemd before 252.22
  // does not know type 0x22 and writes "<OUT OF SPEC>".
  MemoryDevice a1{"DIMM 0", "P0 CHANNEL A", "", "", "", 0, 0x22, 0, 0};
  MemoryDevice a2{"DIMM 1", "P0 CHANNEL A", "Unknown", "00000000", "F5-6000J3038F16G",
                  16384,    0x22,           4800,      6000};
  MemoryDevice b1{"DIMM 0", "P0 CHANNEL B", "", "", "", 0, 0x22, 0, 0};
  MemoryDevice b2{"DIMM 1", "P0 CHANNEL B", "Unknown", "00000000", "F5-6000J3038F16G",
                  16384,    0x22,           4800,      6000};
  Udev(t, {a1, a2, b1, b2}, "<OUT OF SPEC>");
  Module m;
  m.maker = 0x04CD;  // G.Skill
  m.part = "F5-6000J3038F16G";
  m.tCKps = 416;  // JEDEC DDR5-4800: CL40, 16 ns, 32 ns, 295 ns
  m.tAAps = m.tRCDps = m.tRPps = 16000;
  m.tRASps = 32000;
  m.tRFCps = 295000;
  m.dieGbits = 16;
  m.expo = {{333, 10000, 12667, 12667, 32000, 295000}};  // EXPO 6000 CL30-38-38-96
  m.serial = 0x11223344;
  t.File("/sys/bus/i2c/drivers/spd5118/1-0051/eeprom", Ddr5Spd(m));
  m.serial = 0x11223355;
  t.File("/sys/bus/i2c/drivers/spd5118/1-0053/eeprom", Ddr5Spd(m));
  MemInfo(t, 32562024);
}

void UserLaptopTwoSodimms(Tree& t) {
  Processor(t, "Intel(R) Core(TM) i7-1165G7 @ 2.80GHz", 4, 2, 4700000, "");
  Os(t, "Fedora Linux 40 (Workstation Edition)", "6.8.5-301.fc40.x86_64");
  UserDmiStrings(t, "Dell Inc.", "0XJ4KY", "A00");
  MemoryDevice a{"DIMM A", "BANK 0", "80AD000080AD", "12345678", "HMA81GS6DJR8N-XN", 8192, 0x1A, 3200, 3200};
  MemoryDevice b{"DIMM B", "BANK 2", "80AD000080AD", "12345679", "HMA81GS6DJR8N-XN", 8192, 0x1A, 3200, 3200};
  a.form = b.form = 0x0D;
  Udev(t, {a, b});
  MemInfo(t, 16117464);
}

void UserSolderedLpddr5(Tree& t) {
  Processor(t, "12th Gen Intel(R) Core(TM) i7-1260P", 12, 1, 4700000, "");
  Os(t, "Ubuntu 24.04 LTS", "6.8.0-45-generic");
  UserDmiStrings(t, "LENOVO", "21CBCTO1WW", "SDK0T76530 WIN");
  std::vector<MemoryDevice> devices;
  for (int mc = 0; mc < 2; ++mc) {
    for (char ch : {'A', 'B', 'C', 'D'}) {
      MemoryDevice d{"Controller" + std::to_string(mc) + "-Channel" + ch,
                     "BANK 0",
                     "Micron Technology",
                     "00000000",
                     "MT62F1G32D4DR-031 WT:B",
                     2048,
                     0x23,
                     6400,
                     6400};
      d.width = 16;
      d.form = 0x0B;
      devices.push_back(d);
    }
  }
  Udev(t, devices);
  MemInfo(t, 15996876);
}

void UserNothingReadable(Tree& t) {
  Processor(t, "Intel(R) Core(TM) i5-10400 CPU @ 2.90GHz", 6, 2, 4100000, "");
  Os(t, "Fixture Linux 24 (Desktop)", "6.8.0-fixture");
  UserDmiStrings(t, "Gigabyte Technology Co., Ltd.", "B460M DS3H", "x.x");
  // The table is there, but only root may read it (mode 0400, as the kernel makes it).
  t.File("/sys/firmware/dmi/tables/DMI", std::string(64, '\0'));
  std::filesystem::permissions(t.Root() + "/sys/firmware/dmi/tables/DMI", std::filesystem::perms::owner_read);
  t.File("/run/udev/data/+dmi:id", "I:12345678\nE:ID_VENDOR=Fixture\nV:1\n");  // no memory devices
  MemInfo(t, 16303428);
}

void TwoSocketServer(Tree& t) {
  Processor(t, "Intel(R) Xeon(R) Gold 6230 CPU @ 2.10GHz", 20, 2, 3900000, "");
  Os(t, "Rocky Linux 9.4 (Blue Onyx)", "5.14.0-427.13.1.el9_4.x86_64");
  std::vector<MemoryDevice> devices;
  for (int cpu = 1; cpu <= 2; ++cpu) {
    for (char ch = 'A'; ch <= 'H'; ++ch) {
      const std::string n = std::to_string(devices.size() + 1);
      devices.push_back(MemoryDevice{std::string("CPU") + std::to_string(cpu) + "_DIMM_" + ch + "1",
                                     "NODE " + std::to_string(cpu), "00CE00B300CE", "S" + n,
                                     "M393A4K40CB2-CVF", 32768, 0x1A, 2933, 2933});
    }
    // The second slot of each channel stays empty.
    devices.push_back(
        MemoryDevice{"CPU" + std::to_string(cpu) + "_DIMM_A2", "NODE 1", "", "", "", 0, 0x1A, 0, 0});
  }
  for (MemoryDevice& d : devices) d.width = 64;
  Firmware(t,
           {Bios("Dell Inc.", "2.19.1"), System("Dell Inc.", "PowerEdge R740"),
            Board("Dell Inc.", "06WXJT", "A01", "CNFCW0012345"), Chassis("7XYZ123"), Array(24)},
           devices);
  MemInfo(t, 527988000);
}

void ServerWithCutUdevEntry(Tree& t) {
  Processor(t, "AMD EPYC 9254 24-Core Processor", 24, 2, 4150000, "");
  Os(t, "Ubuntu 24.04 LTS", "6.8.0-45-generic");
  std::vector<MemoryDevice> devices;
  for (int cpu = 1; cpu <= 2; ++cpu) {
    for (char ch = 'A'; ch <= 'L'; ++ch) {
      const std::string n = std::to_string(devices.size() + 1);
      devices.push_back(MemoryDevice{std::string("CPU") + std::to_string(cpu) + "_DIMM_" + ch + "1",
                                     "NODE " + std::to_string(cpu), "00CE00B300CE", "S" + n,
                                     "M321R2GA3BB6-CQK", 16384, 0x22, 4800, 4800});
    }
  }
  Firmware(t,
           {Bios("Supermicro", "1.5"), System("Supermicro", "AS-2025HS-TNR"),
            Board("Supermicro", "H13DSH", "1.01", "OM12345678"), Chassis("C2170L12345"), Array(24)},
           devices);
  // udevd keeps 16 KBytes of the entry: a normal user sees the first 18 modules only.
  Udev(t, std::vector<MemoryDevice>(devices.begin(), devices.begin() + 18));
  MemInfo(t, 395000000);
}

void UserLaptopSameSlotNames(Tree& t) {
  Processor(t, "AMD Ryzen 7 5700U with Radeon Graphics", 8, 2, 4300000, "");
  Os(t, "Linux Mint 21.3", "5.15.0-91-generic");
  UserDmiStrings(t, "HP", "8A3E", "KBC Version 41.31.00");
  MemoryDevice a{"DIMM0", "BANK 0", "Samsung", "12345678", "M471A1K43DB1-CWE", 8192, 0x1A, 3200, 3200};
  MemoryDevice b{"DIMM0", "BANK 1", "Samsung", "12345679", "M471A1K43DB1-CWE", 8192, 0x1A, 3200, 3200};
  a.form = b.form = 0x0D;
  Udev(t, {a, b});
  MemInfo(t, 16117464);
}

void UserLaptopPlacedSlots(Tree& t) {
  Processor(t, "Intel(R) Core(TM) i5-10210U CPU @ 1.60GHz", 4, 2, 4200000, "");
  Os(t, "Fedora Linux 39 (Workstation Edition)", "6.5.6-300.fc39.x86_64");
  UserDmiStrings(t, "LENOVO", "20R3", "SDK0J40697 WIN");
  MemoryDevice a{
      "Bottom - Slot 1 (left)", "BANK 0", "Micron", "22334455", "8ATF1G64HZ-3G2J1", 8192, 0x1A, 3200, 2667};
  MemoryDevice b{
      "Bottom - Slot 2 (right)", "BANK 2", "Micron", "22334456", "8ATF1G64HZ-3G2J1", 8192, 0x1A, 3200, 2667};
  a.form = b.form = 0x0D;
  Udev(t, {a, b});
  MemInfo(t, 16117464);
}

void JedecCodeMakers(Tree& t) {
  Processor(t, "Intel(R) Core(TM) i7-10700 CPU @ 2.90GHz", 8, 2, 4700000, "");
  Os(t, "Fixture Linux 24 (Desktop)", "6.8.0-fixture");
  // Firmware of SMBIOS 3.0 writing half the transfer rate as the configured clock.
  MemoryDevice a{
      "ChannelA-DIMM0", "BANK 0", "029E", "00000001", "CMK16GX4M2B3200C16", 8192, 0x1A, 3200, 1600};
  MemoryDevice b{
      "ChannelB-DIMM0", "BANK 2", "80CE000080CE", "00000002", "M378A1K43EB2-CWE", 8192, 0x1A, 3200, 1600};
  MemoryDevice c{
      "ChannelA-DIMM1", "BANK 1", "Unknown", "00000003", "F4-3200C16-8GVKB", 8192, 0x1A, 3200, 1600};
  c.moduleMakerId = 0xCD04;  // SMBIOS 3.2 Module Manufacturer ID: bank 5 (0x04), code 0xCD, LSB first
  MemoryDevice d{"ChannelB-DIMM1",
                 "BANK 3",
                 "Unknown (0x2C80)",
                 "00000004",
                 "CT8G4DFRA32A.C8FE",
                 8192,
                 0x1A,
                 3200,
                 1600};
  Firmware(t,
           {Bios("American Megatrends Inc.", "2.70"), System("Intel Corporation", "NUC"),
            Board("Intel Corporation", "DH470", "J1234-567", "BTDN0000000"), Chassis("CH1"), Array(4)},
           {a, b, c, d});
  t.File("/sys/firmware/dmi/tables/smbios_entry_point", std::string("_SM3_\x00\x18\x03\x00", 9));
  MemInfo(t, 32000000);
}

void XmpEqualsJedecKit(Tree& t) {
  Processor(t, "AMD Ryzen 5 5600X 6-Core Processor", 6, 2, 4650000, "");
  Os(t, "Fixture Linux 24 (Desktop)", "6.8.0-fixture");
  MemoryDevice a{"DIMM 1", "P0 CHANNEL A", "Unknown", "00000000", "F4-3200C16-16GVK",
                 16384,    0x1A,           3200,      3200};
  MemoryDevice b{"DIMM 1", "P0 CHANNEL B", "Unknown", "00000000", "F4-3200C16-16GVK",
                 16384,    0x1A,           3200,      3200};
  Firmware(t,
           {Bios("American Megatrends Inc.", "F36"), System("Micro-Star International Co., Ltd.", "MS-7C91"),
            Board("Micro-Star International Co., Ltd.", "MAG B550 TOMAHAWK (MS-7C91)", "2.0", "07C9100_L912"),
            Chassis("CH2"), Array(2)},
           {a, b});
  Module m;  // JEDEC DDR4-3200AA (CL22-22-22-52) and XMP 2.0 profile 1 3200 CL16-18-18-36
  m.ranks = 2;
  m.part = "F4-3200C16-16GVK";
  m.xmp = {{625, 10000, 11250, 11250, 22500, 350000}};
  m.serial = 0x0000AA01;
  t.File("/sys/bus/i2c/drivers/ee1004/0-0050/eeprom", Ddr4Spd(m));
  m.serial = 0x0000AA02;
  t.File("/sys/bus/i2c/drivers/ee1004/0-0052/eeprom", Ddr4Spd(m));
  MemInfo(t, 32800000);
}

}  // namespace fixture
