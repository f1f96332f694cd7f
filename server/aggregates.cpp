#include "server/aggregates.h"

#include <algorithm>
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
  const size_t withClock = it->second.values.clocks.size();
  const size_t step = withClock > limit ? (withClock + limit - 1) / limit : 1;
  size_t n = 0;
  for (const auto& [machine, vote] : it->second.votes)
    if (vote.clock && n++ % step == 0) points.emplace_back(*vote.clock, vote.score);
  return points;
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
