// The curve window offscreen: a finished curve drawn with its three lines and the cache levels,
// the picture and the points saved, and a measurement through fake modules on the window's
// worker thread.
#include "gui/curve_window.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QtCharts/QCategoryAxis>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QLogValueAxis>
#include <QtCharts/QScatterSeries>
#include <cmath>

#include "core/curve.h"
#include "peak/kernels.h"
#include "platform/file_io.h"
#include "platform/temp_folder.h"
#include "tests/support/cache_spec.h"
#include "tests/support/qt_app.h"

namespace {

using testing_curve::CacheSpec;

core::Curve FinishedCurve() {
  core::Curve curve;
  for (uint32_t kb = 1; kb <= 131072; kb *= 2)
    curve.push_back({kb,
                     kb <= 32      ? 16000.0
                     : kb <= 512   ? 13000.0
                     : kb <= 32768 ? 11000.0
                                   : 6000.0,
                     9000,
                     kb <= 32      ? 1.5
                     : kb <= 512   ? 5.0
                     : kb <= 32768 ? 40.0
                                   : 120.0});
  return curve;
}

bool Near(QRgb pixel, const QColor& colour, int tolerance) {
  return std::abs(qRed(pixel) - colour.red()) <= tolerance &&
         std::abs(qGreen(pixel) - colour.green()) <= tolerance &&
         std::abs(qBlue(pixel) - colour.blue()) <= tolerance;
}

int CountPixels(const QImage& image, const QColor& colour) {
  int n = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) n += Near(image.pixel(x, y), colour, 30);
  return n;
}

// Columns that hold a tall run of purple (the cache lines: dashed and antialiased, so each may
// spread over two columns, blended with the white).
std::vector<int> CacheLineColumns(const QImage& image, int minimum) {
  std::vector<int> counts(image.width(), 0);
  for (int x = 0; x < image.width(); ++x)
    for (int y = 0; y < image.height(); ++y) {
      const QRgb p = image.pixel(x, y);
      counts[x] += qRed(p) - qGreen(p) > 50 && qBlue(p) - qGreen(p) > 50;
    }
  std::vector<int> columns;
  for (int x = 0; x + 1 < image.width(); ++x)
    if (counts[x] + counts[x + 1] >= minimum && (columns.empty() || x - columns.back() > 3))
      columns.push_back(x);
  return columns;
}

class CurveWindowTest : public ::testing::Test {
 protected:
  testing_qt::AppReady app;
};

TEST_F(CurveWindowTest, AFinishedCurveIsDrawnWithItsLinesAndCacheLevels) {
  gui::CurveWindowOptions options;
  options.start = false;
  gui::CurveWindow window(CacheSpec(), options);
  window.resize(900, 600);
  window.show();
  window.ShowCurve(FinishedCurve(), "All cores (2 threads):  READ 13000 (x1.90) MByte/s");
  EXPECT_EQ(window.windowTitle(), QStringLiteral("Cache & memory curve"));
  EXPECT_EQ(window.allCoreLabel->text(),
            QStringLiteral("All cores (2 threads):  READ 13000 (x1.90) MByte/s"));
  // The levels the curve shows agree with the reported ones: named, not marked a second time.
  EXPECT_EQ(
      window.cacheLabel->text().toStdString(),
      "L1 reported 32 KiB, measured ~32 KiB    L2 reported 512 KiB, measured ~512 KiB    L3 reported 32 MiB, "
      "measured ~32 MiB");

  const QImage image = window.ChartImage(QSize(900, 520));
  ASSERT_EQ(image.size(), QSize(900, 520));
  EXPECT_GT(CountPixels(image, gui::kCurveReadColour), 400);
  EXPECT_GT(CountPixels(image, gui::kCurveWriteColour), 400);
  EXPECT_GT(CountPixels(image, gui::kCurveLatencyColour), 400);

  // Three cache lines, left to right, at 32 KiB, 512 KiB and 32 MiB of a log axis from 1 KiB to
  // 128 MiB: 5, 9 and 15 of its 17 steps.
  const std::vector<int> lines = CacheLineColumns(image, 150);
  ASSERT_EQ(lines.size(), 3u);
  const double step = (lines[2] - lines[0]) / 10.0;
  EXPECT_NEAR(lines[1] - lines[0], 4 * step, 3);
  EXPECT_GT(step, 20);  // spread over the chart, not bunched at one end

  // The picture and the points on disk.
  const std::string png = platform::PrivateFolder() + "/curve_test.png";
  const std::string csv = platform::PrivateFolder() + "/curve_test.csv";
  std::string error;
  ASSERT_TRUE(window.SavePng(png, &error)) << error;
  QImage saved(QString::fromStdString(png));
  EXPECT_FALSE(saved.isNull());
  EXPECT_GT(CountPixels(saved, gui::kCurveReadColour), 400);
  ASSERT_TRUE(window.SaveCsv(csv, &error)) << error;
  std::string text;
  ASSERT_TRUE(platform::ReadWholeFile(csv, &text));
  core::Curve back;
  ASSERT_TRUE(core::ParseCurveCsv(text, &back));
  EXPECT_EQ(back.size(), 18u);
  EXPECT_DOUBLE_EQ(back[17].latency, 120);
  platform::DeleteFile(png);
  platform::DeleteFile(csv);
  EXPECT_FALSE(window.SavePng("/nonexistent-folder/x.png", &error));
}

TEST_F(CurveWindowTest, AxesReadRoundValuesAndEveryCacheLabelStaysInsideThePlot) {
  // The steps of 2.5 read "0, 3, 5, 8" once printed without decimals.
  for (double largest : {0.5, 9.0, 16.2, 43.0, 1080.0, 17280.0, 64800.0, 123456.0}) {
    const gui::RoundAxis axis = gui::RoundAxisFor(largest);
    EXPECT_GE(axis.top, largest) << largest;
    EXPECT_LE(axis.ticks(), 7) << largest;
    EXPECT_GE(axis.ticks(), 3) << largest;
    const double mantissa = axis.step / std::pow(10.0, std::floor(std::log10(axis.step)));
    EXPECT_TRUE(std::abs(mantissa - 1) < 1e-9 || std::abs(mantissa - 2) < 1e-9 ||
                std::abs(mantissa - 5) < 1e-9)
        << largest << " step " << axis.step;
    EXPECT_NEAR(std::fmod(axis.top / axis.step, 1.0), 0, 1e-9);
  }

  gui::CurveWindowOptions options;
  options.start = false;
  gui::CurveWindow window(CacheSpec(), options);
  window.resize(900, 600);
  window.show();
  core::Curve curve = FinishedCurve();
  curve.resize(17);  // up to 64 MiB: L3 (32 MiB) is one step from the right edge
  window.ShowCurve(curve, "");
  window.ChartImage(QSize(900, 520));
  auto* view = window.findChild<QChartView*>();
  ASSERT_NE(view, nullptr);
  QChart* chart = view->chart();
  QStringList names;
  for (QAbstractSeries* series : chart->series())
    if (!series->name().isEmpty()) names << series->name();
  EXPECT_TRUE(names.contains(QStringLiteral("READ (MByte/s, as the main window scales it)")))
      << names.join("|").toStdString();
  EXPECT_TRUE(names.contains(QStringLiteral("WRITE (MByte/s, as the main window scales it)")));
  // Latency on a log axis of whole powers of ten: 1.5 ns and 120 ns both have room.
  QLogValueAxis* log = nullptr;
  for (QAbstractAxis* axis : chart->axes(Qt::Vertical)) log = log ? log : qobject_cast<QLogValueAxis*>(axis);
  ASSERT_NE(log, nullptr);
  EXPECT_DOUBLE_EQ(log->min(), 1);
  EXPECT_DOUBLE_EQ(log->max(), 1000);
  auto* size = qobject_cast<QCategoryAxis*>(chart->axes(Qt::Horizontal).front());
  ASSERT_NE(size, nullptr);
  int labels = 0;
  for (QAbstractSeries* series : chart->series()) {
    auto* scatter = qobject_cast<QScatterSeries*>(series);
    if (!scatter || !scatter->isVisible() || scatter->count() == 0) continue;
    ++labels;
    const QPointF mid = chart->mapToPosition(scatter->at(0), scatter);
    const double half =
        QFontMetricsF(scatter->pointLabelsFont()).horizontalAdvance(scatter->pointLabelsFormat()) / 2;
    EXPECT_GE(mid.x() - half, chart->plotArea().left() - 1) << scatter->pointLabelsFormat().toStdString();
    EXPECT_LE(mid.x() + half, chart->plotArea().right() + 1) << scatter->pointLabelsFormat().toStdString();
  }
  EXPECT_EQ(labels, 3);
}

TEST_F(CurveWindowTest, PointsArriveFromTheMeasuringThreadAndTheAllCoreLineFollows) {
  gui::CurveWindowOptions options;
  options.start = false;
  int bandwidthCalls = 0;
  options.modules = [&bandwidthCalls] {
    core::CurveModules m;
    m.bandwidth = [&bandwidthCalls](const std::string& args, const std::function<void(const char*)>& out,
                                    std::string*) {
      ++bandwidthCalls;
      const bool read = args.rfind("-b11", 0) == 0;
      for (uint32_t kb = 1; kb <= 16384; kb *= 2) {
        char line[100];
        std::snprintf(line, sizeof line, "MMX (nt) & %s %8u Kb block: 1000.00 Mb/s",
                      read ? "READING" : "WRITING", kb);
        out(line);
      }
      return true;
    };
    m.latency = [](int32_t, int32_t, int32_t, std::string* text, std::string*) {
      *text = "80.0000 ns";
      return true;
    };
    return m;
  };
  options.allCores = [](const std::atomic<bool>*) {
    core::AllCoreFigures f;
    f.threads = 2;
    f.single[0] = 7000;
    f.machine[0] = 14000;
    return f;
  };
  options.peak = [](const std::atomic<bool>*) {
    static const peak::KernelRow& read = peak::kKernelRows[0];
    peak::PeakResult one, all;
    one.ok = all.ok = true;
    one.kernel = all.kernel = &read;
    one.threads = 1;
    all.threads = 2;
    one.mbytesPerSecond = 20000;
    all.mbytesPerSecond = 30000;
    return std::vector<peak::PeakResult>{one, all};
  };
  gui::CurveWindow window(sysinfo::SystemSpec{}, options);
  window.Start();
  window.WaitFinished();
  EXPECT_EQ(bandwidthCalls, 4);  // two sweeps each of READ and WRITE
  EXPECT_EQ(window.peakLabel->text().toStdString(),
            std::string("Peak, ") + peak::IsaName(peak::kKernelRows[0].isa) +
                " (MByte/s of 10^6 bytes):  READ 20000 / 30000 (2 threads)");
  const core::Curve& curve = window.CurrentCurve();
  ASSERT_FALSE(curve.empty());
  EXPECT_EQ(curve.front().blockKb, 1u);
  // Without a known cache the curve reaches 256 MiB; the fake stops at 16 MiB.
  EXPECT_EQ(curve.back().blockKb, 262144u);
  EXPECT_DOUBLE_EQ(curve[14].read, core::ShownBandwidth("1000.00", "READ-"));
  EXPECT_EQ(curve[15].read, -1);
  EXPECT_DOUBLE_EQ(curve[15].latency, 80);
  // The figures of both, not only their ratio.
  EXPECT_EQ(window.allCoreLabel->text(),
            QStringLiteral("All cores (2 threads) against one thread, MByte/s:   READ 14000 / 7000 (x2.00)"));
  EXPECT_EQ(window.status->text(), QStringLiteral("Done."));
  EXPECT_TRUE(window.startButton->isEnabled());
  EXPECT_EQ(window.progress->value(), window.progress->maximum());
}

}  // namespace
