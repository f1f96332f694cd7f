#include "sysreport/gather.h"

#include <sys/utsname.h>

#include <cstdio>
#include <sstream>

#include "sysreport/cpu.h"
#include "sysreport/memory.h"
#include "sysreport/report_writer.h"
#include "sysreport/smbios.h"

namespace sysreport {

namespace {

std::string OsText(const Root& root) {
  std::string pretty;
  for (const char* file : {"/etc/os-release", "/usr/lib/os-release"}) {
    const std::optional<std::string> text = root.Read(file);
    if (!text) continue;
    std::istringstream in(*text);
    for (std::string line; std::getline(in, line);) {
      if (!StartsWith(line, "PRETTY_NAME=")) continue;
      pretty = Trim(line.substr(12));
      if (pretty.size() >= 2 && (pretty.front() == '"' || pretty.front() == '\'') &&
          pretty.back() == pretty.front())
        pretty = pretty.substr(1, pretty.size() - 2);
    }
    if (!pretty.empty()) break;
  }
  std::string release = root.Attribute("/proc/sys/kernel/osrelease");
  std::string arch = root.Attribute("/proc/sys/kernel/arch");
  if (root.Live()) {
    utsname u{};
    if (::uname(&u) == 0) {
      if (release.empty()) release = u.release;
      if (arch.empty()) arch = u.machine;
    }
  }
  // The reader turns "_" into a blank; the usual dash spelling keeps the name whole.
  for (char& c : arch)
    if (c == '_') c = '-';
  if (pretty.empty() && release.empty()) return {};
  if (pretty.empty()) return "Linux " + release + (arch.empty() ? "" : " " + arch);
  std::string text = pretty;
  if (!arch.empty()) text += " " + arch;
  if (!release.empty()) text += ", Linux " + release;
  return text;
}

struct DmiFacts {
  bool present = false;
  bool fromTables = false;
  std::string biosVendor, biosVersion, biosDate;
  std::string systemVendor, systemProduct, systemVersion, systemSerial;
  std::string boardVendor, boardModel, boardVersion, boardSerial;
  std::string chassisVendor, chassisType, chassisSerial;
  bool hasBios = false, hasBoard = false, hasSystem = false, hasChassis = false;
};

DmiFacts DmiFromSmbios(const SmbiosFacts& s) {
  DmiFacts d;
  d.present = s.present;
  d.fromTables = true;
  d.hasBios = s.hasBios;
  d.hasBoard = s.hasBaseboard;
  d.hasChassis = s.hasChassis;
  d.hasSystem = !s.systemVendor.empty() || !s.systemProduct.empty();
  d.biosVendor = s.biosVendor;
  d.biosVersion = s.biosVersion;
  d.biosDate = s.biosDate;
  d.systemVendor = s.systemVendor;
  d.systemProduct = s.systemProduct;
  d.systemVersion = s.systemVersion;
  d.systemSerial = s.systemSerial;
  d.boardVendor = s.boardVendor;
  d.boardModel = s.boardModel;
  d.boardVersion = s.boardVersion;
  d.boardSerial = s.boardSerial;
  d.chassisVendor = s.chassisVendor;
  d.chassisType = s.chassisType;
  d.chassisSerial = s.chassisSerial;
  return d;
}

// The kernel's copy of the DMI strings; most are readable without root, the serials are not.
DmiFacts DmiFromSysfs(const Root& root) {
  DmiFacts d;
  const std::string b = "/sys/class/dmi/id/";
  if (!root.Exists(b)) return d;
  auto a = [&](const char* name) { return root.Attribute(b + name); };
  d.biosVendor = a("bios_vendor");
  d.biosVersion = a("bios_version");
  d.biosDate = a("bios_date");
  d.systemVendor = a("sys_vendor");
  d.systemProduct = a("product_name");
  d.systemVersion = a("product_version");
  d.systemSerial = a("product_serial");
  d.boardVendor = a("board_vendor");
  d.boardModel = a("board_name");
  d.boardVersion = a("board_version");
  d.boardSerial = a("board_serial");
  d.chassisVendor = a("chassis_vendor");
  d.chassisSerial = a("chassis_serial");
  try {
    const std::string type = a("chassis_type");
    if (!type.empty()) d.chassisType = ChassisTypeName(static_cast<uint8_t>(std::stoi(type)));
  } catch (...) {
    // no number: the chassis type stays unknown
  }
  d.hasBios = root.Exists(b + "bios_vendor");
  d.hasBoard = root.Exists(b + "board_vendor");
  d.hasSystem = root.Exists(b + "sys_vendor");
  d.hasChassis = root.Exists(b + "chassis_vendor");
  d.present = d.hasBios || d.hasBoard || d.hasSystem;
  return d;
}

struct Drive {
  std::string name, model, bus, serial;
  double gigabytes = 0;
};

std::vector<Drive> Drives(const Root& root) {
  std::vector<Drive> drives;
  // Serials by the names udev gives the disks, for drives whose attributes do not carry one.
  std::vector<std::pair<std::string, std::string>> byId;
  for (const std::string& link : root.List("/dev/disk/by-id")) {
    const std::string target = root.LinkTarget("/dev/disk/by-id/" + link);
    const size_t slash = target.rfind('/');
    byId.push_back({target.substr(slash == std::string::npos ? 0 : slash + 1), link});
  }
  for (const std::string& name : root.List("/sys/block")) {
    if (drives.size() >= 32) break;
    bool virtualDisk = false;
    for (const char* prefix : {"loop", "ram", "zram", "dm-", "md", "nbd", "sr", "fd", "mtdblock"})
      virtualDisk = virtualDisk || StartsWith(name, prefix);
    if (virtualDisk) continue;
    const std::string dir = "/sys/block/" + name + "/";
    if (root.Attribute(dir + "removable") == "1") continue;  // a stick must not change the machine's identity
    Drive d;
    d.name = name;
    d.model = root.Attribute(dir + "device/model");
    const std::string path = root.LinkTarget("/sys/block/" + name);
    if (path.find("/nvme") != std::string::npos || StartsWith(name, "nvme"))
      d.bus = "NVMe";
    else if (path.find("/virtio") != std::string::npos || StartsWith(name, "vd"))
      d.bus = "VirtIO";
    else if (path.find("/usb") != std::string::npos)
      d.bus = "USB";
    else if (path.find("/ata") != std::string::npos)
      d.bus = "SATA";
    else if (path.find("/mmc") != std::string::npos || StartsWith(name, "mmcblk"))
      d.bus = "MMC";
    try {
      d.gigabytes = std::stod(root.Attribute(dir + "size")) * 512.0 / 1e9;
    } catch (...) {
      // no size: the drive is listed without one
    }
    d.serial = root.Attribute(dir + "serial");
    if (d.serial.empty()) d.serial = root.Attribute(dir + "device/serial");
    if (d.serial.empty()) {
      // SCSI inquiry page 0x80: four header bytes, then the unit serial number.
      if (const std::optional<std::string> page = root.Read(dir + "device/vpd_pg80", 512);
          page && page->size() > 4)
        d.serial = Trim(page->substr(4));
    }
    if (d.serial.empty()) {
      for (const auto& [target, link] : byId) {
        if (target != name) continue;
        // ata-MODEL_SERIAL, nvme-MODEL_SERIAL: the serial follows the model with its blanks as "_".
        std::string model = d.model;
        for (char& c : model)
          if (c == ' ') c = '_';
        const size_t dash = link.find('-');
        if (dash == std::string::npos || model.empty()) continue;
        const std::string rest = link.substr(dash + 1);
        if (StartsWith(rest, model + "_")) {
          d.serial = rest.substr(model.size() + 1);
          break;
        }
      }
    }
    drives.push_back(d);
  }
  return drives;
}

std::string Virtualization(const Root& root, const CpuFacts& cpu, const DmiFacts& dmi) {
  if (cpu.hypervisorBit)
    return cpu.hypervisorVendor.empty() ? "hypervisor present" : HypervisorName(cpu.hypervisorVendor);
  const std::string xen = root.Attribute("/sys/hypervisor/type");
  if (!xen.empty()) return xen == "xen" ? "Xen" : xen;
  struct Mark {
    const char* text;
    const char* name;
  };
  static const Mark kMarks[] = {{"QEMU", "QEMU"},
                                {"KVM", "KVM"},
                                {"VirtualBox", "VirtualBox"},
                                {"innotek", "VirtualBox"},
                                {"VMware", "VMware"},
                                {"Virtual Machine", "Hyper-V"},
                                {"Xen", "Xen"},
                                {"Bochs", "Bochs"},
                                {"Parallels", "Parallels"},
                                {"BHYVE", "bhyve"},
                                {"Amazon EC2", "Amazon EC2"},
                                {"Google Compute Engine", "Google Compute Engine"}};
  for (const std::string& text : {dmi.systemVendor, dmi.systemProduct, dmi.boardVendor, dmi.biosVendor})
    for (const Mark& m : kMarks)
      if (!text.empty() && ContainsNoCase(text, m.text)) return m.name;
  return {};
}

std::string GBytes(uint64_t mbytes) {
  if (mbytes % 1024 == 0) return std::to_string(mbytes / 1024) + " GBytes";
  return OneDecimal(static_cast<double>(mbytes) / 1024.0) + " GBytes";
}

std::string ModuleSize(uint64_t mbytes) { return std::to_string(mbytes) + " MBytes"; }

}  // namespace

namespace {

void WriteProcessors(ReportWriter& w, const CpuFacts& cpu) {
  w.Section("Processors Information");
  if (cpu.sockets > 0) w.Value("Number of sockets", std::to_string(cpu.sockets));
  if (cpu.cores > 0) w.Value("Number of cores", std::to_string(cpu.cores));
  if (cpu.threads > 0) w.Value("Number of threads", std::to_string(cpu.threads));
  w.Value("Manufacturer", cpu.vendor);
  w.Value("Specification", cpu.brand);
  w.Value("Family", cpu.family);
  w.Value("Model", cpu.model);
  w.Value("Stepping", cpu.stepping);
  if (cpu.coreMHz > 0) {
    w.Value("Core Speed", OneDecimal(cpu.coreMHz) + " MHz");
    w.Value("Clock source", cpu.clockSource);
  }
  std::string instructions;
  for (const std::string& i : cpu.instructions) instructions += (instructions.empty() ? "" : ", ") + i;
  w.Value("Instructions sets", instructions);
  for (const CacheFacts& c : cpu.caches) {
    std::string label = "L" + std::to_string(c.level);
    if (c.type == "Data")
      label += " Data";
    else if (c.type == "Instruction")
      label += " Instruction";
    w.Value(label + " cache", CacheText(c));
  }
  w.Empty();
}

void WriteChipset(ReportWriter& w, const MemoryFacts& memory) {
  w.Section("Chipset");
  w.Value("Memory Type", memory.type);
  if (memory.sizeMBytes > 0) w.Value("Memory Size", GBytes(memory.sizeMBytes));
  if (memory.channels > 0) w.Value("Channels", ChannelWord(memory.channels));
  if (memory.configuredRate > 0)
    w.Value("Memory Frequency", OneDecimal(memory.configuredRate / 2.0) + " MHz");
  if (memory.timings) {
    w.Value("CAS# latency (CL)", std::to_string(memory.timings->cl) + ".0");
    w.Value("RAS# to CAS# delay (tRCD)", std::to_string(memory.timings->rcd));
    w.Value("RAS# Precharge (tRP)", std::to_string(memory.timings->rp));
    w.Value("Cycle Time (tRAS)", std::to_string(memory.timings->ras));
    if (memory.timings->rfc > 0)
      w.Value("Row Refresh Cycle Time (tRFC)", std::to_string(memory.timings->rfc));
    w.Value("Timings Source", memory.timingsSource);
  }
  w.Value("Memory Source", memory.sources);
  // Read by the program to tell the user why the memory facts are missing.
  if (memory.restricted)
    w.Value("Memory Access", "SMBIOS table root only, no udev memory entry, no SPD EEPROM");
  w.Empty();
}

void WriteModules(ReportWriter& w, const MemoryFacts& memory) {
  w.Section("Memory SPD");
  int slot = 0;
  for (const ModuleFacts& mod : memory.modules) {
    w.ModuleBlock(++slot);
    // The reader files the line right after a block line under the block before: give it one
    // that is only about where the facts come from.
    w.Value("Source", mod.source, true);
    w.Value("Locator", mod.locator + (mod.bankLocator.empty() ? "" : ", " + mod.bankLocator), true);
    w.Value("Memory type", mod.type, true);
    w.Value("Module format", mod.format, true);
    w.Value("Module Manufacturer(ID)", mod.maker, true);
    if (mod.sizeMBytes) w.Value("Size", ModuleSize(mod.sizeMBytes), true);
    if (mod.maxRate > 0)
      w.Value("Max bandwidth",
              mod.type + "-" + std::to_string(mod.maxRate) + " (" + std::to_string(mod.maxRate / 2) + " MHz)",
              true);
    w.Value("Part number", mod.part, true);
    w.Value("Serial number", mod.serial, true);
    if (mod.ranks > 0) w.Value("Ranks", std::to_string(mod.ranks), true);
    w.Value("Manufacturing date", mod.madeWeek, true);
    w.Empty();
  }
}

void WriteDmi(ReportWriter& w, const DmiFacts& dmi) {
  if (!dmi.present) return;
  w.Section("DMI");
  // The program reads the first "vendor" as the firmware's and the second as the board's,
  // and the first "version" as the board's revision.
  if (dmi.hasBios) {
    w.Block("DMI BIOS", "");
    w.Value("vendor", dmi.biosVendor, true, true);
    w.Value("BIOS version", dmi.biosVersion, true);
    w.Value("date", dmi.biosDate, true);
  }
  if (dmi.hasBoard) {
    w.Block("DMI Baseboard", "");
    w.Value("vendor", dmi.boardVendor, true, true);
    w.Value("model", dmi.boardModel, true, true);
    w.Value("version", dmi.boardVersion, true, true);
    w.Value("serial", dmi.boardSerial, true);
  }
  if (dmi.hasSystem) {
    w.Block("DMI System Information", "");
    w.Value("manufacturer", dmi.systemVendor, true);
    w.Value("product", dmi.systemProduct, true);
    w.Value("system version", dmi.systemVersion, true);
    w.Value("system serial", dmi.systemSerial, true);
  }
  if (dmi.hasChassis) {
    w.Block("DMI Chassis", "");
    w.Value("manufacturer", dmi.chassisVendor, true);
    w.Value("chassis type", dmi.chassisType, true);
    w.Value("chassis serial", dmi.chassisSerial, true);
  }
  w.Empty();
}

void WriteStorage(ReportWriter& w, const Root& root) {
  const std::vector<Drive> drives = Drives(root);
  if (!drives.empty()) {
    w.Section("Storage");
    int n = 0;
    for (const Drive& d : drives) {
      w.Block("Drive", std::to_string(n++));
      w.Value("Device", d.name, true);
      w.Value("Name", d.model, true);
      if (d.gigabytes > 0) w.Value("Capacity", OneDecimal(d.gigabytes) + " GB", true);
      w.Value("Bus Type", d.bus, true);
      w.Value("Serial", d.serial, true);
    }
    w.Empty();
  }
}

void WriteSoftware(ReportWriter& w, const Root& root, const CpuFacts& cpu, const DmiFacts& dmi) {
  w.Section("Software");
  w.Value("Windows Version", OsText(root));
  const std::string virt = Virtualization(root, cpu, dmi);
  if (!virt.empty()) w.Value("Virtualization", virt);
  w.Empty();
}

// The firmware's table and its version, where the user may read them.
SmbiosFacts ReadSmbios(const Root& root) {
  SmbiosFacts smbios;
  if (const std::optional<std::string> table = root.Read("/sys/firmware/dmi/tables/DMI", 1024 * 1024)) {
    smbios = ReadSmbiosFacts(ParseSmbios(*table));
    if (const std::optional<std::string> entry = root.Read("/sys/firmware/dmi/tables/smbios_entry_point", 64))
      smbios.version = SmbiosVersion(*entry);
  }
  return smbios;
}

}  // namespace

std::string BuildReport(const Root& root, const Deadline& deadline) {
  const CpuFacts cpu = ProbeCpu(root, deadline);
  const SmbiosFacts smbios = ReadSmbios(root);
  const DmiFacts dmi = smbios.present ? DmiFromSmbios(smbios) : DmiFromSysfs(root);
  const std::vector<SpdImage> spd = ReadSpdImages(root, deadline);
  const MemoryFacts memory = CollectMemory(root, smbios, spd);

  ReportWriter w("Quorvex hardware report (sysreport 1.0)",
                 root.Live() ? "Machine: this computer" : "Machine: tree at " + root.Prefix());
  WriteProcessors(w, cpu);
  WriteChipset(w, memory);
  WriteModules(w, memory);
  WriteDmi(w, dmi);
  WriteStorage(w, root);
  WriteSoftware(w, root, cpu, dmi);
  return w.Text();
}

}  // namespace sysreport
