#include "gui/main_face.h"

#include <QDate>
#include <QIcon>
#include <QLocale>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <iterator>
#include <numbers>

#include "gui/about.h"
#include "gui/curve_window.h"
#include "gui/fonts.h"
#include "gui/qt_text.h"
#include "gui/window_shot.h"

namespace gui {

namespace {

constexpr int kClientWidth = kMainOuterSize - 2 * gui::kShotFrame;
constexpr int kClientHeight = kMainOuterSize - gui::kShotCaptionHeight - 2 * gui::kShotFrame;
constexpr int kSummaryHeight = 169;
constexpr int kButtonBarHeight = 31;
constexpr int kStatusBarHeight = 28;
constexpr int kOutOfView = 2000;  // left edge of the controls nobody sees

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

// A falling bandwidth line over a rising latency line, with a dashed cache boundary.
QIcon CurveGlyph() {
  QPixmap pm(20, 20);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(90, 90, 90), 1));
  p.drawLine(QPointF(2.5, 2), QPointF(2.5, 17.5));
  p.drawLine(QPointF(2.5, 17.5), QPointF(18, 17.5));
  p.setPen(QPen(gui::kCurveCacheColour, 1, Qt::DashLine));
  p.drawLine(QPointF(10.5, 3), QPointF(10.5, 17));
  p.setPen(QPen(gui::kCurveReadColour, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.drawPolyline(QPolygonF{QPointF(4, 5), QPointF(9, 5.5), QPointF(12, 11), QPointF(17, 12)});
  p.setPen(QPen(gui::kCurveLatencyColour, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.drawPolyline(QPolygonF{QPointF(4, 15.5), QPointF(9, 15), QPointF(12, 8), QPointF(17, 6.5)});
  return QIcon(pm);
}

MainFace::MainFace(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint) {
  setFont(PixelFont("Tahoma", 11));
  QPalette windowPalette = palette();
  windowPalette.setColor(QPalette::Window, QColor(228, 228, 222));
  setPalette(windowPalette);
  setAutoFillBackground(true);

  BuildSummary();
  BuildScoreBox();
  BuildButtonBar();
  BuildResults();
  BuildStatusBar();
  LayOut();
  // The logo keeps the product's plain name; the title may grow a new-version mark.
  acLabel1->setText(QStringLiteral(" ") + Q(core::kTitles.program) + QStringLiteral(" "));
}

// The system summary: a caption and a value panel for each fact.
void MainFace::BuildSummary() {
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
  cpuclockp = MakeValuePanel(323, 22, 65);
  ramp = MakeValuePanel(59, 40, 329);
  ramtimip = MakeValuePanel(59, 58, 329);
  mainbp = MakeValuePanel(59, 76, 329);
  ramp1 = MakeValuePanel(59, 94, 213);
  ramp2 = MakeValuePanel(59, 112, 213);
  ramp3 = MakeValuePanel(59, 130, 213);
  ramp4 = MakeValuePanel(59, 148, 213);
}

// The score box in the summary: the score, its unit, and the curve button.
void MainFace::BuildScoreBox() {
  Panel3 = new QFrame(Panel1);
  Panel3->setFrameStyle(QFrame::Panel | QFrame::Raised);
  Panel3->setGeometry(277, 94, 111, 71);
  Panel3->setAutoFillBackground(true);
  QPalette scorePalette = Panel3->palette();
  scorePalette.setColor(QPalette::Window, QColor(250, 250, 246));
  Panel3->setPalette(scorePalette);
  acLabel3 = new QLabel(Panel3);
  QFont scoreFont = PixelFont("Tahoma", 30, true);
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
  curve->setIcon(CurveGlyph());
  curve->setIconSize(QSize(16, 16));
  curve->setToolTip(QStringLiteral("Cache & memory curve"));
  curve->setAutoRaise(true);
  curve->setGeometry(2, 71 - 2 - 21, 20, 20);
  QFont unitFont = PixelFont("Tahoma", 12, true);
  acLabel2->setFont(unitFont);
  acLabel2->setPalette(navy);
  acLabel2->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  acLabel2->setGeometry(2, 46, 105, 18);
}

// The test boxes, LOG!, " Start Bench!", upload and quick compare in one row.
void MainFace::BuildButtonBar() {
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
  for (QCheckBox* box : {CheckBox1, CheckBox2, CheckBox3, CheckBox4}) box->setFont(PixelFont("Tahoma", 10));
  CheckBox5->setFont(PixelFont("Tahoma", 10, true));
  int x = 4;
  for (QCheckBox* box : {CheckBox1, CheckBox2, CheckBox3, CheckBox4, CheckBox5}) {
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
}

// The four result bars.
void MainFace::BuildResults() {
  main = Sunken(this);
  bread = new GradientBar(QColor(200, 225, 255), QColor(20, 80, 220), main);
  bwrite = new GradientBar(QColor(255, 205, 205), QColor(210, 20, 20), main);
  bcopy = new GradientBar(QColor(205, 245, 205), QColor(20, 160, 40), main);
  blaten = new GradientBar(QColor(238, 238, 238), QColor(110, 110, 110), main);
}

// The logo, the progress, the version and the site's link; the report buffer out of view.
void MainFace::BuildStatusBar() {
  Panel2 = new QFrame(this);
  Panel2->setFrameStyle(QFrame::Panel | QFrame::Raised);
  acLabel1 = new QLabel(Panel2);
  QFont logoFont = PixelFont("Tahoma", 15, true);
  logoFont.setItalic(true);
  acLabel1->setFont(logoFont);
  QPalette logoPalette = acLabel1->palette();
  logoPalette.setColor(QPalette::WindowText, QColor(0, 0, 128));
  acLabel1->setPalette(logoPalette);
  acLabel1->setGeometry(3, 2, 110, 24);
  ProgressBar1 = new QProgressBar(Panel2);
  ProgressBar1->setTextVisible(false);
  ProgressBar1->setGeometry(116, 9, 118, 10);
  JvgLabel2 = new QLabel(Panel2);
  JvgLabel2->setFont(PixelFont("Tahoma", 10));
  JvgLabel2->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  JvgLabel2->setGeometry(236, 1, kClientWidth - 236 - 5, 13);
  JvgLabel1 = new LinkLabel(Panel2);
  JvgLabel1->setFont([] {
    QFont f = PixelFont("Tahoma", 10);
    f.setUnderline(true);
    return f;
  }());
  JvgLabel1->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  JvgLabel1->setGeometry(236, 13, kClientWidth - 236 - 5, 13);
  JvgLabel1->setText(Q(ProgramWebSite()));
  StatusLine = new QLabel(Panel2);
  StatusLine->setFont(PixelFont("Tahoma", 10));
  StatusLine->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  StatusLine->setAutoFillBackground(true);
  // Over the progress bar, clear of the date and the link at the right.
  StatusLine->setGeometry(116, 1, 172, 26);
  StatusLine->hide();
  statusTimer_ = new QTimer(this);
  statusTimer_->setSingleShot(true);
  connect(statusTimer_, &QTimer::timeout, this, [this] { HideStatus(); });

  Memo2 = new QPlainTextEdit(this);
  Memo2->setReadOnly(true);
  Memo2->setLineWrapMode(QPlainTextEdit::NoWrap);
  Memo2->setGeometry(kOutOfView, 5 * 24, 200, 100);
  // Out of view, out of the Tab chain.
  Memo2->setFocusPolicy(Qt::NoFocus);
}

void MainFace::LayOut() {
  // The summary on top, the button bar under it, the results filling the space above the status bar.
  setFixedSize(kClientWidth, kClientHeight);
  Panel1->setGeometry(0, 0, kClientWidth, kSummaryHeight);
  buttonbar->setGeometry(0, kSummaryHeight, kClientWidth, kButtonBarHeight);
  Panel2->setGeometry(0, kClientHeight - kStatusBarHeight, kClientWidth, kStatusBarHeight);
  main->setGeometry(0, kSummaryHeight + kButtonBarHeight, kClientWidth,
                    kClientHeight - kSummaryHeight - kButtonBarHeight - kStatusBarHeight);

  const QRect client = main->contentsRect();
  const int h = client.height() / 5 + 5;
  const int tops[] = {3, h + 5, 2 * h + 6, 3 * h + 7};
  GradientBar* bars[] = {bread, bwrite, bcopy, blaten};
  for (int i = 0; i < 4; ++i)
    bars[i]->setGeometry(client.left() + 3, client.top() + tops[i], client.width() - 9, h);
}

void MainFace::ShowVersion(const std::string& versionText) {
  const QString today = QLocale::system().toString(QDate::currentDate(), QLocale::ShortFormat);
  JvgLabel2->setText(today + QStringLiteral(" - v") + Q(versionText));
}

QLabel* MainFace::MakeCaption(const char* text, int top) {
  auto* label = new QLabel(Q(text), Panel1);
  label->setFont(gui::PixelFont("Tahoma", 11));
  label->setAlignment(Qt::AlignRight | Qt::AlignTop);
  QPalette pal = label->palette();
  pal.setColor(QPalette::WindowText, Qt::black);
  label->setPalette(pal);
  label->setGeometry(0, top, 55, 14);
  return label;
}

QLabel* MainFace::MakeValuePanel(int left, int top, int width) {
  auto* panel = new QLabel(Panel1);
  panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  panel->setLineWidth(1);
  panel->setFont(gui::PixelFont("Tahoma", 11, true));
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

void MainFace::ShowStatus(const QString& first, const QString& second) {
  // From the progress bar up to the date's or the link's text, whichever reaches further left.
  int right = Panel2->width() - 5;
  for (const QLabel* label : {static_cast<const QLabel*>(JvgLabel2), static_cast<const QLabel*>(JvgLabel1)})
    right = std::min(right,
                     label->geometry().right() - label->fontMetrics().horizontalAdvance(label->text()) - 6);
  StatusLine->setGeometry(116, 1, std::max(100, right - 116), 26);
  // A path loses letters from its folders, not from its file's name.
  const QFontMetrics fm = StatusLine->fontMetrics();
  const qsizetype slash = second.lastIndexOf(QLatin1Char('/'));
  const QString name = slash >= 0 ? second.mid(slash) : QString();
  const int room = StatusLine->width() - 4 - fm.horizontalAdvance(name);
  const QString elided = fm.horizontalAdvance(second) <= StatusLine->width() - 4 || room < 20
                             ? fm.elidedText(second, Qt::ElideMiddle, StatusLine->width() - 4)
                             : fm.elidedText(second.left(slash), Qt::ElideMiddle, room) + name;
  StatusLine->setText(first + QLatin1Char('\n') + elided);
  StatusLine->setToolTip(second);
  StatusLine->show();
  StatusLine->raise();
  statusTimer_->start(20000);
}

void MainFace::HideStatus() {
  statusTimer_->stop();
  StatusLine->hide();
}

void MainFace::FitBarWidth(core::BarId id) {
  GradientBar* bar = BarOf(id);
  bar->resize(main->contentsRect().width() - 9, bar->height());
}

GradientBar* MainFace::BarOf(core::BarId id) const {
  GradientBar* const bars[] = {bread, bwrite, bcopy, blaten};
  return bars[static_cast<int>(id)];
}

QWidget* MainFace::ControlOf(core::Control control) const {
  // In the order of core::Control.
  QWidget* const controls[] = {CheckBox1, CheckBox2, CheckBox3, CheckBox4, CheckBox5,
                               button7,   upload,    gauge,     buttonbar};
  static_assert(std::size(controls) == core::kControlCount);
  return controls[static_cast<int>(control)];
}

QCheckBox* MainFace::BoxOf(core::Control control) const {
  return qobject_cast<QCheckBox*>(ControlOf(control));
}

void MainFace::RenderPanels(const sysinfo::PanelTexts& panels) {
  const std::pair<QLabel*, const std::string*> shown[] = {
      {osp, &panels.osp},           {cpup, &panels.cpup},
      {cpucores, &panels.cpucores}, {cpuclockp, &panels.cpuclockp},
      {ramp, &panels.ramp},         {ramtimip, &panels.ramtimip},
      {ramp1, &panels.modules[0]},  {ramp2, &panels.modules[1]},
      {ramp3, &panels.modules[2]},  {ramp4, &panels.modules[3]},
      {mainbp, &panels.mainbp}};
  for (const auto& [label, text] : shown) {
    label->setText(Q(*text));
    // A text cut off by its panel can still be read whole.
    label->setToolTip(label->fontMetrics().horizontalAdvance(label->text()) > label->width() - 6
                          ? label->text()
                          : QString());
  }
}

void MainFace::Render(const core::WindowState& state, const core::WindowState::Change& change) {
  using Part = core::WindowState::Part;
  switch (change.part) {
    case Part::Bar: {
      const auto id = static_cast<core::BarId>(change.index);
      BarOf(id)->setValue(state.Bar(id));
      break;
    }
    case Part::Progress:
      ProgressBar1->setMaximum(state.ProgressMax());
      ProgressBar1->setValue(state.ProgressPosition());
      break;
    case Part::Checked:
      if (QCheckBox* box = BoxOf(static_cast<core::Control>(change.index)))
        box->setChecked(state.Checked(static_cast<core::Control>(change.index)));
      break;
    case Part::Enabled: {
      const auto control = static_cast<core::Control>(change.index);
      ControlOf(control)->setEnabled(state.Enabled(control));
      // The curve measures too: it may start only when a run may.
      if (control == core::Control::Start) curve->setEnabled(state.Enabled(control));
      break;
    }
    case Part::Panels:
      RenderPanels(state.Panels());
      break;
    case Part::Score:
      acLabel3->setText(Q(state.ScoreCaption()));
      break;
    case Part::ReportLines: {
      QStringList text;
      text.reserve(static_cast<qsizetype>(state.ReportLines().size()));
      for (const std::string& line : state.ReportLines()) text << Q(line);
      Memo2->setPlainText(text.join(QLatin1Char('\n')));
      break;
    }
    case Part::Title:
      setWindowTitle(Q(state.Title()));
      break;
    case Part::UploadTag:
      break;
  }
}

void MainFace::Render(const core::WindowState& state) {
  using Part = core::WindowState::Part;
  for (core::BarId id : core::kBars) Render(state, {Part::Bar, static_cast<int>(id)});
  for (int c = 0; c < core::kControlCount; ++c) {
    Render(state, {Part::Checked, c});
    Render(state, {Part::Enabled, c});
  }
  for (Part part : {Part::Progress, Part::Panels, Part::Score, Part::ReportLines, Part::Title})
    Render(state, {part, 0});
}

}  // namespace gui
