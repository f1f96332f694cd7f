#include "core/cache_levels.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>

namespace core {
namespace {

// Both series are read as a cost that rises at each level's end: ln(ns) for LATENCY, ln(1 / MByte/s)
// for READ (the time a byte takes). A cost rise smaller than these is not counted as a step.
constexpr double kMinLatencyStep = 0.223;    // 1.25x
constexpr double kMinBandwidthStep = 0.140;  // 1.15x
// A step in one series with none in the other is often a TLB running out (latency) or noise; these
// are the heights from which it is still taken for a cache.
constexpr double kLoneLatencyStep = 0.470;    // 1.6x
constexpr double kLoneBandwidthStep = 0.262;  // 1.3x
// ... and then only when it is sharp: the steepest octave makes this share of it.
constexpr double kLoneSharpness = 0.6;
// A lone latency step this tall is a cache however gradual its ramp: a level whose end the
// prefetchers soften (a victim L3 behind a small L2) climbs over two or three octaves.
constexpr double kTallLatencyStep = 1.099;  // 3x
// A latency and a READ step this many octaves apart are the same level (TLB misses move the latency
// step down, a victim cache moves the READ step up).
constexpr double kMatchOctaves = 1.6;

struct Series {
  std::vector<double> log2Kb;
  std::vector<double> cost;
};

struct Step {
  double kbytes = 0;  // unrounded estimate
  double height = 0;  // in cost (ln)
  double noise = 0;
  double sharpness = 0;   // the steepest octave's share of the height
  int plateauPoints = 0;  // points on the two plateaus around the step, at most 2 + 2
  bool used = false;
};

double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// The best order-keeping pairing of two ascending lists: each item pairs with at most one of the
// other list, pairs never cross, and the sum of the pairs' costs and of skip for every item left
// alone is smallest. cost gives a negative number for a pair that may not be made.
std::vector<std::pair<size_t, size_t>> PairInOrder(size_t n, size_t m,
                                                   const std::function<double(size_t, size_t)>& cost,
                                                   double skip) {
  // best[i][j]: the cheapest pairing of the first i of one list and the first j of the other.
  std::vector<std::vector<double>> best(n + 1, std::vector<double>(m + 1, 0));
  for (size_t i = 0; i <= n; ++i)
    for (size_t j = 0; j <= m; ++j) {
      if (i == 0 || j == 0) {
        best[i][j] = skip * static_cast<double>(i + j);
        continue;
      }
      best[i][j] = std::min(best[i - 1][j], best[i][j - 1]) + skip;
      const double c = cost(i - 1, j - 1);
      if (c >= 0) best[i][j] = std::min(best[i][j], best[i - 1][j - 1] + c);
    }
  std::vector<std::pair<size_t, size_t>> pairs;
  for (size_t i = n, j = m; i > 0 && j > 0;) {
    const double c = cost(i - 1, j - 1);
    if (c >= 0 && best[i][j] == best[i - 1][j - 1] + c) {
      pairs.emplace_back(--i, --j);
    } else if (best[i][j] == best[i - 1][j] + skip) {
      --i;
    } else {
      --j;
    }
  }
  std::reverse(pairs.begin(), pairs.end());
  return pairs;
}

double OctavesApart(double a, double b) { return std::fabs(std::log2(a / b)); }

Series SeriesOf(const Curve& curve, bool latency) {
  Series s;
  for (const CurvePoint& p : curve) {
    const double v = latency ? p.latency : p.read;
    if (p.blockKb == 0 || !(v > 0) || !std::isfinite(v)) continue;
    s.log2Kb.push_back(std::log2(static_cast<double>(p.blockKb)));
    s.cost.push_back(latency ? std::log(v) : -std::log(v));
  }
  return s;
}

// One stray figure must not make or hide a step: each inner point becomes the median of itself and
// its neighbours.
std::vector<double> Smoothed(const std::vector<double>& y) {
  std::vector<double> out = y;
  for (size_t i = 1; i + 1 < y.size(); ++i) out[i] = Median({y[i - 1], y[i], y[i + 1]});
  return out;
}

// Robust scatter of the rises between neighbours. Plateaus neither rise nor fall, so the jitter is
// read off the smallest quarter of the rises (a normal scatter leaves a quarter of them under 0.32
// of its deviation): a short curve whose levels' ramps take up most of it does not pass for a noisy
// one, as it would by the median.
double NoiseOf(const std::vector<double>& y) {
  std::vector<double> rises;
  for (size_t i = 0; i + 1 < y.size(); ++i) rises.push_back(std::fabs(y[i + 1] - y[i]));
  if (rises.empty()) return 0;
  std::sort(rises.begin(), rises.end());
  return std::max(0.01, rises[rises.size() / 4] / 0.3186);
}

// The capacity a step shows. Published curves stay on the lower plateau up to the capacity and
// reach the upper one about an octave later, so the size where the cost is half-way up (in log terms)
// lies about half an octave above the capacity; less where the rise spreads over several octaves
// (sharpness: the steepest octave's share of it), since the cost then rises before the capacity.
double CapacityOf(const Series& s, const std::vector<double>& y, size_t from, size_t to, double low,
                  double high, double sharpness) {
  const double half = (low + high) / 2;
  double crossing = s.log2Kb[to];
  for (size_t p = from; p < to; ++p) {
    if (y[p + 1] < half) continue;
    const double f = std::clamp((half - y[p]) / (y[p + 1] - y[p]), 0.0, 1.0);
    crossing = s.log2Kb[p] + f * (s.log2Kb[p + 1] - s.log2Kb[p]);
    break;
  }
  return std::exp2(std::max(s.log2Kb[from], crossing - 0.5 * sharpness));
}

// Two levels close together make one long rise; where it slows to less than half of the rise on
// both sides, it is two steps with a short plateau between them.
void SplitRun(const std::vector<double>& y, size_t from, size_t to,
              std::vector<std::pair<size_t, size_t>>* runs) {
  size_t split = 0;
  for (size_t m = from + 1; m + 1 < to; ++m) {
    const double d = y[m + 1] - y[m];
    double before = 0, after = 0;
    for (size_t i = from; i < m; ++i) before = std::max(before, y[i + 1] - y[i]);
    for (size_t i = m + 1; i < to; ++i) after = std::max(after, y[i + 1] - y[i]);
    if (d < before / 2 && d < after / 2 && (split == 0 || d < y[split + 1] - y[split])) split = m;
  }
  if (split == 0) {
    runs->emplace_back(from, to);
    return;
  }
  SplitRun(y, from, split, runs);
  SplitRun(y, split + 1, to, runs);
}

// The share of a step's height its steepest octave takes: a cache ends within about an octave, a
// TLB running out or page walks missing the caches raise the latency slowly over several.
double SharpnessOf(const std::vector<double>& y, size_t from, size_t to) {
  double steepest = 0;
  for (size_t i = from; i < to; ++i) steepest = std::max(steepest, y[i + 1] - y[i]);
  const double height = y[to] - y[from];
  return height > 0 ? std::min(1.0, steepest / height) : 0;
}

std::vector<Step> StepsOf(const Series& s, double minHeight) {
  std::vector<Step> steps;
  const size_t n = s.cost.size();
  if (n < 4) return steps;
  const std::vector<double> y = Smoothed(s.cost);
  const double noise = NoiseOf(y);
  const double rise = std::max(0.08, 3 * noise);

  // Runs of rising intervals, each widened by neighbours that still rise by half as much.
  std::vector<std::pair<size_t, size_t>> runs;  // point indices: last low, first high
  for (size_t i = 0; i + 1 < n; ++i) {
    if (y[i + 1] - y[i] <= rise) continue;
    size_t from = i, to = i + 1;
    while (to + 1 < n && y[to + 1] - y[to] > rise / 2) ++to;
    while (from > 0 && y[from] - y[from - 1] > rise / 2 && (runs.empty() || from > runs.back().second))
      --from;
    SplitRun(y, from, to, &runs);
    i = to - 1;
  }

  for (size_t r = 0; r < runs.size(); ++r) {
    const auto [from, to] = runs[r];
    const size_t lowStart = std::max(r ? runs[r - 1].second : size_t{0}, from >= 2 ? from - 2 : size_t{0});
    const size_t highEnd = std::min(r + 1 < runs.size() ? runs[r + 1].first : n - 1, to + 2);
    const std::vector<double> lows(y.begin() + static_cast<long>(lowStart),
                                   y.begin() + static_cast<long>(from) + 1);
    const std::vector<double> highs(y.begin() + static_cast<long>(to),
                                    y.begin() + static_cast<long>(highEnd) + 1);
    const double low = Median(lows), high = Median(highs);
    if (high - low < minHeight) continue;
    Step step;
    step.sharpness = SharpnessOf(y, from, to);
    step.kbytes = CapacityOf(s, y, from, to, low, high, step.sharpness);
    step.height = high - low;
    step.noise = noise;
    step.plateauPoints =
        static_cast<int>(std::min<size_t>(lows.size(), 2) + std::min<size_t>(highs.size(), 2));
    steps.push_back(step);
  }
  return steps;
}

// Sizes caches are built in: a power of two, or one and a half times one.
uint64_t RoundedCacheKb(double kbytes) {
  const double l = std::log2(std::max(1.0, kbytes));
  const double whole = std::floor(l);
  const double candidates[] = {whole, whole + std::log2(1.5), whole + 1};
  double best = candidates[0];
  for (double c : candidates)
    if (std::fabs(c - l) < std::fabs(best - l)) best = c;
  return static_cast<uint64_t>(std::llround(std::exp2(best)));
}

double ClarityOf(const Step& step, double minHeight) {
  const double height = std::min(1.0, step.height / (3 * minHeight));
  const double noise = std::clamp(1 - 2 * step.noise / step.height, 0.0, 1.0);
  const double plateaus = step.plateauPoints >= 4 ? 1.0 : step.plateauPoints == 3 ? 0.85 : 0.7;
  return height * noise * plateaus;
}

std::string SizeText(uint64_t kbytes) {
  char text[32];
  if (kbytes >= 1024 * 1024 && kbytes % (512 * 1024) == 0) {
    std::snprintf(text, sizeof text, "%g GiB", static_cast<double>(kbytes) / (1024 * 1024));
  } else if (kbytes >= 1024 && kbytes % 512 == 0) {
    std::snprintf(text, sizeof text, "%g MiB", static_cast<double>(kbytes) / 1024);
  } else {
    std::snprintf(text, sizeof text, "%llu KiB", static_cast<unsigned long long>(kbytes));
  }
  return text;
}

}  // namespace

std::vector<MeasuredCache> FindCacheLevels(const Curve& curve) {
  std::vector<Step> latency = StepsOf(SeriesOf(curve, true), kMinLatencyStep);
  std::vector<Step> bandwidth = StepsOf(SeriesOf(curve, false), kMinBandwidthStep);

  struct Found {
    double kbytes;
    MeasuredCache cache;
  };
  std::vector<Found> found;
  // Latency and READ steps come in the same order, one pair per level: as many pairs as can be
  // made within kMatchOctaves, then the closest. Pairing closest first instead lets the step into
  // memory take the READ step of the level below it.
  const auto apart = [&](size_t i, size_t j) {
    const double octaves = OctavesApart(latency[i].kbytes, bandwidth[j].kbytes);
    return octaves <= kMatchOctaves ? octaves : -1.0;
  };
  for (const auto& [i, j] : PairInOrder(latency.size(), bandwidth.size(), apart, kMatchOctaves)) {
    Step &l = latency[i], &b = bandwidth[j];
    l.used = b.used = true;
    MeasuredCache c;
    c.latencyStep = c.bandwidthStep = true;
    c.confidence = std::max(ClarityOf(l, kMinLatencyStep), ClarityOf(b, kMinBandwidthStep));
    // Page walks move the latency step down, a victim cache or the prefetchers move the READ step
    // up: the level lies between the two.
    found.push_back({std::sqrt(l.kbytes * b.kbytes), c});
  }
  for (const Step& l : latency) {
    if (l.used || l.height < kLoneLatencyStep ||
        (l.sharpness < kLoneSharpness && l.height < kTallLatencyStep))
      continue;
    MeasuredCache c;
    c.latencyStep = true;
    c.confidence = 0.6 * ClarityOf(l, kMinLatencyStep);
    found.push_back({l.kbytes, c});
  }
  // A READ step with no latency step beside it stands for a level only where the chase was not
  // measured: streams also slow where the prefetchers give out, which is no cache.
  bool chased = false;
  for (const CurvePoint& p : curve) chased = chased || p.latency > 0;
  for (const Step& b : bandwidth) {
    if (chased || b.used || b.height < kLoneBandwidthStep || b.sharpness < kLoneSharpness) continue;
    MeasuredCache c;
    c.bandwidthStep = true;
    c.confidence = 0.5 * ClarityOf(b, kMinBandwidthStep);
    found.push_back({b.kbytes, c});
  }
  std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) { return a.kbytes < b.kbytes; });

  std::vector<MeasuredCache> levels;
  for (Found& f : found) {
    f.cache.kbytes = RoundedCacheKb(f.kbytes);
    // Two steps that round to one size are one level seen twice.
    if (!levels.empty() && levels.back().kbytes == f.cache.kbytes) {
      levels.back().confidence = std::max(levels.back().confidence, f.cache.confidence);
      continue;
    }
    f.cache.label = "L" + std::to_string(levels.size() + 1);
    levels.push_back(f.cache);
  }
  return levels;
}

uint64_t LastLevelKbForSizes(uint64_t reportedKb, const std::vector<MeasuredCache>& measured) {
  if (measured.empty() || measured.back().confidence < 0.4) return reportedKb;
  const uint64_t last = measured.back().kbytes;
  if (reportedKb == 0 || reportedKb > 4 * last) return last;
  return reportedKb;
}

bool CacheSizesDisagree(uint64_t reportedKb, uint64_t measuredKb) {
  if (reportedKb == 0 || measuredKb == 0) return true;
  return std::fabs(std::log2(static_cast<double>(reportedKb) / static_cast<double>(measuredKb))) >
         std::log2(1.5) + 1e-9;
}

std::vector<CacheLevelPair> PairCacheLevels(const std::vector<CacheMark>& reported,
                                            const std::vector<MeasuredCache>& measured) {
  // Octaves apart is the price of a pair, three octaves the price of a level left alone. The
  // reported last level and the measured last step pay a quarter: that step is where the chase
  // leaves the last level, whatever size the processor claims for it.
  constexpr double kAlone = 3;
  const auto cost = [&](size_t r, size_t m) {
    const double octaves = OctavesApart(static_cast<double>(std::max<uint64_t>(reported[r].kbytes, 1)),
                                        static_cast<double>(std::max<uint64_t>(measured[m].kbytes, 1)));
    const bool lasts =
        r + 1 == reported.size() && m + 1 == measured.size() && reported[r].kbytes > measured[m].kbytes;
    return lasts ? octaves / 4 : octaves;
  };
  std::vector<CacheLevelPair> out;
  size_t r = 0, m = 0;
  for (const auto& [pr, pm] : PairInOrder(reported.size(), measured.size(), cost, kAlone)) {
    for (; r < pr; ++r) out.push_back({&reported[r], nullptr});
    for (; m < pm; ++m) out.push_back({nullptr, &measured[m]});
    out.push_back({&reported[r++], &measured[m++]});
  }
  for (; r < reported.size(); ++r) out.push_back({&reported[r], nullptr});
  for (; m < measured.size(); ++m) out.push_back({nullptr, &measured[m]});
  return out;
}

std::vector<std::string> CacheComparisonLines(const std::vector<CacheMark>& reported,
                                              const std::vector<MeasuredCache>& measured) {
  std::vector<std::string> lines;
  for (const auto& [r, m] : PairCacheLevels(reported, measured)) {
    std::string line = r ? r->label : m->label;
    if (r) line += " reported " + SizeText(r->kbytes);
    if (r && m) line += ",";
    if (m) line += " measured ~" + SizeText(m->kbytes) + (m->confidence < 0.5 ? " (unsure)" : "");
    if (!m) line += ", not seen";
    lines.push_back(line);
  }
  return lines;
}

}  // namespace core
