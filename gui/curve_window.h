// The "Cache & memory curve" window: READ and WRITE bandwidth and LATENCY over the block size,
// the cache levels as labelled lines, and the all-core figures under the chart. It draws the
// curve's model (core::CurveState), which core::CurveSequence changes from a measuring thread.
#pragma once

#include <QColor>
#include <QImage>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QWidget>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/allcore.h"
#include "core/curve.h"
#include "core/curve_sequence.h"
#include "sysinfo/system_spec.h"

QT_BEGIN_NAMESPACE
class QChart;
class QChartView;
class QLineSeries;
class QScatterSeries;
class QValueAxis;
class QLogValueAxis;
class QCategoryAxis;
QT_END_NAMESPACE

namespace gui {

// How the legend names the bandwidth lines, and the scaling its tooltip gives.
inline constexpr const char* kCurveReadName = "READ (MByte/s, as the main window scales it)";
inline constexpr const char* kCurveWriteName = "WRITE (MByte/s, as the main window scales it)";
inline constexpr const char* kCurveScaleTip =
    "MByte/s as the main window shows them: the module's Mb/s (2^20 bytes per second) × 1.07025, "
    "and READ × 1.048 on top";

// A value axis from 0 with round steps (1, 2 or 5 times a power of ten): its top and step.
struct RoundAxis {
  double top = 1;
  double step = 1;
  int ticks() const;
};
RoundAxis RoundAxisFor(double largest);

// The all-core figures against one thread, with the ratio; the sequence's text when it has no
// figures (an error, or a curve shown from elsewhere).
std::string AllCoreLine(const core::AllCoreFigures& figures, const std::string& text);

// The colours of the chart's lines (tests look for their pixels).
inline const QColor kCurveReadColour(20, 80, 220);
inline const QColor kCurveWriteColour(210, 20, 20);
inline const QColor kCurveLatencyColour(230, 140, 0);
inline const QColor kCurveCacheColour(150, 0, 160);
inline const QColor kCurveMeasuredCacheColour(0, 130, 120);

struct CurveWindowOptions {
  // Start measuring when the window is shown (tests fill it with ShowCurve instead).
  bool start = true;
  // Replaces the module calls (tests); empty = the carried modules.
  std::function<core::CurveModules()> modules;
  // Replace the all-core and the peak measurement (tests); empty = the real ones.
  std::function<core::AllCoreFigures(const std::atomic<bool>* stop)> allCores;
  std::function<std::vector<peak::PeakResult>(const std::atomic<bool>* stop)> peak;
};

class CurveWindow : public QWidget {
  Q_OBJECT

 public:
  explicit CurveWindow(const sysinfo::SystemSpec& spec,
                       const CurveWindowOptions& options = CurveWindowOptions(), QWidget* parent = nullptr);
  ~CurveWindow() override;

  // Starts a measurement unless one runs.
  void Start();
  // Starts the latency-under-load sweep unless a measurement runs.
  void StartLoaded();
  bool Running() const { return state_.Running(); }
  // Waits for the measuring thread (processing events meanwhile); tests and the terminal.
  void WaitFinished();

  // Shows a finished curve (and the all-core line, when not empty) with the cache levels it shows.
  void ShowCurve(const core::Curve& curve, const std::string& allCoreText);
  const core::Curve& CurrentCurve() const { return state_.Points(); }
  const std::vector<core::CacheMark>& Marks() const { return marks_; }
  std::string AllCoreText() const { return state_.AllCoreText(); }

  // The chart alone, as it is drawn now, at the given size (the widget's own when empty).
  QImage ChartImage(const QSize& size = QSize()) const;
  bool SavePng(const std::string& path, std::string* error) const;
  bool SaveCsv(const std::string& path, std::string* error) const;

  QPushButton *startButton, *loadedButton, *pngButton, *csvButton, *closeButton;
  QProgressBar* progress;
  QLabel* status;
  QLabel* allCoreLabel;
  QLabel* cacheLabel;   // reported beside measured cache levels
  QLabel* peakLabel;    // the machine's peak
  QLabel* loadedLabel;  // the latency-under-load points as text

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  // Hands the sequence's changes to this window's thread.
  struct ToWindow : core::CurveView {
    CurveWindow* window;
    explicit ToWindow(CurveWindow* w) : window(w) {}
    void Apply(const std::function<void()>& change) override;
  };

  void BuildChart();
  void BuildLoadedChart();
  void Draw(core::CurveState::Part part);
  void Redraw();
  void RedrawLoaded();
  void DrawCaches();
  // Keeps each cache level's label beside its line and inside the plot.
  void PlaceCacheLabels();
  // The reported levels whose size the curve does not bear out (drawn, but not stretching the axis).
  bool ReportedLevelImplausible(size_t i) const;
  void StopWorker();
  void SavePngClick();
  void SaveCsvClick();

  sysinfo::SystemSpec spec_;
  CurveWindowOptions options_;
  std::vector<core::CacheMark> marks_;
  core::CurveState state_;
  ToWindow toWindow_{this};
  std::unique_ptr<core::CurveSequence> sequence_;
  bool started_ = false;

  QChart* chart_ = nullptr;
  QChartView* view_ = nullptr;
  QLineSeries *read_ = nullptr, *write_ = nullptr, *latency_ = nullptr;
  QCategoryAxis* sizeAxis_ = nullptr;
  QValueAxis* bandwidthAxis_ = nullptr;
  QLogValueAxis* latencyAxis_ = nullptr;  // logarithmic, so L1 and L2 are not flattened
  std::vector<QLineSeries*> cacheLines_;
  std::vector<QScatterSeries*> cacheLabels_;
  std::vector<QLineSeries*> measuredLines_;
  std::vector<QScatterSeries*> measuredLabels_;
  double lastX_ = 10, bandwidthTop_ = 1000;

  QChart* loadedChart_ = nullptr;
  QChartView* loadedView_ = nullptr;
  QLineSeries* loadedSeries_ = nullptr;
  QValueAxis *loadedBandwidthAxis_ = nullptr, *loadedLatencyAxis_ = nullptr;

  std::thread worker_;
};

// The chart of a finished curve as a PNG file, drawn by the window offscreen (the terminal's
// --png).
bool WriteCurvePng(const sysinfo::SystemSpec& spec, const core::Curve& curve, const std::string& allCoreText,
                   const std::string& path, std::string* error);

}  // namespace gui
