#include "online/compare_fetch.h"

#include "core/compare_model.h"
#include "online/http_client.h"

namespace online {

HttpOptions CompareClientOptions() {
  HttpOptions options;
  options.userAgent = core::kCompareUserAgent;
  options.accept = core::kCompareAccept;
  options.connectTimeoutMs = core::kCompareLimitMs;
  options.readTimeoutMs = core::kCompareLimitMs;
  return options;
}

FetchReply FetchFromServer(const std::string& target) {
  const HttpResponse response = HttpGet(JoinUrl(ServerBase(), target), CompareClientOptions());
  FetchReply reply;
  reply.ok = response.Succeeded();
  if (reply.ok)
    reply.body = response.body;
  else if (response.completed)
    reply.error = "the server answered with status " + std::to_string(response.status);
  else
    reply.error = response.error;
  return reply;
}

}  // namespace online
