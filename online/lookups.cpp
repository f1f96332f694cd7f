#include "online/lookups.h"

#include "online/http_client.h"
#include "platform/file_version.h"
#include "sysinfo/text.h"
#include "text/server_contract.h"

namespace online {

bool CheckServerVersion(const std::string& serverBase, const std::string& ownVersion) {
  HttpOptions options;
  options.userAgent = kVersionCheckAgent;
  options.readTimeoutMs = kVersionCheckReadLimitMs;
  const HttpResponse response = HttpGet(JoinUrl(serverBase, contract::kVersionPath), options);
  // Failures are swallowed: the program starts normally.
  const std::string reply = response.Succeeded() ? text::Trim(response.body) : std::string();
  if (reply.empty()) return true;
  // Only inequality counts: an older version or any other text also marks the title.
  return reply == text::Trim(ownVersion);
}

bool CheckServerVersion() { return CheckServerVersion(ServerBase(), platform::FileVersionText("")); }

std::string CountryCodeFromReply(const std::string& body) {
  const std::string text = sysinfo::UpperAscii(text::Trim(body));
  static const std::string key = "\"GEOPLUGIN_COUNTRYCODE\":\"";
  const size_t found = text.find(key);
  // Positions count from 1; a missing key reads from position 24 as the service's layout implies.
  const size_t p = found == std::string::npos ? 0 : found + 1;
  const size_t start = p + 24 - 1;
  std::string code = start < text.size() ? text.substr(start, 6) : std::string();
  std::string cleaned;
  for (char c : code) {
    if (c != '"' && c != ',') cleaned += c;
  }
  if (cleaned.size() > 3) cleaned = kUnknownCountry;
  return text::Trim(cleaned);
}

std::string LookupCountryCode(const std::string& geolocationBase) {
  HttpOptions options;
  options.userAgent = kCountryLookupAgent;
  options.connectTimeoutMs = kCountryLookupConnectLimitMs;
  options.readTimeoutMs = kCountryLookupReadLimitMs;
  const HttpResponse response = HttpGet(JoinUrl(geolocationBase, "/json.gp"), options);
  // A failed lookup must not cost the user the record: the country is then unknown.
  if (!response.Succeeded()) return kUnknownCountry;
  return CountryCodeFromReply(response.body);
}

std::string LookupCountryCode() { return LookupCountryCode(GeolocationBase()); }

}  // namespace online
