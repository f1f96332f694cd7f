// The results site as a visitor sees it: a page per result with its rank, the kind pages, the
// lists and their downloads, and hostile text shown as text everywhere.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>

#include "server_fixtures.h"

using namespace qvtest;
namespace fs = std::filesystem;

namespace {

const std::string kHostile = "<script>alert(1)</script>\"'&";

Values Machine(int n, long long bw, const std::string& memory = "16 GB - DDR4 - 3200 MHz - Dual Channel") {
  auto v = ProgramValues();
  char hash[33];
  std::snprintf(hash, sizeof hash, "%032X", n + 1);
  v[qvserver::kIdHash] = hash;
  v[qvserver::kBenImage] = "m" + std::to_string(n) + ".tmp";
  v[qvserver::kMemory] = memory;
  v[qvserver::kRead] = v[qvserver::kWrite] = v[qvserver::kCopy] = std::to_string(bw);
  char score[32];
  std::snprintf(score, sizeof score, "%.2f", static_cast<double>(bw) / 1000.0);
  v[qvserver::kResult] = score;
  return v;
}

int ResultNumber(const std::string& answer) {
  return answer.rfind("OK result ", 0) == 0 ? std::atoi(answer.c_str() + 10) : 0;
}

class SiteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    data_ = FreshFolder("site");
    service_ = std::make_unique<RunningService>(data_);
    ASSERT_TRUE(service_->started()) << service_->error();
  }
  void TearDown() override {
    service_.reset();
    fs::remove_all(data_);
  }
  int port() { return service_->port(); }
  int Upload(const Values& v) {
    const Answer a = PostFile(port(), "C:\\Temp\\" + v[qvserver::kBenImage], RecordFile(v));
    EXPECT_EQ(a.status, 200) << a.body;
    return ResultNumber(a.body);
  }

  std::string data_;
  std::unique_ptr<RunningService> service_;
};

}  // namespace

TEST_F(SiteTest, AResultPageShowsPictureEveryFieldAndTheRank) {
  auto v = Machine(0, 12000);
  v[qvserver::kCpu] = kHostile;
  ASSERT_EQ(PostFile(port(), "C:\\Temp\\m0.tmp.png", MakePng(64, 48)).status, 200);
  const int id = Upload(v);
  ASSERT_GT(id, 0);
  const Answer page = Get(port(), "/result/" + std::to_string(id));
  ASSERT_EQ(page.status, 200);
  EXPECT_NE(page.body.find("<img class=\"full\""), std::string::npos);
  for (const char* name : qvserver::kRecordFieldNames)
    EXPECT_NE(page.body.find(name), std::string::npos) << name;
  EXPECT_NE(page.body.find("12000 MByte/s"), std::string::npos);
  EXPECT_NE(page.body.find("(UTC)"), std::string::npos);
  EXPECT_EQ(page.body.find("<script>"), std::string::npos);
  EXPECT_NE(page.body.find("&lt;script&gt;alert(1)&lt;/script&gt;&quot;&#39;&amp;"), std::string::npos);
  // One machine is too few for a rank.
  EXPECT_NE(page.body.find("Too few DDR4 dual-channel machines"), std::string::npos);
  EXPECT_EQ(Get(port(), "/result/999").status, 404);
  EXPECT_EQ(Get(port(), "/result/abc").status, 404);
}

TEST_F(SiteTest, TheRankCountsEachOtherMachineOnceWithItsLatestResult) {
  // Twenty-four machines; machine k scores (10 + k) GByte/s, except that machine 3 uploads a
  // second, faster result (40 GByte/s), which replaces its first in the count.
  std::vector<int> ids;
  for (int k = 0; k < 24; ++k) ids.push_back(Upload(Machine(k, 10000 + 1000 * k)));
  auto again = Machine(3, 40000);
  again[qvserver::kTime] = "23:59:59";
  Upload(again);
  // Another kind does not count.
  for (int k = 30; k < 40; ++k) Upload(Machine(k, 50000, "16 GB - DDR4 - 3200 MHz - Single Channel"));

  for (int k : {0, 5, 23}) {
    // Expected: the other 23 machines' latest scores below machine k's score.
    std::vector<double> others;
    for (int j = 0; j < 24; ++j)
      if (j != k) others.push_back(j == 3 ? 40.0 : 10.0 + j);
    const double mine = 10.0 + k;
    const long below = std::count_if(others.begin(), others.end(), [&](double s) { return s < mine; });
    const int percent = static_cast<int>(100 * below / static_cast<long>(others.size()));
    const Answer page = Get(port(), "/result/" + std::to_string(ids[k]));
    const std::string expected = "faster than " + std::to_string(percent) + " % of DDR4 dual-channel results";
    EXPECT_NE(page.body.find(expected), std::string::npos) << "machine " << k << ": " << expected;
  }
}

TEST_F(SiteTest, EveryListLinksToItsResultPages) {
  const int id = Upload(Machine(0, 12000));
  const Answer list = Get(port(), "/");
  EXPECT_NE(list.body.find("href=\"/result/" + std::to_string(id) + "\""), std::string::npos);
}
