// The system specification's keys that the panels, the gate and the lookups read, each named once.
// SpecValue finds the first line containing the key, so a trailing ":" keeps a key from matching
// a longer one.
#pragma once

namespace sysinfo {

struct ReportKeys {
  const char *windowsVersion, *processor, *threads, *coreSpeed;        // the OS and CPU panels
  const char *memoryType, *channels, *memoryFrequency, *memoryAccess;  // the memory panels and the gate
};

inline constexpr ReportKeys kReportKeys{.windowsVersion = "SW_WINDOWS_VERSION",
                                        .processor = "PI_SPECIFICATION",
                                        .threads = "PI_NUMBER_OF_THREADS:",
                                        .coreSpeed = "PI_CORE_SPEED",
                                        .memoryType = "CHIP_MEMORY_TYPE",
                                        .channels = "CHIP_CHANNELS",
                                        .memoryFrequency = "CHIP_MEMORY_FREQUENCY",
                                        .memoryAccess = "CHIP_MEMORY_ACCESS:"};

}  // namespace sysinfo
