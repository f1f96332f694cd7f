#include "core/curve.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>

#include "bench/membw.h"
#include "core/cache_levels.h"
#include "core/host.h"
#include "core/numeric.h"
#include "core/samples.h"
#include "latency/memlat.h"
#include "sysinfo/text.h"
#include "text/web_text.h"

namespace core {
namespace {

constexpr uint64_t kMiB = 1024;  // in Kb
constexpr uint32_t kSmallestLast = 16 * kMiB;
constexpr uint32_t kSmallMachineLast = 256 * kMiB;
constexpr uint32_t kLargestLast = 1024 * kMiB;
constexpr uint32_t kMaxPassGb = 64;

uint32_t PowerOfTwoAtLeast(uint64_t n) {
  uint64_t p = 1;
  while (p < n && p < (1ULL << 31)) p <<= 1;
  return static_cast<uint32_t>(p);
}

uint32_t PowerOfTwoAtMost(uint64_t n) {
  uint64_t p = 1;
  while (p * 2 <= n && p < (1ULL << 31)) p <<= 1;
  return static_cast<uint32_t>(p);
}

// The bandwidth module's output function has no context: the call in progress is found here.
thread_local const std::function<void(const char*)>* currentSink = nullptr;

void OnCurveOutput(const char* line) {
  const auto* sink = currentSink;
  if (sink == nullptr || line == nullptr) return;
  try {  // nothing may unwind through the module's frames
    (*sink)(line);
  } catch (...) {
    // a point that cannot be kept is lost; the module's next line still arrives
  }
}

CurvePoint& PointOf(Curve& curve, uint32_t blockKb) {
  auto at = std::lower_bound(curve.begin(), curve.end(), blockKb,
                             [](const CurvePoint& p, uint32_t kb) { return p.blockKb < kb; });
  if (at == curve.end() || at->blockKb != blockKb) {
    CurvePoint point;
    point.blockKb = blockKb;
    at = curve.insert(at, point);
  }
  return *at;
}

// The chase is in memory (and the curve past the last cache level) from about this latency on.
constexpr double kMemoryLatencyNs = 50;

// Whether a curve that follows the measured caches ends at kb, now that latencies up to kb are in:
// it has reached 4 x the last level the chase shows (and 16 MiB), three sizes of it are in memory,
// and the reported last level is implausible beside the measured one.
bool RangeEndsAt(const Curve& curve, const CurvePlan& plan, uint32_t kb) {
  if (kb < kSmallestLast || kb >= plan.largestKb) return false;
  const auto at = [&curve](uint32_t block) {
    for (const CurvePoint& p : curve)
      if (p.blockKb == block) return p.latency;
    return -1.0;
  };
  // Three sizes in memory: the last level's step needs its upper plateau to be told from a ramp.
  if (at(kb) < kMemoryLatencyNs || at(kb / 2) < kMemoryLatencyNs || at(kb / 4) < kMemoryLatencyNs)
    return false;
  const std::vector<MeasuredCache> levels = FindCacheLevels(curve);
  const uint64_t last = LastLevelKbForSizes(plan.reportedLastLevelKb, levels);
  return !levels.empty() && last != plan.reportedLastLevelKb && kb >= 4 * last;
}

std::string Number(double value, int decimals) {
  return value < 0 ? std::string() : FixedText(value, decimals);
}

}  // namespace

uint64_t CacheValueKBytes(const std::string& value) {
  if (value == sysinfo::kAbsent || value.empty()) return 0;
  const std::string first = value.substr(0, value.find(','));
  const std::string upper = sysinfo::UpperAscii(first);
  std::istringstream words(first);
  std::vector<std::string> list;
  for (std::string w; words >> w;) list.push_back(w);
  const size_t index = sysinfo::Contains(upper, " X ") ? 2 : 0;
  if (index >= list.size()) return 0;
  const auto number = ParseInteger(list[index]);
  if (!number || *number <= 0 || *number > (1LL << 30)) return 0;
  uint64_t kb = static_cast<uint64_t>(*number);
  if (sysinfo::Contains(upper, "MBYTES") || sysinfo::Contains(upper, " MB")) kb *= 1024;
  return kb;
}

std::vector<CacheMark> CacheMarks(const sysinfo::SystemSpec& spec) {
  std::vector<CacheMark> marks;
  const std::pair<const char*, const char*> levels[] = {
      {"L1", "PI_L1_DATA_CACHE:"}, {"L2", "PI_L2_CACHE:"}, {"L3", "PI_L3_CACHE:"}, {"L4", "PI_L4_CACHE:"}};
  for (const auto& [label, key] : levels) {
    const uint64_t kb = CacheValueKBytes(sysinfo::SpecValue(spec, key));
    if (kb > 0) marks.push_back({label, kb});
  }
  return marks;
}

uint64_t ReportedLastLevelKb(const std::string& largestCacheKBytes) {
  const auto cache = ParseInteger(largestCacheKBytes);
  if (!cache || *cache <= 0 || largestCacheKBytes == kUnknownCacheKBytes) return 0;
  return static_cast<uint64_t>(*cache);
}

CurvePlan PlanCurve(const std::string& largestCacheKBytes, uint64_t availableBytes) {
  CurvePlan plan;
  plan.reportedLastLevelKb = ReportedLastLevelKb(largestCacheKBytes);
  uint64_t last = kSmallMachineLast;
  if (plan.reportedLastLevelKb > 0) last = PowerOfTwoAtLeast(4 * plan.reportedLastLevelKb);
  last = std::clamp<uint64_t>(last, kSmallestLast, kLargestLast);
  if (availableBytes > 0) {
    const uint64_t quarterKb = availableBytes / 4 / 1024;
    if (last > quarterKb)
      last = std::max<uint64_t>(std::min<uint64_t>(kSmallMachineLast, last), PowerOfTwoAtMost(quarterKb));
    last = std::min<uint64_t>(last, std::max<uint64_t>(PowerOfTwoAtMost(availableBytes / 2 / 1024), kMiB));
  }
  plan.largestKb = static_cast<uint32_t>(last);
  plan.followMeasured = true;
  return plan;
}

std::vector<uint32_t> CurveSizes(const CurvePlan& plan) {
  std::vector<uint32_t> sizes;
  for (uint64_t kb = 1; kb <= plan.largestKb; kb *= 2) sizes.push_back(static_cast<uint32_t>(kb));
  return sizes;
}

bool ParseSweepLine(std::string_view line, uint32_t* blockKb, std::string* figure) {
  const std::string_view marker = " Kb block:";
  if (line.find("(nt) & ") == std::string_view::npos) return false;
  const size_t at = line.find(marker);
  if (at == std::string_view::npos) return false;
  size_t start = at;
  while (start > 0 && line[start - 1] >= '0' && line[start - 1] <= '9') --start;
  const auto block = ParseInteger(line.substr(start, at - start));
  if (!block || *block <= 0 || *block > 0xFFFFFFFFLL) return false;
  std::string tail = text::Trim(line.substr(at + marker.size()));
  const size_t unit = tail.find(" Mb/s");
  if (unit == std::string::npos) return false;
  *blockKb = static_cast<uint32_t>(*block);
  *figure = text::Trim(tail.substr(0, unit));
  return true;
}

double ShownBandwidth(std::string_view figure, const char* prefix) {
  // The host's steps: the whole part before the point, scaled per sample, then averaged.
  const size_t dot = figure.find('.');
  if (dot == std::string_view::npos) return -1;
  const std::string whole = text::Trim(figure.substr(0, dot));
  if (!ParseInteger("0" + whole)) return -1;
  const SampleList samples{std::string(prefix) + "0" + ScaleBandwidthSample(whole)};
  const auto shown = ParseDecimal(AverageSamples(samples, prefix));
  return shown ? *shown : -1;
}

double ShownBandwidth(double moduleMbPerSecond, const char* prefix) {
  if (!(moduleMbPerSecond >= 0) || moduleMbPerSecond > 1e12) return -1;
  return ShownBandwidth(FixedText(moduleMbPerSecond, 2), prefix);
}

double ShownLatency(std::string_view moduleText) {
  if (sysinfo::Contains(moduleText, "rro")) return -1;
  const auto hundredths = ParseInteger(LatencySampleFromText(moduleText));
  if (!hundredths || *hundredths <= 0) return -1;
  return static_cast<double>(*hundredths) / 100.0;
}

CurveModules CarriedCurveModules() {
  CurveModules modules;
  modules.bandwidth = [](const std::string& arguments, const std::function<void(const char*)>& out,
                         std::string* error) {
    const std::string commandLine = BandwidthCommandLine(arguments);
    return WithModuleEntry(
        BandwidthModuleImage(), MEMBW_ENTRY_NAME, "The bandwidth module has no entry.",
        [&](void* entry) {
          const auto* outer = currentSink;
          currentSink = &out;
          reinterpret_cast<MembwEntry>(entry)(commandLine.c_str(), &OnCurveOutput);
          currentSink = outer;
        },
        error);
  };
  modules.latency = [](int32_t rounds, int32_t kbytes, int32_t loads, std::string* text, std::string* error) {
    return WithModuleEntry(
        LatencyModuleImage(), MEMLAT_ENTRY_NAME, "The latency module has no entry.",
        [&](void* entry) {
          const char* result = reinterpret_cast<MemLatencyEntry>(entry)(rounds, kbytes, loads);
          text->assign(result ? result : "");  // valid only while the module is loaded
        },
        error);
  };
  return modules;
}

bool MeasureCurve(const CurvePlan& asked, const CurveModules& modules,
                  const std::function<void(const CurveProgress&)>& onProgress, const std::atomic<bool>* stop,
                  Curve* curve, std::string* error) {
  CurvePlan plan = asked;  // its range may end early (followMeasured)
  std::vector<uint32_t> sizes = CurveSizes(plan);
  curve->clear();
  for (uint32_t kb : sizes) PointOf(*curve, kb);
  const int perSize = 2 * std::max(plan.sweeps, 1) + 1;
  int total = static_cast<int>(sizes.size()) * perSize;
  int done = 0;
  const auto stopped = [stop] { return stop != nullptr && stop->load(); };

  const auto latencies = [&]() {
    for (size_t i = 0; i < sizes.size(); ++i) {
      const uint32_t kb = sizes[i];
      if (stopped()) return true;
      std::string text, callError;
      if (!modules.latency(plan.latencyRounds, static_cast<int32_t>(std::min<uint32_t>(kb, 0x7FFFFFFF)),
                           plan.latencyLoads, &text, &callError)) {
        if (error) *error = callError;
        return false;
      }
      PointOf(*curve, kb).latency = ShownLatency(text);
      ++done;
      if (plan.followMeasured && RangeEndsAt(*curve, plan, kb)) {
        plan.largestKb = kb;
        sizes.resize(i + 1);
        curve->resize(i + 1);  // one point per size, in order
        total = static_cast<int>(sizes.size()) * perSize;
      }
      if (onProgress) onProgress({CurveSeries::Latency, PointOf(*curve, kb), done, total});
    }
    return true;
  };
  if (plan.followMeasured) {
    if (!latencies()) return false;
    if (stopped()) return true;
  }
  const uint32_t lastMb = std::max<uint32_t>(1, plan.largestKb / 1024);

  // One sweep; the figures of blocks up to limitKb replace what the curve holds, and times gets
  // how long each point took (ms, from its rate). False when the module could not be called or
  // gave no line.
  const auto sweep = [&](CurveSeries series, uint32_t passGb, uint32_t arrayMb, uint32_t limitKb, bool counts,
                         bool keepBest, std::vector<std::pair<uint32_t, double>>* times,
                         std::string* sweepError) {
    const bool read = series == CurveSeries::Read;
    const std::string arguments = std::string(read ? "-b11" : "-b10") + " -g" + std::to_string(passGb) +
                                  " -m" + std::to_string(arrayMb);
    int lines = 0;
    const std::function<void(const char*)> out = [&](const char* text) {
      uint32_t block = 0;
      std::string figure;
      if (!ParseSweepLine(text, &block, &figure) || block > limitKb || block > plan.largestKb) return;
      const double shown = ShownBandwidth(figure, read ? kReadPrefix : kWritePrefix);
      const auto raw = ParseDecimal(figure);
      if (shown < 0 || !raw) return;
      ++lines;
      CurvePoint& point = PointOf(*curve, block);
      double& value = read ? point.read : point.write;
      if (!keepBest || shown > value) value = shown;
      if (*raw > 0) times->push_back({block, passGb * 1024.0 * 1000.0 / *raw});
      if (counts) ++done;
      if (onProgress) onProgress({series, point, done, total});
    };
    std::string callError;
    if (!modules.bandwidth(arguments, out, &callError)) {
      if (sweepError) *sweepError = callError;
      return false;
    }
    return lines > 0;
  };

  for (CurveSeries series : {CurveSeries::Read, CurveSeries::Write}) {
    if (stopped()) return true;
    std::vector<std::pair<uint32_t, double>> times;
    // Every sweep but the first keeps the better figure, so a moment when another program took
    // the processor or the memory does not make a dip in the curve.
    for (int round = 0; round < std::max(plan.sweeps, 1); ++round) {
      if (round > 0 && stopped()) return true;
      const int before = done;
      std::vector<std::pair<uint32_t, double>> roundTimes;
      if (!sweep(series, plan.passGb, lastMb, plan.largestKb, true, round > 0, &roundTimes, error)) {
        if (round > 0 && error && error->empty()) continue;  // figures of the first sweep stand
        if (error && error->empty()) *error = "The bandwidth module delivered no figure.";
        return false;
      }
      done = before + static_cast<int>(sizes.size());
      if (round == 0) times = roundTimes;
    }
    // The module times in whole ms: sizes that went by too fast are measured again with a
    // larger pass, so a tick is a small part of each of them.
    double shortest = 0;
    uint32_t limitKb = 0;
    for (const auto& [block, ms] : times)
      if (ms < plan.minPointMs) {
        limitKb = std::max(limitKb, block);
        shortest = shortest == 0 ? ms : std::min(shortest, ms);
      }
    if (limitKb > 0 && !stopped()) {
      const uint64_t factor = static_cast<uint64_t>(std::ceil(plan.minPointMs / std::max(shortest, 1.0)));
      const uint32_t pass = std::min<uint32_t>(kMaxPassGb, PowerOfTwoAtLeast(plan.passGb * factor));
      if (pass > plan.passGb) {
        std::vector<std::pair<uint32_t, double>> again;
        // The first pass's figures stand when this one cannot be made.
        sweep(series, pass, std::max<uint32_t>(1, PowerOfTwoAtLeast(limitKb) / 1024), limitKb, false, false,
              &again, nullptr);
      }
    }
  }

  if (plan.followMeasured) return true;
  return latencies();
}

std::string CurveCsv(const Curve& curve) {
  std::string text = "block_kb;read_mbyte_s;write_mbyte_s;latency_ns\n";
  for (const CurvePoint& p : curve)
    text += std::to_string(p.blockKb) + ";" + Number(p.read, 0) + ";" + Number(p.write, 0) + ";" +
            Number(p.latency, 2) + "\n";
  return text;
}

bool ParseCurveCsv(const std::string& text, Curve* curve) {
  std::istringstream in(text);
  std::string line;
  if (!std::getline(in, line) || text::Trim(line) != "block_kb;read_mbyte_s;write_mbyte_s;latency_ns")
    return false;
  Curve result;
  while (std::getline(in, line)) {
    if (text::Trim(line).empty()) continue;
    std::vector<std::string> fields;
    size_t start = 0;
    for (size_t semi; (semi = line.find(';', start)) != std::string::npos; start = semi + 1)
      fields.push_back(line.substr(start, semi - start));
    fields.push_back(text::Trim(line.substr(start)));
    if (fields.size() != 4) return false;
    const auto block = ParseInteger(fields[0]);
    if (!block || *block <= 0 || *block > 0xFFFFFFFFLL) return false;
    CurvePoint point;
    point.blockKb = static_cast<uint32_t>(*block);
    double* targets[] = {&point.read, &point.write, &point.latency};
    for (int i = 0; i < 3; ++i) {
      if (fields[i + 1].empty()) continue;
      const auto value = ParseDecimal(fields[i + 1]);
      if (!value || *value < 0) return false;
      *targets[i] = *value;
    }
    if (!result.empty() && result.back().blockKb >= point.blockKb) return false;
    result.push_back(point);
  }
  *curve = std::move(result);
  return true;
}

double AxisTop(double value) {
  if (!(value > 0)) return 1;
  const double base = std::pow(10.0, std::floor(std::log10(value)));
  for (double step : {1.0, 1.5, 2.0, 2.5, 3.0, 4.0, 5.0, 6.0, 8.0, 10.0})
    if (step * base >= value) return step * base;
  return 10 * base;
}

const std::vector<uint64_t>& CurveAxisLabelsKb() {
  static const std::vector<uint64_t> sizes = {1, 4, 32, 256, 1024, 8192, 32768, 262144, 1048576};
  return sizes;
}

std::string BlockSizeText(uint64_t kbytes) {
  if (kbytes >= 1024 * 1024 && kbytes % (1024 * 1024) == 0)
    return std::to_string(kbytes / 1024 / 1024) + " GiB";
  if (kbytes >= 1024 && kbytes % 1024 == 0) return std::to_string(kbytes / 1024) + " MiB";
  return std::to_string(kbytes) + " KiB";
}

namespace {

std::string F(double v) { return FixedText(v, 1); }

}  // namespace

std::string CurveSvg(const Curve& curve, const std::vector<CacheMark>& marks, const std::string& title,
                     const std::string& allCoreLine) {
  const double width = 900, height = 560, left = 80, right = 820, top = 50, bottom = 430;
  uint64_t firstKb = 1, lastKb = 1024;
  if (!curve.empty()) {
    firstKb = curve.front().blockKb;
    lastKb = std::max<uint64_t>(curve.back().blockKb, firstKb * 2);
  }
  double maxBandwidth = 0, maxLatency = 0;
  for (const CurvePoint& p : curve) {
    maxBandwidth = std::max({maxBandwidth, p.read, p.write});
    maxLatency = std::max(maxLatency, p.latency);
  }
  const double bandwidthTop = AxisTop(maxBandwidth * 1.05), latencyTop = AxisTop(maxLatency * 1.05);
  const double logFirst = std::log2(static_cast<double>(firstKb)),
               logLast = std::log2(static_cast<double>(lastKb));
  const auto x = [&](double kb) {
    return left + (std::log2(kb) - logFirst) / (logLast - logFirst) * (right - left);
  };
  const auto yBandwidth = [&](double v) { return bottom - v / bandwidthTop * (bottom - top); };
  const auto yLatency = [&](double v) { return bottom - v / latencyTop * (bottom - top); };

  std::ostringstream svg;
  svg << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << width << "\" height=\"" << height
      << "\" viewBox=\"0 0 " << width << " " << height << "\" font-family=\"sans-serif\" font-size=\"12\">\n"
      << "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n"
      << "<text x=\"" << width / 2 << "\" y=\"24\" text-anchor=\"middle\" font-size=\"16\">"
      << text::MarkupEscape(title) << "</text>\n";
  // Axes, ticks and grid.
  svg << "<g stroke=\"#888\" fill=\"none\"><rect x=\"" << left << "\" y=\"" << top << "\" width=\""
      << right - left << "\" height=\"" << bottom - top << "\"/></g>\n";
  for (uint64_t kb = 1; kb <= lastKb; kb *= 2) {
    if (kb < firstKb) continue;
    const auto& named = CurveAxisLabelsKb();
    const bool labelled = std::find(named.begin(), named.end(), kb) != named.end();
    svg << "<line class=\"tick\" x1=\"" << F(x(kb)) << "\" y1=\"" << bottom << "\" x2=\"" << F(x(kb))
        << "\" y2=\"" << bottom + (labelled ? 6 : 3) << "\" stroke=\"#888\"/>\n";
    if (labelled)
      svg << "<text x=\"" << F(x(kb)) << "\" y=\"" << bottom + 20 << "\" text-anchor=\"middle\">"
          << BlockSizeText(kb) << "</text>\n";
  }
  for (int i = 0; i <= 5; ++i) {
    const double b = bandwidthTop * i / 5, l = latencyTop * i / 5;
    svg << "<line x1=\"" << left << "\" y1=\"" << F(yBandwidth(b)) << "\" x2=\"" << right << "\" y2=\""
        << F(yBandwidth(b)) << "\" stroke=\"#eee\"/>\n"
        << "<text x=\"" << left - 6 << "\" y=\"" << F(yBandwidth(b) + 4) << "\" text-anchor=\"end\">"
        << FixedText(b, 0) << "</text>\n"
        << "<text x=\"" << right + 6 << "\" y=\"" << F(yLatency(l) + 4) << "\">" << FixedText(l, 0)
        << "</text>\n";
  }
  svg << "<text x=\"20\" y=\"" << (top + bottom) / 2 << "\" transform=\"rotate(-90 20 " << (top + bottom) / 2
      << ")\" text-anchor=\"middle\">MByte/s</text>\n"
      << "<text x=\"" << width - 20 << "\" y=\"" << (top + bottom) / 2 << "\" transform=\"rotate(90 "
      << width - 20 << " " << (top + bottom) / 2 << ")\" text-anchor=\"middle\">ns</text>\n"
      << "<text x=\"" << (left + right) / 2 << "\" y=\"" << bottom + 38
      << "\" text-anchor=\"middle\">block size</text>\n";
  // Cache levels.
  for (const CacheMark& mark : marks) {
    if (mark.kbytes < firstKb || mark.kbytes > lastKb) continue;
    svg << "<line class=\"cache\" x1=\"" << F(x(mark.kbytes)) << "\" y1=\"" << top << "\" x2=\""
        << F(x(mark.kbytes)) << "\" y2=\"" << bottom << "\" stroke=\"#999\" stroke-dasharray=\"4 3\"/>\n"
        << "<text x=\"" << F(x(mark.kbytes) + 4) << "\" y=\"" << top + 14 << "\" fill=\"#555\">"
        << text::MarkupEscape(mark.label) << " " << BlockSizeText(mark.kbytes) << "</text>\n";
  }
  // The three lines.
  struct Series {
    const char* id;
    const char* name;
    const char* colour;
    double CurvePoint::*field;
    bool latency;
  };
  const Series series[] = {{"read", "READ", "#1450dc", &CurvePoint::read, false},
                           {"write", "WRITE", "#d21414", &CurvePoint::write, false},
                           {"latency", "LATENCY (ns, right)", "#e68c00", &CurvePoint::latency, true}};
  for (const Series& s : series) {
    std::string points;
    for (const CurvePoint& p : curve) {
      const double v = p.*(s.field);
      if (v < 0) continue;
      points += F(x(p.blockKb)) + "," + F(s.latency ? yLatency(v) : yBandwidth(v)) + " ";
    }
    svg << "<polyline id=\"" << s.id << "\" fill=\"none\" stroke=\"" << s.colour
        << "\" stroke-width=\"2\" points=\"" << text::Trim(points) << "\"/>\n";
  }
  // Legend.
  double legendX = left;
  for (const Series& s : series) {
    svg << "<line x1=\"" << legendX << "\" y1=\"" << bottom + 62 << "\" x2=\"" << legendX + 20 << "\" y2=\""
        << bottom + 62 << "\" stroke=\"" << s.colour << "\" stroke-width=\"2\"/>\n"
        << "<text x=\"" << legendX + 26 << "\" y=\"" << bottom + 66 << "\">" << s.name << "</text>\n";
    legendX += 170;
  }
  svg << "<text x=\"" << left << "\" y=\"" << bottom + 88 << "\" fill=\"#555\">" << kCurveScalingNote
      << "</text>\n";
  if (!allCoreLine.empty())
    svg << "<text x=\"" << left << "\" y=\"" << height - 14 << "\">" << text::MarkupEscape(allCoreLine)
        << "</text>\n";
  svg << "</svg>\n";
  return svg.str();
}

}  // namespace core
