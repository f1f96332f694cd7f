// Two servers on one PostgreSQL database and one picture folder, as behind nginx's upstream: what
// one stores, the other answers alike, and the per-network limits count both servers' uploads.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <regex>
#include <thread>

#include "server_fixtures.h"

using namespace qvtest;
namespace fs = std::filesystem;

namespace {

class TwoServers : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!TestDatabase::Server()) GTEST_SKIP() << "no PostgreSQL server: set QUORVEX_TEST_POSTGRES";
    database_.emplace();
    ASSERT_TRUE(database_->ok()) << database_->error();
    StoreUnderTest() = database_->connection();
  }
  void Start(const std::function<void(qvserver::ServiceOptions&)>& adjust = {}) {
    data_ = FreshFolder("instances");
    a_ = std::make_unique<RunningService>(data_, "3.0.24.109", adjust);
    ASSERT_TRUE(a_->started()) << a_->error();
    b_ = std::make_unique<RunningService>(data_, "3.0.24.109", adjust);
    ASSERT_TRUE(b_->started()) << b_->error();
  }
  void TearDown() override {
    a_.reset();
    b_.reset();
    StoreUnderTest().clear();
    if (!data_.empty()) fs::remove_all(data_);
  }
  // What both servers answer once the second has caught up (within its refresh, well under 5 s).
  void ExpectSame(const std::string& target) {
    Answer fromA, fromB;
    for (int i = 0; i < 100; ++i) {
      fromA = Get(a_->port(), target);
      fromB = Get(b_->port(), target);
      if (fromA.status == fromB.status && fromA.body == fromB.body) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_EQ(fromA.status, 200) << target;
    EXPECT_EQ(fromA.body, fromB.body) << target;
  }

  std::optional<TestDatabase> database_;
  std::string data_;
  std::unique_ptr<RunningService> a_, b_;
};

Values Machine(int n, long long bw) {
  auto v = ProgramValues();
  char hash[33];
  std::snprintf(hash, sizeof hash, "%032X", n + 1);
  v[qvserver::kIdHash] = hash;
  v[qvserver::kBenImage] = "m" + std::to_string(n) + ".tmp";
  v[qvserver::kRead] = v[qvserver::kWrite] = v[qvserver::kCopy] = std::to_string(bw);
  char score[32];
  std::snprintf(score, sizeof score, "%.2f", static_cast<double>(bw) / 1000.0);
  v[qvserver::kResult] = score;
  return v;
}

}  // namespace

TEST_F(TwoServers, WhatOneStoresTheOtherAnswersAlike) {
  Start();
  const std::string shipped = Get(b_->port(), "/compare.php?P1=DDR4&&P2=Dual").body;
  int last = 0;
  for (int i = 0; i < 25; ++i) {
    const Values v = Machine(i, 12000 + 400 * i);
    const std::string from = NetworkAddress(i);
    ASSERT_EQ(PostFile(a_->port(), "C:\\Temp\\" + v[qvserver::kBenImage] + ".png", MakePng(), from).status,
              200);
    const Answer a = PostFile(a_->port(), "C:\\Temp\\" + v[qvserver::kBenImage], RecordFile(v), from);
    ASSERT_EQ(a.status, 200) << a.body;
    last = std::atoi(a.body.c_str() + 10);
  }
  // Twenty-five networks: the ranges come from the results now, on both servers.
  ExpectSame("/compare.php?P1=DDR4&&P2=Dual");
  EXPECT_NE(Get(b_->port(), "/compare.php?P1=DDR4&&P2=Dual").body, shipped);
  ExpectSame("/result/" + std::to_string(last));
  EXPECT_NE(Get(b_->port(), "/result/" + std::to_string(last)).body.find("faster than"), std::string::npos);
  ExpectSame("/?type=DDR4&channels=Dual&sort=score");
  ExpectSame("/kind?type=DDR4&channels=Dual");
  ExpectSame("/");
  ExpectSame("/results.json?q=Intel");
  EXPECT_EQ(b_->store().ResultCount(), 25u);
  // The picture one server wrote, the other serves from the shared folder.
  const auto row = b_->store().Result(last);
  ASSERT_TRUE(row && row->picture);
  EXPECT_EQ(Get(b_->port(), "/pictures/" + *row->picture).status, 200);

  // A later result of a machine from its own network replaces its vote, whichever server takes it.
  Values again = Machine(24, 30000);
  again[qvserver::kTime] = "22:00:00";
  ASSERT_EQ(PostFile(b_->port(), "C:\\Temp\\x.tmp", RecordFile(again), NetworkAddress(24)).status, 200);
  ExpectSame("/?type=DDR4&channels=Dual&sort=score");
  EXPECT_NE(Get(a_->port(), "/?type=DDR4&channels=Dual&sort=score").body.find("30000"), std::string::npos);
  EXPECT_EQ(a_->store().Kinds().at(0).machines, 25u);
}

TEST_F(TwoServers, EachNetworksLimitsCountBothServers) {
  Start([](qvserver::ServiceOptions& o) {
    o.limits.uploadBurst = 4;
    o.limits.uploadRefillSeconds = 3600;
    o.limits.maxWaitingPerNetwork = 3;
  });
  const std::string from = NetworkAddress(7);
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(PostFile((i % 2 ? b_ : a_)->port(), "C:\\T\\r.tmp", RecordFile(Machine(i, 12000)), from).status,
              200);
  EXPECT_EQ(PostFile(a_->port(), "C:\\T\\r.tmp", RecordFile(Machine(8, 12000)), from).status, 429);
  EXPECT_EQ(PostFile(b_->port(), "C:\\T\\r.tmp", RecordFile(Machine(9, 12000)), from).status, 429);
  // Another network still has its own allowance.
  EXPECT_EQ(PostFile(b_->port(), "C:\\T\\r.tmp", RecordFile(Machine(10, 12000)), NetworkAddress(8)).status,
            200);

  const std::string png = MakePng(), other = NetworkAddress(9);
  EXPECT_EQ(PostFile(a_->port(), "C:\\T\\a.png", png, other).status, 200);
  EXPECT_EQ(PostFile(b_->port(), "C:\\T\\b.png", png, other).status, 200);
  EXPECT_EQ(PostFile(a_->port(), "C:\\T\\c.png", png, other).status, 200);
  EXPECT_EQ(PostFile(b_->port(), "C:\\T\\d.png", png, other).status, 429);
}
