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

std::optional<double> Median(std::vector<double>& v) {
  if (v.empty()) return std::nullopt;
  const size_t mid = v.size() / 2;
  std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(mid), v.end());
  const double upper = v[mid];
  if (v.size() % 2) return upper;
  const double lower = *std::max_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(mid));
  return (lower + upper) / 2;
}

// DDR2 to DDR5 and their low-power forms, as the memory panel names them; nothing else.
bool RecognisedType(std::string_view key) {
  if (key.substr(0, 2) == "LP") key.remove_prefix(2);
  if (!key.empty() && key.back() == 'X') key.remove_suffix(1);
  return key.size() == 4 && key.substr(0, 3) == "DDR" && key[3] >= '2' && key[3] <= '5';
}

}  // namespace

void Aggregates::MakeVoice(Network& n) {
  std::vector<double> scores, clocks, latencies;
  for (const auto& [machine, v] : n.machines) {
    scores.push_back(v.score);
    if (v.clock) clocks.push_back(*v.clock);
    if (v.latency) latencies.push_back(*v.latency);
  }
  n.voice.score = Median(scores).value_or(0);
  n.voice.clock = Median(clocks);
  n.voice.latency = Median(latencies);
}

void Aggregates::AddVoice(Kind& k, const Vote& voice, bool sorted) {
  auto add = [sorted](std::vector<double>& list, double v) {
    if (sorted)
      Insert(list, v);
    else
      list.push_back(v);
  };
  add(k.values.scores, voice.score);
  if (voice.clock) add(k.values.clocks, *voice.clock);
  if (voice.latency) add(k.values.latencies, *voice.latency);
}

void Aggregates::RemoveVoice(Kind& k, const Vote& voice) {
  Remove(k.values.scores, voice.score);
  if (voice.clock) Remove(k.values.clocks, *voice.clock);
  if (voice.latency) Remove(k.values.latencies, *voice.latency);
}

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
  std::lock_guard list(listMutex_);
  listStale_ = true;
}

void Aggregates::SetVote(const std::string& typeKey, const std::string& channelsKey,
                         const std::string& idHash, const std::string& network, const Vote& vote) {
  if (typeKey.empty() || channelsKey.empty()) return;
  std::unique_lock lock(mutex_);
  Kind& k = kinds_[{typeKey, channelsKey}];
  auto [it, freshNetwork] = k.networks.try_emplace(network);
  Network& n = it->second;
  if (!freshNetwork) RemoveVoice(k, n.voice);
  if (n.machines.insert_or_assign(idHash, vote).second) ++k.machines;
  MakeVoice(n);
  AddVoice(k, n.voice, true);
  std::lock_guard list(listMutex_);
  listStale_ = true;
}

void Aggregates::LoadVote(const std::string& typeKey, const std::string& channelsKey,
                          const std::string& idHash, const std::string& network, const Vote& vote) {
  if (typeKey.empty() || channelsKey.empty()) return;
  std::unique_lock lock(mutex_);
  Kind& k = kinds_[{typeKey, channelsKey}];
  if (k.networks[network].machines.try_emplace(idHash, vote).second) ++k.machines;
}

void Aggregates::Sort() {
  std::unique_lock lock(mutex_);
  for (auto& [key, k] : kinds_) {
    k.values = MatchedValues{{}, {}, {}, true};
    for (auto& [name, n] : k.networks) {
      MakeVoice(n);
      AddVoice(k, n.voice, false);
    }
    std::sort(k.values.scores.begin(), k.values.scores.end());
    std::sort(k.values.clocks.begin(), k.values.clocks.end());
    std::sort(k.values.latencies.begin(), k.values.latencies.end());
  }
  std::lock_guard list(listMutex_);
  listStale_ = true;
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
                                       const std::string& network, double score) const {
  std::shared_lock lock(mutex_);
  const auto it = kinds_.find({typeKey, channelsKey});
  if (it == kinds_.end() || it->second.networks.size() < kMinResultsForPercentiles) return std::nullopt;
  const Kind& k = it->second;
  Rank r;
  r.others = k.networks.size();
  r.below = static_cast<size_t>(std::lower_bound(k.values.scores.begin(), k.values.scores.end(), score) -
                                k.values.scores.begin());
  // The result's own network is not a rival.
  if (const auto own = k.networks.find(network); own != k.networks.end()) {
    --r.others;
    if (own->second.voice.score < score) --r.below;
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
  // The networks sit in hash order, which is no order of theirs: the first ones are a fair sample,
  // and taking them costs the sample, not the kind.
  for (const auto& [name, n] : it->second.networks) {
    if (points.size() == limit) break;
    if (n.voice.clock) points.emplace_back(*n.voice.clock, n.voice.score);
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
  std::shared_lock lock(mutex_);
  std::lock_guard list(listMutex_);
  if (listStale_) {
    list_.clear();
    for (const auto& [key, k] : kinds_)
      if (k.results && RecognisedType(key.first) && ChannelCount(key.second))
        list_.push_back(MemoryKind{k.type, k.channels, k.results, k.machines, k.networks.size()});
    std::stable_sort(list_.begin(), list_.end(), [](const MemoryKind& a, const MemoryKind& b) {
      if (a.count != b.count) return a.count > b.count;
      return std::pair(a.type, a.channels) < std::pair(b.type, b.channels);
    });
    listStale_ = false;
  }
  return list_;
}

std::optional<MemoryKind> Aggregates::KindOf(const std::string& typeKey,
                                             const std::string& channelsKey) const {
  std::shared_lock lock(mutex_);
  const auto it = kinds_.find({typeKey, channelsKey});
  if (it == kinds_.end() || !it->second.results) return std::nullopt;
  const Kind& k = it->second;
  return MemoryKind{k.type, k.channels, k.results, k.machines, k.networks.size()};
}

size_t Aggregates::Results() const {
  std::shared_lock lock(mutex_);
  return results_;
}

}  // namespace qvserver
