// The executable as an operator runs it: start, serve, SIGTERM, clean stop, data kept.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "server/store.h"
#include "server_fixtures.h"
#include "tests/support/loopback.h"

using namespace qvtest;
namespace fs = std::filesystem;

namespace {

Values Numbered(int n) {
  auto v = ProgramValues();
  v[qvserver::kIdHash] = std::string(31, '0') + std::to_string(n);
  return v;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The executable on a free port with its log in a file; the port read from its first line.
struct Spawned {
  pid_t pid = 0;
  int port = 0;
  std::string log;
};

Spawned SpawnServer(const std::string& data) {
  Spawned s;
  s.log = data + "/server.log";
  const std::string exe = QUORVEX_SERVER_EXE;
  std::vector<std::string> args = {exe, "--listen", "127.0.0.1:0", "--data", data + "/store"};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 2, s.log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (posix_spawn(&s.pid, exe.c_str(), &actions, nullptr, argv.data(), environ) != 0) s.pid = 0;
  posix_spawn_file_actions_destroy(&actions);
  for (int i = 0; s.pid && i < 500 && s.port == 0; ++i) {
    const std::string text = ReadAll(s.log);
    const size_t at = text.find("listening on 127.0.0.1:");
    if (at != std::string::npos && text.find(',', at) != std::string::npos)
      s.port = std::atoi(text.c_str() + at + 23);
    else
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return s;
}

}  // namespace

TEST(ServerProcess, ServesUntilSigtermThenStopsCleanly) {
  const std::string data = FreshFolder("process");
  const Spawned server = SpawnServer(data);
  const pid_t pid = server.pid;
  const int port = server.port;
  const std::string& log = server.log;
  ASSERT_GT(port, 0) << ReadAll(log);

  EXPECT_EQ(Get(port, "/version.php").body, "3.0.24.109");
  EXPECT_EQ(PostFile(port, "C:\\Temp\\1.tmp.png", MakePng()).status, 200);
  EXPECT_EQ(PostFile(port, "C:\\Temp\\1.tmp", RecordFile(ProgramValues())).status, 200);
  EXPECT_EQ(PostFile(port, "C:\\Temp\\bad.tmp", "nonsense").status, 400);

  // An upload under way when SIGTERM arrives is still read to its end, stored and answered.
  const std::string body = ProgramBody(Boundary(), "C:\\Temp\\2.tmp", RecordFile(Numbered(7)));
  const std::string head =
      "POST /upload/upload_new.php HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: multipart/form-data; "
      "boundary=" +
      Boundary() + "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n";
  const int sock = loopback::Connect(port);
  ASSERT_GE(sock, 0);
  const std::string first = head + body.substr(0, body.size() / 2), rest = body.substr(body.size() / 2);
  ASSERT_EQ(write(sock, first.data(), first.size()), static_cast<ssize_t>(first.size()));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));

  ASSERT_EQ(kill(pid, SIGTERM), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ASSERT_EQ(write(sock, rest.data(), rest.size()), static_cast<ssize_t>(rest.size()));
  std::string reply;
  char buf[4096];
  for (ssize_t n; (n = read(sock, buf, sizeof buf)) > 0;) reply.append(buf, static_cast<size_t>(n));
  close(sock);
  EXPECT_EQ(reply.rfind("HTTP/1.1 200", 0), 0u) << reply;
  EXPECT_NE(reply.find("OK result"), std::string::npos) << reply;

  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);

  const std::string text = ReadAll(log);
  EXPECT_NE(text.find("SIGTERM received"), std::string::npos) << text;
  EXPECT_NE(text.find("quorvex-server: stopped"), std::string::npos) << text;
  // One line per request, with its status.
  size_t lines = 0;
  for (size_t at = 0; (at = text.find("/upload/upload_new.php ", at)) != std::string::npos; ++at) ++lines;
  EXPECT_EQ(lines, 4u) << text;
  EXPECT_NE(text.find("/upload/upload_new.php 400"), std::string::npos) << text;
  // The database was closed and folded back: no write-ahead log is left over.
  EXPECT_FALSE(fs::exists(data + "/store/results.sqlite-wal"));

  std::string error;
  auto store = qvserver::Store::Open(data + "/store", &error);
  ASSERT_TRUE(store) << error;
  EXPECT_EQ(store->ResultCount(), 2u);
  EXPECT_EQ(store->PictureCount(), 1u);
  store.reset();
  fs::remove_all(data);
}

TEST(ServerProcess, RefusesBadOptionsAndANewerDatabase) {
  const std::string data = FreshFolder("options");
  {
    std::string error;
    auto store = qvserver::Store::Open(data, &error);
    ASSERT_TRUE(store) << error;
  }
  const std::string exe = QUORVEX_SERVER_EXE;
  auto run = [&](const std::string& args) {
    return WEXITSTATUS(std::system((exe + " " + args + " 2>/dev/null").c_str()));
  };
  EXPECT_EQ(run("--listen nowhere"), 2);
  EXPECT_EQ(run("--bogus"), 2);
  EXPECT_EQ(run("--limit bogus=3"), 2);
  EXPECT_EQ(run("--limit heavy=x"), 2);
  EXPECT_EQ(run("--help >/dev/null"), 0);
  // A database from a later schema is left alone rather than misread.
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open((data + "/results.sqlite").c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "UPDATE schema_version SET version = 99", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);
  EXPECT_EQ(run("--listen 127.0.0.1:0 --data " + data), 1);
  std::string error;
  EXPECT_FALSE(qvserver::Store::Open(data, &error));
  EXPECT_NE(error.find("newer"), std::string::npos) << error;
  fs::remove_all(data);
}

TEST(ServerProcess, TakesItsPostgresStoreFromTheEnvironment) {
  const std::string exe = QUORVEX_SERVER_EXE;
  EXPECT_EQ(WEXITSTATUS(std::system((exe + " --store /some/file 2>/dev/null").c_str())), 2);
  if (!TestDatabase::Server()) GTEST_SKIP() << "no PostgreSQL server: set QUORVEX_TEST_POSTGRES";
  TestDatabase database;
  ASSERT_TRUE(database.ok()) << database.error();
  const std::string data = FreshFolder("pg-process");
  // The connection string may hold a password: the environment keeps it off the command line.
  setenv("QUORVEX_SERVER_STORE", database.connection().c_str(), 1);
  Spawned s = SpawnServer(data);
  ASSERT_GT(s.port, 0) << ReadAll(s.log);
  EXPECT_EQ(PostFile(s.port, "C:\\T\\r.tmp", RecordFile(Numbered(1))).status, 200);
  kill(s.pid, SIGTERM);
  int status = 0;
  waitpid(s.pid, &status, 0);
  EXPECT_NE(ReadAll(s.log).find("PostgreSQL database qvtest_"), std::string::npos) << ReadAll(s.log);
  // A database from a later schema is left alone rather than misread.
  PGconn* c = PQconnectdb(database.connection().c_str());
  PQclear(PQexec(c, "UPDATE schema_version SET version = 99"));
  PQfinish(c);
  EXPECT_EQ(WEXITSTATUS(std::system((exe + " --listen 127.0.0.1:0 --data " + data + " 2>/dev/null").c_str())),
            1);
  unsetenv("QUORVEX_SERVER_STORE");
  fs::remove_all(data);
}

namespace {

// Waits for the process to end, at most limit; its wait status, or -1 when it is still running.
int WaitAtMost(pid_t pid, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  int status = 0;
  while (std::chrono::steady_clock::now() < end) {
    if (waitpid(pid, &status, WNOHANG) == pid) return status;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return -1;
}

// An upload whose head has arrived and whose body never comes.
int StalledUpload(int port) {
  const int sock = loopback::Connect(port);
  const std::string head =
      "POST /upload/upload_new.php HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: multipart/form-data; "
      "boundary=b\r\nContent-Length: 100000\r\n\r\n--b\r\n";
  if (sock >= 0) (void)!write(sock, head.data(), head.size());
  return sock;
}

}  // namespace

TEST(ServerProcess, SigtermStopsAcceptingAtOnceAndDrainsForAFewSecondsAtMost) {
  const std::string data = FreshFolder("drain");
  Spawned s = SpawnServer(data);
  ASSERT_GT(s.port, 0) << ReadAll(s.log);
  const int idle = loopback::Connect(s.port);  // a keep-alive connection with nothing under way
  const int stalled = StalledUpload(s.port);
  ASSERT_GE(stalled, 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  ASSERT_EQ(kill(s.pid, SIGTERM), 0);
  // New connections are refused well before the drain ends.
  bool refused = false;
  for (int i = 0; i < 50 && !refused; ++i) {
    const int probe = loopback::Connect(s.port);
    refused = probe < 0;
    if (probe >= 0) close(probe);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_TRUE(refused);
  // The stalled upload holds the stop for the drain limit (5 s), no longer.
  const int status = WaitAtMost(s.pid, std::chrono::seconds(15));
  if (status == -1) kill(s.pid, SIGKILL), waitpid(s.pid, nullptr, 0);
  ASSERT_NE(status, -1) << ReadAll(s.log);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_NE(ReadAll(s.log).find("quorvex-server: stopped"), std::string::npos);
  if (idle >= 0) close(idle);
  close(stalled);
  std::string error;
  auto store = qvserver::Store::Open(data + "/store", &error);
  ASSERT_TRUE(store) << error;
  EXPECT_EQ(store->ResultCount(), 0u);
  store.reset();
  fs::remove_all(data);
}

TEST(ServerProcess, ASecondSigtermEndsAtOnce) {
  const std::string data = FreshFolder("second");
  Spawned s = SpawnServer(data);
  ASSERT_GT(s.port, 0) << ReadAll(s.log);
  EXPECT_EQ(PostFile(s.port, "C:\\Temp\\1.tmp", RecordFile(ProgramValues())).status, 200);
  const int stalled = StalledUpload(s.port);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  ASSERT_EQ(kill(s.pid, SIGTERM), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ASSERT_EQ(kill(s.pid, SIGTERM), 0);
  const int status = WaitAtMost(s.pid, std::chrono::seconds(3));
  if (status == -1) kill(s.pid, SIGKILL), waitpid(s.pid, nullptr, 0);
  ASSERT_NE(status, -1) << ReadAll(s.log);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);
  EXPECT_NE(ReadAll(s.log).find("second SIGTERM"), std::string::npos) << ReadAll(s.log);
  close(stalled);
  // What was stored before stays whole.
  std::string error;
  auto store = qvserver::Store::Open(data + "/store", &error);
  ASSERT_TRUE(store) << error;
  EXPECT_EQ(store->ResultCount(), 1u);
  store.reset();
  fs::remove_all(data);
}
