// Where a score stands among the results site's results of the same kind of memory: a read-only
// question beside the quick compare, which the window shows when the site knows the answer.
#pragma once

#include <string>

namespace online {

inline constexpr const char* kRankPath = "/rank.json";

struct RankReply {
  bool ok = false;
  int percent = -1;
  std::string text;   // "faster than 73 % of DDR4 dual-channel results"
  std::string error;  // why there is no rank (too few results, no connection, ...)
};

// "/rank.json?type=DDR4&channels=Dual&score=27.50": the type without its parenthesised parts and
// trimmed, the score with two decimals; nothing when the score is not a positive number.
std::string RankRequestTarget(const std::string& memoryType, const std::string& channels, double score);

// The answer's body as the site sends it; ok only with a percent and a text.
RankReply RankFromReply(long status, const std::string& body);

// GETs target from the program's web server with the quick compare's client settings.
RankReply FetchRank(const std::string& target);

}  // namespace online
