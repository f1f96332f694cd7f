#include "server/aggregates.h"

#include <algorithm>
#include <cmath>
#include <mutex>

#include "server/record.h"

namespace qvserver {

namespace {

void Insert(std::vector<double>& sorted, double v) {
  sorted.insert(std::upper_bound(sorted.begin(), sorted.end(), v), v);
}

void Remove(std::vector<double>& sorted, double v) {
  const auto it = std::lower_bound(sorted.begin(), sorted.end(), v);
  if (it != sorted.end() && *it == v) sorted.erase(it);
}

}  // namespace

void Aggregates::AddResults(const std::string& typeKey, const std::string& channelsKey,
                            const std::string& type, const std::string& channels, size_t count) {
  std::unique_lock lock(mutex_);
  results_ += count;
  if (typeKey.empty() || channelsKey.empty() || count == 0) return;
  Kind& k = kinds_[{typeKey, channelsKey}];
  if (k.results == 0) {
    k.type = type;
    k.channels = channels;
  }
  k.results += count;
}

void Aggregates::SetVote(const std::string& typeKey, const std::string& channelsKey,
                         const std::string& idHash, const Vote& vote) {
  if (typeKey.empty() || channelsKey.empty()) return;
  std::unique_lock lock(mutex_);
  Kind& k = kinds_[{typeKey, channelsKey}];
  auto [it, fresh] = k.votes.try_emplace(idHash, vote);
  if (!fresh) {
    const Vote& old = it->second;
    Remove(k.values.scores, old.score);
    if (old.clock) Remove(k.values.clocks, *old.clock);
    if (old.latency) Remove(k.values.latencies, *old.latency);
    it->second = vote;
  }
  Insert(k.values.scores, vote.score);
  if (vote.clock) Insert(k.values.clocks, *vote.clock);
  if (vote.latency) Insert(k.values.latencies, *vote.latency);
}

void Aggregates::LoadVote(const std::string& typeKey, const std::string& channelsKey,
                          const std::string& idHash, const Vote& vote) {
  if (typeKey.empty() || channelsKey.empty()) return;
  std::unique_lock lock(mutex_);
  Kind& k = kinds_[{typeKey, channelsKey}];
  if (!k.votes.try_emplace(idHash, vote).second) return;
  k.values.scores.push_back(vote.score);
  if (vote.clock) k.values.clocks.push_back(*vote.clock);
  if (vote.latency) k.values.latencies.push_back(*vote.latency);
}

void Aggregates::Sort() {
  std::unique_lock lock(mutex_);
  for (auto& [key, k] : kinds_) {
    std::sort(k.values.scores.begin(), k.values.scores.end());
    std::sort(k.values.clocks.begin(), k.values.clocks.end());
    std::sort(k.values.latencies.begin(), k.values.latencies.end());
  }
}

CompareRanges Aggregates::Ranges(std::string_view type, std::string_view channels) const {
  static const MatchedValues kNone;
  std::shared_lock lock(mutex_);
  const auto it = kinds_.find({MatchKey(type), MatchKey(channels)});
  return RangesFor(type, channels, it == kinds_.end() ? kNone : it->second.values);
}

MatchedValues Aggregates::Matching(const std::string& typeKey, const std::string& channelsKey) const {
  std::shared_lock lock(mutex_);
  const auto it = kinds_.find({typeKey, channelsKey});
  return it == kinds_.end() ? MatchedValues{} : it->second.values;
}

std::optional<Rank> Aggregates::RankOf(const std::string& typeKey, const std::string& channelsKey,
                                       const std::string& idHash, double score) const {
  std::shared_lock lock(mutex_);
  const auto it = kinds_.find({typeKey, channelsKey});
  if (it == kinds_.end() || it->second.votes.size() < kMinResultsForPercentiles) return std::nullopt;
  const Kind& k = it->second;
  Rank r;
  r.others = k.votes.size();
  r.below = static_cast<size_t>(std::lower_bound(k.values.scores.begin(), k.values.scores.end(), score) -
                                k.values.scores.begin());
  // The machine's own vote is not a rival.
  if (const auto own = k.votes.find(idHash); own != k.votes.end()) {
    --r.others;
    if (own->second.score < score) --r.below;
  }
  return r;
}

std::vector<std::pair<double, double>> Aggregates::ClockAndScore(const std::string& typeKey,
                                                                 const std::string& channelsKey,
                                                                 size_t limit) const {
  std::vector<std::pair<double, double>> points;
  std::shared_lock lock(mutex_);
  const auto it = kinds_.find({typeKey, channelsKey});
  if (it == kinds_.end() || limit == 0) return points;
  // The votes sit in hash order, which is no order of theirs: the first ones are a fair sample,
  // and taking them costs the sample, not the kind.
  for (const auto& [machine, vote] : it->second.votes) {
    if (points.size() == limit) break;
    if (vote.clock) points.emplace_back(*vote.clock, vote.score);
  }
  return points;
}

ScoreHistogram Aggregates::Histogram(const std::string& typeKey, const std::string& channelsKey,
                                     size_t bins) const {
  ScoreHistogram h;
  std::shared_lock lock(mutex_);
  const auto it = kinds_.find({typeKey, channelsKey});
  if (it == kinds_.end() || it->second.values.scores.empty() || bins == 0) return h;
  const std::vector<double>& s = it->second.values.scores;
  h.lo = std::floor(s.front());
  h.hi = std::max(h.lo + 1, std::ceil(s.back()));
  h.bins.resize(bins);
  size_t below = 0;
  for (size_t i = 0; i < bins; ++i) {
    const double edge = h.lo + (h.hi - h.lo) * static_cast<double>(i + 1) / static_cast<double>(bins);
    const size_t upTo = i + 1 == bins
                            ? s.size()
                            : static_cast<size_t>(std::lower_bound(s.begin(), s.end(), edge) - s.begin());
    h.bins[i] = upTo - below;
    below = upTo;
  }
  return h;
}

std::vector<MemoryKind> Aggregates::Kinds() const {
  std::vector<MemoryKind> out;
  {
    std::shared_lock lock(mutex_);
    for (const auto& [key, k] : kinds_)
      if (k.results) out.push_back(MemoryKind{k.type, k.channels, k.results, k.votes.size()});
  }
  std::stable_sort(out.begin(), out.end(), [](const MemoryKind& a, const MemoryKind& b) {
    if (a.count != b.count) return a.count > b.count;
    return std::pair(a.type, a.channels) < std::pair(b.type, b.channels);
  });
  return out;
}

size_t Aggregates::Results() const {
  std::shared_lock lock(mutex_);
  return results_;
}

}  // namespace qvserver
