// The quick compare's request to the program's web server, for the window and the terminal.
#pragma once

#include <functional>
#include <string>

#include "online/http_client.h"

namespace online {

struct FetchReply {
  bool ok = false;
  std::string body;
  std::string error;  // why there is no reply
};
// GETs a request target ("/compare.php?...") from the program's web server.
using CompareFetch = std::function<FetchReply(const std::string& target)>;

// The compare window's client settings (9 s limits, its user agent and Accept), also for the rank.
HttpOptions CompareClientOptions();

// The fetch over HTTP with the compare window's client settings.
FetchReply FetchFromServer(const std::string& target);

}  // namespace online
