// A small synchronous HTTP/1.1 client over libcurl for the program's web server and the
// geolocation service: exact request headers, no cookies, no redirects, connect and read limits.
#pragma once

#include <string>
#include <vector>

namespace online {

struct HttpOptions {
  // Sent as "User-Agent: ..."; empty sends none.
  std::string userAgent;
  // Sent as "Accept: ..."; empty sends none.
  std::string accept = "text/html, */*";
  // Further header lines, each "Name: value", sent as given after the two above. A line "Name:"
  // suppresses a header libcurl would add itself (Host stays libcurl's).
  std::vector<std::string> headers;
  // Longest wait for the connection, in ms; 0 leaves the system's own limit.
  long connectTimeoutMs = 0;
  // Longest time without a byte once connected, in ms; 0 = no limit.
  long readTimeoutMs = 0;
};

struct HttpResponse {
  // The exchange completed and a status line arrived.
  bool completed = false;
  long status = 0;
  std::string body;
  // Why the exchange failed, for people ("cannot connect to http://host/path: ..."); empty when
  // it completed.
  std::string error;

  // Completed with a 2xx status.
  bool Succeeded() const { return completed && status >= 200 && status < 300; }
};

// GET url.
HttpResponse HttpGet(const std::string& url, const HttpOptions& options);

// POST body as it stands (the caller gives Content-Type in options.headers). libcurl's own
// "Expect: 100-continue" is never sent.
HttpResponse HttpPost(const std::string& url, const std::string& body, const HttpOptions& options);

// Base addresses without a trailing "/": QUORVEX_SERVER (default the build's QUORVEX_DEFAULT_SERVER,
// http://127.0.0.1:8080 unless a distributor set another) and
// QUORVEX_GEOLOCATION (default http://www.geoplugin.net).
std::string ServerBase();
std::string GeolocationBase();

// Base + path, with exactly one "/" between them.
std::string JoinUrl(const std::string& base, const std::string& path);

}  // namespace online
