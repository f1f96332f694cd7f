#include "online/rank_fetch.h"

#include <cmath>
#include <nlohmann/json.hpp>

#include "core/compare_model.h"
#include "core/numeric.h"
#include "online/compare_fetch.h"
#include "online/http_client.h"
#include "sysinfo/text.h"
#include "text/trim.h"
#include "text/web_text.h"

namespace online {

std::string RankRequestTarget(const std::string& memoryType, const std::string& channels, double score) {
  if (!(score > 0) || !std::isfinite(score)) return "";
  return std::string(kRankPath) +
         "?type=" + text::UrlEncode(text::Trim(sysinfo::StripParentheses(memoryType))) +
         "&channels=" + text::UrlEncode(text::Trim(channels)) + "&score=" + core::FixedText(score, 2);
}

RankReply RankFromReply(long status, const std::string& body) {
  RankReply reply;
  const nlohmann::json j = nlohmann::json::parse(body, nullptr, false);
  if (j.is_discarded() || !j.is_object()) {
    reply.error = "the server's rank answer (status " + std::to_string(status) + ") is not JSON";
    return reply;
  }
  if (j.contains("error") && j["error"].is_string()) reply.error = j["error"].get<std::string>();
  const bool known = status == 200 && j.contains("percent") && j["percent"].is_number() &&
                     j.contains("text") && j["text"].is_string() && !j["text"].get<std::string>().empty();
  if (!known) {
    if (reply.error.empty()) reply.error = "the server knows no rank (status " + std::to_string(status) + ")";
    return reply;
  }
  reply.ok = true;
  reply.percent = static_cast<int>(std::lround(j["percent"].get<double>()));
  reply.text = j["text"].get<std::string>();
  return reply;
}

RankReply FetchRank(const std::string& target) {
  if (target.empty()) return RankReply{false, -1, "", "no score to rank"};
  const HttpResponse response = HttpGet(JoinUrl(ServerBase(), target), CompareClientOptions());
  if (!response.completed) return RankReply{false, -1, "", response.error};
  return RankFromReply(response.status, response.body);
}

}  // namespace online
