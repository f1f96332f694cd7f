#include "core/host.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "core/numeric.h"
#include "platform/temp_folder.h"

namespace fs = std::filesystem;
using namespace core;

namespace {

size_t FilesInPrivateFolder() {
  const std::string& folder = platform::PrivateFolder();
  if (folder.empty()) return 0;
  return static_cast<size_t>(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

struct CountingHooks {
  int events = 0, steps = 0;
  HostHooks hooks{[this] { ++events; }, [this] { ++steps; }};
};

}  // namespace

TEST(TempLibraryName, PrivateFolderAndLetters) {
  const std::string folder = platform::PrivateFolder();
  ASSERT_FALSE(folder.empty());
  const std::string a = MakeTempLibraryName(), b = MakeTempLibraryName();
  EXPECT_NE(a, b);
  ASSERT_EQ(a.size(), folder.size() + 1 + 12);
  EXPECT_EQ(a.substr(0, folder.size() + 1), folder + "/");
  const std::string name = a.substr(folder.size() + 1);
  EXPECT_EQ(name[8], '.');
  for (size_t i = 0; i < name.size(); ++i) {
    if (i != 8) {
      EXPECT_TRUE(name[i] >= 'a' && name[i] <= 'v') << name;
    }
  }
}

TEST(BandwidthHost, TwoCallsInARowBothMeasure) {
  const size_t before = FilesInPrivateFolder();
  SampleList samples;
  CountingHooks counting;
  std::string error;
  ASSERT_TRUE(RunBandwidthTest("-b11 -g1 -m32", kReadPrefix, samples, counting.hooks, &error)) << error;
  ASSERT_EQ(samples.size(), 1u);
  ASSERT_TRUE(RunBandwidthTest("-b11 -g1 -m32", kReadPrefix, samples, counting.hooks, &error)) << error;
  ASSERT_EQ(samples.size(), 2u);  // a fresh instance: the second call is not a repeat of stale state
  for (const std::string& s : samples) {
    EXPECT_EQ(s.rfind("READ-0", 0), 0u) << s;
    EXPECT_GT(ParseInteger(s.substr(5)).value_or(0), 0) << s;
  }
  EXPECT_GT(counting.steps, 2);
  EXPECT_EQ(counting.steps, counting.events);
  EXPECT_NE(AverageSamples(samples, kReadPrefix), "0");
  EXPECT_EQ(FilesInPrivateFolder(), before);  // the module file is gone after each call
}

TEST(BandwidthHost, CopyTestAndRejectedArguments) {
  SampleList samples;
  CountingHooks counting;
  ASSERT_TRUE(RunBandwidthTest("-b12 -g1 -m16", kCopyPrefix, samples, counting.hooks, nullptr));
  ASSERT_EQ(samples.size(), 1u);
  EXPECT_EQ(samples[0].rfind("COPY-0", 0), 0u);
  samples.clear();
  ASSERT_TRUE(RunBandwidthTest("-b11 -g3", kReadPrefix, samples, counting.hooks, nullptr));
  EXPECT_TRUE(samples.empty());
}

TEST(BandwidthHost, BrokenImageAndThrowingHooks) {
  static const unsigned char garbage[] = "not a module at all";
  SampleList samples;
  std::string error;
  EXPECT_TRUE(RunBandwidthTestWithImage({garbage, sizeof garbage}, "-b11 -g1 -m32", kReadPrefix, samples, {},
                                        &error));
  EXPECT_TRUE(samples.empty());
  EXPECT_FALSE(RunBandwidthTestWithImage({nullptr, 0}, "-b11", kReadPrefix, samples, {}, &error));
  EXPECT_FALSE(error.empty());
  const HostHooks throwing{[] { throw std::runtime_error("window gone"); }, {}};
  EXPECT_TRUE(RunBandwidthTest("-b12 -g1 -m16", kCopyPrefix, samples, throwing, nullptr));
  EXPECT_EQ(samples.size(), 1u);
}

TEST(LatencyHost, MeasuresWithAKnownCache) {
  const sysinfo::SystemSpec spec{{"PI_L3_CACHE: \"1 MBytes\""}};
  CountingHooks counting;
  std::string error;
  const std::string sample = MeasureLatencyOnce(spec, counting.hooks, &error);
  EXPECT_TRUE(error.empty()) << error;
  EXPECT_EQ(counting.events, 1);
  ASSERT_GE(sample.size(), 3u) << sample;
  EXPECT_EQ(sample[0], '0');
  EXPECT_GT(ParseInteger(sample).value_or(0), 0) << sample;
}

TEST(LatencyHost, UnknownCacheSkipsTheModule) {
  CountingHooks counting;
  EXPECT_EQ(MeasureLatencyOnce(sysinfo::SystemSpec{}, counting.hooks, nullptr), "0");
  EXPECT_EQ(MeasureLatencyOnce(sysinfo::SystemSpec{{"PI_L2_CACHE: \"1.5 MBytes\""}}, counting.hooks, nullptr),
            "0");
  EXPECT_EQ(counting.events, 0);
  static const unsigned char garbage[] = "nope";
  EXPECT_EQ(
      MeasureLatencyWithImage({garbage, sizeof garbage}, sysinfo::SystemSpec{{"PI_L2_CACHE: \"512 KBytes\""}},
                              counting.hooks, nullptr),
      "0");
}
