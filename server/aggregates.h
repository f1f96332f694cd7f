// What the reference ranges, ranks and kind lists need, per memory kind, kept in memory and
// brought up to date on every stored result, so no answer has to read the stored results again.
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

// One machine's vote: the figures of its latest result of a kind.
struct Vote {
  double score = 0;
  std::optional<double> clock, latency;
};

struct MemoryKind {
  std::string type, channels;  // as first stored
  size_t count = 0;            // results stored
  size_t machines = 0;         // distinct machines (votes)
};

// Machines per score bin, bins of equal width from lo to hi.
struct ScoreHistogram {
  double lo = 0, hi = 0;
  std::vector<size_t> bins;  // empty when the kind has no results
};

struct Rank {
  size_t others = 0;  // machines of the kind besides this one
  size_t below = 0;   // of them, how many scored lower
  int percent() const { return others ? static_cast<int>(100 * below / others) : 0; }
};

class Aggregates {
 public:
  // A stored result: its kind counts one more, and its machine's vote becomes these figures.
  void AddResult(const std::string& typeKey, const std::string& channelsKey, const std::string& type,
                 const std::string& channels) {
    AddResults(typeKey, channelsKey, type, channels, 1);
  }
  void AddResults(const std::string& typeKey, const std::string& channelsKey, const std::string& type,
                  const std::string& channels, size_t count);
  void SetVote(const std::string& typeKey, const std::string& channelsKey, const std::string& idHash,
               const Vote& vote);
  // Loading a store: votes of distinct machines appended unsorted, then sorted once by Sort().
  void LoadVote(const std::string& typeKey, const std::string& channelsKey, const std::string& idHash,
                const Vote& vote);
  void Sort();

  CompareRanges Ranges(std::string_view type, std::string_view channels) const;
  MatchedValues Matching(const std::string& typeKey, const std::string& channelsKey) const;
  // Where score stands among the other machines of the kind; nothing when the kind has fewer
  // than kMinResultsForPercentiles machines.
  std::optional<Rank> RankOf(const std::string& typeKey, const std::string& channelsKey,
                             const std::string& idHash, double score) const;
  // (memory clock, score) of the kind's machines that have a clock; an even sample when more than limit.
  std::vector<std::pair<double, double>> ClockAndScore(const std::string& typeKey,
                                                       const std::string& channelsKey, size_t limit) const;
  ScoreHistogram Histogram(const std::string& typeKey, const std::string& channelsKey, size_t bins) const;
  std::vector<MemoryKind> Kinds() const;  // most results first
  size_t Results() const;

 private:
  struct Kind {
    std::string type, channels;
    size_t results = 0;
    std::unordered_map<std::string, Vote> votes;
    MatchedValues values{{}, {}, {}, true};  // each list sorted
  };
  mutable std::shared_mutex mutex_;
  std::map<std::pair<std::string, std::string>, Kind> kinds_;
  size_t results_ = 0;
};

}  // namespace qvserver
