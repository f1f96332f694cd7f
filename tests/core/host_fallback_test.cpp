#include <gtest/gtest.h>

#include <cstdlib>

#include "core/host.h"
#include "platform/temp_folder.h"

using namespace core;

namespace {

// Before anything asks for it, point the temporary folder where no private folder can be made.
const bool kNoTempFolder = [] {
  unsetenv("TMP");
  unsetenv("TEMP");
  setenv("TMPDIR", "/nonexistent/quorvex-test", 1);
  return true;
}();

}  // namespace

TEST(HostWithoutPrivateFolder, ModulesRunFromMemoryFiles) {
  ASSERT_TRUE(kNoTempFolder);
  ASSERT_TRUE(platform::PrivateFolder().empty());
  EXPECT_TRUE(MakeTempLibraryName().empty());
  SampleList samples;
  std::string error;
  ASSERT_TRUE(RunBandwidthTest("-b12 -g1 -m16", kCopyPrefix, samples, {}, &error)) << error;
  EXPECT_EQ(samples.size(), 1u);
  const std::string latency =
      MeasureLatencyOnce(sysinfo::SystemSpec{{"PI_L2_CACHE: \"512 KBytes\""}}, {}, &error);
  EXPECT_NE(latency, "0") << error;
}
