// One determined attacker against the shared data and the fair shares, on loopback: made-up
// machines from one network, a stranger's upload under another machine's IDHASH, look-alike
// kinds, costly searches and downloads, floods of pictures, slow bodies and held connections.
// 127.x addresses stand for distinct clients, 127.x.y.0/24 for distinct networks.
#include <gtest/gtest.h>
#include <poll.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <regex>
#include <set>
#include <thread>
#include <vector>

#include "server_fixtures.h"
#include "tests/support/loopback.h"

using namespace qvtest;
namespace fs = std::filesystem;

namespace {

class TrustTest : public EachStore {
 protected:
  void SetUp() override { UseStore(); }
  void Start(const std::function<void(qvserver::ServiceOptions&)>& adjust = {}) {
    data_ = FreshFolder("trust");
    service_ = std::make_unique<RunningService>(data_, "3.0.24.109", adjust);
    ASSERT_TRUE(service_->started()) << service_->error();
  }
  void TearDown() override {
    service_.reset();
    if (!data_.empty()) fs::remove_all(data_);
  }
  int port() { return service_->port(); }
  qvserver::Store& store() { return service_->store(); }
  Answer Send(const Values& v, const std::string& from) {
    return PostFile(port(), "C:\\Temp\\" + v[qvserver::kBenImage], RecordFile(v), from);
  }
  std::vector<long long> Compare() {
    std::vector<long long> numbers;
    const std::string body = Get(port(), "/compare.php?P1=DDR4&&P2=Dual").body;
    for (size_t at = 0; at < body.size();) {
      numbers.push_back(std::atoll(body.c_str() + at));
      const size_t next = body.find("<BR />", at);
      at = next == std::string::npos ? body.size() : next + 6;
    }
    return numbers;
  }

  std::string data_;
  std::unique_ptr<RunningService> service_;
};

// A DDR4 dual-channel machine: all three bandwidths bw MByte/s, the score the program writes.
Values Machine(int n, long long bw, int clockMHz = 3200, const std::string& latency = "70.0") {
  auto v = ProgramValues();
  char hash[33];
  std::snprintf(hash, sizeof hash, "%032X", n + 1);
  v[qvserver::kIdHash] = hash;
  v[qvserver::kBenImage] = "m" + std::to_string(n) + ".tmp";
  v[qvserver::kMemory] = "16 GB - DDR4 - " + std::to_string(clockMHz) + " MHz - Dual Channel";
  v[qvserver::kRead] = v[qvserver::kWrite] = v[qvserver::kCopy] = std::to_string(bw);
  char score[32];
  std::snprintf(score, sizeof score, "%.2f", static_cast<double>(bw) / 1000.0);
  v[qvserver::kResult] = score;
  v[qvserver::kLatency] = latency;
  return v;
}

std::string Status(const std::string& reply) { return reply.substr(0, reply.find("\r\n")); }

// What the server says on an open connection, read until its head is complete (at most 10 s).
std::string Reply(int sock, int waitMs = 10000) {
  std::string reply;
  char buf[4096];
  while (reply.find("\r\n\r\n") == std::string::npos) {
    pollfd p{sock, POLLIN, 0};
    if (::poll(&p, 1, waitMs) <= 0) break;
    const ssize_t n = ::recv(sock, buf, sizeof buf, 0);
    if (n <= 0) break;
    reply.append(buf, static_cast<size_t>(n));
  }
  return reply;
}

}  // namespace

TEST_P(TrustTest, MadeUpMachinesFromOneNetworkDoNotMoveTheRanges) {
  Start();
  // 100 honest machines, each on a network of its own: 18 to 29.9 GByte/s, 2400 to 3590 MHz.
  for (int i = 0; i < 100; ++i)
    ASSERT_EQ(Send(Machine(i, 18000 + i * 120, 2400 + i * 12, std::to_string(60 + i % 30) + ".0"),
                   NetworkAddress(i))
                  .status,
              200);
  const auto honest = Compare();
  ASSERT_EQ(honest.size(), 6u);
  // 60 made-up machines at the plausible maxima, each a new IDHASH from a new address of one /24.
  for (int k = 0; k < 60; ++k)
    ASSERT_EQ(Send(Machine(1000 + k, 190000, 6000, "20.0"), "127.200.0." + std::to_string(1 + k)).status,
              200);
  const auto poisoned = Compare();
  ASSERT_EQ(poisoned.size(), 6u);
  for (size_t i : {1u, 3u})  // the high ends of score and clock
    EXPECT_LE(poisoned[i], honest[i] * 3 / 2) << i;
  EXPECT_GE(poisoned[4], honest[4] * 2 / 3);  // latency's low end
  // One network is one voice among 101: the percentiles barely move.
  EXPECT_LE(poisoned[1], honest[1] + 1);
  // Nor do they fill the ranking: the network shows its best three, then the honest ones follow,
  // and paging walks on past them.
  qvserver::ResultFilter f;
  f.type = "DDR4";
  f.channels = "Dual";
  f.sort = qvserver::SortKey::Score;
  f.limit = 10;
  const auto top = store().Recent(f);
  ASSERT_EQ(top.size(), 10u);
  EXPECT_EQ(std::count_if(top.begin(), top.end(), [](const auto& r) { return r.score == 190.0; }), 3);
  EXPECT_EQ(top[3].score, 29.88);
  f.offset = 10;
  EXPECT_LT(store().Recent(f).front().score, top[9].score);
}

TEST_P(TrustTest, ThePercentileFloorCountsNetworksNotMachines) {
  Start();
  const std::string shipped = Get(port(), "/compare.php?P1=DDR4&&P2=Dual").body;
  // Forty machines, but from nineteen networks: still the shipped scale.
  for (int i = 0; i < 40; ++i)
    ASSERT_EQ(Send(Machine(i, 20000 + i * 100), NetworkAddress(i % 19)).status, 200);
  EXPECT_EQ(Get(port(), "/compare.php?P1=DDR4&&P2=Dual").body, shipped);
  ASSERT_EQ(Send(Machine(99, 25000), NetworkAddress(19)).status, 200);
  EXPECT_NE(Get(port(), "/compare.php?P1=DDR4&&P2=Dual").body, shipped);
  const auto kind = store().KindOf("DDR4", "Dual");
  ASSERT_TRUE(kind);
  EXPECT_EQ(kind->machines, 41u);
  EXPECT_EQ(kind->networks, 20u);
}

TEST_P(TrustTest, AVoteBelongsToTheNetworkThatCastIt) {
  Start();
  for (int i = 0; i < 5; ++i) ASSERT_EQ(Send(Machine(i, 20000 + i * 1000), NetworkAddress(i)).status, 200);
  auto leader = Machine(9, 40000);
  ASSERT_EQ(Send(leader, NetworkAddress(9)).status, 200);
  auto top = [&] {
    qvserver::ResultFilter f;
    f.type = "DDR4";
    f.channels = "Dual";
    f.sort = qvserver::SortKey::Score;
    return store().Recent(f);
  };
  ASSERT_EQ(top().front().score, 40.0);
  // A stranger sends the leader's IDHASH at 0.3 GByte/s: stored, but as a vote of its own.
  auto stranger = leader;
  stranger[qvserver::kTime] = "23:00:00";
  stranger[qvserver::kRead] = stranger[qvserver::kWrite] = stranger[qvserver::kCopy] = "300";
  stranger[qvserver::kResult] = "0.30";
  ASSERT_EQ(Send(stranger, "127.250.0.9").status, 200);
  EXPECT_EQ(store().ResultCount(), 7u);
  auto list = top();
  ASSERT_EQ(list.size(), 7u);
  EXPECT_EQ(list.front().score, 40.0);
  EXPECT_EQ(list.back().score, 0.30);
  // From its own network the machine's new result does replace its vote.
  auto again = leader;
  again[qvserver::kTime] = "23:30:00";
  again[qvserver::kRead] = again[qvserver::kWrite] = again[qvserver::kCopy] = "39000";
  again[qvserver::kResult] = "39.00";
  ASSERT_EQ(Send(again, NetworkAddress(9)).status, 200);
  list = top();
  EXPECT_EQ(list.size(), 7u);
  EXPECT_EQ(list.front().score, 39.0);
  // No page or download names the IDHASH.
  for (const char* target :
       {"/", "/results.json", "/results.csv", "/result/6", "/kind?type=DDR4&channels=Dual"})
    EXPECT_EQ(Get(port(), target).body.find(leader[qvserver::kIdHash]), std::string::npos) << target;
}

TEST_P(TrustTest, LookAlikeKindsAreOneKindAndJunkKindsStayOffTheFrontPage) {
  Start();
  auto plain = Machine(0, 20000);
  auto hidden = Machine(1, 20000);
  hidden[qvserver::kMemory] = "16 GB - DDR4\u200b - 3200 MHz - Dual Channel";
  auto wide = Machine(2, 20000);
  wide[qvserver::kMemory] = "16 GB - \uff24\uff24\uff32\uff14 - 3200 MHz - Dual\u00a0 Channel";
  auto turned = Machine(3, 20000);
  turned[qvserver::kCpu] = "Intel \u202eK0078-7i";
  auto junk = Machine(4, 20000);
  junk[qvserver::kMemory] = "16 GB - FASTRAM - 3200 MHz - Dual Channel";
  for (const auto& v : {plain, hidden, wide, turned, junk}) ASSERT_EQ(Send(v, NetworkAddress(0)).status, 200);
  const auto kind = store().KindOf("DDR4", "Dual");
  ASSERT_TRUE(kind);
  EXPECT_EQ(kind->count, 4u);
  EXPECT_EQ(store().KindOf("DDR4\u200b", "dual")->count, 4u);
  const auto kinds = store().Kinds();
  ASSERT_EQ(kinds.size(), 1u);
  EXPECT_EQ(kinds[0].type, "DDR4");
  EXPECT_EQ(Get(port(), "/").body.find("type=FASTRAM"), std::string::npos);
  EXPECT_EQ(Get(port(), "/results.json").body.find("\u202e"), std::string::npos);
  EXPECT_NE(Get(port(), "/results.json").body.find("Intel K0078-7i"), std::string::npos);
}

TEST_P(TrustTest, TextsSearchesAndDownloadsAreBounded) {
  Start([](qvserver::ServiceOptions& o) { o.limits.answerBytes = 8 * 1024; });
  auto longText = Machine(0, 20000);
  longText[qvserver::kCpu] = std::string(161, 'x');
  EXPECT_EQ(Send(longText, NetworkAddress(0)).status, 400);
  for (int i = 0; i < 30; ++i) {
    auto v = Machine(i, 20000 + i);
    v[qvserver::kCpu] = std::string(150, '<') + " cpu" + std::to_string(i);
    ASSERT_EQ(Send(v, NetworkAddress(i)).status, 200);
  }
  // The index finds a piece of a text, and a search with no time left stops with what it has.
  EXPECT_NE(Get(port(), "/?q=cpu17").body.find("cpu17"), std::string::npos);
  qvserver::ResultFilter f;
  f.text = "cpu";
  f.budget = std::chrono::milliseconds(-1);
  bool cut = false;
  EXPECT_LT(store().Recent(f, &cut).size(), 30u);
  EXPECT_TRUE(cut);
  // A download larger than its budget comes in pages that together hold every result once.
  std::set<int> seen;
  std::string next = "/results.json?limit=500";
  for (int pages = 0; !next.empty() && pages < 40; ++pages) {
    const Answer a = Get(port(), next);
    ASSERT_EQ(a.status, 200);
    EXPECT_LE(a.body.size(), 8u * 1024 + 2048);
    EXPECT_EQ(a.body.find('<'), std::string::npos);
    const std::regex id("\"id\":(\\d+),");
    for (std::sregex_iterator it(a.body.begin(), a.body.end(), id), end; it != end; ++it)
      EXPECT_TRUE(seen.insert(std::stoi((*it)[1])).second);
    std::smatch m;
    next = std::regex_search(a.body, m, std::regex("\"next\":\"([^\"]+)\"")) ? m[1].str() : "";
    for (size_t at; (at = next.find("\\u0026")) != std::string::npos;) next.replace(at, 6, "&");
  }
  EXPECT_EQ(seen.size(), 30u);
}

TEST_P(TrustTest, PicturesWaitingAreSharedPerNetwork) {
  Start([](qvserver::ServiceOptions& o) {
    o.limits.maxWaitingPerNetwork = 3;
    o.limits.maxWaitingPictures = 5;
  });
  const std::string png = MakePng();
  for (int k = 0; k < 3; ++k)
    EXPECT_EQ(
        PostFile(port(), "C:\\T\\a" + std::to_string(k) + ".png", png, "127.9.0." + std::to_string(1 + k))
            .status,
        200);
  // The flooding network is refused, the others are not, until the budget for all is spent.
  EXPECT_EQ(PostFile(port(), "C:\\T\\a9.png", png, "127.9.0.77").status, 429);
  EXPECT_EQ(PostFile(port(), "C:\\T\\b.png", png, NetworkAddress(1)).status, 200);
  EXPECT_EQ(PostFile(port(), "C:\\T\\c.png", png, NetworkAddress(2)).status, 200);
  EXPECT_EQ(PostFile(port(), "C:\\T\\d.png", png, NetworkAddress(3)).status, 503);
}

TEST_P(TrustTest, SlowBodiesAndHeldConnectionsLeaveRoomForOthers) {
  Start([](qvserver::ServiceOptions& o) {
    o.limits.bodyBytesInFlight = 160000;  // an eighth, 20000, per network
    o.limits.uploadsPerNetwork = 2;
    o.limits.maxConnections = 16;
    o.limits.fairShare = 2;
  });
  const std::string head =
      "POST /upload/upload_new.php HTTP/1.1\r\nHost: x\r\nContent-Type: multipart/form-data; boundary=b\r\n"
      "Content-Length: ";
  // A stalled body: its head and the first bytes, then nothing. Each keeps its connection open.
  struct Stall {
    int sock;
    std::string from;
    int length;
  };
  std::vector<Stall> stalls;
  auto open = [&](Stall& s) {
    s.sock = loopback::Connect(port(), s.from.c_str());
    loopback::SendAll(s.sock, head + std::to_string(s.length) + "\r\n\r\n--b\r\n");
  };
  auto stall = [&](const std::string& from, int length) {
    stalls.push_back({-1, from, length});
    open(stalls.back());
  };
  // The event loops read heads in no fixed order: on a busy machine a probe sent after a stall may
  // be read first, take the share the stall was meant to hold, and have the stall refused. A probe
  // that is taken in is given up (which frees its share), a stall the server has answered is made
  // again, and the probe is asked again, for a few seconds at most.
  auto refused = [&](const std::string& from, int length) {
    for (int attempt = 0; attempt < 20; ++attempt) {
      for (Stall& s : stalls) {
        pollfd p{s.sock, POLLIN, 0};
        if (::poll(&p, 1, 0) == 0) continue;
        ::close(s.sock);
        std::this_thread::sleep_for(std::chrono::milliseconds(20 * attempt));
        open(s);
      }
      if (attempt) std::this_thread::sleep_for(std::chrono::milliseconds(20 * attempt));
      const int s = loopback::Connect(port(), from.c_str());
      loopback::SendAll(s, head + std::to_string(length) + "\r\n\r\n");
      const std::string status = Status(Reply(s, 400));
      ::close(s);
      if (status == "HTTP/1.1 503 Service Unavailable") return true;
      if (!status.empty()) return false;  // answered otherwise
    }
    return false;
  };
  // Two stalled bodies from one network: a third from it is refused at once.
  stall("127.9.0.1", 10000);
  stall("127.9.0.2", 10000);
  EXPECT_TRUE(refused("127.9.0.3", 1000));
  // A body beyond the budget for all bodies under way is refused, and so is a network's body
  // beyond its share of the budget.
  EXPECT_TRUE(refused("127.10.0.1", 150000));
  stall("127.12.0.1", 15000);
  EXPECT_TRUE(refused("127.12.0.2", 10000));
  // Past half the slots, a network holding its share gets no more; a short request still does.
  std::vector<int> heads;
  for (int k = 0; k < 10; ++k) {
    const int s = loopback::Connect(port(), ("127.11.0." + std::to_string(1 + k)).c_str());
    if (s >= 0) heads.push_back(s);
    loopback::SendAll(s, "GET / HTTP/1.1\r\nHost: x\r\n");
  }
  for (int k = 0; k < 3; ++k) EXPECT_EQ(Get(port(), "/version.php", NetworkAddress(40 + k)).status, 200);
  for (const Stall& s : stalls) ::close(s.sock);
  for (int s : heads) ::close(s);
}

TEST_P(TrustTest, HttpDetails) {
  Start();
  auto ask = [&](const std::string& request) { return Status(loopback::Exchange(port(), request)); };
  EXPECT_EQ(ask("GET /version.php HTTP/1.1\r\nConnection: close\r\n\r\n"), "HTTP/1.1 400 Bad Request");
  EXPECT_EQ(ask("GET /version.php HTTP/1.0\r\n\r\n"), "HTTP/1.1 200 OK");  // 1.0 needs no Host
  EXPECT_EQ(
      ask("POST /upload/upload_new.php HTTP/1.1\r\nHost: x\r\nContent-Length: 5\r\nContent-Length: 6\r\n"
          "Connection: close\r\n\r\nhello!"),
      "HTTP/1.1 400 Bad Request");
  httplib::Client client("127.0.0.1", port());
  const auto page = client.Get("/");
  ASSERT_TRUE(page);
  EXPECT_NE(page->get_header_value("Content-Security-Policy").find("frame-ancestors 'none'"),
            std::string::npos);
}

QV_ON_EACH_STORE(TrustTest);
