// libFuzzer target: arbitrary bytes as a hardware report through the conversion, every lookup
// the program makes, the panels and the text steps that read report values; and the same bytes as
// udev's database entry for the memory devices (/run/udev/data/+dmi:id) through the report tool's
// memory rules (channels, maker codes, configured speed).
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/host.h"
#include "core/numeric.h"
#include "core/samples.h"
#include "sysinfo/panels.h"
#include "sysinfo/report_keys.h"
#include "sysinfo/system_spec.h"
#include "sysinfo/text.h"
#include "sysreport/jedec.h"
#include "sysreport/memory.h"
#include "sysreport/udev.h"

// The fuzzer never runs the modules: empty images stand in for the ones the program carries.
extern "C" const unsigned char membw_module_start[1] = {0};
extern "C" const unsigned long long membw_module_size = 0;
extern "C" const unsigned char memlat_module_start[1] = {0};
extern "C" const unsigned long long memlat_module_size = 0;

namespace {

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

const char* const kKeys[] = {sysinfo::kReportKeys.windowsVersion,
                             "Virtualization",
                             sysinfo::kReportKeys.processor,
                             sysinfo::kReportKeys.threads,
                             sysinfo::kReportKeys.coreSpeed,
                             "PI_L2_CACHE:",
                             "PI_L3_CACHE:",
                             "PI_L4_CACHE:",
                             "CHIP_MEMORY_SIZE: ",
                             sysinfo::kReportKeys.memoryType,
                             sysinfo::kReportKeys.channels,
                             sysinfo::kReportKeys.memoryFrequency,
                             "DMI_VENDOR: ",
                             "MEM_1##: \"Part number: ",
                             "STORAGE: \"Serial: ",
                             ""};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const sysinfo::SystemSpec spec{sysinfo::ConvertReport(sysinfo::SplitLines(bytes))};

  for (const std::string& line : spec.lines) {
    // KEY "VALUE": the key has no blank and ends with a colon; the value is at most 98 characters.
    const size_t blank = line.find(' ');
    Check(blank != std::string::npos && blank > 0 && line[blank - 1] == ':');
    Check(line.size() >= blank + 3 && line[blank + 1] == '"' && line.back() == '"');
    Check(line.size() - blank - 3 <= 98);
  }

  for (const char* key : kKeys) {
    const std::string value = sysinfo::SpecValue(spec, key);
    Check(!value.empty());
    sysinfo::SpecValueNth(spec, key, 2);
  }
  // The first input line doubles as a lookup key and as a module text.
  const size_t end = bytes.find_first_of("\r\n");
  const std::string first = bytes.substr(0, end == std::string::npos ? bytes.size() : end);
  sysinfo::SpecValueNth(spec, first, static_cast<int>(size % 4));

  const double clock = sysinfo::MemoryClock(spec);
  Check(clock >= 0);
  const std::string hash = sysinfo::MachineIdHash(spec);
  Check(hash.size() == 32);
  const sysinfo::PanelTexts panels = sysinfo::ComposePanels(spec, clock);
  Check(!panels.osp.empty() && !panels.ramp.empty());
  Check(!core::LargestCacheKBytes(spec).empty());

  Check(!sysinfo::StripParentheses(first).empty());
  sysinfo::ClockText(first);
  sysinfo::TitleCaseWords(first);
  Check(!core::NumericText(first).empty());
  Check(!core::LatencySampleFromText(first).empty());
  core::SampleList samples;
  core::BandwidthOutputParser parser(samples);
  parser.SetPrefix(core::kReadPrefix);
  parser.OnLibraryOutput(first.c_str());
  core::AverageSamples(samples, core::kReadPrefix);

  const sysreport::UdevMemory udev = sysreport::ParseUdevMemory(bytes);
  Check(udev.devices.size() <= 256);
  sysreport::SmbiosFacts facts;
  facts.memoryDevices = udev.devices;
  const sysreport::MemoryFacts memory =
      sysreport::CollectMemory(sysreport::Root("/nonexistent-quorvex-root"), facts, {});
  Check(memory.channels >= 0 && memory.configuredRate >= 0 && memory.modules.size() <= udev.devices.size());
  for (const sysreport::SmbiosMemoryDevice& d : udev.devices) {
    Check(!d.sizeKnown || d.sizeMBytes <= (uint64_t{1} << 24));
    (void)sysreport::MakerFromSmbiosText(d.manufacturer);
  }
  (void)sysreport::MakerFromCodeText(first);
  (void)sysreport::ChannelOf(first, bytes.substr(0, 64));
  return 0;
}
