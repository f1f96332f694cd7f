// A machine with 32 KB L1, 512 KB L2 and 32 MB L3, as the converted report gives it.
#pragma once

#include "sysinfo/system_spec.h"

namespace testing_curve {

inline sysinfo::SystemSpec CacheSpec() {
  sysinfo::SystemSpec spec;
  spec.lines = {"PI_L1_DATA_CACHE: \"8 x 32 KBytes, 8-way set associative, 64-byte line size\"",
                "PI_L2_CACHE: \"8 x 512 KBytes, 8-way set associative, 64-byte line size\"",
                "PI_L3_CACHE: \"32 MBytes, 16-way set associative, 64-byte line size\""};
  return spec;
}

}  // namespace testing_curve
