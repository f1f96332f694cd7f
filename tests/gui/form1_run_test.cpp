// The main window while a run measures (offscreen): the module calls run on a worker thread and
// the window keeps painting and advancing its progress; closing it mid-run stops after the call
// in progress and writes nothing; Tab never reaches a control that lies out of view.
#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <set>
#include <thread>

#include "gui/form1.h"
#include "platform/file_io.h"
#include "platform/temp_folder.h"
#include "tests/core/fakes.h"

namespace {

using namespace std::chrono_literals;

// A quick host whose first bandwidth call emits one text and then blocks until released. The
// block gives up after a minute so a GUI thread that never comes back fails instead of hanging.
class BlockingHost : public fakes::QuickHost {
 public:
  std::atomic<bool> blocking{false};
  std::atomic<bool> release{false};
  std::atomic<bool> gaveUp{false};
  std::thread::id thread;

  bool RunBandwidthTest(const std::string& arguments, const std::string& prefix, core::SampleList& samples,
                        const std::function<void()>& processEvents,
                        const std::function<void()>& advanceProgress, std::string* error) override {
    thread = std::this_thread::get_id();
    if (calls.empty()) {
      advanceProgress();
      blocking = true;
      const auto limit = std::chrono::steady_clock::now() + 60s;
      while (!release && std::chrono::steady_clock::now() < limit) std::this_thread::sleep_for(1ms);
      gaveUp = !release;
      blocking = false;
    }
    return QuickHost::RunBandwidthTest(arguments, prefix, samples, processEvents, advanceProgress, error);
  }
};

// Counts the paint events a widget receives.
class PaintCounter : public QObject {
 public:
  int paints = 0;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++paints;
    return false;
  }
};

struct RunningWindow : ::testing::Test {
  BlockingHost* host = nullptr;
  std::vector<std::string> messages;
  std::string logPath;

  RunningWindow() {
    static int count = 0;
    const std::string folder = platform::PrivateFolder() + "/form-run-" + std::to_string(++count);
    platform::MakeFolders(folder);
    logPath = folder + "/Quorvex2_LOG.csv";
  }

  // A shown window without the version check, gathered from an empty report, with the blocking host.
  std::unique_ptr<TForm1> MakeWindow() {
    window::FormOptions options;
    options.startUp = false;
    options.show = false;
    options.logPath = logPath;
    options.messageSink = [this](const std::string&, const std::string& text) { messages.push_back(text); };
    options.makeHost = [this](const sysinfo::SystemSpec&) {
      auto made = std::make_unique<BlockingHost>();
      host = made.get();
      return std::unique_ptr<core::BenchHost>(std::move(made));
    };
    options.gatheringSteps = [](core::BenchView&) {
      core::GatheringSteps steps;
      steps.runReportTool = [](std::string*) { return std::vector<std::string>{}; };
      return steps;
    };
    auto form = std::make_unique<TForm1>(options);
    form->Button2Click();
    form->show();
    QApplication::processEvents();
    return form;
  }
};

TEST_F(RunningWindow, ModulesRunOnAWorkerWhileTheWindowPaintsAndAdvances) {
  auto form = MakeWindow();
  PaintCounter counter;
  form->bread->installEventFilter(&counter);
  int ticksWhileBlocked = 0;
  int paintsWhileBlocked = -1;
  int progressWhileBlocked = -1;
  QTimer timer;
  QObject::connect(&timer, &QTimer::timeout, [&] {
    if (!host->blocking) return;
    // The module call is stuck inside the module; this thread is not.
    if (ticksWhileBlocked == 0) counter.paints = 0;
    ++ticksWhileBlocked;
    form->bread->update();
    if (ticksWhileBlocked >= 20 && counter.paints > 0 && form->ProgressBar1->value() > 0) {
      paintsWhileBlocked = counter.paints;
      progressWhileBlocked = form->ProgressBar1->value();
      host->release = true;
    }
  });
  timer.start(1);
  form->button7->click();
  timer.stop();

  EXPECT_FALSE(host->gaveUp) << "the GUI thread did not run while the module call blocked";
  EXPECT_NE(host->thread, std::this_thread::get_id());
  EXPECT_GT(paintsWhileBlocked, 0);
  EXPECT_EQ(progressWhileBlocked, 1);  // the one text emitted before the block
  // Everything else as without a worker: eleven calls, the same figures, the window unlocked.
  EXPECT_EQ(host->calls.size(), 11u);
  EXPECT_EQ(form->State().Bar(core::BarId::Read).caption, "READ  13847  MByte/s");
  EXPECT_EQ(form->State().Bar(core::BarId::Latency).caption, "LATENCY  65.5  ns");
  EXPECT_EQ(form->State().ScoreCaption(), "10.54 ");
  EXPECT_TRUE(form->button7->isEnabled());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_TRUE(messages.empty());
  // Each result bar tells its samples and their spread.
  EXPECT_EQ(form->bread->toolTip().toStdString(), "13846, 13848 MByte/s\n2 samples, spread 0.02 %");
  EXPECT_EQ(form->blaten->toolTip().toStdString(), "65.43, 65.50, 65.61, 65.48 ns\n4 samples, spread 0.27 %");
}

TEST_F(RunningWindow, ClosingDuringARunFinishesTheCallAndWritesNothing) {
  auto form = MakeWindow();
  form->CheckBox5->setChecked(true);
  bool closedWhileBlocked = false;
  QTimer timer;
  QObject::connect(&timer, &QTimer::timeout, [&] {
    if (!host->blocking || closedWhileBlocked) return;
    form->close();
    closedWhileBlocked = true;
    // Closed but not gone: the module call is still running, and the run waits for it.
    EXPECT_FALSE(form->isVisible());
    EXPECT_TRUE(form->Run().Running());
    host->release = true;
  });
  timer.start(1);
  form->button7->click();
  timer.stop();

  ASSERT_TRUE(closedWhileBlocked);
  EXPECT_FALSE(host->gaveUp);
  // The call in progress finished; no other call was made.
  EXPECT_EQ(host->calls, (std::vector<std::string>{"-b11 -g4 -m64|READ-"}));
  // No figure from the unfinished test, no score, no log, no message.
  EXPECT_EQ(form->State().Bar(core::BarId::Read).caption, "READ");
  EXPECT_EQ(form->State().Bar(core::BarId::Write).caption, "WRITE");
  EXPECT_EQ(form->State().ScoreCaption(), "--.--");
  EXPECT_FALSE(platform::FileExists(logPath));
  EXPECT_TRUE(messages.empty());
  EXPECT_FALSE(form->Run().Running());
  EXPECT_FALSE(form->isVisible());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(RunningWindow, TabNeverReachesAControlOutOfView) {
  auto form = MakeWindow();
  form->activateWindow();
  QApplication::setActiveWindow(form.get());
  form->button7->setFocus();
  QApplication::processEvents();
  ASSERT_EQ(QApplication::focusWidget(), form->button7);

  const std::set<QWidget*> hidden = {form->bbread,  form->bbwrite, form->bbcopy,
                                     form->bblaten, form->Button2, form->Memo2};
  std::set<QWidget*> reached;
  for (int i = 0; i < 40; ++i) {
    for (auto key : {Qt::Key_Tab, Qt::Key_Backtab}) {
      if (key == Qt::Key_Backtab && i % 3 != 0) continue;
      QWidget* focus = QApplication::focusWidget();
      ASSERT_NE(focus, nullptr);
      QKeyEvent press(QEvent::KeyPress, key, key == Qt::Key_Backtab ? Qt::ShiftModifier : Qt::NoModifier);
      QApplication::sendEvent(focus, &press);
      reached.insert(QApplication::focusWidget());
    }
  }
  for (QWidget* w : hidden) EXPECT_EQ(reached.count(w), 0u) << w->objectName().toStdString();
  // Tab does move: the check boxes and the start button take turns.
  EXPECT_GT(reached.count(form->CheckBox1), 0u);
  EXPECT_GT(reached.count(form->button7), 0u);
  // A click of the start button by the keyboard still runs the benchmark.
  form->button7->setFocus();
  QKeyEvent space(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier);
  QKeyEvent spaceUp(QEvent::KeyRelease, Qt::Key_Space, Qt::NoModifier);
  host->release = true;
  QApplication::sendEvent(form->button7, &space);
  QApplication::sendEvent(form->button7, &spaceUp);
  EXPECT_EQ(host->calls.size(), 11u);
}

// Counts the paint events of every main window.
class WindowPaints : public QObject {
 public:
  int paints = 0;

 protected:
  bool eventFilter(QObject* object, QEvent* event) override {
    if (event->type() == QEvent::Paint && qobject_cast<TForm1*>(object) != nullptr) ++paints;
    return false;
  }
};

TEST(StartUp, TheWindowIsPaintedBeforeTheSlowSteps) {
  ::setenv("QUORVEX_SERVER", "http://127.0.0.1:9", 1);  // the version check fails at once
  WindowPaints counter;
  qApp->installEventFilter(&counter);
  int paintsAtGathering = -1;
  window::FormOptions options;
  options.messageSink = [](const std::string&, const std::string&) {};
  options.makeHost = [](const sysinfo::SystemSpec&) { return std::make_unique<fakes::QuickHost>(); };
  options.gatheringSteps = [&](core::BenchView&) {
    core::GatheringSteps steps;
    steps.runReportTool = [&](std::string*) {
      paintsAtGathering = counter.paints;
      return std::vector<std::string>{};
    };
    return steps;
  };
  TForm1 form(options);
  qApp->removeEventFilter(&counter);
  EXPECT_TRUE(form.isVisible());
  EXPECT_GT(paintsAtGathering, 0);
}

}  // namespace

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
