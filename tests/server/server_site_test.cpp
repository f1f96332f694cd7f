// The results site as a visitor sees it: a page per result with its rank, the kind pages, the
// lists and their downloads, and hostile text shown as text everywhere.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
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

class SiteTest : public EachStore {
 protected:
  void SetUp() override {
    data_ = FreshFolder("site");
    UseStore();
    if (IsSkipped() || HasFatalFailure()) return;
    service_ = std::make_unique<RunningService>(data_);
    ASSERT_TRUE(service_->started()) << service_->error();
  }
  void TearDown() override {
    service_.reset();
    fs::remove_all(data_);
  }
  int port() { return service_->port(); }
  // Each machine sends from a network of its own, as machines of different owners do.
  static std::string From(const Values& v) {
    return NetworkAddress(std::stoi(v[qvserver::kIdHash].substr(24), nullptr, 16) % 60000);
  }
  int Upload(const Values& v) {
    const Answer a = PostFile(port(), "C:\\Temp\\" + v[qvserver::kBenImage], RecordFile(v), From(v));
    EXPECT_EQ(a.status, 200) << a.body;
    return ResultNumber(a.body);
  }

  std::string data_;
  std::unique_ptr<RunningService> service_;
};

}  // namespace

TEST_P(SiteTest, AResultPageShowsPictureEveryFieldAndTheRank) {
  auto v = Machine(0, 12000);
  v[qvserver::kCpu] = kHostile;
  ASSERT_EQ(PostFile(port(), "C:\\Temp\\m0.tmp.png", MakePng(64, 48), From(v)).status, 200);
  const int id = Upload(v);
  ASSERT_GT(id, 0);
  const Answer page = Get(port(), "/result/" + std::to_string(id));
  ASSERT_EQ(page.status, 200);
  EXPECT_NE(page.body.find("<img class=\"full\""), std::string::npos);
  for (const char* name : qvserver::kRecordFieldNames)
    EXPECT_NE(page.body.find(name), std::string::npos) << name;
  EXPECT_NE(page.body.find("12000 MByte/s"), std::string::npos);
  EXPECT_NE(page.body.find("(UTC)"), std::string::npos);
  // The IDHASH would let anyone speak for the machine: the page names it by a digest only.
  EXPECT_EQ(page.body.find(v[qvserver::kIdHash]), std::string::npos);
  EXPECT_TRUE(std::regex_search(page.body, std::regex("<td>machine [0-9a-f]{12}</td>")));
  EXPECT_EQ(page.body.find("<script>"), std::string::npos);
  EXPECT_NE(page.body.find("&lt;script&gt;alert(1)&lt;/script&gt;&quot;&#39;&amp;"), std::string::npos);
  // One machine is too few for a rank.
  EXPECT_NE(page.body.find("Too few DDR4 dual-channel machines"), std::string::npos);
  EXPECT_EQ(Get(port(), "/result/999").status, 404);
  EXPECT_EQ(Get(port(), "/result/abc").status, 404);
}

TEST_P(SiteTest, TheRankCountsEachOtherMachineOnceWithItsLatestResult) {
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

TEST_P(SiteTest, EveryListLinksToItsResultPages) {
  const int id = Upload(Machine(0, 12000));
  const Answer list = Get(port(), "/");
  EXPECT_NE(list.body.find("href=\"/result/" + std::to_string(id) + "\""), std::string::npos);
}

TEST_P(SiteTest, RankingsOrderEachMachineOnceByTheChosenFigure) {
  // Machine k: READ 10000 + 1000 k, WRITE falling with k, latency rising with k.
  for (int k = 0; k < 6; ++k) {
    auto v = Machine(k, 10000);
    v[qvserver::kRead] = std::to_string(10000 + 1000 * k);
    v[qvserver::kWrite] = std::to_string(20000 - 1000 * k);
    v[qvserver::kCopy] = "10000";
    char score[32];
    std::snprintf(score, sizeof score, "%.2f", (10000.0 + 1000 * k + 20000 - 1000 * k + 10000) / 3000.0);
    v[qvserver::kResult] = score;
    v[qvserver::kLatency] = std::to_string(60 + k) + ".0";
    Upload(v);
  }
  auto order = [&](const std::string& sort) {
    const Answer a = Get(port(), "/results.json?type=DDR4&channels=Dual&sort=" + sort);
    EXPECT_EQ(a.status, 200) << a.body;
    std::vector<int> ids;
    const std::regex id("\\{\"id\":(\\d+),");
    for (auto it = std::sregex_iterator(a.body.begin(), a.body.end(), id); it != std::sregex_iterator(); ++it)
      ids.push_back(std::stoi((*it)[1]));
    return ids;
  };
  EXPECT_EQ(order("read"), (std::vector<int>{6, 5, 4, 3, 2, 1}));
  EXPECT_EQ(order("write"), (std::vector<int>{1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(order("latency"), (std::vector<int>{1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(order("newest"), (std::vector<int>{6, 5, 4, 3, 2, 1}));
  // A newer result of machine 0 replaces its old one in the ranking.
  auto again = Machine(0, 10000);
  again[qvserver::kRead] = "99000";
  again[qvserver::kResult] = "39.67";
  again[qvserver::kTime] = "23:00:00";
  Upload(again);
  EXPECT_EQ(order("read"), (std::vector<int>{7, 6, 5, 4, 3, 2}));
  // The page ranks with places, and its column heads lead to the other orders.
  const Answer page = Get(port(), "/?type=DDR4&channels=Dual&sort=read");
  EXPECT_NE(page.body.find("ranked by read"), std::string::npos);
  EXPECT_NE(page.body.find("sort=latency"), std::string::npos);
  EXPECT_EQ(Get(port(), "/?sort=read").status, 400);  // a ranking is of one kind
  EXPECT_EQ(Get(port(), "/?type=DDR4&channels=Dual&sort=fastest").status, 400);
}

TEST_P(SiteTest, SearchAndPagingBothWays) {
  for (int k = 0; k < 7; ++k) {
    auto v = Machine(k, 12000);
    v[qvserver::kCpu] = k % 2 ? "AMD Ryzen 7 5800X" : "Intel Core i5-12400";
    v[qvserver::kRam2] = k == 6 ? "Kingston - KF432C16BB/8" : "* - *";
    Upload(v);
  }
  auto ids = [&](const std::string& query) {
    const Answer a = Get(port(), "/results.json?" + query);
    std::vector<int> out;
    const std::regex id("\\{\"id\":(\\d+),");
    for (auto it = std::sregex_iterator(a.body.begin(), a.body.end(), id); it != std::sregex_iterator(); ++it)
      out.push_back(std::stoi((*it)[1]));
    return out;
  };
  EXPECT_EQ(ids("q=ryzen"), (std::vector<int>{6, 4, 2}));
  EXPECT_EQ(ids("q=kf432"), (std::vector<int>{7}));
  EXPECT_EQ(ids("q=ryzen&limit=1&before=6"), (std::vector<int>{4}));  // a search pages both ways too
  EXPECT_EQ(ids("q=ryzen&limit=1&after=4"), (std::vector<int>{6}));
  EXPECT_EQ(ids("q=%25"), (std::vector<int>{}));  // % is a character, not a wildcard
  EXPECT_EQ(ids("limit=3"), (std::vector<int>{7, 6, 5}));
  EXPECT_EQ(ids("limit=3&before=5"), (std::vector<int>{4, 3, 2}));
  EXPECT_EQ(ids("limit=3&after=2"), (std::vector<int>{5, 4, 3}));
  // The page offers both directions in the middle of the list.
  const Answer middle = Get(port(), "/?before=5&limit=2");
  EXPECT_EQ(middle.status, 200);
  EXPECT_NE(middle.body.find("Newer results"), std::string::npos);
  EXPECT_NE(middle.body.find("Older results"), std::string::npos);
  EXPECT_EQ(Get(port(), "/results.json?limit=501").status, 400);
  EXPECT_EQ(Get(port(), "/?q=" + std::string(101, 'a')).status, 400);
}

TEST_P(SiteTest, JsonAndCsvCarryTheStoredTexts) {
  auto v = Machine(0, 12000);
  v[qvserver::kCpu] = "Intel \"Core\"; i7, 8700K \\ x";
  v[qvserver::kMainboard] = "=HYPERLINK(\"http://x\")";
  const int id = Upload(v);
  const Answer json = Get(port(), "/results.json");
  EXPECT_EQ(json.status, 200);
  EXPECT_NE(json.body.find("\"cpu\":\"Intel \\\"Core\\\"; i7, 8700K \\\\ x\""), std::string::npos)
      << json.body;
  EXPECT_NE(json.body.find("\"id\":" + std::to_string(id) + ","), std::string::npos);
  EXPECT_NE(json.body.find("\"read_mbs\":12000,"), std::string::npos);
  EXPECT_NE(json.body.find("\"page\":\"/result/" + std::to_string(id) + "\""), std::string::npos);

  const Answer csv = Get(port(), "/results.csv");
  EXPECT_EQ(csv.status, 200);
  // Read the CSV back: quoted cells, doubled quotes, CR LF lines.
  std::vector<std::vector<std::string>> table(1);
  std::string cell;
  bool quoted = false;
  for (size_t i = 0; i < csv.body.size(); ++i) {
    const char c = csv.body[i];
    if (quoted) {
      if (c == '"' && i + 1 < csv.body.size() && csv.body[i + 1] == '"') {
        cell += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        cell += c;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      table.back().push_back(cell);
      cell.clear();
    } else if (c == '\r' && i + 1 < csv.body.size() && csv.body[i + 1] == '\n') {
      table.back().push_back(cell);
      cell.clear();
      table.emplace_back();
      ++i;
    } else {
      cell += c;
    }
  }
  table.pop_back();
  ASSERT_EQ(table.size(), 2u);
  ASSERT_EQ(table[0].size(), table[1].size());
  auto column = [&](const std::string& name) {
    const auto at = std::find(table[0].begin(), table[0].end(), name);
    return at == table[0].end() ? std::string("?") : table[1][at - table[0].begin()];
  };
  EXPECT_EQ(column("cpu"), v[qvserver::kCpu]);
  EXPECT_EQ(column("read_mbs"), "12000");
  EXPECT_EQ(column("memory"), v[qvserver::kMemory]);
  // A cell that a spreadsheet would run as a formula is kept as text.
  EXPECT_EQ(column("mainboard"), "'" + v[qvserver::kMainboard]);
}

TEST_P(SiteTest, HostileTextIsTextOnEveryPage) {
  auto v = Machine(0, 12000);
  v[qvserver::kCpu] = kHostile;
  v[qvserver::kMainboard] = kHostile;
  v[qvserver::kMemory] = "16 GB - <b>DDR4</b> - 3200 MHz - Dual<i> Channel";
  v[qvserver::kRam1] = kHostile;
  v[qvserver::kCountry] = "<b>";
  v[qvserver::kVersion] = kHostile;
  const int id = Upload(v);
  const std::string type = "%3Cb%3EDDR4%3C%2Fb%3E", channels = "Dual%3Ci%3E";
  const std::string pages[] = {
      "/",
      "/?q=%3Cscript%3E",
      "/?type=" + type + "&channels=" + channels,
      "/?type=" + type + "&channels=" + channels + "&sort=score",
      "/result/" + std::to_string(id),
      "/kind?type=" + type + "&channels=" + channels,
  };
  for (const std::string& target : pages) {
    const Answer a = Get(port(), target);
    EXPECT_EQ(a.status, 200) << target;
    EXPECT_EQ(a.body.find("<script"), std::string::npos) << target;
    EXPECT_EQ(a.body.find("<b>"), std::string::npos) << target;
    EXPECT_EQ(a.body.find("<i>"), std::string::npos) << target;
  }
  const Answer json = Get(port(), "/results.json");
  EXPECT_EQ(json.body.find('<'), std::string::npos);
  // The kind page draws its charts once there are results.
  const Answer kind = Get(port(), "/kind?type=" + type + "&channels=" + channels);
  EXPECT_NE(kind.body.find("<svg"), std::string::npos);
  EXPECT_NE(kind.body.find("<circle"), std::string::npos);
}

TEST_P(SiteTest, RangesAndRanksAreTheSameAfterARestart) {
  for (int k = 0; k < 22; ++k) Upload(Machine(k, 10000 + 700 * k));
  auto again = Machine(5, 30000);
  again[qvserver::kTime] = "23:59:59";
  Upload(again);
  const std::string compare = Get(port(), "/compare.php?P1=DDR4&&P2=Dual").body;
  const std::string page = Get(port(), "/result/3").body;
  const size_t at = page.find("faster than");
  ASSERT_NE(at, std::string::npos);
  service_.reset();
  service_ = std::make_unique<RunningService>(data_);
  ASSERT_TRUE(service_->started()) << service_->error();
  EXPECT_EQ(Get(port(), "/compare.php?P1=DDR4&&P2=Dual").body, compare);
  EXPECT_EQ(Get(port(), "/result/3").body.substr(at, 60), page.substr(at, 60));
  EXPECT_EQ(service_->store().ResultCount(), 23u);
}

QV_ON_EACH_STORE(SiteTest);
