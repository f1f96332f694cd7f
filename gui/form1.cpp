#include "gui/form1.h"

#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>
#include <QShortcut>
#include <QThread>
#include <QUrl>

#include "core/host.h"
#include "core/notices.h"
#include "core/numeric.h"
#include "gui/about.h"
#include "gui/qt_text.h"
#include "online/http_client.h"
#include "online/lookups.h"
#include "online/session.h"
#include "platform/process.h"

namespace {

using gui::Q;

constexpr int kOutOfView = 2000;  // left edge of the controls nobody sees

// The memory line's tooltip: the notice about missing facts, then what the clock figure is.
std::string MemoryLineTip(const std::string& notice, double memoryClock) {
  std::string tip = notice;
  if (memoryClock > 0) {
    const std::string mhz = core::FixedText(memoryClock, 0) + " MHz";
    tip += std::string(tip.empty() ? "" : "\n\n") + mhz +
           " is the modules' transfer rate as this program counts it: twice the clock the "
           "hardware report gives, plus 1 (a DDR4-3200 kit reads 3201 MHz). The log, the upload and the "
           "results site keep the figure so, which keeps every result comparable with the stored ones.";
  }
  return tip;
}

// The folder of the log in the file manager; said in the status line when there is none yet.
void OpenLogFolder(TForm1& form) {
  const QFileInfo log(Q(form.Environment().logPath));
  const QString folder = log.absolutePath();
  if (!QFileInfo(folder).isDir()) {
    form.ShowStatus(QStringLiteral("No log yet; the first logged run writes"), log.absoluteFilePath());
    return;
  }
  if (!QDesktopServices::openUrl(QUrl::fromLocalFile(folder)))
    form.ShowStatus(QStringLiteral("No file manager opened the log folder:"), folder);
}

}  // namespace

TForm1::TForm1(const window::FormOptions& options, QWidget* parent)
    : gui::MainFace(parent), options_(options) {
  host_ =
      options_.makeHost ? options_.makeHost(facts_.spec) : std::make_unique<core::ModuleHost>(facts_.spec);
  run_ = std::make_unique<core::RunSequence>(state_, static_cast<core::BenchView&>(*this), *host_,
                                             online::ProgramEnvironment(options_.programPath));
  if (!options_.logPath.empty()) run_->Environment().logPath = options_.logPath;
  BuildControls();
  FormCreate();
}

TForm1::~TForm1() {
  state_.SetListener({});
  loadWorkers.Stop();
}

void TForm1::BuildControls() {
  bbread = new QPushButton(QStringLiteral("bbread"), this);
  bbwrite = new QPushButton(QStringLiteral("bbwrite"), this);
  bbcopy = new QPushButton(QStringLiteral("bbcopy"), this);
  bblaten = new QPushButton(QStringLiteral("bblaten"), this);
  Button2 = new QPushButton(QStringLiteral("Button2"), this);
  int hiddenTop = 0;
  // Out of view, out of the Tab chain: Space must not start a test or the gathering unseen.
  for (QPushButton* w : {bbread, bbwrite, bbcopy, bblaten, Button2}) {
    w->setGeometry(kOutOfView, hiddenTop, 60, 20);
    w->setFocusPolicy(Qt::NoFocus);
    hiddenTop += 24;
  }

  SystemMenu1 = new QMenu(this);
  Curve1 = SystemMenu1->addAction(QStringLiteral("Cache && memory curve"));
  SystemMenu1->addSeparator();
  About1 = SystemMenu1->addAction(QStringLiteral("About"));
  // Beside the system's entries: where "LOG!" writes.
  QAction* logFolder = new QAction(QStringLiteral("Open log folder"), SystemMenu1);
  SystemMenu1->insertAction(SystemMenu1->actions().at(1), logFolder);
  connect(logFolder, &QAction::triggered, this, [this] { OpenLogFolder(*this); });
  auto* help = new QShortcut(QKeySequence(Qt::Key_F1), this);

  // The face draws the model; what the user ticks goes into the model.
  state_.SetListener([this](const core::WindowState::Change& change) {
    Render(state_, change);
    if (change.part == core::WindowState::Part::Enabled &&
        static_cast<core::Control>(change.index) == core::Control::Start) {
      Curve1->setEnabled(state_.Enabled(core::Control::Start));
    }
  });
  for (core::Control c : {core::Control::ReadBox, core::Control::WriteBox, core::Control::CopyBox,
                          core::Control::LatencyBox, core::Control::LogBox}) {
    connect(BoxOf(c), &QCheckBox::toggled, this, [this, c](bool checked) {
      if (state_.Checked(c) != checked) state_.SetChecked(c, checked);
    });
  }

  connect(button7, &QPushButton::clicked, this, [this] { Button7Click(); });
  connect(bbread, &QPushButton::clicked, this, [this] { bbreadClick(); });
  connect(bbwrite, &QPushButton::clicked, this, [this] { bbwriteClick(); });
  connect(bbcopy, &QPushButton::clicked, this, [this] { bbcopyClick(); });
  connect(bblaten, &QPushButton::clicked, this, [this] { bblatenClick(); });
  connect(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
  connect(upload, &QToolButton::clicked, this, [this] { uploadClick(); });
  connect(gauge, &QToolButton::clicked, this, [this] { gaugeClick(); });
  connect(About1, &QAction::triggered, this, [this] { About1Click(); });
  connect(curve, &QToolButton::clicked, this, [this] { curveClick(); });
  connect(Curve1, &QAction::triggered, this, [this] { curveClick(); });
  connect(help, &QShortcut::activated, this, [this] { About1Click(); });
  connect(JvgLabel1, &gui::LinkLabel::clicked, this, [this] { JvgLabel1Click(); });
}

void TForm1::FormCreate() {
  run_->SetSharedBarMax(0);
  ShowVersion(VersionText());
  Render(state_);

  if (!options_.startUp) return;
  startingUp_ = true;

  if (options_.show) {
    // Centred on the screen, drawn before the slow steps.
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
      const QRect area = screen->availableGeometry();
      move(area.center() - QPoint(gui::kMainOuterSize / 2, gui::kMainOuterSize / 2));
    }
    ShowAndPaint();
  }
  if (!closeAfterStartUp_ && !online::CheckServerVersion(online::ServerBase(), VersionText())) {
    state_.SetTitle(state_.Title() + core::kTitles.newVersionMark);
  }
  if (!closeAfterStartUp_) Button2->click();

  startingUp_ = false;
  if (closeAfterStartUp_) EndProgram();
}

void TForm1::Button2Click() {
  const core::GatheringSteps steps =
      options_.gatheringSteps ? options_.gatheringSteps(*this) : core::RealGatheringSteps(*this, loadWorkers);
  UseFacts(core::Gather(state_, *this, steps));
  // Why the memory facts are missing, where a normal user cannot read them, and what the clock
  // figure means: said quietly, here.
  // A memory line too long for its panel keeps its whole text first (the face put it there).
  const QString whole = ramp->toolTip();
  const QString tip = Q(MemoryLineTip(sysinfo::MemoryNotice(facts_.spec), facts_.memoryClock));
  ramp->setToolTip(whole.isEmpty() || tip.isEmpty() ? whole + tip : whole + QStringLiteral("\n\n") + tip);
}

void TForm1::UseFacts(const core::MachineFacts& facts) {
  facts_ = facts;
  run_->Environment().machineIdHash = facts_.machineIdHash;
}

void TForm1::ShowAndPaint() {
  show();
  // One pass of the event loop may come before the window system has mapped the window (X11):
  // wait for the first paint, but not for ever.
  QElapsedTimer waited;
  waited.start();
  QApplication::processEvents();
  while (!painted_ && waited.elapsed() < 1000) {
    QThread::msleep(5);
    QApplication::processEvents();
  }
  QApplication::sync();
}

void TForm1::paintEvent(QPaintEvent* event) {
  painted_ = true;
  QWidget::paintEvent(event);
}

void TForm1::Button7Click() {
  if (run_->Running()) return;
  if (!options_.logPath.empty()) run_->Environment().logPath = options_.logPath;
  HideStatus();
  const QFileInfo before(Q(run_->Environment().logPath));
  const auto stamp = [](const QFileInfo& f) {
    return std::make_pair(f.exists() ? f.size() : -1, f.lastModified());
  };
  const auto was = stamp(before);
  run_->RunAll();
  // Once per run that logged: where the line went.
  QFileInfo after(Q(run_->Environment().logPath));
  after.refresh();
  if (state_.Checked(core::Control::LogBox) && after.exists() && stamp(after) != was)
    ShowStatus(QStringLiteral("Result added to the log:"), after.absoluteFilePath());
  TellLatencyNotMeasured();
  CloseIfAsked();
}

// A LATENCY that is no measurement keeps the system's caption; the bar's tooltip and the status
// line say why.
void TForm1::TellLatencyNotMeasured() {
  const std::string notice = core::LatencyNotMeasured(state_.Bar(core::BarId::Latency).caption,
                                                      core::LargestCacheKBytes(facts_.spec));
  if (notice.empty()) return;
  blaten->setToolTip(Q(notice));
  ShowStatus(QStringLiteral("LATENCY was not measured:"), Q(notice));
}

void TForm1::bbreadClick() { RunOneTest(core::BarId::Read); }
void TForm1::bbwriteClick() { RunOneTest(core::BarId::Write); }
void TForm1::bbcopyClick() { RunOneTest(core::BarId::Copy); }
void TForm1::bblatenClick() { RunOneTest(core::BarId::Latency); }

void TForm1::RunOneTest(core::BarId id) {
  run_->RunTest(id);
  if (id == core::BarId::Latency) TellLatencyNotMeasured();
  CloseIfAsked();
}

void TForm1::closeEvent(QCloseEvent* event) {
  if (startingUp_) {
    // The start-up waits with the event loop running: what is left of it is skipped, then the
    // program ends (FormCreate).
    closeAfterStartUp_ = true;
    event->ignore();
    hide();
    return;
  }
  if (run_->Running()) {
    // A module cannot be interrupted: the run stops after the call in progress, and the window
    // goes away at once so the close does not look ignored.
    closeAfterRun_ = true;
    run_->RequestStop();
    event->ignore();
    hide();
    return;
  }
  QWidget::closeEvent(event);
}

void TForm1::CloseIfAsked() {
  if (!closeAfterRun_ || run_->Running()) return;
  closeAfterRun_ = false;
  EndProgram();
}

void TForm1::EndProgram() {
  close();
  // The window was hidden, so closing it no longer counts as the last window closed; queued, so
  // that a close before the message loop has started ends that loop as soon as it starts.
  QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit, Qt::QueuedConnection);
}

// After a stored upload the link leads to that result's page; its text stays the site's address.
void TForm1::JvgLabel1Click() {
  platform::OpenWebAddress(resultAddress_.empty() ? gui::ProgramWebSite() : resultAddress_);
}

void TForm1::contextMenuEvent(QContextMenuEvent* event) { SystemMenu1->exec(event->globalPos()); }

// --- core::BenchView ---

void TForm1::FitBarWidth(core::BarId id) { gui::MainFace::FitBarWidth(id); }
void TForm1::RepaintProgress() { ProgressBar1->repaint(); }

void TForm1::SetBusyCursor(bool busy) {
  if (busy) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
  } else {
    QApplication::restoreOverrideCursor();
  }
}

void TForm1::ProcessEvents() { QApplication::processEvents(); }

void TForm1::RunModuleCall(const core::ModuleWork& work, const std::function<void()>& onText) {
  // The worker wakes this thread's event loop with an empty posted call (posting is safe from any
  // thread); in between the window repaints, moves and answers as usual.
  core::ModuleCall call(work, [] {
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [] {}, Qt::QueuedConnection);
  });
  while (!call.Over()) {
    for (int n = call.TakeTexts(); n > 0; --n) onText();
    if (call.Over()) break;
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  call.Finish();
}

void TForm1::ShowSamples(core::BarId id, const core::SampleSummary& summary, const std::string& prefix) {
  BarOf(id)->setToolTip(Q(core::SamplesTooltip(summary, prefix)));
}

void TForm1::ShowMessage(const std::string& title, const std::string& text) {
  if (options_.messageSink) {
    options_.messageSink(title, text);
    return;
  }
  QMessageBox box(QMessageBox::Warning, Q(title), Q(text), QMessageBox::Ok, this);
  box.exec();
}
