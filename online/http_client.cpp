#include "online/http_client.h"

#include <curl/curl.h>

#include <chrono>
#include <cstdlib>
#include <mutex>

namespace online {

namespace {

using Clock = std::chrono::steady_clock;

void GlobalInitOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct Transfer {
  std::string body;
  Clock::time_point lastByte = Clock::now();
  curl_off_t lastUploaded = 0;
};

size_t OnBody(char* data, size_t size, size_t count, void* user) {
  auto* t = static_cast<Transfer*>(user);
  t->body.append(data, size * count);
  t->lastByte = Clock::now();
  return size * count;
}

size_t OnHeader(char*, size_t size, size_t count, void* user) {
  static_cast<Transfer*>(user)->lastByte = Clock::now();
  return size * count;
}

int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t uploaded) {
  auto* t = static_cast<Transfer*>(user);
  if (uploaded != t->lastUploaded) {
    t->lastUploaded = uploaded;
    t->lastByte = Clock::now();
  }
  return 0;
}

std::string EnvOr(const char* name, const char* fallback) {
  const char* value = std::getenv(name);
  std::string base = (value != nullptr && *value != '\0') ? value : fallback;
  while (!base.empty() && base.back() == '/') base.pop_back();
  return base;
}

HttpResponse Exchange(const std::string& url, const std::string* postBody, const HttpOptions& options) {
  GlobalInitOnce();
  HttpResponse response;
  CURL* easy = curl_easy_init();
  CURLM* multi = curl_multi_init();
  if (easy == nullptr || multi == nullptr) {
    if (easy != nullptr) curl_easy_cleanup(easy);
    if (multi != nullptr) curl_multi_cleanup(multi);
    response.error = "cannot reach " + url + ": the HTTP library could not start";
    return response;
  }

  Transfer transfer;
  char errorText[CURL_ERROR_SIZE] = {0};
  curl_slist* headers = nullptr;
  // An empty value removes libcurl's own header of that name, so only ours go out.
  headers =
      curl_slist_append(headers, options.accept.empty() ? "Accept:" : ("Accept: " + options.accept).c_str());
  for (const std::string& line : options.headers) headers = curl_slist_append(headers, line.c_str());
  if (postBody != nullptr) headers = curl_slist_append(headers, "Expect:");

  curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
  curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1);
  curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(easy, CURLOPT_PROXY, "");  // the program talks to its servers directly
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, errorText);
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
  if (!options.userAgent.empty()) curl_easy_setopt(easy, CURLOPT_USERAGENT, options.userAgent.c_str());
  if (options.connectTimeoutMs > 0)
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, options.connectTimeoutMs);
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, OnBody);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, &transfer);
  curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, OnHeader);
  curl_easy_setopt(easy, CURLOPT_HEADERDATA, &transfer);
  curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, OnProgress);
  curl_easy_setopt(easy, CURLOPT_XFERINFODATA, &transfer);
  curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
  if (postBody != nullptr) {
    curl_easy_setopt(easy, CURLOPT_POST, 1L);
    curl_easy_setopt(easy, CURLOPT_POSTFIELDS, postBody->data());
    curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(postBody->size()));
  }

  curl_multi_add_handle(multi, easy);
  bool readTimedOut = false;
  int running = 1;
  while (running > 0) {
    if (curl_multi_perform(multi, &running) != CURLM_OK) break;
    if (running == 0) break;
    curl_multi_poll(multi, nullptr, 0, 20, nullptr);
    // The read limit counts from the moment the connection stands: no byte for that long ends it.
    curl_off_t connected = 0;
    curl_easy_getinfo(easy, CURLINFO_CONNECT_TIME_T, &connected);
    if (connected == 0) {
      transfer.lastByte = Clock::now();
    } else if (options.readTimeoutMs > 0 &&
               Clock::now() - transfer.lastByte > std::chrono::milliseconds(options.readTimeoutMs)) {
      readTimedOut = true;
      break;
    }
  }

  CURLcode result = CURLE_OK;
  if (!readTimedOut) {
    int queued = 0;
    result = CURLE_RECV_ERROR;
    while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
      if (message->msg == CURLMSG_DONE && message->easy_handle == easy) result = message->data.result;
    }
  }
  long status = 0;
  curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);

  if (readTimedOut) {
    response.error = "no reply from " + url + " within " + std::to_string(options.readTimeoutMs) + " ms";
  } else if (result != CURLE_OK) {
    const std::string detail = errorText[0] != '\0' ? errorText : curl_easy_strerror(result);
    const bool noConnection = result == CURLE_COULDNT_CONNECT || result == CURLE_COULDNT_RESOLVE_HOST ||
                              result == CURLE_OPERATION_TIMEDOUT;
    response.error = (noConnection ? "cannot connect to " : "the exchange with ") + url +
                     (noConnection ? ": " : " failed: ") + detail;
  } else {
    response.completed = true;
    response.status = status;
    response.body = std::move(transfer.body);
  }

  curl_multi_remove_handle(multi, easy);
  curl_easy_cleanup(easy);
  curl_multi_cleanup(multi);
  curl_slist_free_all(headers);
  return response;
}

}  // namespace

HttpResponse HttpGet(const std::string& url, const HttpOptions& options) {
  return Exchange(url, nullptr, options);
}

HttpResponse HttpPost(const std::string& url, const std::string& body, const HttpOptions& options) {
  return Exchange(url, &body, options);
}

#ifndef QUORVEX_DEFAULT_SERVER
#define QUORVEX_DEFAULT_SERVER "http://127.0.0.1:8080"
#endif

// The local quorvex-server's own default address, so the two meet with no setting.
std::string ServerBase() { return EnvOr("QUORVEX_SERVER", QUORVEX_DEFAULT_SERVER); }

std::string GeolocationBase() { return EnvOr("QUORVEX_GEOLOCATION", "http://www.geoplugin.net"); }

std::string JoinUrl(const std::string& base, const std::string& path) {
  std::string left = base;
  while (!left.empty() && left.back() == '/') left.pop_back();
  size_t start = 0;
  while (start < path.size() && path[start] == '/') ++start;
  return left + "/" + path.substr(start);
}

}  // namespace online
