#include "server/service.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netdb.h>
#include <netinet/in.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "platform/file_io.h"
#include "platform/locations.h"
#include "server/multipart.h"
#include "server/page.h"
#include "server/plausible.h"
#include "text/server_contract.h"

namespace qvserver {

namespace {

using Clock = std::chrono::steady_clock;

// Room for the largest picture plus the multipart framing around it.
constexpr size_t kMaxRequestBytes = kMaxPictureBytes + 64 * 1024;

int64_t Now() { return static_cast<int64_t>(std::time(nullptr)); }

HttpAnswer Line(int status, const std::string& line) {
  HttpAnswer a;
  a.status = status;
  a.body = line + "\n";
  a.outcome = line;
  return a;
}

// A fault of the server's own: the client learns that it failed, the log learns why.
HttpAnswer Fault(const std::string& line, const std::string& why) {
  HttpAnswer a = Line(500, line);
  a.outcome = line + ": " + why;
  return a;
}

// Text for the log: printable ASCII only, so a client cannot forge log lines.
std::string LogSafe(std::string_view text, size_t limit = 200) {
  std::string out;
  for (unsigned char c : text.substr(0, limit)) {
    if (c >= 0x20 && c < 0x7f && c != '\\') {
      out += static_cast<char>(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    }
  }
  if (text.size() > limit) out += "...";
  return out;
}

std::string UtcStamp() {
  const std::time_t t = std::time(nullptr);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return stamp;
}

bool EndsWithNoCase(std::string_view text, std::string_view tail) {
  if (text.size() < tail.size()) return false;
  for (size_t i = 0; i < tail.size(); ++i) {
    char c = text[text.size() - tail.size() + i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    if (c != tail[i]) return false;
  }
  return true;
}

bool IsPictureName(std::string_view name) {
  if (name.size() != 36 || name.substr(32) != ".png") return false;
  for (char c : name.substr(0, 32))
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  return true;
}

std::string PeerAddress(MHD_Connection* c) {
  const MHD_ConnectionInfo* info = MHD_get_connection_info(c, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
  return info ? AddressText(info->client_addr) : std::string();
}

int PeerSocket(MHD_Connection* c) {
  const MHD_ConnectionInfo* info = MHD_get_connection_info(c, MHD_CONNECTION_INFO_CONNECTION_FD);
  return info ? info->connect_fd : -1;
}

// The query as the log shows it.
std::string QueryText(MHD_Connection* c) {
  std::string q;
  MHD_get_connection_values(
      c, MHD_GET_ARGUMENT_KIND,
      [](void* cls, MHD_ValueKind, const char* key, const char* value) {
        auto* out = static_cast<std::string*>(cls);
        if (out->size() > 256) return MHD_NO;
        *out += (out->empty() ? "?" : "&") + std::string(key ? key : "") +
                (value ? "=" + std::string(value) : "");
        return MHD_YES;
      },
      &q);
  return q;
}

extern "C" MHD_Result AccessThunk(void* cls, MHD_Connection* c, const char* url, const char* method,
                                  const char* version, const char* data, size_t* size, void** state) {
  return static_cast<Service*>(cls)->Access(c, url, method, version, data, size, state) ? MHD_YES : MHD_NO;
}

extern "C" MHD_Result AcceptThunk(void* cls, const sockaddr* address, socklen_t) {
  return static_cast<Service*>(cls)->Admit(AddressText(address)) ? MHD_YES : MHD_NO;
}

extern "C" void CompletedThunk(void* cls, MHD_Connection* c, void** state, MHD_RequestTerminationCode how) {
  static_cast<Service*>(cls)->Completed(c, state, static_cast<int>(how));
}

extern "C" void NotifyThunk(void* cls, MHD_Connection* c, void** socketState,
                            MHD_ConnectionNotificationCode what) {
  static_cast<Service*>(cls)->Notify(c, socketState, static_cast<int>(what));
}

extern "C" void LoggerThunk(void* cls, const char* format, va_list args) {
  char text[512];
  std::vsnprintf(text, sizeof text, format, args);
  auto* log = static_cast<std::FILE*>(cls);
  if (!log) return;
  std::string line = "quorvex-server: http: " + LogSafe(text, 300);
  while (line.size() > 4 && line.substr(line.size() - 4) == "\\x0a") line.resize(line.size() - 4);
  std::fputs((line + "\n").c_str(), log);
  std::fflush(log);
}

// Every page: no scripts, styles and pictures from this server only.
HttpAnswer Html(std::string body) {
  HttpAnswer a;
  a.body = std::move(body);
  a.contentType = "text/html; charset=utf-8";
  a.headers.emplace_back("Content-Security-Policy",
                         "default-src 'none'; style-src 'self'; img-src 'self'; form-action 'self'; "
                         "frame-ancestors 'none'");
  a.headers.emplace_back("X-Frame-Options", "DENY");
  return a;
}

// A browser asking for a page gets its refusal as a page; the program's addresses, the downloads
// and the pictures keep their one line of text, which scripts and the program read.
bool AsksForPage(const HttpRequest& req) {
  const std::string& p = req.path;
  return (req.method == "GET" || req.method == "HEAD") && p != contract::kVersionPath &&
         p != contract::kComparePath && p != contract::kUploadPath && p != "/results.json" &&
         p != "/results.csv" && p != "/rank.json" && p != "/style.css" && p.rfind("/pictures/", 0) != 0;
}

HttpAnswer ErrorPage(HttpAnswer line) {
  HttpAnswer page = Html(RenderErrorPage(line.status, text::Trim(line.body)));
  page.status = line.status;
  page.outcome = line.outcome;
  page.headers.insert(page.headers.end(), line.headers.begin(), line.headers.end());
  return page;
}

HttpAnswer Busy(const std::string& line) {
  HttpAnswer a = Line(503, line);
  a.headers.emplace_back("Retry-After", "5");
  return a;
}

// Every Content-Length the head carries, so two that disagree are seen (a smuggler's tool).
std::vector<std::string> ContentLengths(MHD_Connection* c) {
  std::vector<std::string> lengths;
  MHD_get_connection_values(
      c, MHD_HEADER_KIND,
      [](void* cls, MHD_ValueKind, const char* key, const char* value) {
        if (key && strcasecmp(key, "Content-Length") == 0)
          static_cast<std::vector<std::string>*>(cls)->push_back(value ? value : "");
        return MHD_YES;
      },
      &lengths);
  return lengths;
}

}  // namespace

struct Service::Connection {
  int fd = -1;
  std::string address;
  std::string network;     // NetworkKey of the address
  Clock::time_point mark;  // when it connected or its last request ended
  bool inRequest = false;  // a request head has arrived and its answer is not yet sent
  bool cut = false;
};

struct Service::Request {
  HttpRequest req;
  size_t declared = 0;
  bool holdsUpload = false;  // counted in the bodies under way
  std::string network;
  bool answered = false;
  int status = 0;
  size_t bytes = 0;
  std::string outcome;
  std::string query;
};

std::optional<std::string> HttpRequest::Query(const char* name) const {
  const char* v = MHD_lookup_connection_value(connection, MHD_GET_ARGUMENT_KIND, name);
  return v ? std::optional<std::string>(v) : std::nullopt;
}

std::optional<std::string> HttpRequest::Header(const char* name) const {
  const char* v = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, name);
  return v ? std::optional<std::string>(v) : std::nullopt;
}

std::string DefaultDataFolder() { return platform::UserDataFolder("quorvex-server"); }

bool ParseListenAddress(const std::string& text, std::string* host, int* port) {
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == text.size() || text.size() - colon > 6)
    return false;
  std::string h = text.substr(0, colon);
  if (h.size() > 2 && h.front() == '[' && h.back() == ']') h = h.substr(1, h.size() - 2);
  int p = 0;
  for (char c : text.substr(colon + 1)) {
    if (c < '0' || c > '9') return false;
    p = p * 10 + (c - '0');
  }
  if (p > 65535) return false;
  *host = h;
  *port = p;
  return true;
}

Service::Service(ServiceOptions options)
    : options_(std::move(options)),
      uploads_(options_.limits.uploadBurst, std::chrono::seconds(options_.limits.uploadRefillSeconds)) {}

Service::~Service() {
  Stop();
  if (daemon_) {
    // Run() was never called: close without draining.
    MHD_stop_daemon(daemon_);
    daemon_ = nullptr;
  }
  StopWatcher();
}

bool Service::Start(std::string* error) {
  if (options_.dataDir.empty()) options_.dataDir = DefaultDataFolder();
  store_ = options_.store.empty() ? Store::Open(options_.dataDir, error)
                                  : Store::OpenPostgres(options_.store, options_.dataDir, error);
  if (!store_) return false;

  sockaddr_storage bindAddress{};
  bool v6 = false;
  {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(options_.port);
    if (getaddrinfo(options_.host.c_str(), service.c_str(), &hints, &found) != 0 || !found) {
      if (error) *error = "cannot listen on " + options_.host + ": no such address";
      return false;
    }
    std::memcpy(&bindAddress, found->ai_addr, found->ai_addrlen);
    v6 = found->ai_family == AF_INET6;
    freeaddrinfo(found);
  }

  const ServerLimits& l = options_.limits;
  // poll(), not epoll: libmicrohttpd 0.9.75 can abort the process when an epoll daemon with its own
  // threads is quiesced (its workers race for removing the listening socket); the poll side of
  // quiescing signals the workers instead. A few hundred connections over four loops is poll's size.
  unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_POLL | MHD_USE_ITC | MHD_USE_ERROR_LOG;
  if (v6) flags |= MHD_USE_IPv6;
  daemon_ = MHD_start_daemon(flags, static_cast<uint16_t>(options_.port), &AcceptThunk, this, &AccessThunk,
                             this,                                                                        //
                             MHD_OPTION_EXTERNAL_LOGGER, &LoggerThunk, static_cast<void*>(options_.log),  //
                             MHD_OPTION_SOCK_ADDR, reinterpret_cast<sockaddr*>(&bindAddress),             //
                             MHD_OPTION_LISTENING_ADDRESS_REUSE, 1u,                                      //
                             MHD_OPTION_LISTEN_BACKLOG_SIZE, l.listenBacklog,                             //
                             MHD_OPTION_CONNECTION_LIMIT, l.maxConnections,                               //
                             MHD_OPTION_PER_IP_CONNECTION_LIMIT, l.maxPerAddress,                         //
                             MHD_OPTION_CONNECTION_MEMORY_LIMIT, l.headBytes,                             //
                             MHD_OPTION_CONNECTION_TIMEOUT, l.idleSeconds,                                //
                             MHD_OPTION_THREAD_POOL_SIZE, l.workerThreads,                                //
                             MHD_OPTION_NOTIFY_COMPLETED, &CompletedThunk, this,                          //
                             MHD_OPTION_NOTIFY_CONNECTION, &NotifyThunk, this,                            //
                             MHD_OPTION_END);
  if (!daemon_) {
    if (error) *error = "cannot listen on " + options_.host + ":" + std::to_string(options_.port);
    return false;
  }
  const MHD_DaemonInfo* info = MHD_get_daemon_info(daemon_, MHD_DAEMON_INFO_BIND_PORT);
  port_ = info ? info->port : options_.port;
  watcher_ = std::thread([this] { Watch(); });
  return true;
}

void Service::Run() {
  {
    std::unique_lock lock(stateMutex_);
    running_ = true;
    stateChanged_.wait(lock, [this] { return stopRequested_; });
    running_ = false;
  }
  if (!daemon_) return;
  // No new connections from here on; the kernel refuses them once the socket is closed.
  const MHD_socket listener = MHD_quiesce_daemon(daemon_);
  if (listener != MHD_INVALID_SOCKET) ::close(listener);
  {
    std::lock_guard lock(stateMutex_);
    draining_ = true;  // the watcher now closes every connection that is not in a request
  }
  stateChanged_.notify_all();
  const auto deadline = Clock::now() + std::chrono::seconds(options_.limits.drainSeconds);
  while (Clock::now() < deadline) {
    const MHD_DaemonInfo* info = MHD_get_daemon_info(daemon_, MHD_DAEMON_INFO_CURRENT_CONNECTIONS);
    if (!info || info->num_connections == 0) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  // Handlers under way finish their call (and its transaction) before this returns.
  MHD_stop_daemon(daemon_);
  daemon_ = nullptr;
  StopWatcher();
}

void Service::StopWatcher() {
  {
    std::lock_guard lock(stateMutex_);
    watcherStop_ = true;
  }
  stateChanged_.notify_all();
  if (watcher_.joinable()) watcher_.join();
}

void Service::Stop() {
  {
    std::lock_guard lock(stateMutex_);
    stopRequested_ = true;
  }
  stateChanged_.notify_all();
}

bool Service::Listening() const {
  std::lock_guard lock(stateMutex_);
  return running_ && !stopRequested_;
}

void Service::LogLine(const std::string& text) {
  if (!options_.log) return;
  std::lock_guard lock(logMutex_);
  std::fputs((text + "\n").c_str(), options_.log);
  std::fflush(options_.log);
}

void Service::Watch() {
  auto lastSweep = Clock::now(), lastStrays = Clock::now();
  std::unique_lock lock(stateMutex_);
  while (!watcherStop_) {
    stateChanged_.wait_for(lock, std::chrono::milliseconds(100));
    if (watcherStop_) break;
    const auto now = Clock::now();
    const ServerLimits& l = options_.limits;
    std::vector<std::string> cuts;
    for (auto& [c, conn] : connections_) {
      if (conn->cut) continue;
      const auto limit = std::chrono::seconds(conn->inRequest ? l.requestSeconds : l.headSeconds);
      const bool late = now - conn->mark > limit;
      if (!late && !(draining_ && !conn->inRequest)) continue;
      // The library notices the shut socket on its next turn and closes the connection. The
      // socket stays open until that connection's close is announced, which waits for this lock.
      ::shutdown(conn->fd, SHUT_RDWR);
      conn->cut = true;
      if (late)
        cuts.push_back(UtcStamp() + " " + (conn->address.empty() ? "-" : conn->address) + " - - cut: " +
                       (conn->inRequest ? "request not done within " + std::to_string(l.requestSeconds) + " s"
                                        : "no request head within " + std::to_string(l.headSeconds) + " s"));
    }
    const bool sweep = !draining_ && now - lastSweep >= std::chrono::seconds(l.sweepSeconds);
    lock.unlock();
    for (const auto& line : cuts) LogLine(line);
    if (sweep) {
      // Stray files need a walk through the picture folder: once an hour is enough for them.
      const bool strays = now - lastStrays >= std::chrono::hours(1);
      if (strays) lastStrays = now;
      lastSweep = now;
      const size_t swept = store_->SweepPictures(Now(), l.orphanSeconds, strays);
      if (swept) LogLine(UtcStamp() + " swept " + std::to_string(swept) + " pictures no result claimed");
    }
    lock.lock();
  }
}

void Service::Notify(MHD_Connection* c, void** socketState, int what) {
  std::lock_guard lock(stateMutex_);
  if (what == MHD_CONNECTION_NOTIFY_STARTED) {
    auto* conn = new Connection;
    conn->fd = PeerSocket(c);
    conn->address = PeerAddress(c);
    conn->network = NetworkKey(conn->address);
    conn->mark = Clock::now();
    *socketState = conn;
    connections_[c] = conn;
    ++networkConnections_[conn->network];
  } else {
    auto it = connections_.find(c);
    if (it != connections_.end()) {
      if (auto n = networkConnections_.find(it->second->network);
          n != networkConnections_.end() && !--n->second)
        networkConnections_.erase(n);
      delete it->second;
      connections_.erase(it);
    }
    *socketState = nullptr;
  }
}

bool Service::Admit(const std::string& address) {
  if (!options_.trustedProxy.empty() && address == options_.trustedProxy) return true;
  const ServerLimits& l = options_.limits;
  std::lock_guard lock(stateMutex_);
  const auto it = networkConnections_.find(NetworkKey(address));
  const unsigned held = it == networkConnections_.end() ? 0 : it->second;
  if (held >= l.maxPerNetwork) return false;
  return !(connections_.size() >= l.maxConnections / 2 && held >= l.fairShare);
}

std::string Service::NetworkOf(const std::string& address) const {
  return KeyedDigest(store_->Secret(), "network " + NetworkKey(address), 16);
}

bool Service::TakeHeavy(const std::string& network) {
  const unsigned loops = options_.limits.workerThreads;
  const unsigned most = options_.limits.heavyRequests ? options_.limits.heavyRequests
                        : loops > 1                   ? loops - 1
                                                      : 1;
  std::lock_guard lock(stateMutex_);
  // One at a time per network, so one sender cannot take every slot from the others.
  if (heavy_ >= most || heavyNetworks_.count(network)) return false;
  ++heavy_;
  heavyNetworks_.insert(network);
  return true;
}

void Service::ReleaseHeavy(const std::string& network) {
  std::lock_guard lock(stateMutex_);
  --heavy_;
  heavyNetworks_.erase(network);
}

int Service::Access(MHD_Connection* c, const char* url, const char* method, const char* version,
                    const char* data, size_t* size, void** state) {
  auto* r = static_cast<Request*>(*state);
  if (!r) {
    r = new Request;
    *state = r;
    r->req.connection = c;
    r->req.method = method ? method : "";
    r->req.path = url ? url : "";
    r->req.version = version ? version : "";
    r->query = QueryText(c);
    std::string peer = PeerAddress(c);
    bool draining = false;
    {
      std::lock_guard lock(stateMutex_);
      auto it = connections_.find(c);
      if (it != connections_.end()) {
        it->second->inRequest = true;
        peer = it->second->address;
      }
      draining = draining_;
    }
    r->req.address = peer;
    if (!options_.trustedProxy.empty() && peer == options_.trustedProxy) {
      // Only the proxy may say who the client is; its header names exactly one address.
      const auto real = r->req.Header("X-Real-IP");
      in6_addr probe;
      if (real && real->size() < INET6_ADDRSTRLEN &&
          (inet_pton(AF_INET, real->c_str(), &probe) == 1 || inet_pton(AF_INET6, real->c_str(), &probe) == 1))
        r->req.address = *real;
    }

    if (draining) return Send(c, r, Line(503, "server is stopping"));
    const int headers = MHD_get_connection_values(c, MHD_HEADER_KIND, nullptr, nullptr);
    if (headers < 0 || static_cast<unsigned>(headers) > options_.limits.maxHeaders)
      return Send(c, r, Line(431, "too many header lines"));
    if (r->req.version == "HTTP/1.1" && !r->req.Header("Host"))
      return Send(c, r, Line(400, "an HTTP/1.1 request needs a Host header"));
    const std::vector<std::string> lengths = ContentLengths(c);
    for (const std::string& l : lengths)
      if (l != lengths.front()) return Send(c, r, Line(400, "conflicting Content-Length headers"));

    if (r->req.method == "POST") {
      if (r->req.path != contract::kUploadPath) return Send(c, r, Line(404, "not found"));
      const auto length = r->req.Header("Content-Length");
      if (r->req.Header("Transfer-Encoding") || !length)
        return Send(c, r, Line(411, "uploads need a Content-Length"));
      if (length->empty() || length->size() > 12 ||
          length->find_first_not_of("0123456789") != std::string::npos)
        return Send(c, r, Line(400, "malformed request"));
      r->declared = std::stoull(*length);
      // Refused on the head alone: not one byte of an oversized body is read.
      if (r->declared > kMaxRequestBytes) return Send(c, r, Line(413, "request larger than 2 MiB"));
      // Bodies under way hold memory and a slot each: bounded per network and in all, so slow
      // senders cannot take the server's memory or every connection.
      const ServerLimits& l = options_.limits;
      r->network = NetworkKey(r->req.address);
      {
        std::lock_guard lock(stateMutex_);
        // A network's bodies may take an eighth of the budget, so a few networks cannot spend it all.
        UnderWay& mine = networkUploads_[r->network];
        if (mine.uploads >= l.uploadsPerNetwork || uploadsInFlight_ >= l.maxConnections / 2 ||
            bodyBytes_ + r->declared > l.bodyBytesInFlight ||
            (mine.uploads && mine.bytes + r->declared > l.bodyBytesInFlight / 8)) {
          if (!mine.uploads) networkUploads_.erase(r->network);
          return Send(c, r, Busy("too many uploads under way, try again in a moment"));
        }
        ++mine.uploads;
        mine.bytes += r->declared;
        ++uploadsInFlight_;
        bodyBytes_ += r->declared;
        r->holdsUpload = true;
      }
      // A shared store counts a network's uploads for every server on it; else this process does.
      const auto shared = store_->TakeUpload(r->network, l.uploadBurst, l.uploadRefillSeconds);
      if (!(shared ? *shared : uploads_.Take(r->network)))
        return Send(c, r, Line(429, "too many uploads from this network, try again later"));
      r->req.body.reserve(r->declared);
      return 1;
    }
    if (r->req.method != "GET" && r->req.method != "HEAD") return Send(c, r, Line(405, "method not allowed"));
    const auto length = r->req.Header("Content-Length");
    if (r->req.Header("Transfer-Encoding") || (length && *length != "0"))
      return Send(c, r, Line(400, "a GET carries no body"));
    // Answered on the next call: an answer queued with the head alone would close the connection.
    return 1;
  }

  if (r->answered) {  // the rest of a body that was refused on its head
    *size = 0;
    return 1;
  }
  if (*size > 0) {
    if (r->req.body.size() + *size > r->declared)
      return Send(c, r, Line(400, "body longer than its Content-Length"));
    r->req.body.append(data, *size);
    *size = 0;
    return 1;
  }
  return Send(c, r, Route(r->req));
}

int Service::Send(MHD_Connection* c, Request* r, HttpAnswer answer) {
  if (answer.status >= 400 && answer.contentType.rfind("text/plain", 0) == 0 && AsksForPage(r->req))
    answer = ErrorPage(std::move(answer));
  r->answered = true;
  r->status = answer.status;
  r->bytes = answer.body.size();
  r->outcome = answer.outcome;
  MHD_Response* response =
      MHD_create_response_from_buffer(answer.body.size(), answer.body.data(), MHD_RESPMEM_MUST_COPY);
  if (!response) return 0;
  MHD_add_response_header(response, "Content-Type", answer.contentType.c_str());
  MHD_add_response_header(response, "X-Content-Type-Options", "nosniff");
  for (const auto& [name, value] : answer.headers)
    MHD_add_response_header(response, name.c_str(), value.c_str());
  const MHD_Result queued = MHD_queue_response(c, static_cast<unsigned>(answer.status), response);
  MHD_destroy_response(response);
  return queued == MHD_YES;
}

void Service::Completed(MHD_Connection* c, void** state, int how) {
  auto* r = static_cast<Request*>(*state);
  *state = nullptr;
  {
    std::lock_guard lock(stateMutex_);
    auto it = connections_.find(c);
    if (it != connections_.end()) {
      it->second->inRequest = false;
      it->second->mark = Clock::now();
    }
  }
  if (!r) return;
  if (r->holdsUpload) {
    std::lock_guard lock(stateMutex_);
    if (auto n = networkUploads_.find(r->network); n != networkUploads_.end()) {
      n->second.bytes -= r->declared;
      if (!--n->second.uploads) networkUploads_.erase(n);
    }
    --uploadsInFlight_;
    bodyBytes_ -= r->declared;
  }
  std::string line = UtcStamp() + " " + (r->req.address.empty() ? "-" : LogSafe(r->req.address, 64)) + " " +
                     LogSafe(r->req.method, 16) + " " + LogSafe(r->req.path + r->query, 200) + " ";
  if (r->answered) {
    line += std::to_string(r->status) + " " + std::to_string(r->bytes);
    if (!r->outcome.empty()) line += " \"" + LogSafe(r->outcome) + "\"";
  } else {
    line += "- 0";
  }
  if (how != MHD_REQUEST_TERMINATED_COMPLETED_OK) {
    static const char* const kWhy[] = {"done",           "failed",     "timed out",
                                       "server stopped", "read error", "client left"};
    line += std::string(" (") + (how >= 0 && how <= 5 ? kWhy[how] : "ended") + ")";
  }
  LogLine(line);
  delete r;
}

HttpAnswer Service::Route(const HttpRequest& req) {
  const std::string& path = req.path;
  if (req.method == "POST") return Upload(req);
  if (path == contract::kVersionPath) {
    HttpAnswer a;
    a.body = options_.programVersion;
    return a;
  }
  if (path == contract::kComparePath) return Compare(req);
  if (path == "/") return Page(req);
  if (path.rfind(contract::kResultPagePrefix, 0) == 0) return ResultPage(req);
  if (path == "/kind") return KindPage(req);
  if (path == "/results.json") return ListData(req, true);
  if (path == "/results.csv") return ListData(req, false);
  if (path == "/rank.json") return RankData(req);
  if (path == "/style.css") {
    HttpAnswer a;
    a.body = kStyleSheet;
    a.contentType = "text/css; charset=utf-8";
    a.headers.emplace_back("Cache-Control", "max-age=3600");
    return a;
  }
  if (path.rfind("/pictures/", 0) == 0 && IsPictureName(std::string_view(path).substr(10)))
    return Picture(req);
  return Line(404, "not found");
}

HttpAnswer Service::Upload(const HttpRequest& req) {
  const std::string boundary = MultipartBoundary(req.Header("Content-Type").value_or(""));
  if (boundary.empty()) return Line(400, "expected a multipart form with one part named file");
  std::string why;
  const auto part = SinglePart(req.body, boundary, &why);
  if (!part) return Line(400, why);

  // The file name is the client's full path with either separator. It only ever serves as a
  // link key: no part of it reaches the file system.
  const std::string& path = part->filename;
  if (path.empty()) return Line(400, "the form part has no file name");
  if (path.size() > 1024) return Line(400, "file name is too long");
  for (unsigned char c : path)
    if (c < 0x20 || c == 0x7f) return Line(400, "file name holds control characters");
  size_t start = 0;
  while (true) {
    const size_t cut = path.find_first_of("/\\", start);
    if (path.substr(start, cut == std::string::npos ? std::string::npos : cut - start) == "..")
      return Line(400, "file name climbs out of its folder");
    if (cut == std::string::npos) break;
    start = cut + 1;
  }
  const std::string name = path.substr(start);
  const std::string folder = ToUtf8(path.substr(0, start));
  if (name.empty() || name == ".") return Line(400, "file name is a folder");
  const Sender sender{LinkClient(req.address, folder), NetworkOf(req.address)};

  if (EndsWithNoCase(name, ".png")) {
    if (part->content.size() > kMaxPictureBytes) return Line(413, "picture larger than 2 MiB");
    PngInfo info;
    if (!CheckPng(part->content, &info, &why)) return Line(400, why);
    // Pictures cost disk until their record claims them: each network has its share, and the
    // server a budget for all of them.
    const ServerLimits& l = options_.limits;
    const int64_t since = Now() - l.orphanSeconds;
    if (store_->WaitingPictures(since, sender.network) >= l.maxWaitingPerNetwork)
      return Line(429, "too many pictures from this network are waiting for their results, try again later");
    if (store_->WaitingPictures(since) >= l.maxWaitingPictures ||
        store_->WaitingPictureBytes(since) + part->content.size() > l.maxWaitingPictureBytes)
      return Busy("too many pictures are waiting for their results, try again later");
    StoredPicture stored;
    if (!store_->AddPicture(part->content, info, ToUtf8(name.substr(0, name.size() - 4)), sender, Now(),
                            &stored, &why))
      return Fault("picture not stored", why);
    return Line(200, stored.resultId ? "OK picture stored for result " + std::to_string(*stored.resultId)
                                     : "OK picture stored");
  }

  if (part->content.size() > kMaxRecordBytes) return Line(413, "record file larger than 16 KiB");
  const auto record = ParseRecordFile(part->content, &why);
  if (!record) return Line(400, why);
  if (!CheckPlausible(*record, &why)) return Line(400, why);
  StoredRecord stored;
  if (!store_->AddRecord(*record, part->content, sender, Now(), &stored, &why))
    return Fault("result not stored", why);
  std::string line =
      "OK result " + std::to_string(stored.id) + (stored.duplicate ? " was stored before" : " stored");
  line += stored.pictureLinked ? " with its picture" : " without a picture";
  return Line(200, line);
}

HttpAnswer Service::Compare(const HttpRequest& req) {
  const auto p1 = req.Query("P1"), p2 = req.Query("P2");
  if (!p1 || !p2) return Line(400, "compare needs P1 (memory type) and P2 (channels)");
  const std::string type = ToUtf8(*p1), channels = ToUtf8(*p2);
  if (type.size() > 128 || channels.size() > 128) return Line(400, "memory type or channels too long");
  const CompareRanges ranges = store_->Ranges(type, channels);
  HttpAnswer a;
  a.body = CompareAnswer(ranges);
  a.outcome = a.body;
  return a;
}

namespace {

// The list a query asks for; a refusal when the query is malformed.
// anyKind: a ranking may leave the kind open (the page picks one); a download may not.
std::optional<HttpAnswer> ReadFilter(const HttpRequest& req, ResultFilter* f, size_t defaultLimit,
                                     size_t maxLimit, bool anyKind = false) {
  f->type = ToUtf8(text::Trim(req.Query("type").value_or("")));
  f->channels = ToUtf8(text::Trim(req.Query("channels").value_or("")));
  f->text = ToUtf8(text::Trim(req.Query("q").value_or("")));
  if (f->type.size() > 128 || f->channels.size() > 128) return Line(400, "filter too long");
  if (f->text.size() > 100) return Line(400, "search text longer than 100 characters");
  const auto sort = ParseSort(req.Query("sort").value_or("newest"));
  if (!sort) return Line(400, "sort must be newest, score, read, write, copy or latency");
  f->sort = *sort;
  if (!anyKind && f->sort != SortKey::Newest && (f->type.empty() || f->channels.empty()))
    return Line(400, "a ranking needs a memory type and channels");
  auto number = [&](const char* name, int64_t* out, int64_t max) -> bool {
    const std::string text = req.Query(name).value_or("");
    if (text.empty()) return true;
    if (text.size() > 18 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    *out = std::stoll(text);
    return *out <= max;
  };
  int64_t offset = 0, limit = static_cast<int64_t>(defaultLimit);
  if (!number("before", &f->beforeId, INT64_MAX)) return Line(400, "before must be a result number");
  if (!number("after", &f->afterId, INT64_MAX)) return Line(400, "after must be a result number");
  // Deep pages of a ranking cost a walk past every row above them; nobody reads that far.
  if (!number("offset", &offset, 10000)) return Line(400, "offset must be a number up to 10000");
  if (!number("limit", &limit, static_cast<int64_t>(maxLimit)) || limit == 0)
    return Line(400, "limit must be a number from 1 to " + std::to_string(maxLimit));
  f->offset = static_cast<size_t>(offset);
  f->limit = static_cast<size_t>(limit);
  return std::nullopt;
}

}  // namespace

// A search, a download or a deep page of a ranking takes a heavy slot for its answer's making.
// There are fewer of them than event loops, so the short requests always find a loop free.
class Service::HeavySlot {
 public:
  HeavySlot(Service& s, const std::string& address)
      : service_(s), network_(NetworkKey(address)), held_(s.TakeHeavy(network_)) {}
  ~HeavySlot() {
    if (held_) service_.ReleaseHeavy(network_);
  }
  bool held() const { return held_; }

 private:
  Service& service_;
  std::string network_;
  bool held_;
};

namespace {

bool IsHeavy(const ResultFilter& f) { return !f.text.empty() || f.offset > 0; }

const char* const kBusyWithHeavy = "busy with other searches and downloads, try again in a moment";

}  // namespace

HttpAnswer Service::Page(const HttpRequest& req) {
  PageData data;
  if (auto refusal = ReadFilter(req, &data.filter, 50, 50, true)) return *refusal;
  std::optional<HeavySlot> slot;
  if (IsHeavy(data.filter) && !slot.emplace(*this, req.address).held()) return Busy(kBusyWithHeavy);
  // Junk kinds must not make the page long: it lists the commonest kinds, and a kind left out
  // is still reached through its filter address.
  constexpr size_t kKindsListed = 40, kRangesListed = 20;
  data.kinds = store_->Kinds();
  ResultFilter& f = data.filter;
  if (f.sort != SortKey::Newest && (f.type.empty() || f.channels.empty())) {
    // Rankings are of one kind: the commonest that fits what was chosen.
    data.kindChosen = true;
    for (const MemoryKind& kind : data.kinds)
      if ((f.type.empty() || MatchKey(kind.type) == MatchKey(f.type)) &&
          (f.channels.empty() || MatchKey(kind.channels) == MatchKey(f.channels))) {
        f.type = kind.type;
        f.channels = kind.channels;
        break;
      }
  }
  data.total = store_->ResultCount();
  for (const MemoryKind& kind : data.kinds) {
    if (!data.filter.type.empty() && MatchKey(kind.type) != MatchKey(data.filter.type)) continue;
    if (!data.filter.channels.empty() && MatchKey(kind.channels) != MatchKey(data.filter.channels)) continue;
    if (data.references.size() == kRangesListed) break;
    data.references.push_back({kind, store_->Ranges(kind.type, kind.channels)});
  }
  if (data.kinds.size() > kKindsListed) data.kinds.resize(kKindsListed);
  ResultFilter probe = data.filter;
  probe.limit = data.filter.limit + 1;
  if (!data.kindChosen || (!f.type.empty() && !f.channels.empty()))
    data.rows = store_->Recent(probe, &data.cut);
  if (data.rows.size() > data.filter.limit) {
    if (data.filter.sort == SortKey::Newest && data.filter.afterId) {
      data.rows.erase(data.rows.begin());  // the newest one is past this page
      data.newer = true;
    } else {
      data.rows.resize(data.filter.limit);
      data.more = true;
    }
  }
  if (data.filter.sort == SortKey::Newest) {
    if (data.filter.afterId) data.more = true;  // the result named by after= is older
    if (data.filter.beforeId) data.newer = true;
  }
  return Html(RenderResultsPage(data));
}

HttpAnswer Service::KindPage(const HttpRequest& req) {
  const std::string type = ToUtf8(text::Trim(req.Query("type").value_or("")));
  const std::string channels = ToUtf8(text::Trim(req.Query("channels").value_or("")));
  if (type.empty() || channels.empty() || type.size() > 128 || channels.size() > 128)
    return Line(400, "the kind page needs a memory type and channels");
  KindData data;
  if (const auto kind = store_->KindOf(type, channels)) data.kind = *kind;
  if (data.kind.type.empty()) {
    data.kind.type = type;
    data.kind.channels = channels;
  }
  data.ranges = store_->Ranges(type, channels);
  data.scores = store_->Histogram(type, channels, 30);
  data.points = store_->ClockAndScore(type, channels, 2000);
  return Html(RenderKindPage(data));
}

HttpAnswer Service::ListData(const HttpRequest& req, bool json) {
  ResultFilter filter;
  if (auto refusal = ReadFilter(req, &filter, 50, 500)) return *refusal;
  HeavySlot slot(*this, req.address);
  if (!slot.held()) return Busy(kBusyWithHeavy);
  bool cut = false;
  const auto rows = store_->Recent(filter, &cut);
  // The page after the rows written, when there may be one: a download is bounded, never cut off.
  auto next = [&](size_t written) -> std::string {
    if (written == 0 || (written == rows.size() && rows.size() < filter.limit && !cut)) return {};
    std::string q = FilterQuery(filter);
    q += q.empty() ? "" : "&";
    if (filter.sort == SortKey::Newest)
      q += "before=" + std::to_string(rows[written - 1].id);
    else
      q += "offset=" + std::to_string(filter.offset + written);
    return std::string(json ? "/results.json?" : "/results.csv?") + q +
           "&limit=" + std::to_string(filter.limit);
  };
  HttpAnswer a;
  if (json) {
    a.body = ResultsJson(rows, "", options_.limits.answerBytes, next);
  } else {
    size_t written = 0;
    a.body = ResultsCsv(rows, "", options_.limits.answerBytes, &written);
    if (const std::string more = next(written); !more.empty())
      a.headers.emplace_back("Link", "<" + more + ">; rel=\"next\"");
  }
  if (cut) a.outcome = "cut at its time budget";
  a.contentType = json ? "application/json" : "text/csv; charset=utf-8";
  if (!json) a.headers.emplace_back("Content-Disposition", "attachment; filename=\"quorvex-results.csv\"");
  return a;
}

// Where a score stands among a kind's networks, from the aggregates in memory: a few lookups.
HttpAnswer Service::RankData(const HttpRequest& req) {
  HttpAnswer a;
  a.contentType = "application/json";
  const std::string type = ToUtf8(text::Trim(req.Query("type").value_or("")));
  const std::string channels = ToUtf8(text::Trim(req.Query("channels").value_or("")));
  const std::string number = text::Trim(req.Query("score").value_or(""));
  const bool decimal = !number.empty() && number.size() <= 12 &&
                       number.find_first_not_of("0123456789.") == std::string::npos &&
                       number.find('.') == number.rfind('.') && number != ".";
  const double score = decimal ? std::strtod(number.c_str(), nullptr) : 0;
  if (type.empty() || channels.empty() || type.size() > 128 || channels.size() > 128 || !(score > 0) ||
      score > 10000) {
    a.status = 400;
    a.body = "{\"error\":\"a rank needs type, channels and score (GByte/s, a number such as 27.5)\"}\n";
    a.outcome = "malformed rank request";
    return a;
  }
  // The asker's own network is no rival, as on a result page.
  ResultRow probe;
  probe.memType = type;
  probe.channels = channels;
  probe.score = score;
  probe.network = NetworkOf(req.address);
  const auto rank = store_->RankOf(probe);
  a.status = rank ? 200 : 404;
  a.body = RankJson(type, channels, store_->KindOf(type, channels), score, rank);
  return a;
}

HttpAnswer Service::ResultPage(const HttpRequest& req) {
  const std::string number = req.path.substr(8);
  if (number.empty() || number.size() > 18 || number.find_first_not_of("0123456789") != std::string::npos)
    return Line(404, "not found");
  const auto row = store_->Result(std::stoll(number));
  if (!row) return Line(404, "no such result");
  return Html(RenderResultPage(*row, store_->RankOf(*row), store_->Ranges(row->memType, row->channels)));
}

HttpAnswer Service::Picture(const HttpRequest& req) {
  const auto file = store_->PicturePath(std::string_view(req.path).substr(10));
  HttpAnswer a;
  if (!file || !platform::ReadWholeFile(*file, &a.body)) return Line(404, "no such picture");
  a.contentType = "image/png";
  a.headers.emplace_back("Cache-Control", "max-age=86400, immutable");
  return a;
}

}  // namespace qvserver
