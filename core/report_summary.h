// What the program makes of a report, printed for users and support. Keep the format stable.
#pragma once

#include <cstdio>

#include "sysinfo/system_spec.h"

namespace core {

// Every system specification line as stored, an empty line, then one "name<TAB>text" line each for
// osp cpup cpucores cpuclockp ramp ramtimip mainbp ramp1..ramp4 MemoryClock IDHASH
// LargestCacheKBytes, texts exactly as held (blanks kept). Lines end in LF.
void PrintReportSummary(const sysinfo::SystemSpec& spec, std::FILE* out);

}  // namespace core
