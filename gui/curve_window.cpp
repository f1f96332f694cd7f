#include "gui/curve_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QPainter>
#include <QToolTip>
#include <QVBoxLayout>
#include <QtCharts/QCategoryAxis>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QLegendMarker>
#include <QtCharts/QLineSeries>
#include <QtCharts/QLogValueAxis>
#include <QtCharts/QScatterSeries>
#include <QtCharts/QValueAxis>
#include <algorithm>
#include <cmath>

#include "core/host.h"
#include "core/numeric.h"
#include "core/titles.h"
#include "gui/qt_text.h"
#include "platform/file_io.h"
#include "platform/processors.h"

namespace gui {
namespace {

const char kTitle[] = "Cache & memory curve";

double X(uint64_t kb) { return std::log2(static_cast<double>(std::max<uint64_t>(kb, 1))); }

QPen SeriesPen(const QColor& colour, qreal width, Qt::PenStyle style = Qt::SolidLine) {
  QPen pen(colour);
  pen.setWidthF(width);
  pen.setStyle(style);
  return pen;
}

// Log axis ends: whole powers of ten around the points, so every labelled tick is round.
std::pair<double, double> LogRange(double smallest, double largest) {
  if (!(smallest > 0) || !(largest > 0)) return {1, 1000};
  double low = std::pow(10.0, std::floor(std::log10(smallest)));
  double high = std::pow(10.0, std::ceil(std::log10(largest * 1.08)));
  if (high / low < 100) high = low * 100;  // at least two decades, so three labels
  return {low, high};
}

}  // namespace

int RoundAxis::ticks() const { return static_cast<int>(std::lround(top / step)) + 1; }

RoundAxis RoundAxisFor(double largest) {
  RoundAxis axis;
  if (!(largest > 0) || !std::isfinite(largest)) return axis;
  // Four to six steps up to the first round value above the largest point.
  const double unit = std::pow(10.0, std::floor(std::log10(largest / 6)));
  for (double scale : {1.0, 10.0}) {
    for (double nice : {1.0, 2.0, 5.0}) {
      const double step = nice * unit * scale;
      const double top = std::ceil(largest / step - 1e-9) * step;
      if (top / step <= 6.0 + 1e-9) {
        axis.step = step;
        axis.top = top;
        return axis;
      }
    }
  }
  return axis;
}

std::string AllCoreLine(const core::AllCoreFigures& figures, const std::string& text) {
  if (!figures.error.empty() || figures.threads <= 0) return text;
  std::string line =
      "All cores (" + std::to_string(figures.threads) + " threads) against one thread, MByte/s:";
  const char* names[] = {"READ", "WRITE", "COPY"};
  bool any = false;
  for (int i = 0; i < 3; ++i) {
    if (figures.machine[i] < 0) continue;
    any = true;
    line += std::string("   ") + names[i] + " " + core::FixedText(figures.machine[i], 0);
    if (figures.single[i] > 0)
      line += " / " + core::FixedText(figures.single[i], 0) + " (x" +
              core::FixedText(figures.machine[i] / figures.single[i], 2) + ")";
  }
  return any ? line : text;
}

CurveWindow::CurveWindow(const sysinfo::SystemSpec& spec, const CurveWindowOptions& options, QWidget* parent)
    : QWidget(parent, Qt::Window), spec_(spec), options_(options) {
  setWindowTitle(Q(kTitle));
  marks_ = core::CacheMarks(spec_);
  core::CurveSteps steps;
  if (options_.modules) steps.modules = options_.modules();
  if (options_.allCores) {
    steps.allCores = [fake = options_.allCores](const std::atomic<bool>* stop,
                                                const std::function<void(const std::string&)>&) {
      return fake(stop);
    };
  }
  if (options_.peak) {
    steps.peak = [fake = options_.peak](const peak::PeakTableOptions&, const peak::Progress&,
                                        const std::atomic<bool>* stop) { return fake(stop); };
  }
  sequence_ = std::make_unique<core::CurveSequence>(state_, toWindow_, spec_, steps);
  BuildChart();

  progress = new QProgressBar(this);
  progress->setTextVisible(false);
  progress->setFixedHeight(12);
  progress->setRange(0, 1);
  progress->setValue(0);
  status = new QLabel(this);
  allCoreLabel = new QLabel(this);
  allCoreLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
  cacheLabel = new QLabel(this);
  cacheLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
  cacheLabel->setWordWrap(true);
  peakLabel = new QLabel(this);
  peakLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
  peakLabel->setToolTip(QStringLiteral(
      "The widest vector loads and non-temporal stores this processor has, on pinned threads. Not part of "
      "the score, the log or the upload."));
  loadedLabel = new QLabel(this);
  loadedLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
  loadedLabel->setWordWrap(true);
  startButton = new QPushButton(QStringLiteral("Measure"), this);
  loadedButton = new QPushButton(QStringLiteral("Under load"), this);
  loadedButton->setToolTip(QStringLiteral("Latency of a chase in memory while the other processors stream"));
  pngButton = new QPushButton(QStringLiteral("Save PNG..."), this);
  csvButton = new QPushButton(QStringLiteral("Save CSV..."), this);
  closeButton = new QPushButton(QStringLiteral("Close"), this);

  BuildLoadedChart();
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(view_, 3);
  layout->addWidget(loadedView_, 2);
  layout->addWidget(cacheLabel);
  layout->addWidget(allCoreLabel);
  layout->addWidget(peakLabel);
  layout->addWidget(loadedLabel);
  auto* row = new QHBoxLayout;
  row->addWidget(progress, 1);
  row->addWidget(status, 2);
  row->addWidget(startButton);
  row->addWidget(loadedButton);
  row->addWidget(pngButton);
  row->addWidget(csvButton);
  row->addWidget(closeButton);
  layout->addLayout(row);
  resize(900, 600);

  connect(startButton, &QPushButton::clicked, this, [this] { Start(); });
  connect(loadedButton, &QPushButton::clicked, this, [this] { StartLoaded(); });
  connect(pngButton, &QPushButton::clicked, this, [this] { SavePngClick(); });
  connect(csvButton, &QPushButton::clicked, this, [this] { SaveCsvClick(); });
  connect(closeButton, &QPushButton::clicked, this, [this] { close(); });
  state_.SetListener([this](core::CurveState::Part part) { Draw(part); });
}

void CurveWindow::ToWindow::Apply(const std::function<void()>& change) {
  QMetaObject::invokeMethod(
      window, [change] { change(); }, Qt::QueuedConnection);
}

void CurveWindow::Draw(core::CurveState::Part part) {
  using Part = core::CurveState::Part;
  switch (part) {
    case Part::Points:
      Redraw();
      break;
    case Part::Progress:
      progress->setRange(0, state_.ProgressMax());
      progress->setValue(state_.ProgressDone());
      break;
    case Part::Status:
      status->setText(Q(state_.Status()));
      break;
    case Part::AllCore:
      allCoreLabel->setText(Q(AllCoreLine(state_.AllCores(), state_.AllCoreText())));
      break;
    case Part::Running:
      startButton->setEnabled(!state_.Running());
      loadedButton->setEnabled(!state_.Running());
      break;
    case Part::Caches:
      DrawCaches();
      Redraw();
      break;
    case Part::Peak:
      peakLabel->setText(Q(core::PeakSummary(state_.Peak())));
      break;
    case Part::Loaded:
      RedrawLoaded();
      break;
  }
}

void CurveWindow::DrawCaches() {
  std::string text;
  for (const std::string& line : core::CacheComparisonLines(marks_, state_.Caches()))
    text += (text.empty() ? "" : "    ") + line;
  cacheLabel->setText(Q(text));
  cacheLabel->setToolTip(QStringLiteral(
      "Measured: the steps of this curve's LATENCY and READ. Reported: what the processor says "
      "(hypervisors often report their host's caches)."));
  // A measured level is marked where it disagrees with the reported one (or there is none).
  const std::vector<core::MeasuredCache>& caches = state_.Caches();
  const std::vector<core::CacheLevelPair> pairs = core::PairCacheLevels(marks_, caches);
  for (size_t i = 0; i < measuredLines_.size(); ++i) {
    const core::CacheMark* reported = nullptr;
    for (const core::CacheLevelPair& p : pairs)
      if (i < caches.size() && p.measured == &caches[i]) reported = p.reported;
    const bool shown = i < caches.size() &&
                       (reported == nullptr || core::CacheSizesDisagree(reported->kbytes, caches[i].kbytes));
    for (QXYSeries* series : std::initializer_list<QXYSeries*>{measuredLines_[i], measuredLabels_[i]}) {
      series->setVisible(shown);
      // The legend shows its marker again whenever the series is shown.
      for (QLegendMarker* marker : chart_->legend()->markers(series)) marker->setVisible(false);
    }
    if (i < caches.size())
      measuredLabels_[i]->setPointLabelsFormat(Q((reported ? reported->label : caches[i].label) + " ~" +
                                                 core::BlockSizeText(caches[i].kbytes) + " measured"));
  }
}

bool CurveWindow::ReportedLevelImplausible(size_t i) const {
  if (state_.Caches().empty() || state_.Points().empty() || i >= marks_.size()) return false;
  return core::LastLevelKbForSizes(marks_[i].kbytes, state_.Caches()) != marks_[i].kbytes &&
         marks_[i].kbytes > state_.Points().back().blockKb;
}

CurveWindow::~CurveWindow() { StopWorker(); }

void CurveWindow::BuildChart() {
  chart_ = new QChart;
  chart_->setTitle(Q(kTitle));
  chart_->setBackgroundBrush(Qt::white);
  chart_->legend()->setAlignment(Qt::AlignBottom);

  read_ = new QLineSeries;
  read_->setName(Q(kCurveReadName));
  read_->setPen(SeriesPen(kCurveReadColour, 2.5));
  write_ = new QLineSeries;
  write_->setName(Q(kCurveWriteName));
  write_->setPen(SeriesPen(kCurveWriteColour, 2.5));
  latency_ = new QLineSeries;
  latency_->setName(QStringLiteral("LATENCY (ns, right, logarithmic)"));
  latency_->setPen(SeriesPen(kCurveLatencyColour, 2.5));
  for (QLineSeries* series : {read_, write_, latency_}) {
    series->setPointsVisible(true);
    chart_->addSeries(series);
  }

  sizeAxis_ = new QCategoryAxis;
  sizeAxis_->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
  sizeAxis_->setTitleText(QStringLiteral("block size"));
  bandwidthAxis_ = new QValueAxis;
  bandwidthAxis_->setTitleText(QStringLiteral("MByte/s"));
  bandwidthAxis_->setLabelFormat(QStringLiteral("%.0f"));
  latencyAxis_ = new QLogValueAxis;
  latencyAxis_->setBase(10);
  latencyAxis_->setMinorTickCount(8);
  latencyAxis_->setMinorGridLineVisible(false);
  latencyAxis_->setTitleText(QStringLiteral("ns"));
  latencyAxis_->setLabelFormat(QStringLiteral("%g"));
  latencyAxis_->setGridLineVisible(false);  // the bandwidth axis draws the grid
  chart_->addAxis(sizeAxis_, Qt::AlignBottom);
  chart_->addAxis(bandwidthAxis_, Qt::AlignLeft);
  chart_->addAxis(latencyAxis_, Qt::AlignRight);
  for (QLineSeries* series : {read_, write_}) {
    series->attachAxis(sizeAxis_);
    series->attachAxis(bandwidthAxis_);
  }
  latency_->attachAxis(sizeAxis_);
  latency_->attachAxis(latencyAxis_);

  // The cache levels: a dashed line over the whole height and its label at the top.
  for (const core::CacheMark& mark : marks_) {
    auto* line = new QLineSeries;
    line->setPen(SeriesPen(kCurveCacheColour, 1.5, Qt::DashLine));
    auto* label = new QScatterSeries;
    label->setMarkerSize(1);
    label->setColor(Qt::transparent);
    label->setBorderColor(Qt::transparent);
    label->setPointLabelsVisible(true);
    label->setPointLabelsColor(kCurveCacheColour);
    label->setPointLabelsClipping(false);
    label->setPointLabelsFormat(Q(mark.label + " " + core::BlockSizeText(mark.kbytes)));
    for (QXYSeries* series : std::initializer_list<QXYSeries*>{line, label}) {
      chart_->addSeries(series);
      series->attachAxis(sizeAxis_);
      series->attachAxis(bandwidthAxis_);
      for (QLegendMarker* marker : chart_->legend()->markers(series)) marker->setVisible(false);
    }
    cacheLines_.push_back(line);
    cacheLabels_.push_back(label);
  }

  // Up to four measured levels, dotted, shown where they disagree with the reported ones.
  for (int i = 0; i < 4; ++i) {
    auto* line = new QLineSeries;
    line->setPen(SeriesPen(kCurveMeasuredCacheColour, 1.5, Qt::DotLine));
    auto* label = new QScatterSeries;
    label->setMarkerSize(1);
    label->setColor(Qt::transparent);
    label->setBorderColor(Qt::transparent);
    label->setPointLabelsVisible(true);
    label->setPointLabelsColor(kCurveMeasuredCacheColour);
    label->setPointLabelsClipping(false);
    for (QXYSeries* series : std::initializer_list<QXYSeries*>{line, label}) {
      chart_->addSeries(series);
      series->attachAxis(sizeAxis_);
      series->attachAxis(bandwidthAxis_);
      series->setVisible(false);
      for (QLegendMarker* marker : chart_->legend()->markers(series)) marker->setVisible(false);
    }
    measuredLines_.push_back(line);
    measuredLabels_.push_back(label);
  }

  // The scaling behind "as the main window scales it", where the legend is pointed at.
  for (QLineSeries* series : {read_, write_}) {
    for (QLegendMarker* marker : chart_->legend()->markers(series)) {
      connect(marker, &QLegendMarker::hovered, this, [](bool over) {
        if (over)
          QToolTip::showText(QCursor::pos(), Q(kCurveScaleTip));
        else
          QToolTip::hideText();
      });
    }
  }
  connect(chart_, &QChart::plotAreaChanged, this, [this] { PlaceCacheLabels(); });

  view_ = new QChartView(chart_, this);
  view_->setRenderHint(QPainter::Antialiasing);
  Redraw();
}

void CurveWindow::BuildLoadedChart() {
  loadedChart_ = new QChart;
  loadedChart_->setTitle(QStringLiteral("Latency under load"));
  loadedChart_->setBackgroundBrush(Qt::white);
  loadedChart_->legend()->hide();
  loadedSeries_ = new QLineSeries;
  loadedSeries_->setPen(SeriesPen(kCurveLatencyColour, 2.5));
  loadedSeries_->setPointsVisible(true);
  loadedSeries_->setPointLabelsVisible(true);
  loadedSeries_->setPointLabelsFormat(QStringLiteral("@yPoint ns"));
  loadedSeries_->setPointLabelsClipping(false);
  loadedChart_->addSeries(loadedSeries_);
  loadedBandwidthAxis_ = new QValueAxis;
  loadedBandwidthAxis_->setTitleText(QStringLiteral("streams' bandwidth, MByte/s of 10^6 bytes"));
  loadedBandwidthAxis_->setLabelFormat(QStringLiteral("%.0f"));
  loadedLatencyAxis_ = new QValueAxis;
  loadedLatencyAxis_->setTitleText(QStringLiteral("latency, ns"));
  loadedLatencyAxis_->setLabelFormat(QStringLiteral("%.0f"));
  loadedChart_->addAxis(loadedBandwidthAxis_, Qt::AlignBottom);
  loadedChart_->addAxis(loadedLatencyAxis_, Qt::AlignLeft);
  loadedSeries_->attachAxis(loadedBandwidthAxis_);
  loadedSeries_->attachAxis(loadedLatencyAxis_);
  loadedView_ = new QChartView(loadedChart_, this);
  loadedView_->setRenderHint(QPainter::Antialiasing);
  loadedView_->setVisible(false);  // until there is a sweep to show
}

void CurveWindow::RedrawLoaded() {
  const peak::LoadedSweep& sweep = state_.Loaded();
  std::vector<peak::LoadedPoint> points = sweep.points;
  std::sort(points.begin(), points.end(),
            [](const auto& a, const auto& b) { return a.streamMBps < b.streamMBps; });
  QList<QPointF> xy;
  double maxBandwidth = 0, maxLatency = 0;
  for (const peak::LoadedPoint& p : points) {
    xy.append(QPointF(p.streamMBps, std::round(p.latencyNs * 10) / 10));  // labels with one decimal
    maxBandwidth = std::max(maxBandwidth, p.streamMBps);
    maxLatency = std::max(maxLatency, p.latencyNs);
  }
  loadedSeries_->replace(xy);
  const RoundAxis bandwidth = RoundAxisFor(std::max(maxBandwidth, 1000.0) * 1.08);
  const RoundAxis latency = RoundAxisFor(std::max(maxLatency, 10.0) * 1.15);
  loadedBandwidthAxis_->setRange(0, bandwidth.top);
  loadedBandwidthAxis_->setTickCount(bandwidth.ticks());
  loadedLatencyAxis_->setRange(0, latency.top);
  loadedLatencyAxis_->setTickCount(latency.ticks());
  loadedView_->setVisible(!points.empty());
  std::string text;
  for (const std::string& line : core::LoadedLines(sweep))
    text += (text.empty() ? "Under load: " : ";  ") + line;
  if (!sweep.error.empty()) text = sweep.error;
  loadedLabel->setText(Q(text));
}

void CurveWindow::Redraw() {
  const core::Curve& curve = state_.Points();
  uint64_t lastKb = 1024;
  for (const core::CurvePoint& p : curve) lastKb = std::max<uint64_t>(lastKb, p.blockKb);
  for (size_t i = 0; i < marks_.size(); ++i)
    if (!ReportedLevelImplausible(i)) lastKb = std::max<uint64_t>(lastKb, marks_[i].kbytes * 2);
  const double lastX = std::ceil(X(lastKb));

  // Readable sizes along the log axis.
  for (const QString& label : sizeAxis_->categoriesLabels()) sizeAxis_->remove(label);
  sizeAxis_->setStartValue(0);
  for (uint64_t kb : core::CurveAxisLabelsKb())
    if (X(kb) <= lastX) sizeAxis_->append(Q(core::BlockSizeText(kb)), X(kb));
  sizeAxis_->setRange(0, lastX);

  QList<QPointF> reads, writes, latencies;
  double maxBandwidth = 0, maxLatency = 0, minLatency = 0;
  for (const core::CurvePoint& p : curve) {
    if (p.read >= 0) reads.append(QPointF(X(p.blockKb), p.read));
    if (p.write >= 0) writes.append(QPointF(X(p.blockKb), p.write));
    // A log axis has no place for 0.
    if (p.latency > 0) {
      latencies.append(QPointF(X(p.blockKb), p.latency));
      minLatency = minLatency > 0 ? std::min(minLatency, p.latency) : p.latency;
    }
    maxBandwidth = std::max({maxBandwidth, p.read, p.write});
    maxLatency = std::max(maxLatency, p.latency);
  }
  read_->replace(reads);
  write_->replace(writes);
  latency_->replace(latencies);
  // Round tops with round steps between.
  const RoundAxis bandwidth = RoundAxisFor(std::max(maxBandwidth, 1000.0) * 1.08);
  const double bandwidthTop = bandwidth.top;
  bandwidthAxis_->setRange(0, bandwidthTop);
  bandwidthAxis_->setTickCount(bandwidth.ticks());
  const auto [latencyLow, latencyHigh] = LogRange(minLatency, maxLatency);
  latencyAxis_->setRange(latencyLow, latencyHigh);
  lastX_ = lastX;
  bandwidthTop_ = bandwidthTop;
  for (size_t i = 0; i < marks_.size(); ++i) {
    // A reported level beyond the curve that the curve does not bear out is named under the chart.
    const bool shown = !ReportedLevelImplausible(i);
    for (QXYSeries* series : std::initializer_list<QXYSeries*>{cacheLines_[i], cacheLabels_[i]}) {
      series->setVisible(shown);
      for (QLegendMarker* marker : chart_->legend()->markers(series)) marker->setVisible(false);
    }
    const double x = X(marks_[i].kbytes);
    cacheLines_[i]->replace(QList<QPointF>{QPointF(x, 0), QPointF(x, bandwidthTop)});
  }
  const std::vector<core::MeasuredCache>& caches = state_.Caches();
  for (size_t i = 0; i < measuredLines_.size() && i < caches.size(); ++i) {
    const double x = X(caches[i].kbytes);
    measuredLines_[i]->replace(QList<QPointF>{QPointF(x, 0), QPointF(x, bandwidthTop)});
  }
  PlaceCacheLabels();
}

void CurveWindow::PlaceCacheLabels() {
  // Pixels per step of the size axis; before the first layout, a guess from the view's width.
  const QRectF plot = chart_->plotArea();
  const double plotWidth = plot.width() > 10 ? plot.width() : std::max(300, width() - 150);
  const double perStep = plotWidth / std::max(lastX_, 1.0);
  // A label's point is the middle of its text: right of the line, or left of it at the right edge.
  const auto beside = [&](QScatterSeries* label, double x, double y) {
    const QString text = label->pointLabelsFormat();
    const double half = (QFontMetricsF(label->pointLabelsFont()).horizontalAdvance(text) / 2 + 5) / perStep;
    double at = x + half;
    if (at + half > lastX_) at = x - half;
    label->replace(QList<QPointF>{QPointF(std::max(at, half), y)});
  };
  for (size_t i = 0; i < marks_.size(); ++i)
    beside(cacheLabels_[i], X(marks_[i].kbytes), bandwidthTop_ * 0.95);
  const std::vector<core::MeasuredCache>& caches = state_.Caches();
  for (size_t i = 0; i < measuredLabels_.size() && i < caches.size(); ++i) {
    // Staggered, so labels of neighbouring levels do not run into each other.
    beside(measuredLabels_[i], X(caches[i].kbytes),
           bandwidthTop_ * (0.86 - 0.07 * static_cast<double>(i % 3)));
  }
}

void CurveWindow::ShowCurve(const core::Curve& curve, const std::string& allCoreText) {
  state_.SetPoints(curve);
  state_.SetCaches(core::FindCacheLevels(curve));
  state_.SetAllCores(core::AllCoreFigures(), allCoreText);
  state_.SetProgress(1, 1);
  state_.SetStatus("Done.");
}

void CurveWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (options_.start && !started_) Start();
}

void CurveWindow::closeEvent(QCloseEvent* event) {
  StopWorker();
  event->accept();
}

void CurveWindow::Start() {
  if (Running()) return;
  if (worker_.joinable()) worker_.join();
  started_ = true;
  sequence_->Prepare();
  worker_ = std::thread([this] { sequence_->Measure(); });
}

void CurveWindow::StartLoaded() {
  if (Running()) return;
  if (worker_.joinable()) worker_.join();
  sequence_->PrepareLoaded();
  worker_ = std::thread([this] {
    sequence_->MeasureLoaded();
    sequence_->Finish();
  });
}

void CurveWindow::WaitFinished() {
  while (Running()) {
    QApplication::processEvents(QEventLoop::AllEvents, 50);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (worker_.joinable()) worker_.join();
  QApplication::processEvents();
}

void CurveWindow::StopWorker() {
  sequence_->RequestStop();
  if (!worker_.joinable()) return;
  // The module call in progress ends by itself within seconds; the thread stops after it.
  QApplication::setOverrideCursor(Qt::WaitCursor);
  worker_.join();
  QApplication::restoreOverrideCursor();
}

QImage CurveWindow::ChartImage(const QSize& size) const {
  if (size.isValid() && view_->size() != size) {
    // The view follows the window's layout: grow or shrink the window by the difference.
    auto* self = const_cast<CurveWindow*>(this);
    if (isVisible())
      self->resize(this->size() + (size - view_->size()));
    else
      view_->resize(size);
  }
  QCoreApplication::sendPostedEvents();
  QCoreApplication::processEvents();
  // A window never shown has no laid-out chart yet: size the chart and let it lay out.
  if (!view_->isVisible()) {
    chart_->resize(view_->size());
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
  }
  return view_->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

bool CurveWindow::SavePng(const std::string& path, std::string* error) const {
  const QImage image = ChartImage();
  if (!image.save(Q(path), "PNG", 9)) {
    if (error) *error = "The picture could not be written to " + path + ".";
    return false;
  }
  return true;
}

bool CurveWindow::SaveCsv(const std::string& path, std::string* error) const {
  return platform::ReplaceFileAtomically(path, core::CurveCsv(state_.Points()), error);
}

void CurveWindow::SavePngClick() {
  const QString path =
      QFileDialog::getSaveFileName(this, QStringLiteral("Save the chart"), QStringLiteral("curve.png"),
                                   QStringLiteral("PNG pictures (*.png)"));
  if (path.isEmpty()) return;
  std::string error;
  if (!SavePng(path.toStdString(), &error)) QMessageBox::warning(this, Q(core::kTitles.curve), Q(error));
}

void CurveWindow::SaveCsvClick() {
  const QString path =
      QFileDialog::getSaveFileName(this, QStringLiteral("Save the points"), QStringLiteral("curve.csv"),
                                   QStringLiteral("CSV files (*.csv)"));
  if (path.isEmpty()) return;
  std::string error;
  if (!SaveCsv(path.toStdString(), &error)) QMessageBox::warning(this, Q(core::kTitles.curve), Q(error));
}

bool WriteCurvePng(const sysinfo::SystemSpec& spec, const core::Curve& curve, const std::string& allCoreText,
                   const std::string& path, std::string* error) {
  CurveWindowOptions options;
  options.start = false;
  CurveWindow window(spec, options);
  window.setAttribute(Qt::WA_DontShowOnScreen);
  window.resize(900, 600);
  window.show();
  window.ShowCurve(curve, allCoreText);
  const QImage image = window.ChartImage(QSize(900, 560));
  if (!image.save(Q(path), "PNG", 9)) {
    if (error) *error = "The picture could not be written to " + path + ".";
    return false;
  }
  return true;
}

}  // namespace gui
