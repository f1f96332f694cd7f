// The results site as a visitor sees it: a page per result with its rank, the kind pages, the
// lists and their downloads, and hostile text shown as text everywhere.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <regex>

#include "server/page.h"
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
  auto v = Machine(0, 12000, "16 GB - DDR4 - 3201 MHz - Dual Channel");
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
  // The uploader's temporary file name stays off the page; the record's 3201 MHz is labelled by
  // its grade, and the figure itself is kept.
  EXPECT_EQ(page.body.find("m0.tmp"), std::string::npos);
  EXPECT_NE(page.body.find(">DDR4-3200</span> dual-channel"), std::string::npos);
  EXPECT_NE(page.body.find("The record says 3201 MHz"), std::string::npos);
  EXPECT_NE(page.body.find("16 GB - DDR4 - 3201 MHz - Dual Channel"), std::string::npos);
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

TEST_P(SiteTest, ARankingWithoutAKindRanksTheCommonestKindThatFits) {
  // An empty site has nothing to rank, and says so on a page.
  const Answer empty = Get(port(), "/?sort=score");
  EXPECT_EQ(empty.status, 200);
  EXPECT_NE(empty.body.find("No results to show"), std::string::npos);
  for (int k = 0; k < 3; ++k) Upload(Machine(k, 12000 + 1000 * k));
  const int ddr5 = Upload(Machine(10, 40000, "32 GB - DDR5 - 6001 MHz - Dual Channel"));
  const int single = Upload(Machine(11, 9000, "8 GB - DDR4 - 3201 MHz - Single Channel"));
  const Answer any = Get(port(), "/?type=&channels=&sort=score");
  ASSERT_EQ(any.status, 200);
  EXPECT_NE(any.body.find("DDR4 dual-channel machines ranked by score"), std::string::npos);
  EXPECT_NE(any.body.find("so it shows the kind with the most results that fits"), std::string::npos);
  EXPECT_EQ(any.body.find("href=\"/result/" + std::to_string(ddr5) + "\""), std::string::npos);
  EXPECT_NE(any.body.find("href=\"/result/3\""), std::string::npos);
  // What was chosen narrows the pick: the type alone, or the channels alone.
  const Answer type = Get(port(), "/?type=DDR5&sort=score");
  EXPECT_NE(type.body.find("href=\"/result/" + std::to_string(ddr5) + "\""), std::string::npos);
  const Answer channels = Get(port(), "/?channels=Single&sort=read");
  EXPECT_NE(channels.body.find("DDR4 single-channel machines ranked by read"), std::string::npos);
  EXPECT_NE(channels.body.find("href=\"/result/" + std::to_string(single) + "\""), std::string::npos);
  // A download says exactly what it lists: no kind is picked for it.
  EXPECT_EQ(Get(port(), "/results.json?sort=score").status, 400);
}

TEST_P(SiteTest, RefusedPagesArePagesAndEverythingElseKeepsItsLine) {
  for (const char* target : {"/no/such/page", "/result/999", "/result/abc", "/kind?type=DDR4", "/?before=abc",
                             "/?type=DDR4&channels=Dual&sort=fastest"}) {
    const Answer a = Get(port(), target);
    EXPECT_GE(a.status, 400) << target;
    EXPECT_EQ(a.body.rfind("<!DOCTYPE html>", 0), 0u) << target << ": " << a.body;
    EXPECT_NE(a.body.find("href=\"/style.css\""), std::string::npos) << target;
    EXPECT_NE(a.body.find("href=\"/\""), std::string::npos) << target;
  }
  // The reason is shown as text.
  EXPECT_NE(Get(port(), "/?q=" + std::string(101, '<')).body.find("search text longer than 100"),
            std::string::npos);
  // What programs and scripts read stays one line of text.
  for (const char* target : {"/results.json?limit=501", "/results.csv?sort=up", "/compare.php?P1=DDR4",
                             "/pictures/00000000000000000000000000000000.png"}) {
    const Answer a = Get(port(), target);
    EXPECT_GE(a.status, 400) << target;
    ASSERT_FALSE(a.body.empty()) << target;
    EXPECT_EQ(a.body.find('<'), std::string::npos) << target;
    EXPECT_EQ(a.body.find('\n'), a.body.size() - 1) << target;
  }
  const Answer post = PostRaw(port(), "x", "text/plain");
  EXPECT_EQ(post.status, 400);
  EXPECT_EQ(post.body.find('<'), std::string::npos);
}

TEST_P(SiteTest, TheRankAddressPlacesAScoreAmongTheKindsNetworks) {
  // Machine k scores 10 + k GByte/s, each from a network of its own.
  for (int k = 0; k < 24; ++k) Upload(Machine(k, 10000 + 1000 * k));
  for (int k = 30; k < 40; ++k) Upload(Machine(k, 30000, "16 GB - DDR4 - 3201 MHz - Single Channel"));
  const std::string stranger = NetworkAddress(59000);
  // 21.5 beats 10 to 21: 12 of the 24 networks.
  const Answer half = Get(port(), "/rank.json?type=DDR4&channels=Dual&score=21.5", stranger);
  EXPECT_EQ(half.status, 200);
  EXPECT_EQ(
      half.body,
      "{\"type\":\"DDR4\",\"channels\":\"Dual\",\"kind\":\"DDR4 dual-channel\",\"score\":21.5,\"floor\":20,"
      "\"percent\":50,\"voices\":24,\"text\":\"faster than 50 % of DDR4 dual-channel results\"}\n");
  // Kinds match as everywhere else; the asker's own network is no rival.
  const Answer own = Get(port(), "/rank.json?type=ddr4&channels=dual&score=21.5", From(Machine(0, 0)));
  EXPECT_NE(own.body.find("\"type\":\"DDR4\",\"channels\":\"Dual\""), std::string::npos) << own.body;
  EXPECT_NE(own.body.find("\"percent\":47,\"voices\":23,"), std::string::npos) << own.body;
  EXPECT_NE(
      Get(port(), "/rank.json?type=DDR4&channels=Dual&score=99", stranger).body.find("\"percent\":100,"),
      std::string::npos);
  EXPECT_NE(Get(port(), "/rank.json?type=DDR4&channels=Dual&score=1", stranger).body.find("\"percent\":0,"),
            std::string::npos);
  // Below the floor of sending networks there is no rank, and the answer says why.
  const Answer few = Get(port(), "/rank.json?type=DDR4&channels=Single&score=31", stranger);
  EXPECT_EQ(few.status, 404);
  EXPECT_NE(
      few.body.find("\"percent\":null,\"voices\":10,\"error\":\"too few DDR4 single-channel results for a "
                    "rank: 10 sending networks, it takes 20\""),
      std::string::npos)
      << few.body;
  const Answer none = Get(port(), "/rank.json?type=DDR3&channels=Dual&score=12");
  EXPECT_EQ(none.status, 404);
  EXPECT_NE(none.body.find("\"voices\":0,"), std::string::npos);
  for (const std::string& query : std::vector<std::string>{
           "type=DDR4&channels=Dual", "type=DDR4&channels=Dual&score=abc", "type=DDR4&channels=Dual&score=-3",
           "type=DDR4&channels=Dual&score=1e3", "type=DDR4&channels=Dual&score=1.2.3",
           "type=DDR4&channels=Dual&score=0", "type=DDR4&channels=Dual&score=20000", "channels=Dual&score=20",
           "type=DDR4&channels=" + std::string(200, 'x') + "&score=20"}) {
    const Answer bad = Get(port(), "/rank.json?" + query);
    EXPECT_EQ(bad.status, 400) << query;
    EXPECT_EQ(bad.body.rfind("{\"error\":", 0), 0u) << query << ": " << bad.body;
  }
}

TEST_P(SiteTest, KindChartsUseRoundTicksAndKeepPointsOffTheAxes) {
  // Few networks, all at one clock: the charts once read "0, 0, 1, 2, 2" and put every point on the y axis.
  for (int k = 0; k < 5; ++k) Upload(Machine(k, 26000 + 400 * k, "16 GB - DDR4 - 3201 MHz - Dual Channel"));
  const Answer kind = Get(port(), "/kind?type=DDR4&channels=Dual");
  ASSERT_EQ(kind.status, 200);
  // The histogram counts networks: whole counts, each once, from 0.
  const size_t from = kind.body.find("<svg"), to = kind.body.find("</svg>");
  ASSERT_LT(from, to);
  const std::string histogram = kind.body.substr(from, to - from);
  std::vector<std::string> yLabels;
  const std::regex label("text-anchor=\"end\">([^<]*)</text>");
  for (std::sregex_iterator it(histogram.begin(), histogram.end(), label), end; it != end; ++it)
    yLabels.push_back((*it)[1]);
  ASSERT_GE(yLabels.size(), 3u);
  EXPECT_EQ(yLabels[0], "0");
  for (size_t i = 1; i < yLabels.size(); ++i) {
    EXPECT_EQ(yLabels[i].find('.'), std::string::npos) << yLabels[i];
    EXPECT_EQ(std::stoi(yLabels[i]), std::stoi(yLabels[i - 1]) + 1) << yLabels[i];
  }
  const std::regex dot("<circle class=\"dot\" cx=\"([0-9.]+)\"");
  int dots = 0;
  for (std::sregex_iterator it(kind.body.begin(), kind.body.end(), dot), end; it != end; ++it, ++dots) {
    EXPECT_GT(std::stod((*it)[1]), 60.0);
    EXPECT_LT(std::stod((*it)[1]), 620.0);
  }
  EXPECT_EQ(dots, 5);
  // The quick compare's ranges are drawn on both charts.
  size_t bands = 0;
  for (size_t at = kind.body.find("class=\"band\""); at != std::string::npos;
       at = kind.body.find("class=\"band\"", at + 1))
    ++bands;
  EXPECT_EQ(bands, 3u);
  EXPECT_NE(kind.body.find("DDR4-3200 kit reads 3201 MHz"), std::string::npos);
}

TEST(SpeedGrade, NamesTheJedecGradeBehindTheProgramsClockFigure) {
  EXPECT_EQ(qvserver::SpeedGrade("DDR4", 3201), "DDR4-3200");
  EXPECT_EQ(qvserver::SpeedGrade("ddr4", 2668), "DDR4-2666");  // 1333.3 MHz read
  EXPECT_EQ(qvserver::SpeedGrade("DDR3", 1334), "DDR3-1333");
  EXPECT_EQ(qvserver::SpeedGrade("DDR5", 4801), "DDR5-4800");
  EXPECT_EQ(qvserver::SpeedGrade("DDR2", 801), "DDR2-800");
  EXPECT_EQ(qvserver::SpeedGrade("DDR4", 3194), "DDR4-3200");  // a clock a little under its grade
  EXPECT_EQ(qvserver::SpeedGrade("DDR4", 3601), "");           // no JEDEC grade: the figure stands
  EXPECT_EQ(qvserver::SpeedGrade("LPDDR4", 3201), "");
  EXPECT_EQ(qvserver::SpeedGrade("DDR4", 0), "");
}
QV_ON_EACH_STORE(SiteTest);
