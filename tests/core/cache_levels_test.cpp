// Cache levels read off the curve: on curves shaped like real processors' (tests/fixtures/curves,
// written by make_curves.py) and on many synthetic hierarchies with noise, stray figures and TLB
// steps; and the choice between the reported and the measured last level.
#include "core/cache_levels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>

namespace {

std::string Fixture(const std::string& name) {
  const char* root = std::getenv("QUORVEX_SOURCE_DIR");
  std::ifstream in(std::string(root ? root : ".") + "/tests/fixtures/curves/" + name + ".csv");
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Within the factor the curve's octave steps can resolve.
bool Near(uint64_t measured, uint64_t truth) {
  return std::fabs(std::log2(static_cast<double>(measured) / static_cast<double>(truth))) <=
         std::log2(1.5) + 1e-9;
}

bool Right(const std::vector<core::MeasuredCache>& found, const std::vector<uint64_t>& truth,
           std::string* why) {
  std::string text;
  for (const auto& c : found) text += c.label + "=" + std::to_string(c.kbytes) + " ";
  *why = text;
  if (found.size() != truth.size()) return false;
  for (size_t i = 0; i < truth.size(); ++i)
    if (!Near(found[i].kbytes, truth[i])) return false;
  return true;
}

TEST(CacheLevels, FindsTheLevelsOfCurvesShapedLikeRealMachines) {
  const std::vector<std::pair<std::string, std::vector<uint64_t>>> machines = {
      {"client-4core-8m", {32, 256, 8192}},
      {"client-12core-32m", {32, 512, 32768}},
      {"client-hybrid-48k", {48, 1280, 30720}},
      {"server-2m-l2", {48, 2048, 61440}},
      {"old-two-level", {32, 4096}},
      {"guest-4k-pages", {48, 1024, 32768}},
      {"noisy-laptop", {32, 1280, 12288}},
      // This guest's own curve: whatever its processor reports (508 MiB), its chase fits 4 MiB at
      // 18 ns but not 8 MiB (125 ns).
      {"guest-recorded", {48, 1024, 6144}},
      // Another guest, three runs: a victim L3 behind a 1 MiB L2 (latency climbs from 512 KiB to
      // 4 MiB with READ hardly moving), and the share of the host's L3 its chase finds changes
      // from run to run (memory latency from 16 MiB, then twice from 8 MiB).
      {"guest-victim-l3-1", {32, 1024, 12288}},
      {"guest-victim-l3-2", {32, 1024, 6144}},
      {"guest-victim-l3-3", {32, 1024, 6144}},
  };
  for (const auto& [name, truth] : machines) {
    core::Curve curve;
    ASSERT_TRUE(core::ParseCurveCsv(Fixture(name), &curve)) << name;
    const auto found = core::FindCacheLevels(curve);
    std::string why;
    EXPECT_TRUE(Right(found, truth, &why)) << name << ": " << why;
    for (const auto& c : found) EXPECT_GT(c.confidence, 0.3) << name << " " << c.label;
  }
}

// A hierarchy drawn at random: capacities, plateaus, the sharpness of each level's end, a TLB that
// runs out twice, multiplicative noise and a few stray figures.
struct Synthetic {
  std::vector<uint64_t> caches;
  core::Curve curve;
};

Synthetic Draw(std::mt19937& rng) {
  auto pick = [&](std::initializer_list<uint64_t> v) {
    return *(v.begin() + std::uniform_int_distribution<size_t>(0, v.size() - 1)(rng));
  };
  auto uniform = [&](double a, double b) { return std::uniform_real_distribution<double>(a, b)(rng); };
  Synthetic s;
  s.caches.push_back(pick({32, 32, 48, 64}));
  s.caches.push_back(pick({256, 512, 1024, 1280, 2048}));
  // Levels closer than 4x merge into one rise at octave steps; processors keep them further apart.
  if (uniform(0, 1) < 0.85) {
    const uint64_t l3 = 1024 * pick({4, 6, 8, 12, 16, 24, 32, 36, 64, 96});
    if (l3 >= 4 * s.caches.back()) s.caches.push_back(l3);
  }
  std::vector<double> latency = {uniform(0.8, 1.5)}, read = {uniform(60000, 140000)};
  for (size_t i = 0; i < s.caches.size(); ++i) {
    latency.push_back(latency.back() * uniform(2.5, 5));
    // Narrow loads barely tell L1 from L2; memory is always well below the last level.
    const bool last = i + 1 == s.caches.size();
    read.push_back(read.back() / (i == 0 ? uniform(1.0, 1.8) : last ? uniform(1.4, 2.5) : uniform(1.1, 2.0)));
  }
  const double sharpness = uniform(2, 4), noise = uniform(0.005, 0.05);
  const double tlbReach = 1024 * pick({4, 6, 8, 12, 16}), tlbCost = uniform(0.5, 0.25 * latency.back());
  std::normal_distribution<double> jitter(0, noise);
  uint64_t last = 1;
  while (last < std::max<uint64_t>(16384, 4 * s.caches.back())) last *= 2;
  for (uint64_t kb = 1; kb <= std::min<uint64_t>(last, 1 << 20); kb *= 2) {
    double served = 0, ns = 0, timePerByte = 0;
    for (size_t i = 0; i < s.caches.size(); ++i) {
      const double hits = kb <= s.caches[i] ? 1 : std::pow(double(s.caches[i]) / double(kb), sharpness);
      ns += (hits - served) * latency[i];
      timePerByte += (hits - served) / read[i];
      served = hits;
    }
    ns += (1 - served) * latency.back();
    timePerByte += (1 - served) / read.back();
    ns += 0.3 * std::max(0.0, 1 - 256.0 / double(kb)) + tlbCost * std::max(0.0, 1 - tlbReach / double(kb));
    core::CurvePoint p;
    p.blockKb = static_cast<uint32_t>(kb);
    p.latency = ns * std::exp(jitter(rng)) * (uniform(0, 1) < 0.03 ? 1.5 : 1);
    p.read = std::exp(jitter(rng)) / timePerByte;
    p.write = p.read / 2;
    s.curve.push_back(p);
  }
  return s;
}

TEST(CacheLevels, FindsTheLevelsOfMostSyntheticHierarchies) {
  std::mt19937 rng(20261210);
  const int cases = 400;
  int right = 0;
  std::string firstWrong;
  for (int i = 0; i < cases; ++i) {
    const Synthetic s = Draw(rng);
    std::string why;
    if (Right(core::FindCacheLevels(s.curve), s.caches, &why)) {
      ++right;
    } else if (std::getenv("CACHE_LEVELS_VERBOSE")) {
      std::printf("wrong: %s truth", why.c_str());
      for (auto c : s.caches) std::printf(" %llu", static_cast<unsigned long long>(c));
      std::printf("\n");
    }
    if (firstWrong.empty() && !Right(core::FindCacheLevels(s.curve), s.caches, &why)) {
      firstWrong = why;
      for (auto c : s.caches) firstWrong += " truth " + std::to_string(c);
    }
  }
  std::printf("cache levels right on %d of %d synthetic curves\n", right, cases);
  EXPECT_GE(right, cases * 9 / 10) << "first wrong: " << firstWrong;
}

TEST(CacheLevels, ShowsNothingOnAFlatOrShortCurve) {
  core::Curve flat;
  for (uint32_t kb = 1; kb <= 65536; kb *= 2) flat.push_back({kb, 20000, 10000, 80});
  EXPECT_TRUE(core::FindCacheLevels(flat).empty());
  core::Curve unmeasured = flat;
  for (auto& p : unmeasured) p.latency = p.read = -1;
  EXPECT_TRUE(core::FindCacheLevels(unmeasured).empty());
  EXPECT_TRUE(core::FindCacheLevels({}).empty());
}

TEST(CacheLevels, TheCurveRangeFollowsTheMeasuredLevelOnlyWhenTheReportedOneIsImplausible) {
  core::MeasuredCache l3;
  l3.label = "L3";
  l3.kbytes = 32768;
  l3.confidence = 0.9;
  EXPECT_EQ(core::LastLevelKbForSizes(520192, {l3}), 32768u);  // a guest told of its host's L3
  EXPECT_EQ(core::LastLevelKbForSizes(0, {l3}), 32768u);       // no cache reported
  EXPECT_EQ(core::LastLevelKbForSizes(65536, {l3}), 65536u);   // within the margin: the report stands
  l3.confidence = 0.2;
  EXPECT_EQ(core::LastLevelKbForSizes(520192, {l3}), 520192u);
  EXPECT_EQ(core::LastLevelKbForSizes(8192, {}), 8192u);
}

TEST(CacheLevels, ComparisonLinesNameBothFigures) {
  core::MeasuredCache l1{"L1", 48, 0.9, true, true}, l2{"L2", 1536, 0.8, true, true};
  const std::vector<core::CacheMark> reported = {{"L1", 48}, {"L2", 1024}, {"L3", 520192}};
  const auto lines = core::CacheComparisonLines(reported, {l1, l2});
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "L1 reported 48 KiB, measured ~48 KiB");
  EXPECT_EQ(lines[1], "L2 reported 1 MiB, measured ~1.5 MiB");
  EXPECT_EQ(lines[2], "L3 reported 508 MiB, not seen");
  // A level the curve does not show leaves a gap: the others stay beside their own.
  const std::vector<core::CacheMark> epyc = {{"L1", 32}, {"L2", 1024}, {"L3", 32768}};
  core::MeasuredCache small{"L1", 32, 0.9, true, false}, last{"L2", 8192, 0.9, true, true};
  EXPECT_EQ(core::CacheComparisonLines(epyc, {small, last}),
            (std::vector<std::string>{"L1 reported 32 KiB, measured ~32 KiB", "L2 reported 1 MiB, not seen",
                                      "L3 reported 32 MiB, measured ~8 MiB"}));
  EXPECT_EQ(core::CacheComparisonLines(epyc, {last}),
            (std::vector<std::string>{"L1 reported 32 KiB, not seen", "L2 reported 1 MiB, not seen",
                                      "L3 reported 32 MiB, measured ~8 MiB"}));
  // The step into memory stands for the last level however far the report overstates it.
  core::MeasuredCache tiny{"L3", 4096, 0.9, true, true};
  EXPECT_EQ(core::CacheComparisonLines(reported, {l1, l2, tiny}).back(),
            "L3 reported 508 MiB, measured ~4 MiB");
  EXPECT_FALSE(core::CacheSizesDisagree(1024, 1536));
  EXPECT_TRUE(core::CacheSizesDisagree(520192, 32768));
}

}  // namespace
