// The quick compare's request as it goes out to the program's web server.
#include "online/compare_fetch.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "core/compare_model.h"
#include "online/rank_fetch.h"
#include "tests/support/recorder.h"

namespace {

TEST(CompareFetch, RequestGoesOutWithTheCompareClientSettings) {
  testing_http::Recorder server;
  server.SetAnswers({{200, "30<BR />60<BR />1500<BR />2400<BR />40<BR />90"}, {404, "gone"}});
  setenv("QUORVEX_SERVER", server.Base().c_str(), 1);
  const online::FetchReply first =
      online::FetchFromServer(core::CompareRequestTarget("DDR3 (PC3-10600)", "Dual"));
  const online::FetchReply second = online::FetchFromServer("/compare.php?P1=X&&P2=Y");
  unsetenv("QUORVEX_SERVER");
  EXPECT_TRUE(first.ok);
  EXPECT_EQ(first.body, "30<BR />60<BR />1500<BR />2400<BR />40<BR />90");
  EXPECT_FALSE(second.ok);
  EXPECT_NE(second.error.find("404"), std::string::npos) << second.error;
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].substr(0, requests[0].find("\r\n")), "GET /compare.php?P1=DDR3%20&&P2=Dual HTTP/1.1");
  EXPECT_NE(requests[0].find("\r\nUser-Agent: Mozilla/4.0 (compatible; MSIE 5.5; Windows 98)\r\n"),
            std::string::npos);
  EXPECT_NE(requests[0].find("\r\nAccept: text/html, */*\r\n"), std::string::npos);
  EXPECT_EQ(requests[0].find("Cookie"), std::string::npos);
}

TEST(CompareRank, TheAnswerIsReadOnlyWithAPercentAndAText) {
  const online::RankReply known = online::RankFromReply(
      200,
      R"({"type":"DDR4","channels":"Dual","kind":"DDR4 dual-channel","score":27.5,"floor":20,"percent":73,)"
      R"("voices":41,"text":"faster than 73 % of DDR4 dual-channel results"})");
  EXPECT_TRUE(known.ok);
  EXPECT_EQ(known.percent, 73);
  EXPECT_EQ(known.text, "faster than 73 % of DDR4 dual-channel results");
  const online::RankReply few = online::RankFromReply(
      404, R"({"percent":null,"voices":3,"error":"too few DDR4 dual-channel results for a rank"})");
  EXPECT_FALSE(few.ok);
  EXPECT_EQ(few.error, "too few DDR4 dual-channel results for a rank");
  EXPECT_FALSE(online::RankFromReply(400, R"({"error":"a rank needs type"})").ok);
  EXPECT_FALSE(online::RankFromReply(200, "<html>gateway</html>").ok);
  EXPECT_FALSE(online::RankFromReply(200, R"({"percent":"73","text":"x"})").ok);
  EXPECT_FALSE(online::RankFromReply(200, R"([1,2])").ok);

  // The type without its parenthesised part and trimmed, the score as the site reads numbers.
  EXPECT_EQ(online::RankRequestTarget("DDR3 (PC3-10600)", "Dual", 27.5),
            "/rank.json?type=DDR3&channels=Dual&score=27.50");
  EXPECT_EQ(online::RankRequestTarget("DDR&4", "a b", 9.999),
            "/rank.json?type=DDR%264&channels=a%20b&score=10.00");
  EXPECT_EQ(online::RankRequestTarget("DDR4", "Dual", 0), "");
}

TEST(CompareFetch, RankGoesOutWithTheSameSettingsAndAFailureIsNoRank) {
  testing_http::Recorder server;
  server.SetAnswers({{200, R"({"percent":73,"text":"faster than 73 % of DDR4 dual-channel results"})"},
                     {404, R"({"percent":null,"error":"too few"})"}});
  setenv("QUORVEX_SERVER", server.Base().c_str(), 1);
  const online::RankReply first = online::FetchRank("/rank.json?type=DDR4&channels=Dual&score=27.50");
  const online::RankReply second = online::FetchRank("/rank.json?type=DDR4&channels=Dual&score=1.00");
  setenv("QUORVEX_SERVER", "http://127.0.0.1:1", 1);  // nothing listens there
  const online::RankReply third = online::FetchRank("/rank.json?type=DDR4&channels=Dual&score=1.00");
  unsetenv("QUORVEX_SERVER");
  EXPECT_TRUE(first.ok);
  EXPECT_EQ(first.text, "faster than 73 % of DDR4 dual-channel results");
  EXPECT_FALSE(second.ok);
  EXPECT_EQ(second.error, "too few");
  EXPECT_FALSE(third.ok);
  EXPECT_FALSE(third.error.empty());
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].substr(0, requests[0].find("\r\n")),
            "GET /rank.json?type=DDR4&channels=Dual&score=27.50 HTTP/1.1");
  EXPECT_NE(requests[0].find("\r\nUser-Agent: Mozilla/4.0 (compatible; MSIE 5.5; Windows 98)\r\n"),
            std::string::npos);
}

}  // namespace
