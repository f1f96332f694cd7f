// The server over real HTTP on 127.0.0.1: what the program posts and asks, and what it must refuse.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <thread>
#include <vector>

#include "server_fixtures.h"
#include "tests/support/loopback.h"

using namespace qvtest;
namespace fs = std::filesystem;

namespace {

// Blanks and an 8-bit letter (Windows-1252 u-umlaut) stand in the folder as the program sends it.
const std::string kFolder = "C:\\Users\\J\xFCrgen Smith\\AppData\\Local\\Temp\\";

size_t FilesIn(const std::string& dir) {
  size_t n = 0;
  for (const auto& e : fs::directory_iterator(dir)) n += e.is_regular_file();
  return n;
}

Values Numbered(int i, const std::string& benImage) {
  auto v = ProgramValues();
  char hash[33];
  std::snprintf(hash, sizeof hash, "%032X", i + 1);
  v[qvserver::kIdHash] = hash;
  v[qvserver::kBenImage] = benImage;
  return v;
}

class ServerTest : public EachStore {
 protected:
  void SetUp() override {
    data_ = FreshFolder("http");
    UseStore();
    if (IsSkipped() || HasFatalFailure()) return;
    // Fifty clients at once all come from 127.0.0.1 here, and a connection still counts while its
    // close is on the way; the per-address cap has its own test.
    service_ = std::make_unique<RunningService>(
        data_, "3.0.24.109", [](qvserver::ServiceOptions& o) { o.limits.maxPerAddress = 1000; });
    ASSERT_TRUE(service_->started()) << service_->error();
  }
  void TearDown() override {
    service_.reset();
    fs::remove_all(data_);
  }
  int port() { return service_->port(); }
  qvserver::Store& store() { return service_->store(); }

  std::string data_;
  std::unique_ptr<RunningService> service_;
};

}  // namespace

TEST_P(ServerTest, VersionAnswerIsTheBareVersionText) {
  const Answer a = Get(port(), "/version.php");
  EXPECT_EQ(a.status, 200);
  EXPECT_EQ(a.body, "3.0.24.109");

  const std::string other = FreshFolder("version");
  RunningService announced(other, "3.0.24.110");
  ASSERT_TRUE(announced.started());
  EXPECT_EQ(Get(announced.port(), "/version.php").body, "3.0.24.110");
  announced.Stop();
  fs::remove_all(other);
}

TEST_P(ServerTest, PictureThenRecordAreStoredAndLinked) {
  const std::string png = MakePng(320, 200);
  const Answer picture = PostFile(port(), kFolder + "081226210755_17.tmp.png", png);
  EXPECT_EQ(picture.status, 200) << picture.body;
  const Answer record = PostFile(port(), kFolder + "081226210755_17.tmp", RecordFile(ProgramValues()));
  EXPECT_EQ(record.status, 200) << record.body;
  EXPECT_NE(record.body.find("with its picture"), std::string::npos) << record.body;

  const auto rows = store().Recent({});
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].read, 13847);
  EXPECT_EQ(rows[0].memType, "DDR4");
  ASSERT_TRUE(rows[0].picture);
  // The picture sits under the server's own name and comes back byte for byte.
  EXPECT_EQ(rows[0].picture->find("081226"), std::string::npos);
  EXPECT_TRUE(fs::exists(data_ + "/pictures/" + *rows[0].picture));
  EXPECT_EQ(Get(port(), "/pictures/" + *rows[0].picture).body, png);
  EXPECT_EQ(Get(port(), "/pictures/00000000000000000000000000000000.png").status, 404);
}

TEST_P(ServerTest, RecordWithoutPictureAndPictureAfterItsRecord) {
  const Answer alone = PostFile(port(), kFolder + "a.tmp", RecordFile(Numbered(1, "a.tmp")));
  EXPECT_EQ(alone.status, 200);
  EXPECT_NE(alone.body.find("without a picture"), std::string::npos);
  EXPECT_FALSE(store().Recent({})[0].picture);
  // A late picture from the same sender and folder still finds its record.
  EXPECT_EQ(PostFile(port(), kFolder + "a.tmp.png", MakePng()).status, 200);
  EXPECT_TRUE(store().Recent({})[0].picture);
  // The same name from another folder is somebody else's.
  EXPECT_EQ(PostFile(port(), "C:\\Temp\\b.tmp.png", MakePng()).status, 200);
  EXPECT_EQ(PostFile(port(), kFolder + "b.tmp", RecordFile(Numbered(2, "b.tmp"))).status, 200);
  EXPECT_FALSE(store().Recent({})[0].picture);
}

TEST_P(ServerTest, TheSameRecordTwiceIsStoredOnce) {
  const std::string file = RecordFile(ProgramValues());
  EXPECT_EQ(PostFile(port(), kFolder + "x.tmp", file).status, 200);
  const Answer again = PostFile(port(), kFolder + "x.tmp", file);
  EXPECT_EQ(again.status, 200);
  EXPECT_NE(again.body.find("stored before"), std::string::npos);
  EXPECT_EQ(store().ResultCount(), 1u);
}

TEST_P(ServerTest, BadInputIsRefusedWithNothingStored) {
  struct Case {
    const char* what;
    std::string body;
    std::string contentType;
    int status;
  };
  const std::string mp = "multipart/form-data; boundary=" + Boundary();
  auto recordWith = [](size_t field, const std::string& value) {
    auto v = ProgramValues();
    v[field] = value;
    return RecordFile(v);
  };
  auto twentyOne = [] {
    auto v = ProgramValues();
    std::string s = RecordFile(v);
    const size_t last = s.rfind("\"12\";");
    return s.erase(last, 5);
  }();
  const std::string good = RecordFile(ProgramValues());
  const std::string twoParts =
      "--" + Boundary() + "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"a.tmp\"\r\n\r\n" +
      good + "\r\n" + ProgramBody(Boundary(), "b.tmp", good);
  const Case cases[] = {
      {"not multipart", good, "application/octet-stream", 400},
      {"no boundary", ProgramBody(Boundary(), "x.tmp", good), "multipart/form-data", 400},
      {"unterminated multipart", ProgramBody(Boundary(), "x.tmp", good).substr(0, 180), mp, 400},
      {"garbage multipart", "this is not a form", mp, 400},
      {"two parts", twoParts, mp, 400},
      {"part not named file",
       "--" + Boundary() + "\r\nContent-Disposition: form-data; name=\"data\"; filename=\"x.tmp\"\r\n\r\n" +
           good + "\r\n--" + Boundary() + "--\r\n",
       mp, 400},
      {"no file name", ProgramBody(Boundary(), "", good), mp, 400},
      {"picture over 2 MiB", ProgramBody(Boundary(), "p.tmp.png", MakePng(8, 8, qvserver::kMaxPictureBytes)),
       mp, 413},
      {"record over 16 KiB",
       ProgramBody(Boundary(), "r.tmp", recordWith(qvserver::kOs, std::string(17000, 'a'))), mp, 413},
      {"picture not a PNG", ProgramBody(Boundary(), "p.tmp.png", "GIF89a........"), mp, 400},
      {"climbing path", ProgramBody(Boundary(), "..\\..\\..\\etc\\passwd.tmp", good), mp, 400},
      {"climbing path, slashes", ProgramBody(Boundary(), "C:/Temp/../../x.tmp.png", MakePng()), mp, 400},
      {"non-numeric READ", ProgramBody(Boundary(), "r.tmp", recordWith(qvserver::kRead, "fast")), mp, 400},
      {"out-of-range WRITE", ProgramBody(Boundary(), "r.tmp", recordWith(qvserver::kWrite, "2000001")), mp,
       400},
      {"out-of-range LATENCY", ProgramBody(Boundary(), "r.tmp", recordWith(qvserver::kLatency, "2500")), mp,
       400},
      {"score too high", ProgramBody(Boundary(), "r.tmp", recordWith(qvserver::kResult, "2000")), mp, 400},
      {"21 fields", ProgramBody(Boundary(), "r.tmp", twentyOne), mp, 400},
  };
  for (const Case& c : cases) {
    const Answer a = PostRaw(port(), c.body, c.contentType);
    EXPECT_EQ(a.status, c.status) << c.what << ": " << a.body;
    ASSERT_FALSE(a.body.empty()) << c.what;
    EXPECT_EQ(a.body.find('\n'), a.body.size() - 1) << c.what << ": one line of text";
    EXPECT_EQ(store().ResultCount(), 0u) << c.what;
    EXPECT_EQ(store().PictureCount(), 0u) << c.what;
    EXPECT_EQ(FilesIn(data_ + "/pictures"), 0u) << c.what;
  }
  // A body of unstated length is refused before it is read: the answer comes after the head alone.
  const std::string reply = loopback::Exchange(port(),
                                               "POST /upload/upload_new.php HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                                               "Transfer-Encoding: chunked\r\nContent-Type: " +
                                                   mp + "\r\n\r\n");
  EXPECT_EQ(reply.rfind("HTTP/1.1 411", 0), 0u) << reply;
  // So is a declared body over the limit: the answer comes before any byte of it is sent.
  const std::string tooLong = loopback::Exchange(port(),
                                                 "POST /upload/upload_new.php HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                                                 "Content-Length: 3145728\r\nContent-Type: " +
                                                     mp + "\r\n\r\n");
  EXPECT_EQ(tooLong.rfind("HTTP/1.1 413", 0), 0u) << tooLong;
  EXPECT_EQ(store().ResultCount(), 0u);
  // Nothing outside the data folder was written either.
  EXPECT_FALSE(fs::exists(data_ + "/../passwd.tmp"));
  // Still serving, and a good upload still works.
  EXPECT_EQ(Get(port(), "/version.php").status, 200);
  EXPECT_EQ(PostFile(port(), kFolder + "ok.tmp", good).status, 200);
  EXPECT_EQ(store().ResultCount(), 1u);
}

TEST_P(ServerTest, AStoreFaultIsReportedAndLeavesNothingBehind) {
  // The picture folder turned into a file: pictures cannot be written, records still can.
  fs::remove_all(data_ + "/pictures");
  { std::ofstream(data_ + "/pictures") << "in the way"; }
  const Answer a = PostFile(port(), kFolder + "f.tmp.png", MakePng());
  EXPECT_EQ(a.status, 500);
  EXPECT_EQ(a.body, "picture not stored\n");  // the server's own paths stay in its log
  EXPECT_EQ(store().PictureCount(), 0u);
  EXPECT_EQ(PostFile(port(), kFolder + "f.tmp", RecordFile(ProgramValues())).status, 200);
  EXPECT_FALSE(store().Recent({})[0].picture);
}

TEST_P(ServerTest, CompareAnswersFromTheShippedTableThenFromResults) {
  EXPECT_EQ(Get(port(), "/compare.php?P1=DDR4%20&&P2=Dual").body,
            "11<BR />32<BR />2133<BR />3600<BR />55<BR />95");
  EXPECT_EQ(Get(port(), "/compare.php?P1=ddr5&&P2=dual").body,
            "20<BR />48<BR />4800<BR />7200<BR />65<BR />110");
  EXPECT_EQ(Get(port(), "/compare.php?P1=DDR4").status, 400);

  // Twenty DDR3 dual-channel results from twenty networks: score 5.00 .. 24.00, clock 1333 .. 2283,
  // latency 50 .. 88.
  for (int i = 0; i < 20; ++i) {
    auto v = Numbered(i, "s" + std::to_string(i) + ".tmp");
    const long long bw = 5000 + i * 1000;  // score = bw / 1000
    v[qvserver::kRead] = v[qvserver::kWrite] = v[qvserver::kCopy] = std::to_string(bw);
    char score[16];
    std::snprintf(score, sizeof score, "%.2f", bw / 1000.0);
    v[qvserver::kResult] = score;
    v[qvserver::kMemory] = "8 GB - DDR3 - " + std::to_string(1333 + i * 50) + " MHz - Dual Channel";
    v[qvserver::kLatency] = std::to_string(50 + i * 2) + ".0";
    ASSERT_EQ(PostFile(port(), kFolder + v[qvserver::kBenImage], RecordFile(v), NetworkAddress(i)).status,
              200);
    if (i == 18) {  // nineteen networks: still the shipped scale
      EXPECT_EQ(Get(port(), "/compare.php?P1=DDR3&&P2=Dual").body,
                "6<BR />19<BR />1066<BR />2133<BR />55<BR />100");
    }
  }
  // p5 and p95 over 20 values sit at ranks 0.95 and 18.05, rounded outward.
  // score 5.95 -> 5 and 23.05 -> 24; clock 1380.5 -> 1380 and 2235.5 -> 2236; latency 51.9 -> 51, 86.1 -> 87.
  EXPECT_EQ(Get(port(), "/compare.php?P1=DDR3%20&&P2=%20dual").body,
            "5<BR />24<BR />1380<BR />2236<BR />51<BR />87");
  // Other kinds keep their own scale.
  EXPECT_EQ(Get(port(), "/compare.php?P1=DDR3&&P2=Single").body,
            "3<BR />12<BR />1066<BR />2133<BR />55<BR />100");
}

TEST_P(ServerTest, FiftyParallelUploadsAreEachStoredOnce) {
  std::vector<std::thread> clients;
  std::atomic<int> failures{0};
  for (int i = 0; i < 50; ++i) {
    clients.emplace_back([&, i] {
      const std::string name = "p" + std::to_string(i) + ".tmp";
      const std::string folder = "C:\\Users\\user" + std::to_string(i) + "\\Temp\\";
      const Answer a = PostFile(port(), folder + name + ".png", MakePng(16, 16, 100 + i));
      if (a.status != 200) ++failures, std::fprintf(stderr, "%d %s\n", a.status, a.body.c_str());
      const std::string record = RecordFile(Numbered(i, name));
      for (int k = 0; k < 2; ++k) {  // the second a repeat
        const Answer b = PostFile(port(), folder + name, record);
        if (b.status != 200) ++failures, std::fprintf(stderr, "%d %s\n", b.status, b.body.c_str());
      }
    });
  }
  for (auto& t : clients) t.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(store().ResultCount(), 50u);
  EXPECT_EQ(store().PictureCount(), 50u);
  qvserver::ResultFilter everything;
  everything.limit = 100;
  const auto rows = store().Recent(everything);
  ASSERT_EQ(rows.size(), 50u);
  std::set<std::string> pictures;
  for (const auto& r : rows) {
    ASSERT_TRUE(r.picture);
    pictures.insert(*r.picture);
  }
  EXPECT_EQ(pictures.size(), 50u);
}

TEST_P(ServerTest, ARestartKeepsEveryResult) {
  for (int i = 0; i < 5; ++i) {
    const std::string name = "r" + std::to_string(i) + ".tmp";
    ASSERT_EQ(PostFile(port(), kFolder + name + ".png", MakePng()).status, 200);
    ASSERT_EQ(PostFile(port(), kFolder + name, RecordFile(Numbered(i, name))).status, 200);
  }
  const auto before = store().Recent({});
  service_.reset();

  service_ = std::make_unique<RunningService>(data_);
  ASSERT_TRUE(service_->started()) << service_->error();
  EXPECT_EQ(store().SchemaVersionInFile(),
            Postgres() ? qvserver::kPostgresSchemaVersion : qvserver::kSchemaVersion);
  const auto after = store().Recent({});
  ASSERT_EQ(after.size(), before.size());
  for (size_t i = 0; i < after.size(); ++i) {
    EXPECT_EQ(after[i].id, before[i].id);
    EXPECT_EQ(after[i].picture, before[i].picture);
    EXPECT_EQ(Get(port(), "/pictures/" + *after[i].picture).status, 200);
  }
  // The same record after the restart is still a repeat.
  EXPECT_NE(
      PostFile(port(), kFolder + "r0.tmp", RecordFile(Numbered(0, "r0.tmp"))).body.find("stored before"),
      std::string::npos);
}

TEST_P(ServerTest, ResultsPageListsNewestFirstAndFilters) {
  auto v = Numbered(1, "a.tmp");
  v[qvserver::kCpu] = "<b>Old CPU</b>";
  v[qvserver::kMemory] = "4 GB - DDR2 - 801 MHz - Dual Channel";
  v[qvserver::kRead] = v[qvserver::kWrite] = v[qvserver::kCopy] = "3000";
  v[qvserver::kResult] = "3.00";
  ASSERT_EQ(PostFile(port(), kFolder + "a.tmp", RecordFile(v)).status, 200);
  ASSERT_EQ(PostFile(port(), kFolder + "b.tmp", RecordFile(Numbered(2, "b.tmp"))).status, 200);

  const Answer all = Get(port(), "/");
  EXPECT_EQ(all.status, 200);
  EXPECT_EQ(all.body.find("<b>Old CPU</b>"), std::string::npos);
  const size_t older = all.body.find("&lt;b&gt;Old CPU");
  const size_t newer = all.body.find("Intel Core i7-8700K");
  ASSERT_NE(older, std::string::npos);
  ASSERT_NE(newer, std::string::npos);
  EXPECT_LT(newer, older);

  const Answer ddr2 = Get(port(), "/?type=ddr2&channels=Dual");
  EXPECT_NE(ddr2.body.find("Old CPU"), std::string::npos);
  EXPECT_EQ(ddr2.body.find("Intel Core i7-8700K"), std::string::npos);
  EXPECT_NE(ddr2.body.find("3 – 10"), std::string::npos);  // the DDR2 reference scale
  // Query text is never echoed as markup.
  const Answer echoed = Get(port(), "/?type=%22%3E%3Cimg%20src%3Dx%3E");
  EXPECT_EQ(echoed.status, 200);
  EXPECT_EQ(echoed.body.find("<img src=x>"), std::string::npos);
  EXPECT_NE(echoed.body.find("&quot;&gt;&lt;img src=x&gt;"), std::string::npos);
  EXPECT_EQ(Get(port(), "/?before=abc").status, 400);
  EXPECT_EQ(Get(port(), "/style.css").status, 200);
}

QV_ON_EACH_STORE(ServerTest);
