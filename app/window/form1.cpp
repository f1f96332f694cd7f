#include "app/window/form1.h"

#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QDate>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QLocale>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QShortcut>
#include <QThread>
#include <algorithm>
#include <cmath>
#include <numbers>

#include "app/core/score.h"
#include "online/http_client.h"
#include "online/lookups.h"
#include "online/window_shot.h"
#include "platform/file_version.h"
#include "platform/process.h"
#include "ui/about.h"
#include "ui/fonts.h"

namespace window {

LinkText::LinkText(QWidget* parent) : QLabel(parent) {
  setCursor(Qt::PointingHandCursor);
  QFont f = font();
  f.setUnderline(true);
  setFont(f);
  QPalette pal = palette();
  pal.setColor(QPalette::WindowText, QColor(0, 0, 255));
  setPalette(pal);
}

void LinkText::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) emit clicked();
  QLabel::mouseReleaseEvent(event);
}

}  // namespace window

namespace {

// The outer window is 405 x 405 with the frame and caption bar the window picture draws; the
// client area is what is left of it.
constexpr int kOuterSize = 405;
constexpr int kClientWidth = kOuterSize - 2 * online::kShotFrame;
constexpr int kClientHeight = kOuterSize - online::kShotCaptionHeight - 2 * online::kShotFrame;
constexpr int kSummaryHeight = 169;
constexpr int kButtonBarHeight = 31;
constexpr int kStatusBarHeight = 28;
constexpr int kOutOfView = 2000;  // left edge of the controls nobody sees

const char* const kTitle = "Quorvex\xC2\xB2";
const char* const kNewVersion = " [New version available]";

QString Q(const std::string& utf8) {
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

QFrame* Sunken(QWidget* parent) {
  auto* frame = new QFrame(parent);
  frame->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  frame->setLineWidth(1);
  return frame;
}

// The upload glyph: an arrow rising out of a tray.
QIcon UploadGlyph() {
  QPixmap pm(20, 20);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  QPainterPath tray;
  tray.moveTo(2.5, 11.5);
  tray.lineTo(2.5, 17.5);
  tray.lineTo(17.5, 17.5);
  tray.lineTo(17.5, 11.5);
  p.setPen(QPen(QColor(70, 70, 70), 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.drawPath(tray);
  QPainterPath arrow;
  arrow.moveTo(10, 1.5);
  arrow.lineTo(15.5, 7.5);
  arrow.lineTo(12, 7.5);
  arrow.lineTo(12, 14);
  arrow.lineTo(8, 14);
  arrow.lineTo(8, 7.5);
  arrow.lineTo(4.5, 7.5);
  arrow.closeSubpath();
  QLinearGradient fill(0, 0, 0, 14);
  fill.setColorAt(0, QColor(120, 200, 90));
  fill.setColorAt(1, QColor(30, 130, 30));
  p.setPen(QPen(QColor(20, 90, 20), 1));
  p.setBrush(fill);
  p.drawPath(arrow);
  return QIcon(pm);
}

// The quick-compare glyph: a small dial with its bands and a pointer.
QIcon GaugeGlyph() {
  QPixmap pm(20, 20);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF arc(2, 4, 16, 16);
  const QColor bands[] = {QColor(210, 40, 40), QColor(240, 200, 40), QColor(50, 170, 50)};
  for (int i = 0; i < 3; ++i) {
    p.setPen(QPen(bands[i], 3, Qt::SolidLine, Qt::FlatCap));
    p.drawArc(arc, (180 - 60 * i) * 16, -60 * 16);
  }
  p.setPen(QPen(QColor(40, 40, 40), 1.6, Qt::SolidLine, Qt::RoundCap));
  const double angle = 50.0 * std::numbers::pi / 180.0;
  p.drawLine(QPointF(10, 12), QPointF(10 + 7 * std::cos(angle), 12 - 7 * std::sin(angle)));
  p.setBrush(QColor(40, 40, 40));
  p.drawEllipse(QPointF(10, 12), 1.8, 1.8);
  return QIcon(pm);
}

}  // namespace

TForm1::TForm1(const window::FormOptions& options, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      options_(options) {
  host_ =
      options_.makeHost ? options_.makeHost(facts_.spec) : std::make_unique<core::ModuleHost>(facts_.spec);
  run_ = std::make_unique<core::RunSequence>(static_cast<core::BenchView&>(*this), *host_,
                                             core::RunEnvironment{});
  BuildControls();
  FormCreate();
}

TForm1::~TForm1() { loadWorkers.Stop(); }

QLabel* TForm1::MakeCaption(const char* text, int top) {
  auto* label = new QLabel(QString::fromUtf8(text), Panel1);
  label->setFont(ui::PixelFont("Tahoma", 11));
  label->setAlignment(Qt::AlignRight | Qt::AlignTop);
  QPalette pal = label->palette();
  pal.setColor(QPalette::WindowText, Qt::black);
  label->setPalette(pal);
  label->setGeometry(0, top, 55, 14);
  return label;
}

QLabel* TForm1::MakeValuePanel(int left, int top, int width) {
  auto* panel = new QLabel(QString::fromLatin1(sysinfo::kPanelPlaceholder), Panel1);
  panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  panel->setLineWidth(1);
  panel->setFont(ui::PixelFont("Tahoma", 11, true));
  panel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  panel->setIndent(3);
  panel->setAutoFillBackground(true);
  QPalette pal = panel->palette();
  pal.setColor(QPalette::WindowText, QColor(0, 64, 128));
  pal.setColor(QPalette::Window, QColor(246, 246, 242));
  panel->setPalette(pal);
  panel->setGeometry(left, top, width, 17);
  return panel;
}

void TForm1::BuildControls() {
  setFont(ui::PixelFont("Tahoma", 11));
  QPalette windowPalette = palette();
  windowPalette.setColor(QPalette::Window, QColor(228, 228, 222));
  setPalette(windowPalette);
  setAutoFillBackground(true);

  // --- System summary ---
  Panel1 = Sunken(this);
  os = MakeCaption("OS", 6);
  cpu = MakeCaption("CPU", 25);
  ram = MakeCaption("Memory", 42);
  ramtimi = MakeCaption("Timings", 60);
  mainb = MakeCaption("Mainboard", 78);
  ram1 = MakeCaption("Ram #1", 96);
  ram2 = MakeCaption("Ram #2", 115);
  ram3 = MakeCaption("Ram #3", 133);
  ram4 = MakeCaption("Ram #4", 150);
  osp = MakeValuePanel(59, 4, 329);
  cpup = MakeValuePanel(59, 22, 240);
  cpucores = MakeValuePanel(301, 22, 20);
  cpucores->setAlignment(Qt::AlignCenter);
  cpucores->setIndent(0);
  cpucores->setText(QString());
  cpuclockp = MakeValuePanel(323, 22, 65);
  cpuclockp->setText(QString());
  ramp = MakeValuePanel(59, 40, 329);
  ramtimip = MakeValuePanel(59, 58, 329);
  mainbp = MakeValuePanel(59, 76, 329);
  ramp1 = MakeValuePanel(59, 94, 213);
  ramp2 = MakeValuePanel(59, 112, 213);
  ramp3 = MakeValuePanel(59, 130, 213);
  ramp4 = MakeValuePanel(59, 148, 213);

  Panel3 = new QFrame(Panel1);
  Panel3->setFrameStyle(QFrame::Panel | QFrame::Raised);
  Panel3->setGeometry(277, 94, 111, 71);
  Panel3->setAutoFillBackground(true);
  QPalette scorePalette = Panel3->palette();
  scorePalette.setColor(QPalette::Window, QColor(250, 250, 246));
  Panel3->setPalette(scorePalette);
  acLabel3 = new QLabel(QString::fromLatin1(core::kNoScore), Panel3);
  QFont scoreFont = ui::PixelFont("Tahoma", 30, true);
  scoreFont.setItalic(true);
  acLabel3->setFont(scoreFont);
  acLabel3->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  QPalette navy = acLabel3->palette();
  navy.setColor(QPalette::WindowText, QColor(0, 0, 128));
  acLabel3->setPalette(navy);
  acLabel3->setGeometry(2, 6, 105, 40);
  acLabel2 = new QLabel(QStringLiteral("GByte/s "), Panel3);
  // The button bar has no room left: the curve sits in the score box, above the quick compare.
  curve = new QToolButton(Panel3);
  curve->setIcon(window::CurveGlyph());
  curve->setIconSize(QSize(16, 16));
  curve->setToolTip(QStringLiteral("Cache & memory curve"));
  curve->setAutoRaise(true);
  curve->setGeometry(2, 71 - 2 - 21, 20, 20);
  QFont unitFont = ui::PixelFont("Tahoma", 12, true);
  acLabel2->setFont(unitFont);
  acLabel2->setPalette(navy);
  acLabel2->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  acLabel2->setGeometry(2, 46, 105, 18);

  // --- Button bar ---
  buttonbar = new QFrame(this);
  buttonbar->setFrameStyle(QFrame::Panel | QFrame::Raised);
  CheckBox1 = new QCheckBox(QStringLiteral("READ"), buttonbar);
  CheckBox2 = new QCheckBox(QStringLiteral("WRITE"), buttonbar);
  CheckBox3 = new QCheckBox(QStringLiteral("COPY"), buttonbar);
  CheckBox4 = new QCheckBox(QStringLiteral("LATENCY"), buttonbar);
  CheckBox5 = new QCheckBox(QStringLiteral("LOG!"), buttonbar);
  CheckBox5->setToolTip(QStringLiteral("Write Logfile"));
  // Tight spacing so the five boxes, the start button and the two glyph buttons share one row.
  buttonbar->setStyleSheet(QStringLiteral("QCheckBox { spacing: 2px; }"));
  for (QCheckBox* box : {CheckBox1, CheckBox2, CheckBox3, CheckBox4})
    box->setFont(ui::PixelFont("Tahoma", 10));
  CheckBox5->setFont(ui::PixelFont("Tahoma", 10, true));
  int x = 4;
  for (QCheckBox* box : {CheckBox1, CheckBox2, CheckBox3, CheckBox4, CheckBox5}) {
    box->setChecked(box != CheckBox5);
    box->ensurePolished();
    const int width = box->sizeHint().width();
    box->setGeometry(x, 7, width, 17);
    x += width + (box == CheckBox4 ? 5 : 1);
  }
  upload = new QToolButton(buttonbar);
  upload->setIcon(UploadGlyph());
  upload->setIconSize(QSize(18, 18));
  upload->setToolTip(QStringLiteral("Upload Result"));
  upload->setAutoRaise(true);
  upload->setGeometry(kClientWidth - 2 * 25 - 4, 3, 24, 24);
  gauge = new QToolButton(buttonbar);
  gauge->setIcon(GaugeGlyph());
  gauge->setIconSize(QSize(18, 18));
  gauge->setToolTip(QStringLiteral("Quick compare"));
  gauge->setAutoRaise(true);
  gauge->setGeometry(kClientWidth - 25 - 4, 3, 24, 24);
  button7 = new QPushButton(QStringLiteral(" Start Bench!"), buttonbar);
  const int startLeft = CheckBox5->geometry().right() + 4;
  button7->setGeometry(startLeft, 3, upload->x() - 3 - startLeft, 25);

  // --- Results ---
  main = Sunken(this);
  bread = new window::GradientBar(QColor(200, 225, 255), QColor(20, 80, 220), main);
  bwrite = new window::GradientBar(QColor(255, 205, 205), QColor(210, 20, 20), main);
  bcopy = new window::GradientBar(QColor(205, 245, 205), QColor(20, 160, 40), main);
  blaten = new window::GradientBar(QColor(238, 238, 238), QColor(110, 110, 110), main);
  const char* barCaptions[] = {"READ", "WRITE", "COPY", "LATENCY"};
  window::GradientBar* bars[] = {bread, bwrite, bcopy, blaten};
  for (int i = 0; i < 4; ++i) {
    core::BarValue value;
    value.max = i == 3 ? 1500 : 100;
    value.caption = barCaptions[i];
    bars[i]->setValue(value);
  }

  // --- Status bar ---
  Panel2 = new QFrame(this);
  Panel2->setFrameStyle(QFrame::Panel | QFrame::Raised);
  acLabel1 = new QLabel(Panel2);
  QFont logoFont = ui::PixelFont("Tahoma", 15, true);
  logoFont.setItalic(true);
  acLabel1->setFont(logoFont);
  QPalette logoPalette = acLabel1->palette();
  logoPalette.setColor(QPalette::WindowText, QColor(0, 0, 128));
  acLabel1->setPalette(logoPalette);
  acLabel1->setGeometry(3, 2, 110, 24);
  ProgressBar1 = new QProgressBar(Panel2);
  ProgressBar1->setTextVisible(false);
  ProgressBar1->setRange(0, 100);
  ProgressBar1->setValue(0);
  ProgressBar1->setGeometry(116, 9, 118, 10);
  JvgLabel2 = new QLabel(Panel2);
  JvgLabel2->setFont(ui::PixelFont("Tahoma", 10));
  JvgLabel2->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  JvgLabel2->setGeometry(236, 1, kClientWidth - 236 - 5, 13);
  JvgLabel1 = new window::LinkText(Panel2);
  JvgLabel1->setFont([] {
    QFont f = ui::PixelFont("Tahoma", 10);
    f.setUnderline(true);
    return f;
  }());
  JvgLabel1->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  JvgLabel1->setGeometry(236, 13, kClientWidth - 236 - 5, 13);
  JvgLabel1->setText(Q(ui::ProgramWebSite()));

  // --- Out of view ---
  bbread = new QPushButton(QStringLiteral("bbread"), this);
  bbwrite = new QPushButton(QStringLiteral("bbwrite"), this);
  bbcopy = new QPushButton(QStringLiteral("bbcopy"), this);
  bblaten = new QPushButton(QStringLiteral("bblaten"), this);
  Button2 = new QPushButton(QStringLiteral("Button2"), this);
  Memo2 = new QPlainTextEdit(this);
  Memo2->setReadOnly(true);
  Memo2->setLineWrapMode(QPlainTextEdit::NoWrap);
  int hiddenTop = 0;
  for (QWidget* w : std::initializer_list<QWidget*>{bbread, bbwrite, bbcopy, bblaten, Button2}) {
    w->setGeometry(kOutOfView, hiddenTop, 60, 20);
    hiddenTop += 24;
  }
  Memo2->setGeometry(kOutOfView, hiddenTop, 200, 100);
  // Out of view, out of the Tab chain: Space must not start a test or the gathering unseen.
  for (QWidget* w : std::initializer_list<QWidget*>{bbread, bbwrite, bbcopy, bblaten, Button2, Memo2}) {
    w->setFocusPolicy(Qt::NoFocus);
  }

  SystemMenu1 = new QMenu(this);
  Curve1 = SystemMenu1->addAction(QStringLiteral("Cache && memory curve"));
  SystemMenu1->addSeparator();
  About1 = SystemMenu1->addAction(QStringLiteral("About"));
  auto* help = new QShortcut(QKeySequence(Qt::Key_F1), this);

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
  connect(JvgLabel1, &window::LinkText::clicked, this, [this] { JvgLabel1Click(); });
}

void TForm1::FormCreate() {
  run_->SetSharedBarMax(0);

  // The summary on top, the button bar under it, the results filling the space above the status bar.
  setFixedSize(kClientWidth, kClientHeight);
  Panel1->setGeometry(0, 0, kClientWidth, kSummaryHeight);
  buttonbar->setGeometry(0, kSummaryHeight, kClientWidth, kButtonBarHeight);
  Panel2->setGeometry(0, kClientHeight - kStatusBarHeight, kClientWidth, kStatusBarHeight);
  main->setGeometry(0, kSummaryHeight + kButtonBarHeight, kClientWidth,
                    kClientHeight - kSummaryHeight - kButtonBarHeight - kStatusBarHeight);

  versionText_ = platform::FileVersionText(options_.programPath);
  const QString today = QLocale::system().toString(QDate::currentDate(), QLocale::ShortFormat);
  JvgLabel2->setText(today + QStringLiteral(" - v") + Q(versionText_));

  const QRect client = main->contentsRect();
  const int h = client.height() / 5 + 5;
  const int tops[] = {3, h + 5, 2 * h + 6, 3 * h + 7};
  window::GradientBar* bars[] = {bread, bwrite, bcopy, blaten};
  for (int i = 0; i < 4; ++i)
    bars[i]->setGeometry(client.left() + 3, client.top() + tops[i], client.width() - 9, h);

  applicationTitle_ = kTitle;
  setWindowTitle(Q(applicationTitle_));
  acLabel1->setText(QStringLiteral(" ") + windowTitle() + QStringLiteral(" "));

  run_->Environment().versionText = versionText_;
  run_->Environment().countryLookup = [] { return online::LookupCountryCode(); };

  if (!options_.startUp) return;

  if (options_.show) {
    // Centred on the screen, drawn before the slow steps.
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
      const QRect area = screen->availableGeometry();
      move(area.center() - QPoint(kOuterSize / 2, kOuterSize / 2));
    }
    ShowAndPaint();
  }

  if (!online::CheckServerVersion(online::ServerBase(), versionText_)) {
    applicationTitle_ += kNewVersion;
    setWindowTitle(Q(applicationTitle_));
  }

  Button2->click();
}

void TForm1::Button2Click() {
  const core::GatheringSteps steps =
      options_.gatheringSteps ? options_.gatheringSteps(*this) : core::RealGatheringSteps(*this, loadWorkers);
  facts_ = core::Button2Click(*this, steps);
  run_->Environment().machineIdHash = facts_.machineIdHash;
  // Why the memory facts are missing, where a normal user cannot read them: said quietly, here.
  ramp->setToolTip(QString::fromStdString(sysinfo::MemoryNotice(facts_.spec)));
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
  run_->Environment().logPath = options_.logPath.empty() ? core::LogFilePath() : options_.logPath;
  run_->Button7Click();
  CloseIfAsked();
}

void TForm1::bbreadClick() {
  run_->bbreadClick();
  CloseIfAsked();
}
void TForm1::bbwriteClick() {
  run_->bbwriteClick();
  CloseIfAsked();
}
void TForm1::bbcopyClick() {
  run_->bbcopyClick();
  CloseIfAsked();
}
void TForm1::bblatenClick() {
  run_->bblatenClick();
  CloseIfAsked();
}

void TForm1::closeEvent(QCloseEvent* event) {
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
  close();
  // The window was hidden, so closing it no longer counts as the last window closed.
  QCoreApplication::quit();
}

// After a stored upload the link leads to that result's page; its text stays the site's address.
void TForm1::JvgLabel1Click() {
  platform::OpenWebAddress(resultAddress_.empty() ? ui::ProgramWebSite() : resultAddress_);
}

void TForm1::contextMenuEvent(QContextMenuEvent* event) { SystemMenu1->exec(event->globalPos()); }

std::string TForm1::Caption(const QLabel* label) const {
  for (int p = 0; p <= static_cast<int>(core::Panel::mainbp); ++p) {
    if (PanelOf(static_cast<core::Panel>(p)) == label) return PanelText(static_cast<core::Panel>(p));
  }
  return label->text().toStdString();
}

std::string TForm1::BarCaption(core::BarId id) const { return BarOf(id)->caption(); }

std::string TForm1::ScoreText() const { return ScoreCaption(); }

core::RecordInputs TForm1::CurrentRecordInputs() const {
  return core::CurrentRecordInputs(*this, run_->Environment());
}

void TForm1::ShowResults(const core::MachineFacts& facts, const sysinfo::PanelTexts& panels,
                         const std::vector<core::BarValue>& bars, const std::string& score) {
  facts_ = facts;
  run_->Environment().machineIdHash = facts_.machineIdHash;
  core::ShowPanels(*this, panels);
  SetReportLines(facts_.reportLines);
  for (size_t i = 0; i < bars.size() && i < 4; ++i) SetBar(static_cast<core::BarId>(i), bars[i]);
  SetScoreCaption(score);
}

// --- core::BenchView ---

window::GradientBar* TForm1::BarOf(core::BarId id) const {
  switch (id) {
    case core::BarId::Read:
      return bread;
    case core::BarId::Write:
      return bwrite;
    case core::BarId::Copy:
      return bcopy;
    case core::BarId::Latency:
      return blaten;
  }
  return bread;
}

QWidget* TForm1::ControlOf(core::Control control) const {
  switch (control) {
    case core::Control::ButtonBar:
      return buttonbar;
    case core::Control::Button7:
      return button7;
    case core::Control::CheckBox1:
      return CheckBox1;
    case core::Control::CheckBox2:
      return CheckBox2;
    case core::Control::CheckBox3:
      return CheckBox3;
    case core::Control::CheckBox4:
      return CheckBox4;
    case core::Control::CheckBox5:
      return CheckBox5;
    case core::Control::Upload:
      return upload;
    case core::Control::Gauge:
      return gauge;
  }
  return button7;
}

QLabel* TForm1::PanelOf(core::Panel panel) const {
  switch (panel) {
    case core::Panel::osp:
      return osp;
    case core::Panel::cpup:
      return cpup;
    case core::Panel::cpucores:
      return cpucores;
    case core::Panel::cpuclockp:
      return cpuclockp;
    case core::Panel::ramp:
      return ramp;
    case core::Panel::ramtimip:
      return ramtimip;
    case core::Panel::ramp1:
      return ramp1;
    case core::Panel::ramp2:
      return ramp2;
    case core::Panel::ramp3:
      return ramp3;
    case core::Panel::ramp4:
      return ramp4;
    case core::Panel::mainbp:
      return mainbp;
  }
  return osp;
}

core::BarValue TForm1::Bar(core::BarId id) const { return BarOf(id)->value(); }
void TForm1::SetBar(core::BarId id, const core::BarValue& value) { BarOf(id)->setValue(value); }

void TForm1::FitBarWidth(core::BarId id) {
  window::GradientBar* bar = BarOf(id);
  bar->resize(main->contentsRect().width() - 9, bar->height());
}

int TForm1::ProgressPosition() const { return ProgressBar1->value(); }

void TForm1::SetProgressPosition(int position) {
  // The bar clamps as the window's bars do: above the maximum it shows full.
  ProgressBar1->setValue(std::clamp(position, 0, ProgressBar1->maximum()));
}

void TForm1::SetProgressMax(int max) { ProgressBar1->setMaximum(std::max(0, max)); }
void TForm1::RepaintProgress() { ProgressBar1->repaint(); }

bool TForm1::Checked(core::Control control) const {
  const auto* box = qobject_cast<const QCheckBox*>(ControlOf(control));
  return box != nullptr && box->isChecked();
}

void TForm1::SetEnabled(core::Control control, bool enabled) {
  ControlOf(control)->setEnabled(enabled);
  // The curve measures too: it may start only when a run may.
  if (control == core::Control::Button7) {
    curve->setEnabled(enabled);
    Curve1->setEnabled(enabled);
  }
}

std::string TForm1::PanelText(core::Panel panel) const {
  const QLabel* label = PanelOf(panel);
  // The 8-bit text as the gathering composed it, not the displayed copy.
  const QVariant raw = label->property("rawText");
  if (raw.isValid()) return raw.toByteArray().toStdString();
  return label->text().toStdString();
}

void TForm1::SetPanelText(core::Panel panel, const std::string& text) {
  QLabel* label = PanelOf(panel);
  label->setProperty("rawText", QByteArray(text.data(), static_cast<qsizetype>(text.size())));
  label->setText(Q(text));
  label->setToolTip(label->fontMetrics().horizontalAdvance(label->text()) > label->width() - 6 ? label->text()
                                                                                               : QString());
}

std::string TForm1::ScoreCaption() const { return acLabel3->text().toStdString(); }
void TForm1::SetScoreCaption(const std::string& text) { acLabel3->setText(Q(text)); }

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

void TForm1::SetReportLines(const std::vector<std::string>& lines) {
  QStringList text;
  text.reserve(static_cast<qsizetype>(lines.size()));
  for (const std::string& line : lines) text << Q(line);
  Memo2->setPlainText(text.join(QLatin1Char('\n')));
}

void TForm1::ShowMessage(const std::string& title, const std::string& text) {
  if (options_.messageSink) {
    options_.messageSink(title, text);
    return;
  }
  QMessageBox box(QMessageBox::Warning, Q(title), Q(text), QMessageBox::Ok, this);
  box.exec();
}

void TForm1::ClickTestButton(core::BarId id) {
  switch (id) {
    case core::BarId::Read:
      bbread->click();
      break;
    case core::BarId::Write:
      bbwrite->click();
      break;
    case core::BarId::Copy:
      bbcopy->click();
      break;
    case core::BarId::Latency:
      bblaten->click();
      break;
  }
}
