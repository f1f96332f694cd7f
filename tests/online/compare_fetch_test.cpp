// The quick compare's request as it goes out to the program's web server.
#include "online/compare_fetch.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "core/compare_model.h"
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

}  // namespace
