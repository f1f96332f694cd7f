// The program's own client code against the server: the upload with its real picture and
// record writer, the version check and the quick compare's reading of the answer.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <cstdlib>
#include <filesystem>

#include "core/compare_model.h"
#include "core/record.h"
#include "gui/compare.h"
#include "gui/window_shot.h"
#include "online/lookups.h"
#include "online/upload.h"
#include "server_fixtures.h"
#include "tests/support/sample_record.h"

using namespace qvtest;
namespace fs = std::filesystem;

namespace {

class ProgramAgainstServer : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    static char name[] = "server_program_test";
    static char* argv[] = {name, nullptr};
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    if (!QApplication::instance()) app_ = new QApplication(argc, argv);
  }
  void SetUp() override {
    data_ = FreshFolder("program");
    service_ = std::make_unique<RunningService>(data_, "3.0.24.109");
    ASSERT_TRUE(service_->started()) << service_->error();
    base_ = "http://127.0.0.1:" + std::to_string(service_->port());
    setenv("QUORVEX_SERVER", base_.c_str(), 1);
  }
  void TearDown() override {
    service_.reset();
    fs::remove_all(data_);
  }

  static QApplication* app_;
  std::string data_, base_;
  std::unique_ptr<RunningService> service_;
};

QApplication* ProgramAgainstServer::app_ = nullptr;

}  // namespace

TEST_F(ProgramAgainstServer, UploadStoresRecordAndPictureLinked) {
  QLabel window("Quorvex\xC2\xB2 under test");
  window.resize(420, 300);
  window.show();

  online::SubmissionSteps steps;
  steps.saveWindowShot = [&](const std::string& path, std::string* error) {
    return gui::SaveWindowShot(&window, path, error);
  };
  steps.writeRecord = [](const std::string& path, std::string* error) {
    return core::WriteResultRecord(
        path, sample::RecordInputs(), [] { return std::string("DE"); }, error);
  };
  const online::SubmissionOutcome outcome = online::SubmitScore(steps);
  EXPECT_TRUE(outcome.done) << outcome.message;
  // The program learns where its result is, and that page is there.
  EXPECT_EQ(outcome.resultAddress, base_ + "/result/1");
  const Answer page = Get(service_->port(), "/result/1");
  EXPECT_EQ(page.status, 200);
  EXPECT_NE(page.body.find("Intel Core i7-8700K"), std::string::npos);

  const auto rows = service_->store().Recent({});
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].read, 13847);
  EXPECT_EQ(rows[0].memType, "DDR4");
  EXPECT_EQ(rows[0].channels, "Dual");
  EXPECT_EQ(rows[0].memClockMHz, 3201);
  ASSERT_TRUE(rows[0].latencyNs);
  EXPECT_DOUBLE_EQ(*rows[0].latencyNs, 65.5);
  ASSERT_TRUE(rows[0].picture) << "the picture was not linked to its record";
  const Answer png = Get(service_->port(), "/pictures/" + *rows[0].picture);
  EXPECT_EQ(png.status, 200);
  EXPECT_EQ(png.body.substr(1, 3), "PNG");
}

TEST_F(ProgramAgainstServer, VersionCheckSeesTheAnnouncedVersion) {
  EXPECT_TRUE(online::CheckServerVersion(base_, "3.0.24.109"));
  EXPECT_FALSE(online::CheckServerVersion(base_, "3.0.24.108"));
}

TEST_F(ProgramAgainstServer, QuickCompareReadsTheRanges) {
  // A type with a parenthesised part goes out with a trailing blank; the server trims it.
  const std::string target = core::CompareRequestTarget("DDR4 (something)", "Dual");
  const online::FetchReply reply = online::FetchFromServer(target);
  ASSERT_TRUE(reply.ok) << reply.error;
  core::ShareFacts in;
  in.memoryType = "DDR4 (something)";
  in.channels = "Dual";
  in.memoryClock = 3201;
  in.scoreCaption = "10.39 ";
  in.latencyCaption = "LATENCY  65.5  ns";
  const core::CompareSetup dials = core::SetupDials(reply.body, in);
  EXPECT_DOUBLE_EQ(dials.score.lower, 11);
  EXPECT_DOUBLE_EQ(dials.score.upper, 32);
  EXPECT_DOUBLE_EQ(dials.clock.lower, 2133 - 25);
  EXPECT_DOUBLE_EQ(dials.clock.upper, 3600 + 10);
  EXPECT_DOUBLE_EQ(dials.latency.lower, 55);
  EXPECT_DOUBLE_EQ(dials.latency.upper, 95);
}
