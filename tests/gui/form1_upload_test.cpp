// The main window's own handlers with their real dialogs, answered the way a user would.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QMessageBox>
#include <QTimer>
#include <cstdlib>
#include <string>
#include <vector>

#include "gui/about.h"
#include "gui/form1.h"
#include "online/lookups.h"
#include "tests/support/qt_app.h"
#include "tests/support/recorder.h"

namespace {

struct Seen {
  std::string title;
  std::string text;
  Qt::TextFormat format = Qt::AutoText;
};

// Answers the modal windows that open, in order, with the given buttons; records what they said.
class DialogAnswerer {
 public:
  explicit DialogAnswerer(std::vector<QMessageBox::StandardButton> answers) : answers_(std::move(answers)) {
    QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
    timer_.start(10);
  }
  const std::vector<Seen>& seen() const { return seen_; }

 private:
  void Poll() {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr) return;
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
      seen_.push_back({box->windowTitle().toStdString(), box->text().toStdString(), box->textFormat()});
      const auto answer = next_ < answers_.size() ? answers_[next_++] : QMessageBox::Ok;
      if (QAbstractButton* b = box->button(answer))
        b->click();
      else
        box->reject();
    } else {
      seen_.push_back({modal->windowTitle().toStdString(), "", Qt::AutoText});
      modal->close();
    }
  }
  std::vector<QMessageBox::StandardButton> answers_;
  size_t next_ = 0;
  std::vector<Seen> seen_;
  QTimer timer_;
};

class FormUploadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("QUORVEX_SERVER", server.Base().c_str(), 1);
    setenv("QUORVEX_GEOLOCATION", server.Base().c_str(), 1);
    server.SetAnswers({{200, "OK"}, {200, "{\"geoplugin_countryCode\":\"NL\",\"x\":1}"}, {200, "OK"}});
    window::FormOptions options;
    options.startUp = false;
    options.show = false;
    form = std::make_unique<TForm1>(options);
    Fill("10.39 ");
    form->Environment().countryLookup = [] { return online::LookupCountryCode(); };
    form->State().SetEnabled(core::Control::Upload, true);
  }
  void TearDown() override {
    form.reset();
    unsetenv("QUORVEX_SERVER");
    unsetenv("QUORVEX_GEOLOCATION");
  }

  void Fill(const std::string& score, double clock = 1600) {
    core::MachineFacts facts;
    facts.spec.lines = {"CHIP_MEMORY_TYPE: \"DDR4\"", "CHIP_CHANNELS: \"Dual\""};
    facts.memoryClock = clock;
    facts.machineIdHash = "0123456789ABCDEF0123456789ABCDEF";
    form->UseFacts(facts);
    core::WindowState& state = form->State();
    sysinfo::PanelTexts panels;
    panels.osp = "Debian GNU/Linux 12";
    state.SetPanels(panels);
    const char* captions[] = {"READ  13847  MByte/s", "WRITE  7955  MByte/s", "COPY  9381  MByte/s",
                              "LATENCY  65.5  ns"};
    for (core::BarId id : core::kBars) {
      core::BarValue bar = state.Bar(id);
      bar.caption = captions[static_cast<int>(id)];
      state.SetBar(id, bar);
    }
    state.SetScoreCaption(score);
  }

  testing_qt::AppReady app;
  testing_http::Recorder server;
  std::unique_ptr<TForm1> form;
};

TEST_F(FormUploadTest, CancelSendsNothingAndKeepsTheButton) {
  DialogAnswerer answers({QMessageBox::Cancel});
  form->uploadClick();
  ASSERT_EQ(answers.seen().size(), 1u);
  EXPECT_EQ(answers.seen()[0].title, "Information");
  EXPECT_EQ(answers.seen()[0].text,
            " Welcome to \" Quorvex\xC2\xB2 \" score *submit.\n"
            " To submit your score to our server, click [OK] button.\n"
            "\n"
            "  * Please note that by clicking [OK] button,\n"
            "     information's about your current system\n"
            "     configuration will be uploaded and stored\n"
            "     on our server.");
  EXPECT_TRUE(server.Requests().empty());
  EXPECT_EQ(form->State().UploadTag(), 0);
  EXPECT_TRUE(form->upload->isEnabled());
}

TEST_F(FormUploadTest, SuccessfulUploadMarksAndDisablesTheButton) {
  DialogAnswerer answers({QMessageBox::Ok, QMessageBox::Ok});
  form->uploadClick();
  ASSERT_EQ(answers.seen().size(), 2u);
  EXPECT_EQ(answers.seen()[1].title, "Quorvex\xC2\xB2 - Upload");
  EXPECT_EQ(answers.seen()[1].text, "  Score upload done !  ");
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0].rfind("POST /upload/upload_new.php HTTP/1.1\r\n", 0), 0u);
  EXPECT_NE(requests[0].find(".tmp.png\"\r\nContent-Type: multipart/form-data\r\n"), std::string::npos);
  EXPECT_NE(requests[0].find("\x89PNG"), std::string::npos);
  EXPECT_EQ(requests[1].rfind("GET /json.gp HTTP/1.1\r\n", 0), 0u);
  EXPECT_NE(requests[2].find("\"READ\";\"WRITE\";"), std::string::npos);
  EXPECT_NE(requests[2].find("\"13847\";\"7955\";\"9381\";\"65.5\";\"10.39\";"), std::string::npos);
  EXPECT_NE(requests[2].find("\"NL\";"), std::string::npos);
  EXPECT_EQ(form->State().UploadTag(), 1);
  EXPECT_FALSE(form->upload->isEnabled());
}

TEST_F(FormUploadTest, DeadServerTellsWhyAndLeavesTheMarkAtZero) {
  const std::string dead = "http://127.0.0.1:" + std::to_string(testing_http::DeadPort());
  setenv("QUORVEX_SERVER", dead.c_str(), 1);
  setenv("QUORVEX_GEOLOCATION", dead.c_str(), 1);
  DialogAnswerer answers({QMessageBox::Ok, QMessageBox::Ok});
  form->uploadClick();
  ASSERT_EQ(answers.seen().size(), 2u);
  EXPECT_EQ(answers.seen()[1].title, "Quorvex\xC2\xB2 - Upload");
  EXPECT_NE(answers.seen()[1].text.find("Score upload failed"), std::string::npos) << answers.seen()[1].text;
  // Both posts met the same dead address: one reason, naming it.
  EXPECT_NE(answers.seen()[1].text.find("Nothing was sent: "), std::string::npos) << answers.seen()[1].text;
  EXPECT_NE(answers.seen()[1].text.find(dead.substr(7)), std::string::npos) << answers.seen()[1].text;
  EXPECT_EQ(answers.seen()[1].text.find("upload done"), std::string::npos);
  EXPECT_EQ(form->State().UploadTag(), 0);
  EXPECT_TRUE(form->upload->isEnabled());
}

TEST_F(FormUploadTest, ServerAnswerInTheFailureIsShownAsPlainText) {
  server.SetAnswers(
      {{200, "OK"}, {200, "{\"geoplugin_countryCode\":\"NL\",\"x\":1}"}, {403, "<b>refused</b>"}});
  DialogAnswerer answers({QMessageBox::Ok, QMessageBox::Ok});
  form->uploadClick();
  ASSERT_EQ(answers.seen().size(), 2u);
  EXPECT_NE(answers.seen()[1].text.find("status 403 (<b>refused</b>)"), std::string::npos)
      << answers.seen()[1].text;
  EXPECT_EQ(answers.seen()[1].format, Qt::PlainText);
  EXPECT_EQ(form->State().UploadTag(), 0);
}

TEST_F(FormUploadTest, NoScoreStopsBothUploadAndCompare) {
  Fill("--.--");
  DialogAnswerer answers({QMessageBox::Ok, QMessageBox::Ok});
  form->uploadClick();
  form->gaugeClick();
  ASSERT_EQ(answers.seen().size(), 2u);
  EXPECT_EQ(answers.seen()[0].text, " No score to upload ! ");
  EXPECT_EQ(answers.seen()[1].title, "Quorvex\xC2\xB2 - Compare");
  EXPECT_EQ(answers.seen()[1].text, " No score to compare ! ");
  EXPECT_TRUE(server.Requests().empty());
}

TEST_F(FormUploadTest, CompareAndAboutOpenAsModalWindows) {
  server.SetAnswers({{200, "30<BR />60<BR />1500<BR />2400<BR />40<BR />90"}});
  DialogAnswerer answers({});
  form->gaugeClick();
  form->About1Click();
  ASSERT_EQ(answers.seen().size(), 2u);
  EXPECT_EQ(answers.seen()[0].title, "Quick compare");
  EXPECT_EQ(answers.seen()[1].title, "About ...");
  // The compare request as ever, then the site's rank of the score beside it.
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].rfind("GET /compare.php?P1=DDR4&&P2=Dual HTTP/1.1\r\n", 0), 0u);
  EXPECT_EQ(requests[1].rfind("GET /rank.json?type=DDR4&channels=Dual&score=", 0), 0u) << requests[1];
}

}  // namespace
