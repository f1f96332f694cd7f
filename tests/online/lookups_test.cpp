#include "online/lookups.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <mutex>

#include "core/record.h"
#include "online/http_client.h"
#include "platform/file_io.h"
#include "platform/temp_folder.h"
#include "tests/online/local_server.h"

namespace {

using testing_http::DeadBase;
using testing_http::LocalServer;

std::string GeoReply(const std::string& code) {
  return "{\n  \"geoplugin_request\":\"203.0.113.7\",\n  \"geoplugin_status\":200,\n"
         "  \"geoplugin_city\":\"Berlin\",\n  \"geoplugin_countryCode\":\"" +
         code + "\",\n  \"geoplugin_countryName\":\"Somewhere\"\n}";
}

// --- Version check ---

struct VersionCase {
  const char* reply;
  int status;
  bool same;
};

class VersionCheck : public ::testing::TestWithParam<VersionCase> {};

TEST_P(VersionCheck, MarksOnlyAnotherVersionNamedWithSuccess) {
  const VersionCase c = GetParam();
  LocalServer server;
  server.Routes().Get("/version.php", [&](const httplib::Request&, httplib::Response& res) {
    res.status = c.status;
    res.set_content(c.reply, "text/html");
  });
  const std::string base = server.Start();
  EXPECT_EQ(online::CheckServerVersion(base, "3.0.24.109"), c.same) << "reply [" << c.reply << "]";
}

INSTANTIATE_TEST_SUITE_P(Replies, VersionCheck,
                         ::testing::Values(VersionCase{"3.0.24.109", 200, true},
                                           VersionCase{"  3.0.24.109\r\n", 200, true},    // blanks and breaks
                                           VersionCase{"3.0.24.110", 200, false},         // a higher build
                                           VersionCase{"3.0.24.108", 200, false},         // a lower build
                                           VersionCase{"<html>oops</html>", 200, false},  // any other text
                                           VersionCase{"", 200, true},                    // nothing said
                                           VersionCase{"3.0.24.110", 500, true},          // error status
                                           VersionCase{"3.0.24.110", 404, true}));

TEST(VersionCheckFailures, NoServerLeavesTheTitleAlone) {
  EXPECT_TRUE(online::CheckServerVersion(DeadBase(), "3.0.24.109"));
}

TEST(VersionCheckFailures, SendsTheCheckersHeaders) {
  LocalServer server;
  std::mutex m;
  httplib::Headers seen;
  server.Routes().Get("/version.php", [&](const httplib::Request& req, httplib::Response& res) {
    std::lock_guard<std::mutex> lock(m);
    seen = req.headers;
    res.set_content("3.0.24.109", "text/html");
  });
  EXPECT_TRUE(online::CheckServerVersion(server.Start(), "3.0.24.109"));
  std::lock_guard<std::mutex> lock(m);
  ASSERT_EQ(seen.count("User-Agent"), 1u);
  EXPECT_EQ(seen.find("User-Agent")->second, "Mozilla/4.0 (compatible; MSIE 5.5; Windows 98)");
  EXPECT_EQ(seen.find("Accept")->second, "text/html, */*");
  EXPECT_EQ(seen.count("Cookie"), 0u);
}

// --- Country lookup ---

TEST(CountryCodeFromReply, ReadsTheCodeAsTheServiceLaysItOut) {
  EXPECT_EQ(online::CountryCodeFromReply(GeoReply("de")), "DE");
  EXPECT_EQ(online::CountryCodeFromReply(GeoReply("USA")), "USA");
  EXPECT_EQ(online::CountryCodeFromReply(GeoReply("ABCD")), "--");
  EXPECT_EQ(online::CountryCodeFromReply(""), "");
  // The key is matched in any letter case.
  EXPECT_EQ(online::CountryCodeFromReply("{\"GEOPLUGIN_COUNTRYCODE\":\"fr\",\"x\":1}"), "FR");
  // Without the key the characters from position 24 are read; a long rest becomes "--".
  EXPECT_EQ(online::CountryCodeFromReply("{\"geoplugin_status\":404,\"other\":\"value\"}"), "--");
  EXPECT_EQ(online::CountryCodeFromReply("short"), "");
}

TEST(CountryLookup, AsksTheServiceWithTheLookupsHeaders) {
  LocalServer server;
  std::mutex m;
  httplib::Headers seen;
  server.Routes().Get("/json.gp", [&](const httplib::Request& req, httplib::Response& res) {
    std::lock_guard<std::mutex> lock(m);
    seen = req.headers;
    res.set_content(GeoReply("nl"), "application/json");
  });
  EXPECT_EQ(online::LookupCountryCode(server.Start()), "NL");
  std::lock_guard<std::mutex> lock(m);
  EXPECT_EQ(seen.find("User-Agent")->second, "Mozilla/3.0 (compatible; Indy Library)");
  EXPECT_EQ(seen.find("Accept")->second, "text/html, */*");
}

TEST(CountryLookup, RepliesOfEveryLength) {
  for (const auto& [code, expected] :
       std::vector<std::pair<std::string, std::string>>{{"de", "DE"}, {"ABCD", "--"}, {"", ""}}) {
    LocalServer server;
    const std::string body = code.empty() ? std::string() : GeoReply(code);
    server.Routes().Get("/json.gp", [&](const httplib::Request&, httplib::Response& res) {
      res.set_content(body, "text/html");
    });
    EXPECT_EQ(online::LookupCountryCode(server.Start()), expected) << "code [" << code << "]";
  }
}

TEST(CountryLookup, AFailedLookupIsUnknownCountry) {
  EXPECT_EQ(online::LookupCountryCode(DeadBase()), "--");

  LocalServer server;
  server.Routes().Get("/json.gp", [](const httplib::Request&, httplib::Response& res) {
    res.status = 503;
    res.set_content(GeoReply("de"), "text/html");
  });
  EXPECT_EQ(online::LookupCountryCode(server.Start()), "--");
}

TEST(CountryLookup, AStalledServiceEndsAtTheReadLimit) {
  LocalServer server;
  server.Routes().Get("/json.gp", [](const httplib::Request&, httplib::Response& res) {
    // Longer than the lookup's read limit: a lookup without one would get DE.
    std::this_thread::sleep_for(std::chrono::milliseconds(online::kCountryLookupReadLimitMs + 2500));
    res.set_content(GeoReply("de"), "text/html");
  });
  EXPECT_EQ(online::LookupCountryCode(server.Start()), "--");
}

TEST(CountryLookup, AFailedLookupStillWritesTheRecord) {
  const std::string folder = platform::PrivateFolder() + "/record-test";
  ASSERT_TRUE(platform::MakeFolders(folder));
  const std::string path = folder + "/Quorvex2_LOG.csv";
  core::RecordInputs inputs;
  inputs.readCaption = "READ  13847  MByte/s";
  inputs.scoreCaption = "10.39 ";
  const std::string dead = DeadBase();
  std::string error;
  ASSERT_TRUE(core::WriteResultRecord(
      path, inputs, [&] { return online::LookupCountryCode(dead); }, &error))
      << error;
  std::string bytes;
  ASSERT_TRUE(platform::ReadWholeFile(path, &bytes));
  EXPECT_NE(bytes.find("\"13847\";"), std::string::npos);
  EXPECT_NE(bytes.find("\"--\";\"Quorvex2_LOG.csv\";"), std::string::npos) << bytes;
  std::filesystem::remove_all(folder);
}

// --- The client itself ---

TEST(HttpClient, PostsTheBodyAsGivenWithExactHeaders) {
  LocalServer server;
  std::mutex m;
  std::string body;
  httplib::Headers seen;
  server.Routes().Post("/upload/upload_new.php", [&](const httplib::Request& req, httplib::Response& res) {
    std::lock_guard<std::mutex> lock(m);
    body = req.body;
    seen = req.headers;
    res.set_content("OK", "text/html");
  });
  const std::string base = server.Start();
  std::string payload(5000, 'x');  // large enough that libcurl would ask for 100-continue
  payload[0] = '\0';
  online::HttpOptions options;
  options.userAgent = "Agent/1";
  options.headers = {"Content-Type: application/x-quorvex-test"};
  const online::HttpResponse r =
      online::HttpPost(online::JoinUrl(base, "upload/upload_new.php"), payload, options);
  ASSERT_TRUE(r.Succeeded()) << r.error << " status " << r.status;
  EXPECT_EQ(r.body, "OK");
  std::lock_guard<std::mutex> lock(m);
  EXPECT_EQ(body, payload);
  EXPECT_EQ(seen.count("Expect"), 0u);
  EXPECT_EQ(seen.find("Content-Type")->second, "application/x-quorvex-test");
  EXPECT_EQ(seen.find("User-Agent")->second, "Agent/1");
}

TEST(HttpClient, ReportsStatusesWithoutFollowingRedirects) {
  LocalServer server;
  std::atomic<int> targetHits{0};
  server.Routes().Get("/moved", [](const httplib::Request&, httplib::Response& res) {
    res.status = 302;
    res.set_header("Location", "/target");
  });
  server.Routes().Get("/target", [&](const httplib::Request&, httplib::Response& res) {
    ++targetHits;
    res.set_content("here", "text/plain");
  });
  const std::string base = server.Start();
  const online::HttpResponse r = online::HttpGet(base + "/moved", {});
  EXPECT_TRUE(r.completed);
  EXPECT_EQ(r.status, 302);
  EXPECT_FALSE(r.Succeeded());
  EXPECT_EQ(targetHits.load(), 0);

  const online::HttpResponse missing = online::HttpGet(base + "/nothing", {});
  EXPECT_TRUE(missing.completed);
  EXPECT_EQ(missing.status, 404);
}

TEST(HttpClient, NoConnectionGivesAClearError) {
  const std::string dead = DeadBase();
  const online::HttpResponse r = online::HttpGet(dead + "/version.php", {});
  EXPECT_FALSE(r.completed);
  EXPECT_NE(r.error.find("cannot connect to " + dead + "/version.php"), std::string::npos) << r.error;
}

TEST(HttpClient, BaseAddressesComeFromTheEnvironment) {
  ::setenv("QUORVEX_SERVER", "http://example.test:8080/", 1);
  ::unsetenv("QUORVEX_GEOLOCATION");
  EXPECT_EQ(online::ServerBase(), "http://example.test:8080");
  EXPECT_EQ(online::GeolocationBase(), "http://www.geoplugin.net");
  ::unsetenv("QUORVEX_SERVER");
  EXPECT_EQ(online::ServerBase(), QUORVEX_DEFAULT_SERVER);
  EXPECT_EQ(online::JoinUrl("http://a/", "/b"), "http://a/b");
}

}  // namespace
