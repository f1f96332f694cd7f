// What the reference ranges, ranks and kind lists need, per memory kind, kept in memory and
// brought up to date on every stored result, so no answer has to read the stored results again.
//
// A client mints IDHASHes freely, so a machine is no unit of trust: the network it sends from is.
// Each sending network (an IPv4 /24, an IPv6 /64) speaks with one voice per kind, the median of its
// machines' figures, and ranges, ranks and the percentile floor count those voices.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <shared_mutex>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "server/reference.h"

namespace qvserver {

// One machine's vote: the figures of its latest result of a kind from one network.
struct Vote {
  double score = 0;
  std::optional<double> clock, latency;
};

struct MemoryKind {
  std::string type, channels;  // as first stored
  size_t count = 0;            // results stored
  size_t machines = 0;         // distinct machines (votes)
  size_t networks = 0;         // distinct sending networks
};

// Networks per score bin, bins of equal width from lo to hi.
struct ScoreHistogram {
  double lo = 0, hi = 0;
  std::vector<size_t> bins;  // empty when the kind has no results
};

struct Rank {
  size_t others = 0;  // networks of the kind besides this result's own
  size_t below = 0;   // of them, how many scored lower
  int percent() const { return others ? static_cast<int>(100 * below / others) : 0; }
};

class Aggregates {
 public:
  // A stored result: its kind counts one more.
  void AddResult(const std::string& typeKey, const std::string& channelsKey, const std::string& type,
                 const std::string& channels) {
    AddResults(typeKey, channelsKey, type, channels, 1);
  }
  void AddResults(const std::string& typeKey, const std::string& channelsKey, const std::string& type,
                  const std::string& channels, size_t count);
  // The machine's vote from that network becomes these figures; its network's voice follows.
  void SetVote(const std::string& typeKey, const std::string& channelsKey, const std::string& idHash,
               const std::string& network, const Vote& vote);
  // Loading a store: votes appended without their networks' voices, then all made once by Sort().
  void LoadVote(const std::string& typeKey, const std::string& channelsKey, const std::string& idHash,
                const std::string& network, const Vote& vote);
  void Sort();

  CompareRanges Ranges(std::string_view type, std::string_view channels) const;
  // One value per network: its voice.
  MatchedValues Matching(const std::string& typeKey, const std::string& channelsKey) const;
  // Where score stands among the other networks of the kind; nothing when the kind has fewer
  // than kMinResultsForPercentiles networks.
  std::optional<Rank> RankOf(const std::string& typeKey, const std::string& channelsKey,
                             const std::string& network, double score) const;
  // (memory clock, score) of the kind's networks that have a clock; an even sample when more than limit.
  std::vector<std::pair<double, double>> ClockAndScore(const std::string& typeKey,
                                                       const std::string& channelsKey, size_t limit) const;
  ScoreHistogram Histogram(const std::string& typeKey, const std::string& channelsKey, size_t bins) const;
  // The kinds of a memory type and channel count the server knows (DDR2 to DDR5), most results
  // first; kept sorted between changes, so junk kinds cost neither time nor room on a page.
  std::vector<MemoryKind> Kinds() const;
  std::optional<MemoryKind> KindOf(const std::string& typeKey, const std::string& channelsKey) const;
  size_t Results() const;

 private:
  struct Network {
    std::unordered_map<std::string, Vote> machines;
    Vote voice;  // the medians of the machines' figures
  };
  struct Kind {
    std::string type, channels;
    size_t results = 0, machines = 0;
    std::unordered_map<std::string, Network> networks;
    MatchedValues values{{}, {}, {}, true};  // the networks' voices, each list sorted
  };
  static void MakeVoice(Network& n);
  static void AddVoice(Kind& k, const Vote& voice, bool sorted);
  static void RemoveVoice(Kind& k, const Vote& voice);

  mutable std::shared_mutex mutex_;
  std::map<std::pair<std::string, std::string>, Kind> kinds_;
  size_t results_ = 0;
  // The kind list, rebuilt at most once per change rather than sorted on every page.
  mutable std::mutex listMutex_;
  mutable std::vector<MemoryKind> list_;
  mutable bool listStale_ = true;
};

}  // namespace qvserver
