// A module host that answers at once with chosen samples, and records what it was asked.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/run_sequence.h"

namespace fakes {

class QuickHost : public core::BenchHost {
 public:
  // Mb/s figures (as the module prints them) per argument string; every call emits these lines.
  std::map<std::string, std::vector<std::string>> figures = {
      {"-b11 -g4 -m64", {"12345.67"}}, {"-b11 -g4 -m128", {"12347.10"}}, {"-b10 -g8 -m128", {"7432.00"}},
      {"-b10 -g4 -m256", {"7434.90"}}, {"-b12 -g4", {"8765.43"}},        {"-b12 -g16", {"8765.43"}},
      {"-b12 -g8", {"8765.43"}}};
  std::deque<std::string> latencies = {"06543", "06550", "06561", "06548"};
  std::string cache = "12288";
  std::string failArguments;  // this call cannot place its module
  bool failLatency = false;
  std::vector<std::string> calls;  // "arguments|prefix", "latency"
  std::function<void()> onCall;    // runs inside every call

  bool RunBandwidthTest(const std::string& arguments, const std::string& prefix, core::SampleList& samples,
                        const std::function<void()>& processEvents,
                        const std::function<void()>& advanceProgress, std::string* error) override {
    calls.push_back(arguments + "|" + prefix);
    if (onCall) onCall();
    if (arguments == failArguments) {
      *error = "the module image could not be written (disk full)";
      return false;
    }
    core::BandwidthOutputParser parser(samples);
    parser.SetPrefix(prefix);
    const bool copy = prefix == core::kCopyPrefix;
    for (const std::string& figure : figures[arguments]) {
      const std::string line =
          copy ? "Copy (nt)  Copy:     " + figure + " Mb/s" : "32768 Kb block: " + figure + " Mb/s";
      parser.OnLibraryOutput(line.c_str());
      processEvents();
      advanceProgress();
    }
    return true;
  }

  std::string MeasureLatencyOnce(const std::function<void()>& processEvents, std::string* error) override {
    calls.push_back("latency");
    if (onCall) onCall();
    processEvents();
    if (failLatency) {
      *error = "the module image could not be written (disk full)";
      return "0";
    }
    if (latencies.empty()) return "0";
    std::string s = latencies.front();
    latencies.pop_front();
    latencies.push_back(s);
    return s;
  }

  std::string LargestCacheKBytes() const override { return cache; }
};

}  // namespace fakes
