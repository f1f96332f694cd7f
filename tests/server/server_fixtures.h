// Shared pieces of the server tests: pictures, record files and posts as the program makes them.
#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <libpq-fe.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>

#include <array>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <thread>

#include "server/png_check.h"
#include "server/record.h"
#include "server/service.h"

namespace qvtest {

// The server refuses an oversized body on its head and hangs up: a client still sending must see
// an error, not die of SIGPIPE.
inline const bool kSigpipeIgnored = [] {
  ::signal(SIGPIPE, SIG_IGN);
  return true;
}();

inline std::string BigEndian(uint32_t v) {
  return std::string{static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
                     static_cast<char>(v)};
}

inline std::string Chunk(const std::string& type, const std::string& data) {
  return BigEndian(static_cast<uint32_t>(data.size())) + type + data +
         BigEndian(qvserver::Crc32(type + data));
}

// A small structurally valid PNG; the IDAT bytes are opaque to the server, so filler will do.
inline std::string MakePng(uint32_t width = 8, uint32_t height = 6, size_t idatBytes = 32) {
  std::string ihdr = BigEndian(width) + BigEndian(height) + std::string("\x08\x02\x00\x00\x00", 5);
  return std::string("\x89PNG\r\n\x1a\n", 8) + Chunk("IHDR", ihdr) +
         Chunk("IDAT", std::string(idatBytes, 'x')) + Chunk("IEND", "");
}

using Values = std::array<std::string, qvserver::kRecordFields>;

inline Values ProgramValues() {
  return {"2026-12-08",
          "21:07:55",
          "MS Windows 10 Pro ",
          "Intel Core i7-8700K",
          "16 GB - DDR4 - 3201 MHz - Dual Channel",
          "16-18-18-36-560-2T ",
          "Asus - Prime Z370-a - Rev 1.xx",
          "G.skill - F4-3200C16-8GVKB",
          "G.skill - F4-3200C16-8GVKB",
          "* - *",
          "* - *",
          "13847",
          "7955",
          "9381",
          "65.5",
          "10.39",
          "4389",
          "0123456789ABCDEF0123456789ABCDEF",
          "DE",
          "081226210755_17.tmp",
          "3.0.24.109",
          "12"};
}

// The record file as WriteResultRecord writes it into a fresh file.
inline std::string RecordFile(const Values& v) {
  std::string file;
  for (const char* name : qvserver::kRecordFieldNames) file += std::string("\"") + name + "\";";
  file += "\r\n";
  for (const auto& value : v) file += "\"" + value + "\";";
  return file + "\r\n";
}

inline std::string Boundary() { return "--------120826210755123"; }

// One post's body, byte for byte as the program sends it.
inline std::string ProgramBody(const std::string& boundary, const std::string& path,
                               const std::string& bytes) {
  return "--" + boundary + "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"" + path +
         "\"\r\nContent-Type: multipart/form-data\r\nContent-Transfer-Encoding: binary\r\n\r\n" + bytes +
         "\r\n--" + boundary + "--\r\n";
}

struct Answer {
  int status = 0;
  std::string body;
};

// A loopback address in a /24 network of its own for each n, none of them 127.0.0.x: the server
// counts votes and limits per sending network, and every 127.x address reaches it.
inline std::string NetworkAddress(int n) {
  return "127." + std::to_string(1 + n / 256) + "." + std::to_string(n % 256) + ".1";
}

// Makes a client's connections leave from source (a loopback address); empty: the default.
inline void SendFrom(httplib::Client& client, const std::string& source) {
  if (source.empty()) return;
  client.set_socket_options([source](int fd) {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    inet_pton(AF_INET, source.c_str(), &local.sin_addr);
    ::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local);
  });
}

inline Answer PostRaw(int port, const std::string& body, const std::string& contentType,
                      const std::string& source = "") {
  httplib::Client client("127.0.0.1", port);
  SendFrom(client, source);
  client.set_read_timeout(20, 0);
  httplib::Headers headers{{"User-Agent", "Mozilla (Windows) Gecko Firefox"}, {"Accept", "text/html, */*"}};
  auto res = client.Post("/upload/upload_new.php", headers, body, contentType.c_str());
  return res ? Answer{res->status, res->body} : Answer{0, httplib::to_string(res.error())};
}

inline Answer PostFile(int port, const std::string& path, const std::string& bytes,
                       const std::string& source = "") {
  return PostRaw(port, ProgramBody(Boundary(), path, bytes), "multipart/form-data; boundary=" + Boundary(),
                 source);
}

inline Answer Get(int port, const std::string& target, const std::string& source = "") {
  httplib::Client client("127.0.0.1", port);
  SendFrom(client, source);
  client.set_read_timeout(20, 0);
  auto res = client.Get(target.c_str());
  return res ? Answer{res->status, res->body} : Answer{};
}

inline std::string FreshFolder(const std::string& tag) {
  std::random_device rd;
  auto dir = std::filesystem::temp_directory_path() /
             ("qvserver-" + tag + "-" + std::to_string(rd()) + std::to_string(rd()));
  std::filesystem::create_directories(dir);
  return dir.string();
}

// The store the services of the running test use: a PostgreSQL connection string, or empty for
// SQLite in their data folder.
inline std::string& StoreUnderTest() {
  static std::string connection;
  return connection;
}

// A database of its own on the PostgreSQL server that QUORVEX_TEST_POSTGRES names (scripts/test
// starts one), dropped again when the test ends.
class TestDatabase {
 public:
  static const char* Server() { return std::getenv("QUORVEX_TEST_POSTGRES"); }
  TestDatabase() {
    std::random_device rd;
    name_ = "qvtest_" + std::to_string(rd()) + "_" + std::to_string(rd());
    ok_ = Admin("CREATE DATABASE " + name_);
    connection_ = std::string(Server()) + " dbname=" + name_;
  }
  ~TestDatabase() {
    if (ok_) Admin("DROP DATABASE " + name_ + " WITH (FORCE)");
  }
  bool ok() const { return ok_; }
  const std::string& connection() const { return connection_; }

 private:
  // name_ is made above from digits alone, never from outside.
  bool Admin(const std::string& sql) {
    PGconn* c = PQconnectdb(Server());
    bool done = false;
    if (PQstatus(c) == CONNECTION_OK) {
      PGresult* r = PQexec(c, sql.c_str());
      done = PQresultStatus(r) == PGRES_COMMAND_OK;
      if (!done) error_ = PQresultErrorMessage(r);
      PQclear(r);
    } else {
      error_ = PQerrorMessage(c);
    }
    PQfinish(c);
    return done;
  }
  std::string name_, connection_, error_;
  bool ok_ = false;

 public:
  const std::string& error() const { return error_; }
};

// A fixture whose tests run once on each store: "sqlite", and "postgresql" when a test server
// is named (skipped otherwise). A derived SetUp calls UseStore() first and returns when skipped.
class EachStore : public ::testing::TestWithParam<std::string> {
 protected:
  void UseStore() {
    StoreUnderTest().clear();
    if (GetParam() != "postgresql") return;
    if (!TestDatabase::Server())
      GTEST_SKIP() << "no PostgreSQL server: set QUORVEX_TEST_POSTGRES (scripts/with-postgres)";
    database_.emplace();
    ASSERT_TRUE(database_->ok()) << database_->error();
    StoreUnderTest() = database_->connection();
  }
  bool Postgres() const { return GetParam() == "postgresql"; }
  ~EachStore() override { StoreUnderTest().clear(); }
  std::optional<TestDatabase> database_;
};

#define QV_ON_EACH_STORE(Suite)                                                      \
  INSTANTIATE_TEST_SUITE_P(Stores, Suite, ::testing::Values("sqlite", "postgresql"), \
                           [](const ::testing::TestParamInfo<std::string>& info) { return info.param; })

// A service on 127.0.0.1 with an ephemeral port, serving on its own thread.
class RunningService {
 public:
  // The upload limits per network are off unless a test sets them: most tests post far more, and
  // from one address, than a user does.
  explicit RunningService(const std::string& dataDir, std::string version = "3.0.24.109",
                          const std::function<void(qvserver::ServiceOptions&)>& adjust = {}) {
    qvserver::ServiceOptions options;
    options.port = 0;
    options.dataDir = dataDir;
    options.store = StoreUnderTest();
    options.programVersion = std::move(version);
    // QUORVEX_TEST_SERVER_LOG=1 shows the server's log line for each request, for a test that fails.
    options.log = std::getenv("QUORVEX_TEST_SERVER_LOG") ? stderr : nullptr;
    options.limits.uploadBurst = 0;
    options.limits.uploadsPerNetwork = 1000;
    options.limits.maxWaitingPerNetwork = 100000;
    if (adjust) adjust(options);
    service_ = std::make_unique<qvserver::Service>(options);
    std::string error;
    started_ = service_->Start(&error);
    error_ = error;
    if (started_) thread_ = std::thread([this] { service_->Run(); });
    // Wait until it answers, so a test never races the listening thread.
    for (int i = 0; started_ && i < 200; ++i) {
      if (Get(port(), "/version.php").status == 200) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  ~RunningService() { Stop(); }
  void Stop() {
    if (thread_.joinable()) {
      service_->Stop();
      thread_.join();
    }
  }
  bool started() const { return started_; }
  const std::string& error() const { return error_; }
  int port() const { return service_->port(); }
  qvserver::Store& store() { return service_->store(); }

 private:
  std::unique_ptr<qvserver::Service> service_;
  std::thread thread_;
  bool started_ = false;
  std::string error_;
};

}  // namespace qvtest
