// The score upload over the wire: both posts byte for byte, the record between them, the order of
// the three requests, and what the user is told when it does not work.
#include "online/upload.h"

#include <gtest/gtest.h>

#include <QWidget>
#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include "core/record.h"
#include "gui/window_shot.h"
#include "online/lookups.h"
#include "platform/file_io.h"
#include "platform/temp_folder.h"
#include "sysinfo/text.h"
#include "tests/support/qt_app.h"
#include "tests/support/recorder.h"
#include "tests/support/sample_record.h"

namespace {

using testing_http::Recorder;

const char* const kGeoReply =
    "{\"geoplugin_request\":\"127.0.0.1\",\"geoplugin_countryCode\":\"DE\",\"geoplugin_countryName\":"
    "\"Germany\"}";

std::string FileName(const std::string& path) { return path.substr(path.find_last_of('/') + 1); }

std::string Head(const std::string& request) { return request.substr(0, request.find("\r\n\r\n") + 4); }
std::string Body(const std::string& request) { return request.substr(request.find("\r\n\r\n") + 4); }

std::string BoundaryOf(const std::string& request) {
  const std::string key = "Content-Type: multipart/form-data; boundary=";
  const size_t at = request.find(key);
  if (at == std::string::npos) return {};
  return request.substr(at + key.size(), request.find("\r\n", at) - at - key.size());
}

// The quoted values of a record file's data line.
std::vector<std::string> DataFields(const std::string& record) {
  const std::vector<std::string> lines = sysinfo::SplitLines(record);
  std::vector<std::string> fields;
  if (lines.size() < 2) return fields;
  const std::string& data = lines[1];
  for (size_t at = 0; at + 1 < data.size();) {
    const size_t close = data.find("\";", at + 1);
    fields.push_back(data.substr(at + 1, close - at - 1));
    at = close + 2;
  }
  return fields;
}

class UploadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window.setFixedSize(405, 405);
    PointAt(server.Base(), server.Base());
    server.SetAnswers({{200, "OK"}, {200, kGeoReply}, {200, "OK"}});
  }
  void TearDown() override {
    unsetenv("QUORVEX_SERVER");
    unsetenv("QUORVEX_GEOLOCATION");
  }

  static void PointAt(const std::string& server, const std::string& geolocation) {
    setenv("QUORVEX_SERVER", server.c_str(), 1);
    setenv("QUORVEX_GEOLOCATION", geolocation.c_str(), 1);
  }

  // The real steps, keeping a copy of each file as it was when it was posted.
  online::SubmissionSteps Steps() {
    online::SubmissionSteps steps;
    steps.makeBaseName = [this](std::string* error) {
      base = online::MakeTempBaseName(error, folder);
      return base;
    };
    steps.saveWindowShot = [this](const std::string& path, std::string* error) {
      const bool ok = gui::SaveWindowShot(&window, path, error);
      platform::ReadWholeFile(path, &pictureBytes);
      return ok;
    };
    steps.writeRecord = [this](const std::string& path, std::string* error) {
      const bool ok = core::WriteResultRecord(
          path, sample::RecordInputs(), [] { return online::LookupCountryCode(); }, error);
      platform::ReadWholeFile(path, &recordBytes);
      return ok;
    };
    return steps;
  }

  core::ShareFacts Facts() const { return {"DDR4", "Dual", 1600.0, "10.39 ", ""}; }

  testing_qt::AppReady app;
  Recorder server;
  QWidget window;
  std::string folder = platform::PrivateFolder();
  std::string base;
  std::string pictureBytes;
  std::string recordBytes;
};

TEST_F(UploadTest, BothPostsAreByteExactAndTheRecordNamesThePicture) {
  // A folder with blanks and non-ASCII letters stands unchanged in the file names.
  folder = platform::PrivateFolder() + "/Temp Folder \xC3\xBC";
  ASSERT_TRUE(platform::MakeFolders(folder));

  const online::SubmissionOutcome outcome = online::SubmitScore(Steps());
  EXPECT_TRUE(outcome.done);
  EXPECT_EQ(outcome.message, "  Score upload done !  ");

  const std::vector<std::string> requests = server.Requests();
  ASSERT_EQ(requests.size(), 3u);
  const std::string picture = base + ".png";
  ASSERT_FALSE(pictureBytes.empty());
  ASSERT_FALSE(recordBytes.empty());

  // The picture first, then the country lookup for the record, then the record.
  struct Post {
    const std::string& request;
    const std::string& path;
    const std::string& bytes;
  };
  for (const Post& post : {Post{requests[0], picture, pictureBytes}, Post{requests[2], base, recordBytes}}) {
    const std::string boundary = BoundaryOf(post.request);
    EXPECT_TRUE(std::regex_match(boundary, std::regex("-{8}(0[1-9]|1[0-2])(0[1-9]|[12][0-9]|3[01])[0-9]{2}"
                                                      "([01][0-9]|2[0-3])[0-5][0-9][0-5][0-9][0-9]{3}")))
        << boundary;
    EXPECT_EQ(boundary.size(), 23u);
    const std::string body =
        "--" + boundary + "\r\n" + "Content-Disposition: form-data; name=\"file\"; filename=\"" + post.path +
        "\"\r\n" + "Content-Type: multipart/form-data\r\n" + "Content-Transfer-Encoding: binary\r\n" +
        "\r\n" + post.bytes + "\r\n" + "--" + boundary + "--\r\n";
    EXPECT_EQ(Head(post.request),
              "POST /upload/upload_new.php HTTP/1.1\r\n"
              "Host: 127.0.0.1:" +
                  std::to_string(server.Port()) +
                  "\r\n"
                  "User-Agent: Mozilla (Windows) Gecko Firefox\r\n"
                  "Accept: text/html, */*\r\n"
                  "Content-Type: multipart/form-data; boundary=" +
                  boundary +
                  "\r\n"
                  "Content-Length: " +
                  std::to_string(body.size()) +
                  "\r\n"
                  "\r\n");
    EXPECT_TRUE(Body(post.request) == body) << "multipart body differs for " << post.path;
  }
  EXPECT_EQ(requests[1].rfind("GET /json.gp HTTP/1.1\r\n", 0), 0u) << Head(requests[1]);

  // The record: a header and one data line, BENIMAGE the picture's name without ".png".
  EXPECT_EQ(recordBytes.rfind("\"DATE\";\"TIME\";", 0), 0u);
  const std::vector<std::string> fields = DataFields(recordBytes);
  ASSERT_EQ(fields.size(), 22u);
  EXPECT_EQ(fields[19], FileName(base));
  EXPECT_EQ(fields[19] + ".png", FileName(picture));
  EXPECT_EQ(fields[18], "DE");
  EXPECT_EQ(fields[15], "10.39");
  EXPECT_TRUE(
      std::regex_match(FileName(base), std::regex("[0-9]{12}_([0-9]|[1-9][0-9]|[1-9][0-9]{2})\\.tmp")))
      << FileName(base);

  // Both temporary files are gone.
  EXPECT_FALSE(platform::FileExists(picture));
  EXPECT_FALSE(platform::FileExists(base));
}

TEST_F(UploadTest, ErrorStatusIsAFailureWithTheStatusAndLeavesNothingBehind) {
  server.SetAnswers({{200, "OK"}, {200, kGeoReply}, {500, "Record refused\x01\r\n<html>trace</html>"}});
  const online::SubmissionOutcome outcome = online::SubmitScore(Steps());
  EXPECT_FALSE(outcome.done);
  EXPECT_NE(outcome.message.find("failed"), std::string::npos) << outcome.message;
  EXPECT_NE(
      outcome.message.find("record was not sent: the server answered with status 500 (Record refused?)"),
      std::string::npos)
      << outcome.message;
  EXPECT_EQ(outcome.message.find("upload done"), std::string::npos);
  EXPECT_EQ(server.Requests().size(), 3u);
  EXPECT_FALSE(platform::FileExists(base));
  EXPECT_FALSE(platform::FileExists(base + ".png"));
}

TEST_F(UploadTest, ChecksComeBeforeTheDialogSystemFirst) {
  std::vector<std::string> told;
  online::UploadDialogs dialogs;
  dialogs.confirm = [](const std::string&) -> bool {
    ADD_FAILURE() << "no confirmation without a system and a score";
    return false;
  };
  dialogs.inform = [&](const std::string& text, bool) { told.push_back(text); };
  core::ShareFacts facts = Facts();
  facts.memoryType = "*";
  facts.scoreCaption = "--.--";
  EXPECT_FALSE(online::RunUpload(facts, "Quorvex\xC2\xB2", dialogs, Steps()));
  facts = Facts();
  facts.channels = " * ";
  EXPECT_FALSE(online::RunUpload(facts, "Quorvex\xC2\xB2", dialogs, Steps()));
  facts = Facts();
  facts.memoryClock = 0;
  EXPECT_FALSE(online::RunUpload(facts, "Quorvex\xC2\xB2", dialogs, Steps()));
  facts = Facts();
  facts.scoreCaption = "--.--";
  EXPECT_FALSE(online::RunUpload(facts, "Quorvex\xC2\xB2", dialogs, Steps()));
  const std::string noSpec = " Cannot upload, no system spec\xC2\xB4s ! ";
  EXPECT_EQ(told, (std::vector<std::string>{noSpec, noSpec, noSpec, " No score to upload ! "}));
  EXPECT_TRUE(server.Requests().empty());
}

TEST(UploadText, ExtendedTitleStandsWholeInTheFirstLine) {
  const std::string text = online::UploadConfirmationText("Quorvex\xC2\xB2 [New version available]");
  EXPECT_EQ(text.substr(0, text.find("\r\n")),
            " Welcome to \" Quorvex\xC2\xB2 [New version available] \" score *submit.");
}

TEST(UploadText, BoundaryIsMonthDayYearTimeAndMilliseconds) {
  std::tm t{};
  t.tm_year = 2026 - 1900;
  t.tm_mon = 2;  // March
  t.tm_mday = 14;
  t.tm_hour = 21;
  t.tm_min = 7;
  t.tm_sec = 5;
  EXPECT_EQ(online::MultipartBoundary(t, 42), "--------031426210705042");
}

TEST(UploadText, BaseNameLivesInThePrivateFolder) {
  std::string error;
  const std::string name = online::MakeTempBaseName(&error);
  ASSERT_FALSE(name.empty()) << error;
  EXPECT_EQ(name.substr(0, name.find_last_of('/')), platform::PrivateFolder());
  EXPECT_FALSE(platform::FileExists(name));
}

}  // namespace

TEST(UploadAnswer, TheRecordPostsAnswerNamesTheResultPage) {
  EXPECT_EQ(online::ResultAddress("http://h:8080/", "OK result 12 stored with its picture"),
            "http://h:8080/result/12");
  EXPECT_EQ(online::ResultAddress("http://h", "OK result 7 was stored before without a picture"),
            "http://h/result/7");
  EXPECT_EQ(online::ResultAddress("http://h", "OK picture stored for result 7"), "");
  EXPECT_EQ(online::ResultAddress("http://h", "OK result 12x stored"), "");
  EXPECT_EQ(online::ResultAddress("http://h", "OK result "), "");
  EXPECT_EQ(online::ResultAddress("http://h", ""), "");
}
