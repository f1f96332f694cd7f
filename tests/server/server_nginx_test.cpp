// The shipped nginx site in front of the server, on loopback: uploads pass through it, the
// client's address reaches the server from the proxy only, and nginx's own limits hold.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "server_fixtures.h"
#include "tests/support/loopback.h"

using namespace qvtest;
namespace fs = std::filesystem;

namespace {

constexpr const char* kNginx = "/usr/sbin/nginx";

// One request from a chosen loopback address, Connection: close; the whole reply.
std::string Exchange(int port, const char* from, const std::string& request) {
  return loopback::Exchange(port, request, loopback::ReadUntil::HangUp, from);
}

std::string Post(int port, const char* from, const std::string& path, const std::string& bytes,
                 const std::string& extraHeaders = "") {
  const std::string body = ProgramBody(Boundary(), path, bytes);
  return Exchange(
      port, from,
      "POST /upload/upload_new.php HTTP/1.1\r\nHost: quorvex.example.org\r\nConnection: close\r\n" +
          extraHeaders + "Content-Type: multipart/form-data; boundary=" + Boundary() +
          "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// On SQLite one server behind the shipped site; on PostgreSQL two, behind the shipped upstream
// of two instances, so every rule must hold whichever instance nginx picks.
class BehindNginx : public EachStore {
 protected:
  void SetUp() override {
    ASSERT_TRUE(fs::exists(kNginx)) << "nginx is missing: scripts/setup installs it";
    data_ = FreshFolder("nginx");
    UseStore();
    if (IsSkipped() || HasFatalFailure()) return;
    auto adjust = [](qvserver::ServiceOptions& o) {
      o.trustedProxy = "127.0.0.1";
      o.limits.maxPerAddress = o.limits.maxConnections;
      o.limits.uploadBurst = 3;
      o.limits.uploadRefillSeconds = 3600;
    };
    service_ = std::make_unique<RunningService>(data_, "3.0.24.109", adjust);
    ASSERT_TRUE(service_->started()) << service_->error();
    if (Postgres()) {
      second_ = std::make_unique<RunningService>(data_, "3.0.24.109", adjust);
      ASSERT_TRUE(second_->started()) << second_->error();
    }

    // The shipped site, moved onto loopback ports of this test.
    std::string site = ReadAll(QUORVEX_NGINX_SITE);
    ASSERT_NE(site.find("listen 80;"), std::string::npos);
    port_ = loopback::FreePort();
    site = std::regex_replace(site, std::regex("listen \\[::\\]:80;"), "");
    site =
        std::regex_replace(site, std::regex("listen 80;"), "listen 127.0.0.1:" + std::to_string(port_) + ";");
    if (second_) {
      // As the operator does: the site without its upstream, and the upstream of two instances.
      site = std::regex_replace(site, std::regex("\nupstream quorvex_server \\{[^}]*\\}"), "");
      site = ReadAll(QUORVEX_NGINX_UPSTREAM) + site;
      site = std::regex_replace(site, std::regex("127\\.0\\.0\\.1:8081"),
                                "127.0.0.1:" + std::to_string(second_->port()));
    }
    site = std::regex_replace(site, std::regex("127\\.0\\.0\\.1:8080"),
                              "127.0.0.1:" + std::to_string(service_->port()));
    if (second_) {
      ASSERT_NE(site.find(":" + std::to_string(second_->port())), std::string::npos) << site;
    }
    const std::string dir = data_ + "/nginx";
    fs::create_directories(dir + "/temp");
    fs::permissions(dir + "/temp", fs::perms::all);  // nginx's workers may run as another user
    { std::ofstream(dir + "/site.conf") << site; }
    {
      std::ofstream conf(dir + "/nginx.conf");
      conf << "worker_processes 1;\npid " << dir << "/nginx.pid;\nerror_log " << dir << "/error.log;\n"
           << "events { worker_connections 64; }\nhttp {\n  access_log off;\n"
           << "  client_body_temp_path " << dir << "/temp/body;\n  proxy_temp_path " << dir
           << "/temp/proxy;\n"
           << "  fastcgi_temp_path " << dir << "/temp/fastcgi;\n  uwsgi_temp_path " << dir << "/temp/uwsgi;\n"
           << "  scgi_temp_path " << dir << "/temp/scgi;\n  include " << dir << "/site.conf;\n}\n";
    }
    log_ = dir + "/error.log";
    std::vector<std::string> args = {kNginx, "-e",         log_, "-p", dir, "-c", dir + "/nginx.conf",
                                     "-g",   "daemon off;"};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, (dir + "/stderr.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    ASSERT_EQ(posix_spawn(&nginx_, kNginx, &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    bool up = false;
    for (int i = 0; i < 250 && !up; ++i) {
      up = Exchange(port_, "127.0.0.1", "GET /version.php HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n")
               .rfind("HTTP/1.1 200", 0) == 0;
      if (!up) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_TRUE(up) << ReadAll(dir + "/stderr.log") << ReadAll(log_);
  }
  void TearDown() override {
    if (nginx_ > 0) {
      ::kill(nginx_, SIGQUIT);
      int status = 0;
      for (int i = 0; i < 250 && ::waitpid(nginx_, &status, WNOHANG) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      if (::waitpid(nginx_, &status, WNOHANG) == 0) {
        ::kill(nginx_, SIGKILL);
        ::waitpid(nginx_, &status, 0);
      }
    }
    service_.reset();
    second_.reset();
    fs::remove_all(data_);
  }

  std::string data_, log_;
  int port_ = 0;
  pid_t nginx_ = 0;
  std::unique_ptr<RunningService> service_, second_;
};

}  // namespace

TEST_P(BehindNginx, UploadsPassAndEachClientIsKnownByItsOwnAddress) {
  const std::string folder = "C:\\Users\\a\\Temp\\";
  EXPECT_NE(Post(port_, "127.0.0.2", folder + "s.tmp.png", MakePng(320, 200)).find("OK picture stored"),
            std::string::npos);
  const std::string stored = Post(port_, "127.0.0.2", folder + "s.tmp", RecordFile([] {
                                    auto v = ProgramValues();
                                    v[qvserver::kBenImage] = "s.tmp";
                                    return v;
                                  }()));
  EXPECT_EQ(stored.rfind("HTTP/1.1 200", 0), 0u) << stored;
  // The picture found its record: both came from the same client as nginx saw it.
  EXPECT_NE(stored.find("OK result 1 stored with its picture"), std::string::npos) << stored;

  // The third upload of 127.0.0.2 is its last; a made-up X-Real-IP does not reset its count.
  EXPECT_EQ(Post(port_, "127.0.0.2", folder + "t.tmp.png", MakePng()).rfind("HTTP/1.1 200", 0), 0u);
  EXPECT_EQ(Post(port_, "127.0.0.2", folder + "u.tmp.png", MakePng(), "X-Real-IP: 203.0.113.9\r\n")
                .rfind("HTTP/1.1 429", 0),
            0u);
  // A client of another network has its own allowance (uploads count per /24).
  EXPECT_EQ(Post(port_, "127.1.0.3", folder + "v.tmp.png", MakePng()).rfind("HTTP/1.1 200", 0), 0u);

  // The result page is served through the proxy with its policy intact.
  const std::string page =
      Exchange(port_, "127.0.0.2", "GET /result/1 HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
  EXPECT_EQ(page.rfind("HTTP/1.1 200", 0), 0u) << page.substr(0, 300);
  EXPECT_NE(page.find("Content-Security-Policy: default-src 'none'"), std::string::npos);
}

TEST_P(BehindNginx, NginxTurnsAwayOversizedBodies) {
  const std::string reply =
      Exchange(port_, "127.0.0.4",
               "POST /upload/upload_new.php HTTP/1.1\r\nHost: x\r\nConnection: close\r\n"
               "Content-Type: multipart/form-data; boundary=b\r\nContent-Length: 5000000\r\n\r\n");
  EXPECT_EQ(reply.rfind("HTTP/1.1 413", 0), 0u) << reply.substr(0, 200);
  EXPECT_EQ(service_->store().ResultCount(), 0u);
}

TEST_P(BehindNginx, WithOneInstanceDownTheOtherServes) {
  if (!second_) GTEST_SKIP() << "one instance only on SQLite";
  service_->Stop();
  for (int i = 0; i < 3; ++i) {
    const std::string reply = Post(port_, "127.0.0.5", "C:\\T\\d.tmp", RecordFile([i] {
                                     auto v = ProgramValues();
                                     v[qvserver::kIdHash] = std::string(31, 'A') + std::to_string(i);
                                     return v;
                                   }()));
    EXPECT_EQ(reply.rfind("HTTP/1.1 200", 0), 0u) << reply.substr(0, 300);
  }
  EXPECT_EQ(second_->store().ResultCount(), 3u);
}

QV_ON_EACH_STORE(BehindNginx);
