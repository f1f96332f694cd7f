#include "server/service.h"

#include <httplib.h>
#include <sys/socket.h>

#include <chrono>
#include <cstdlib>
#include <ctime>

#include "platform/file_io.h"
#include "server/page.h"

namespace qvserver {

namespace {

// Room for the largest picture plus the multipart framing around it.
constexpr size_t kMaxRequestBytes = kMaxPictureBytes + 64 * 1024;
// Enough for a burst of uploads arriving together.
constexpr int kListenBacklog = 256;

int64_t Now() { return static_cast<int64_t>(std::time(nullptr)); }

// The one-line answer of the request this thread serves, for the log line (the body itself may
// be compressed by then).
thread_local std::string tlOutcome;

void Reply(httplib::Response& res, int status, const std::string& line) {
  tlOutcome = line;
  res.status = status;
  res.set_content(line + "\n", "text/plain; charset=utf-8");
}

// A fault of the server's own: the client learns that it failed, the log learns why.
void ReplyFault(httplib::Response& res, const std::string& line, const std::string& why) {
  Reply(res, 500, line);
  tlOutcome = line + ": " + why;
}

// The request target for the log: printable ASCII only, so a client cannot forge log lines.
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

bool EndsWithNoCase(std::string_view text, std::string_view tail) {
  if (text.size() < tail.size()) return false;
  for (size_t i = 0; i < tail.size(); ++i) {
    char c = text[text.size() - tail.size() + i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    if (c != tail[i]) return false;
  }
  return true;
}

}  // namespace

std::string DefaultDataFolder() {
  const char* xdg = std::getenv("XDG_DATA_HOME");
  if (xdg && *xdg == '/') return std::string(xdg) + "/quorvex-server";
  const char* home = std::getenv("HOME");
  return std::string(home && *home ? home : ".") + "/.local/share/quorvex-server";
}

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

Service::Service(ServiceOptions options) : options_(std::move(options)), http_(new httplib::Server) {}

Service::~Service() = default;

bool Service::Start(std::string* error) {
  if (options_.dataDir.empty()) options_.dataDir = DefaultDataFolder();
  store_ = Store::Open(options_.dataDir, error);
  if (!store_) return false;

  http_->new_task_queue = [] { return new httplib::ThreadPool(16); };
  http_->set_payload_max_length(kMaxRequestBytes);
  http_->set_read_timeout(10, 0);
  http_->set_write_timeout(10, 0);
  http_->set_keep_alive_timeout(5);
  Routes();
  // The library listens with a backlog of 5; keep the socket to give it room for bursts.
  http_->set_socket_options([this](int fd) {
    listener_ = fd;
    int yes = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });

  if (options_.port == 0) {
    port_ = http_->bind_to_any_port(options_.host);
    if (port_ <= 0) {
      if (error) *error = "cannot listen on " + options_.host;
      return false;
    }
  } else {
    if (!http_->bind_to_port(options_.host, options_.port)) {
      if (error) *error = "cannot listen on " + options_.host + ":" + std::to_string(options_.port);
      return false;
    }
    port_ = options_.port;
  }
  // Listening again on a listening socket only changes its backlog.
  if (listener_ >= 0) ::listen(listener_, kListenBacklog);
  return true;
}

void Service::Run() { http_->listen_after_bind(); }

void Service::Stop() { http_->stop(); }

bool Service::Listening() const { return http_->is_running(); }

void Service::Log(const httplib::Request& req, const httplib::Response& res) {
  if (!options_.log) return;
  const auto now = std::chrono::system_clock::now();
  const std::time_t t = std::chrono::system_clock::to_time_t(now);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &tm);
  std::string target = req.target.empty() ? req.path : req.target;
  auto field = [](const std::string& text, size_t limit) {
    return text.empty() ? "-" : LogSafe(text, limit);
  };
  std::string line = std::string(stamp) + " " + field(req.remote_addr, 64) + " " + field(req.method, 16) +
                     " " + field(target, 200) + " " + std::to_string(res.status) + " " +
                     std::to_string(res.body.size());
  // Uploads and refusals say what happened.
  if (!tlOutcome.empty()) line += " \"" + LogSafe(tlOutcome) + "\"";
  tlOutcome.clear();
  line += '\n';
  std::lock_guard lock(logMutex_);
  std::fputs(line.c_str(), options_.log);
  std::fflush(options_.log);
}

void Service::Routes() {
  // Uploads must say their length up front, so an endless body is refused before it is read.
  http_->set_pre_routing_handler([](const httplib::Request& req, httplib::Response& res) {
    tlOutcome.clear();
    if (req.method != "POST") return httplib::Server::HandlerResponse::Unhandled;
    if (req.has_header("Transfer-Encoding") || !req.has_header("Content-Length")) {
      Reply(res, 411, "uploads need a Content-Length");
      return httplib::Server::HandlerResponse::Handled;
    }
    return httplib::Server::HandlerResponse::Unhandled;
  });
  http_->set_logger([this](const httplib::Request& req, const httplib::Response& res) { Log(req, res); });
  http_->set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
    Reply(res, 500, "internal error");
  });
  // The library answers some faults itself with an empty body; give each one line.
  http_->set_error_handler(
      httplib::Server::HandlerWithResponse([](const httplib::Request&, httplib::Response& res) {
        if (!res.body.empty()) return httplib::Server::HandlerResponse::Unhandled;
        switch (res.status) {
          case 400:
            Reply(res, 400, "malformed request");
            break;
          case 404:
            Reply(res, 404, "not found");
            break;
          case 413:
            Reply(res, 413, "request larger than 2 MiB");
            break;
          case 414:
            Reply(res, 414, "address too long");
            break;
          default:
            Reply(res, res.status, "request failed");
            break;
        }
        return httplib::Server::HandlerResponse::Handled;
      }));

  http_->Get("/version.php", [this](const httplib::Request&, httplib::Response& res) {
    res.set_content(options_.programVersion, "text/plain; charset=utf-8");
  });
  http_->Post("/upload/upload_new.php",
              [this](const httplib::Request& req, httplib::Response& res) { Upload(req, res); });
  http_->Get("/compare.php",
             [this](const httplib::Request& req, httplib::Response& res) { Compare(req, res); });
  http_->Get("/", [this](const httplib::Request& req, httplib::Response& res) { Page(req, res); });
  http_->Get("/style.css", [](const httplib::Request&, httplib::Response& res) {
    res.set_header("Cache-Control", "max-age=3600");
    res.set_content(kStyleSheet, "text/css; charset=utf-8");
  });
  http_->Get(R"(/pictures/([0-9a-f]{32}\.png))",
             [this](const httplib::Request& req, httplib::Response& res) { Picture(req, res); });
}

void Service::Upload(const httplib::Request& req, httplib::Response& res) {
  if (!req.is_multipart_form_data())
    return Reply(res, 400, "expected a multipart form with one part named file");
  if (req.files.size() != 1 || !req.has_file("file"))
    return Reply(res, 400, "expected exactly one form part, named file");
  const httplib::MultipartFormData& part = req.get_file_value("file");

  // The file name is the client's full path with either separator. It only ever serves as a
  // link key: no part of it reaches the file system.
  const std::string& path = part.filename;
  if (path.empty()) return Reply(res, 400, "the form part has no file name");
  if (path.size() > 1024) return Reply(res, 400, "file name is too long");
  for (unsigned char c : path)
    if (c < 0x20 || c == 0x7f) return Reply(res, 400, "file name holds control characters");
  size_t start = 0;
  while (true) {
    const size_t cut = path.find_first_of("/\\", start);
    if (path.substr(start, cut == std::string::npos ? std::string::npos : cut - start) == "..")
      return Reply(res, 400, "file name climbs out of its folder");
    if (cut == std::string::npos) break;
    start = cut + 1;
  }
  const std::string name = path.substr(start);
  const std::string folder = ToUtf8(path.substr(0, start));
  if (name.empty() || name == ".") return Reply(res, 400, "file name is a folder");
  const std::string client = LinkClient(req.remote_addr, folder);

  if (EndsWithNoCase(name, ".png")) {
    if (part.content.size() > kMaxPictureBytes) return Reply(res, 413, "picture larger than 2 MiB");
    PngInfo info;
    std::string why;
    if (!CheckPng(part.content, &info, &why)) return Reply(res, 400, why);
    StoredPicture stored;
    if (!store_->AddPicture(part.content, info, ToUtf8(name.substr(0, name.size() - 4)), client, Now(),
                            &stored, &why))
      return ReplyFault(res, "picture not stored", why);
    return Reply(res, 200,
                 stored.resultId ? "OK picture stored for result " + std::to_string(*stored.resultId)
                                 : "OK picture stored");
  }

  if (part.content.size() > kMaxRecordBytes) return Reply(res, 413, "record file larger than 16 KiB");
  std::string why;
  const auto record = ParseRecordFile(part.content, &why);
  if (!record) return Reply(res, 400, why);
  StoredRecord stored;
  if (!store_->AddRecord(*record, part.content, client, Now(), &stored, &why))
    return ReplyFault(res, "result not stored", why);
  std::string line =
      "OK result " + std::to_string(stored.id) + (stored.duplicate ? " was stored before" : " stored");
  line += stored.pictureLinked ? " with its picture" : " without a picture";
  Reply(res, 200, line);
}

void Service::Compare(const httplib::Request& req, httplib::Response& res) {
  if (!req.has_param("P1") || !req.has_param("P2"))
    return Reply(res, 400, "compare needs P1 (memory type) and P2 (channels)");
  const std::string type = ToUtf8(req.get_param_value("P1")), channels = ToUtf8(req.get_param_value("P2"));
  if (type.size() > 128 || channels.size() > 128) return Reply(res, 400, "memory type or channels too long");
  const CompareRanges ranges = RangesFor(type, channels, store_->Matching(type, channels));
  tlOutcome = CompareAnswer(ranges);
  res.set_content(tlOutcome, "text/plain; charset=utf-8");
}

void Service::Page(const httplib::Request& req, httplib::Response& res) {
  PageData data;
  data.filter.type = ToUtf8(TrimBlanks(req.get_param_value("type")));
  data.filter.channels = ToUtf8(TrimBlanks(req.get_param_value("channels")));
  if (data.filter.type.size() > 128 || data.filter.channels.size() > 128)
    return Reply(res, 400, "filter too long");
  const std::string before = req.get_param_value("before");
  if (!before.empty()) {
    if (before.size() > 18 || before.find_first_not_of("0123456789") != std::string::npos)
      return Reply(res, 400, "before must be a result number");
    data.filter.beforeId = std::stoll(before);
  }
  data.filter.limit = 50;
  data.kinds = store_->Kinds();
  data.total = store_->ResultCount();
  for (const MemoryKind& kind : data.kinds) {
    if (!data.filter.type.empty() && MatchKey(kind.type) != MatchKey(data.filter.type)) continue;
    if (!data.filter.channels.empty() && MatchKey(kind.channels) != MatchKey(data.filter.channels)) continue;
    data.references.push_back(
        {kind, RangesFor(kind.type, kind.channels, store_->Matching(kind.type, kind.channels))});
  }
  ResultFilter probe = data.filter;
  probe.limit = data.filter.limit + 1;
  data.rows = store_->Recent(probe);
  if (data.rows.size() > data.filter.limit) {
    data.rows.resize(data.filter.limit);
    data.more = true;
  }
  res.set_header("Content-Security-Policy",
                 "default-src 'none'; style-src 'self'; img-src 'self'; form-action 'self'");
  res.set_header("X-Content-Type-Options", "nosniff");
  res.set_content(RenderResultsPage(data), "text/html; charset=utf-8");
}

void Service::Picture(const httplib::Request& req, httplib::Response& res) {
  const auto file = store_->PicturePath(req.matches[1].str());
  std::string bytes;
  if (!file || !platform::ReadWholeFile(*file, &bytes)) return Reply(res, 404, "no such picture");
  res.set_header("X-Content-Type-Options", "nosniff");
  res.set_header("Cache-Control", "max-age=86400, immutable");
  res.set_content(std::move(bytes), "image/png");
}

}  // namespace qvserver
