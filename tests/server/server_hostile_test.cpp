// Clients that mean harm, on 127.0.0.1: heads without end, floods, slow senders, too many
// connections, too many uploads, made-up results and picture bombs. The server must bound each
// of them by itself and keep serving everybody else.
#include <gtest/gtest.h>
#include <poll.h>

#include <chrono>
#include <filesystem>
#include <thread>
#include <vector>

#include "server_fixtures.h"
#include "tests/support/loopback.h"

using namespace qvtest;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using loopback::Connect;
using loopback::SendAll;

namespace {

// Reads until the server hangs up or the limit passes. True when it hung up; what it said goes to reply.
bool HungUpWithin(int sock, std::chrono::milliseconds limit, std::string* reply = nullptr) {
  const auto end = Clock::now() + limit;
  char buf[4096];
  while (Clock::now() < end) {
    pollfd p{sock, POLLIN, 0};
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
    if (::poll(&p, 1, static_cast<int>(std::max<long long>(left, 1))) <= 0) continue;
    const ssize_t n = ::recv(sock, buf, sizeof buf, 0);
    if (n <= 0) return true;
    if (reply) reply->append(buf, static_cast<size_t>(n));
  }
  return false;
}

// A client sending head bytes slowly on its own thread, one every period, until stopped or cut.
class SlowClient {
 public:
  SlowClient(int port, std::chrono::milliseconds period, std::string start = "GET / HTTP/1.1\r\nHost: x\r\n")
      : sock_(Connect(port)) {
    if (sock_ < 0) return;
    SendAll(sock_, start);
    thread_ = std::thread([this, period] {
      while (!stop_) {
        if (::send(sock_, "X", 1, MSG_NOSIGNAL) != 1) {
          cut_ = true;
          return;
        }
        for (auto waited = std::chrono::milliseconds(0); waited < period && !stop_;
             waited += std::chrono::milliseconds(20))
          std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
    });
  }
  ~SlowClient() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (sock_ >= 0) ::close(sock_);
  }
  int socket() const { return sock_; }

 private:
  int sock_ = -1;
  std::atomic<bool> stop_{false}, cut_{false};
  std::thread thread_;
};

class HostileTest : public ::testing::Test {
 protected:
  void Start(const std::function<void(qvserver::ServiceOptions&)>& adjust = {}) {
    data_ = FreshFolder("hostile");
    service_ = std::make_unique<RunningService>(data_, "3.0.24.109", adjust);
    ASSERT_TRUE(service_->started()) << service_->error();
  }
  void TearDown() override {
    service_.reset();
    if (!data_.empty()) fs::remove_all(data_);
  }
  int port() { return service_->port(); }
  qvserver::Store& store() { return service_->store(); }
  bool StillServes() { return Get(port(), "/version.php").status == 200; }

  std::string data_;
  std::unique_ptr<RunningService> service_;
};

Values Machine(int n) {
  auto v = ProgramValues();
  char hash[33];
  std::snprintf(hash, sizeof hash, "%032X", n + 1);
  v[qvserver::kIdHash] = hash;
  v[qvserver::kBenImage] = "m" + std::to_string(n) + ".tmp";
  return v;
}

// READ, WRITE and COPY all at bw MByte/s, with the score the program would write for them.
void SetBandwidth(Values& v, long long bw) {
  v[qvserver::kRead] = v[qvserver::kWrite] = v[qvserver::kCopy] = std::to_string(bw);
  char score[32];
  std::snprintf(score, sizeof score, "%.2f", static_cast<double>(bw) / 1000.0);
  v[qvserver::kResult] = score;
}

}  // namespace

TEST_F(HostileTest, OversizedHeadsAreRefusedWithBoundedMemory) {
  Start();
  // A header line that never ends: refused once the connection's head space is full.
  {
    const int sock = Connect(port());
    ASSERT_GE(sock, 0);
    std::string reply;
    SendAll(sock, "GET / HTTP/1.1\r\nHost: x\r\nX-Endless: " + std::string(1 << 20, 'a'));
    EXPECT_TRUE(HungUpWithin(sock, std::chrono::seconds(10), &reply));
    EXPECT_EQ(reply.rfind("HTTP/1.1 4", 0), 0u) << reply.substr(0, 200);
    ::close(sock);
  }
  // A request line without end, the same.
  {
    const int sock = Connect(port());
    std::string reply;
    SendAll(sock, "GET /" + std::string(1 << 20, 'a'));
    EXPECT_TRUE(HungUpWithin(sock, std::chrono::seconds(10), &reply));
    EXPECT_EQ(reply.rfind("HTTP/1.1 4", 0), 0u) << reply.substr(0, 200);
    ::close(sock);
  }
  // 200,000 headers: the head space ends the flood long before its end.
  {
    const int sock = Connect(port());
    std::string flood = "GET / HTTP/1.1\r\nHost: x\r\n";
    for (int i = 0; i < 200000; ++i) flood += "X-a: b\r\n";
    std::string reply;
    SendAll(sock, flood + "\r\n");
    EXPECT_TRUE(HungUpWithin(sock, std::chrono::seconds(10), &reply));
    EXPECT_EQ(reply.rfind("HTTP/1.1 4", 0), 0u) << reply.substr(0, 200);
    ::close(sock);
  }
  // A hundred short headers fit the space but not the count.
  {
    std::string head = "GET /version.php HTTP/1.1\r\nHost: x\r\n";
    for (int i = 0; i < 100; ++i) head += "X-" + std::to_string(i) + ": b\r\n";
    const std::string reply = loopback::Exchange(port(), head + "\r\n");
    EXPECT_EQ(reply.rfind("HTTP/1.1 431", 0), 0u) << reply;
  }
  EXPECT_TRUE(StillServes());
}

TEST_F(HostileTest, SlowSendersAreCutAndIdleConnectionsClosed) {
  Start([](qvserver::ServiceOptions& o) {
    o.limits.headSeconds = 2;
    o.limits.requestSeconds = 3;
    o.limits.idleSeconds = 1;
  });
  // A head sent a byte at a time, each in time for the idle limit, still has to end in time.
  {
    SlowClient slow(port(), std::chrono::milliseconds(300));
    ASSERT_GE(slow.socket(), 0);
    EXPECT_TRUE(HungUpWithin(slow.socket(), std::chrono::seconds(8)));
  }
  // A huge declared body is refused on the head: its first byte is never awaited.
  {
    const int sock = Connect(port());
    std::string reply;
    SendAll(sock,
            "POST /upload/upload_new.php HTTP/1.1\r\nHost: x\r\nContent-Type: multipart/form-data; "
            "boundary=b\r\nContent-Length: 107374182400\r\n\r\n");
    EXPECT_TRUE(HungUpWithin(sock, std::chrono::seconds(5), &reply));
    EXPECT_EQ(reply.rfind("HTTP/1.1 413", 0), 0u) << reply;
    ::close(sock);
  }
  // A body within the limit but streamed slowly is cut when the request's time is up.
  {
    const int sock = Connect(port());
    SendAll(sock,
            "POST /upload/upload_new.php HTTP/1.1\r\nHost: x\r\nContent-Type: multipart/form-data; "
            "boundary=b\r\nContent-Length: 1000000\r\n\r\n");
    std::atomic<bool> stop{false};
    std::thread trickle([&] {
      while (!stop && ::send(sock, "0123456789", 10, MSG_NOSIGNAL) == 10)
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    });
    EXPECT_TRUE(HungUpWithin(sock, std::chrono::seconds(10)));
    stop = true;
    trickle.join();
    ::close(sock);
  }
  // A keep-alive connection left idle after its answer is closed.
  {
    const int sock = Connect(port());
    std::string reply;
    SendAll(sock, "GET /version.php HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_TRUE(HungUpWithin(sock, std::chrono::seconds(8), &reply));
    EXPECT_NE(reply.find("3.0.24.109"), std::string::npos) << reply;
    ::close(sock);
  }
  EXPECT_EQ(store().ResultCount(), 0u);
  EXPECT_TRUE(StillServes());
}

TEST_F(HostileTest, SixteenSlowClientsDoNotHoldUpOthers) {
  Start();
  std::vector<std::unique_ptr<SlowClient>> slow;
  for (int i = 0; i < 16; ++i) {
    slow.push_back(std::make_unique<SlowClient>(port(), std::chrono::milliseconds(500)));
    ASSERT_GE(slow.back()->socket(), 0);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  for (int i = 0; i < 3; ++i) {
    const auto start = Clock::now();
    EXPECT_EQ(Get(port(), "/version.php").body, "3.0.24.109");
    // Answered within a second on a quiet machine; the margin is for a busy one. Held up, it
    // would wait for as long as the slow clients keep sending.
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(3));
  }
  EXPECT_EQ(PostFile(port(), "C:\\Temp\\a.tmp", RecordFile(ProgramValues())).status, 200);
}

TEST_F(HostileTest, ConnectionsPerAddressAreCapped) {
  Start([](qvserver::ServiceOptions& o) { o.limits.maxPerAddress = 4; });
  std::vector<int> held;
  for (int i = 0; i < 4; ++i) {
    held.push_back(Connect(port()));
    ASSERT_GE(held.back(), 0);
    // An answered request proves the server holds the connection; it then stays open, idle.
    SendAll(held.back(), "GET /version.php HTTP/1.1\r\nHost: x\r\n\r\n");
    char buf[512];
    pollfd p{held.back(), POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 5000), 1);
    ASSERT_GT(::recv(held.back(), buf, sizeof buf, 0), 0);
  }
  // The fifth from the same address is hung up on without an answer ...
  const int extra = Connect(port());
  if (extra >= 0) {
    std::string reply;
    SendAll(extra, "GET /version.php HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_TRUE(HungUpWithin(extra, std::chrono::seconds(5), &reply));
    EXPECT_EQ(reply.find("3.0.24.109"), std::string::npos) << reply;
    ::close(extra);
  }
  // ... while another address is served.
  const int other = Connect(port(), "127.0.0.2");
  ASSERT_GE(other, 0);
  std::string reply;
  SendAll(other, "GET /version.php HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
  EXPECT_TRUE(HungUpWithin(other, std::chrono::seconds(5), &reply));
  EXPECT_NE(reply.find("3.0.24.109"), std::string::npos) << reply;
  ::close(other);
  for (int s : held) ::close(s);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_TRUE(StillServes());
}

TEST_F(HostileTest, UploadsPerAddressAreRateLimited) {
  Start([](qvserver::ServiceOptions& o) {
    o.limits.uploadBurst = 4;
    o.limits.uploadRefillSeconds = 3600;
    o.trustedProxy = "127.0.0.2";
  });
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(PostFile(port(), "C:\\Temp\\r.tmp", RecordFile(Machine(i))).status, 200);
  const Answer refused = PostFile(port(), "C:\\Temp\\r.tmp", RecordFile(Machine(9)));
  EXPECT_EQ(refused.status, 429);
  EXPECT_EQ(refused.body.find('\n'), refused.body.size() - 1) << refused.body;
  EXPECT_EQ(store().ResultCount(), 4u);
  // Reading is not limited.
  EXPECT_TRUE(StillServes());
  // Behind the trusted proxy each client has its own allowance; elsewhere the header is ignored.
  const std::string body = ProgramBody(Boundary(), "C:\\Temp\\p.tmp", RecordFile(Machine(10)));
  auto viaProxy = [&](const char* from, const char* realIp) {
    const int sock = Connect(port(), from);
    std::string reply;
    SendAll(sock, "POST /upload/upload_new.php HTTP/1.1\r\nHost: x\r\nConnection: close\r\nX-Real-IP: " +
                      std::string(realIp) + "\r\nContent-Type: multipart/form-data; boundary=" + Boundary() +
                      "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
    HungUpWithin(sock, std::chrono::seconds(5), &reply);
    ::close(sock);
    return reply;
  };
  EXPECT_EQ(viaProxy("127.0.0.1", "198.51.100.7").rfind("HTTP/1.1 429", 0), 0u);
  EXPECT_EQ(viaProxy("127.0.0.2", "198.51.100.7").rfind("HTTP/1.1 200", 0), 0u);
}

TEST_F(HostileTest, MadeUpRecordsLeaveTheReferenceUnchanged) {
  Start();
  const std::string shipped = Get(port(), "/compare.php?P1=DDR5&&P2=Dual").body;
  ASSERT_EQ(shipped, "20<BR />48<BR />4800<BR />7200<BR />65<BR />110");
  // Twenty records from twenty made-up machines, each with a figure no DDR5 machine gives.
  for (int i = 0; i < 20; ++i) {
    auto v = Machine(i);
    v[qvserver::kMemory] = "32 GB - DDR5 - 6000 MHz - Dual Channel";
    SetBandwidth(v, 30000);
    v[qvserver::kLatency] = "70.0";
    if (i % 4 == 0) v[qvserver::kMemory] = "32 GB - DDR5 - 99999 MHz - Dual Channel";
    if (i % 4 == 1) SetBandwidth(v, 1000000);  // far beyond 6000 MT/s x 2 channels x 8 bytes
    if (i % 4 == 2) v[qvserver::kLatency] = "1999.0";
    if (i % 4 == 3) v[qvserver::kLatency] = "1.5";
    const Answer a = PostFile(port(), "C:\\Temp\\" + v[qvserver::kBenImage], RecordFile(v));
    EXPECT_EQ(a.status, 400) << i << ": " << a.body;
    EXPECT_EQ(a.body.find('\n'), a.body.size() - 1) << a.body;
  }
  EXPECT_EQ(Get(port(), "/compare.php?P1=DDR5&&P2=Dual").body, shipped);
  // Twenty plausible results from one machine are one vote, not twenty.
  for (int i = 0; i < 20; ++i) {
    auto v = Machine(0);
    v[qvserver::kMemory] = "32 GB - DDR5 - 6000 MHz - Dual Channel";
    SetBandwidth(v, 1000 + i);
    v[qvserver::kTime] = "10:00:" + std::to_string(10 + i);
    ASSERT_EQ(PostFile(port(), "C:\\Temp\\x.tmp", RecordFile(v)).status, 200);
  }
  EXPECT_EQ(store().ResultCount(), 20u);
  EXPECT_EQ(Get(port(), "/compare.php?P1=DDR5&&P2=Dual").body, shipped);
  // Nineteen more machines from nineteen other networks make twenty: now the stored results speak,
  // the one machine counted once with its latest result (score 1.019).
  for (int i = 1; i < 20; ++i) {
    auto v = Machine(i);
    v[qvserver::kMemory] = "32 GB - DDR5 - 6000 MHz - Dual Channel";
    SetBandwidth(v, 30000);
    ASSERT_EQ(PostFile(port(), "C:\\Temp\\y.tmp", RecordFile(v), NetworkAddress(i)).status, 200);
  }
  // p5 of {1.019, 30 x 19} sits at rank 0.95: 1.019 + 0.95 x 28.981 = 28.55 -> 28.
  EXPECT_EQ(Get(port(), "/compare.php?P1=DDR5&&P2=Dual").body.rfind("28<BR />30<BR />", 0), 0u);
}

TEST_F(HostileTest, PictureBombsAndOddPicturesAreRefused) {
  Start();
  auto withHeader = [](uint32_t w, uint32_t h, const std::string& depthAndType) {
    std::string ihdr = BigEndian(w) + BigEndian(h) + depthAndType + std::string("\0\0\0", 3);
    return std::string("\x89PNG\r\n\x1a\n", 8) + Chunk("IHDR", ihdr) + Chunk("IDAT", std::string(64, 'x')) +
           Chunk("IEND", "");
  };
  const std::string rgb8("\x08\x02", 2);
  struct Case {
    const char* what;
    std::string png;
  } cases[] = {
      {"16384 x 16384", withHeader(16384, 16384, rgb8)},
      {"one side too long", withHeader(8000, 10, rgb8)},
      {"too many pixels", withHeader(4096, 4096, rgb8)},
      {"RGBA", withHeader(640, 480, std::string("\x08\x06", 2))},
      {"16-bit", withHeader(640, 480, std::string("\x10\x02", 2))},
      {"palette", withHeader(640, 480, std::string("\x08\x03", 2))},
      {"no image data", std::string("\x89PNG\r\n\x1a\n", 8) +
                            Chunk("IHDR", BigEndian(640) + BigEndian(480) + rgb8 + std::string("\0\0\0", 3)) +
                            Chunk("IEND", "")},
  };
  for (const Case& c : cases) {
    const Answer a = PostFile(port(), "C:\\Temp\\b.tmp.png", c.png);
    EXPECT_EQ(a.status, 400) << c.what << ": " << a.body;
  }
  EXPECT_EQ(store().PictureCount(), 0u);
  EXPECT_EQ(PostFile(port(), "C:\\Temp\\ok.tmp.png", withHeader(1280, 800, rgb8)).status, 200);
}

TEST_F(HostileTest, OrphanPicturesAreSweptWhileRunning) {
  Start([](qvserver::ServiceOptions& o) {
    o.limits.sweepSeconds = 1;
    o.limits.orphanSeconds = 1;
  });
  ASSERT_EQ(PostFile(port(), "C:\\Temp\\lonely.tmp.png", MakePng()).status, 200);
  ASSERT_EQ(PostFile(port(), "C:\\Temp\\kept.tmp.png", MakePng()).status, 200);
  auto kept = Machine(1);
  kept[qvserver::kBenImage] = "kept.tmp";
  ASSERT_EQ(PostFile(port(), "C:\\Temp\\kept.tmp", RecordFile(kept)).body,
            "OK result 1 stored with its picture\n");
  ASSERT_EQ(store().PictureCount(), 2u);
  for (int i = 0; i < 100 && store().PictureCount() > 1; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(store().PictureCount(), 1u);
  size_t files = 0;
  for (const auto& e : fs::directory_iterator(data_ + "/pictures")) files += e.is_regular_file();
  EXPECT_EQ(files, 1u);
}

TEST_F(HostileTest, PicturesWaitingForTheirRecordsAreCapped) {
  Start([](qvserver::ServiceOptions& o) { o.limits.maxWaitingPictures = 3; });
  for (int i = 0; i < 3; ++i)
    ASSERT_EQ(PostFile(port(), "C:\\Temp\\w" + std::to_string(i) + ".tmp.png", MakePng()).status, 200);
  const Answer full = PostFile(port(), "C:\\Temp\\w3.tmp.png", MakePng());
  EXPECT_EQ(full.status, 503);
  EXPECT_EQ(full.body.find('\n'), full.body.size() - 1) << full.body;
  // A record that claims one of them makes room again.
  auto v = Machine(0);
  v[qvserver::kBenImage] = "w0.tmp";
  ASSERT_EQ(PostFile(port(), "C:\\Temp\\w0.tmp", RecordFile(v)).status, 200);
  EXPECT_EQ(PostFile(port(), "C:\\Temp\\w3.tmp.png", MakePng()).status, 200);
  EXPECT_EQ(store().PictureCount(), 4u);
}
