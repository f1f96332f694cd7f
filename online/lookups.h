// The two small look-ups: the server's newest version at start-up, and the country code of the
// user's connection for every result record.
#pragma once

#include <string>

namespace online {

// User agent and limits of the version check's client.
inline constexpr const char* kVersionCheckAgent = "Mozilla/4.0 (compatible; MSIE 5.5; Windows 98)";
inline constexpr long kVersionCheckReadLimitMs = 3000;
// The country lookup's client; the limits keep a dead service from freezing the window.
inline constexpr const char* kCountryLookupAgent = "Mozilla/3.0 (compatible; Indy Library)";
inline constexpr long kCountryLookupConnectLimitMs = 3000;
inline constexpr long kCountryLookupReadLimitMs = 3000;
// The country when the service cannot be asked, also a value the record knows for a long reply.
inline constexpr const char* kUnknownCountry = "--";

// True unless the server at serverBase names a version other than ownVersion. Every failure of
// the request is swallowed (true).
bool CheckServerVersion(const std::string& serverBase, const std::string& ownVersion);
// Against ServerBase() and this program's own version.
bool CheckServerVersion();

// The reply's country code: two or three letters, "--" for a longer value, empty for an empty
// reply. A request that fails (no connection, error status, time limit) gives "--".
std::string LookupCountryCode(const std::string& geolocationBase);
// Against GeolocationBase().
std::string LookupCountryCode();

// The code inside a reply body, as the lookup reads it.
std::string CountryCodeFromReply(const std::string& body);

}  // namespace online
