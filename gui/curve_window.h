// The "Cache & memory curve" window: READ and WRITE bandwidth and LATENCY over the block size,
// drawn as the points arrive from a measuring thread, the cache levels as labelled lines, and the
// all-core figures under the chart.
#pragma once

#include <QColor>
#include <QImage>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QWidget>
#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "core/allcore.h"
#include "core/curve.h"
#include "sysinfo/system_spec.h"

QT_BEGIN_NAMESPACE
class QChart;
class QChartView;
class QLineSeries;
class QScatterSeries;
class QValueAxis;
class QCategoryAxis;
QT_END_NAMESPACE

namespace gui {

// The colours of the chart's lines (tests look for their pixels).
inline const QColor kCurveReadColour(20, 80, 220);
inline const QColor kCurveWriteColour(210, 20, 20);
inline const QColor kCurveLatencyColour(230, 140, 0);
inline const QColor kCurveCacheColour(150, 0, 160);

struct CurveWindowOptions {
  // Start measuring when the window is shown (tests fill it with ShowCurve instead).
  bool start = true;
  // Replaces the module calls (tests); empty = the carried modules.
  std::function<core::CurveModules()> modules;
  // Replaces the all-core measurement (tests); empty = the real one.
  std::function<core::AllCoreFigures(const std::atomic<bool>* stop)> allCores;
};

class CurveWindow : public QWidget {
  Q_OBJECT

 public:
  explicit CurveWindow(const sysinfo::SystemSpec& spec,
                       const CurveWindowOptions& options = CurveWindowOptions(), QWidget* parent = nullptr);
  ~CurveWindow() override;

  // Starts a measurement unless one runs.
  void Start();
  bool Running() const { return worker_.joinable() && !finished_; }
  // Waits for the measuring thread (processing events meanwhile); tests and the terminal.
  void WaitFinished();

  // Shows a finished curve (and the all-core line, when not empty).
  void ShowCurve(const core::Curve& curve, const std::string& allCoreText);
  const core::Curve& CurrentCurve() const { return curve_; }
  const std::vector<core::CacheMark>& Marks() const { return marks_; }
  std::string AllCoreText() const { return allCoreText_; }

  // The chart alone, as it is drawn now, at the given size (the widget's own when empty).
  QImage ChartImage(const QSize& size = QSize()) const;
  bool SavePng(const std::string& path, std::string* error) const;
  bool SaveCsv(const std::string& path, std::string* error) const;

  QPushButton *startButton, *pngButton, *csvButton, *closeButton;
  QProgressBar* progress;
  QLabel* status;
  QLabel* allCoreLabel;

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildChart();
  void SetPoint(const core::CurvePoint& point);
  void Redraw();
  void Finished(const std::string& error);
  void StopWorker();
  void SavePngClick();
  void SaveCsvClick();

  sysinfo::SystemSpec spec_;
  CurveWindowOptions options_;
  core::Curve curve_;
  std::vector<core::CacheMark> marks_;
  std::string allCoreText_;
  bool started_ = false;

  QChart* chart_ = nullptr;
  QChartView* view_ = nullptr;
  QLineSeries *read_ = nullptr, *write_ = nullptr, *latency_ = nullptr;
  QCategoryAxis* sizeAxis_ = nullptr;
  QValueAxis *bandwidthAxis_ = nullptr, *latencyAxis_ = nullptr;
  std::vector<QLineSeries*> cacheLines_;
  std::vector<QScatterSeries*> cacheLabels_;

  std::thread worker_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> finished_{true};
};

// The chart of a finished curve as a PNG file, drawn by the window offscreen (the terminal's
// --png).
bool WriteCurvePng(const sysinfo::SystemSpec& spec, const core::Curve& curve, const std::string& allCoreText,
                   const std::string& path, std::string* error);

}  // namespace gui
