// Saves a picture of the cache-and-memory curve window after a real curve on this machine:
//   quorvex-curve-shot OUTPUT.png   (run under a display, e.g. xvfb-run; about a minute)
#include <QApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QPixmap>
#include <cstdio>
#include <string>

#include "sysinfo/runner.h"
#include "ui/curve_window.h"

namespace {

// The window with a title bar of our own, as the window manager of a test display has none.
QImage Framed(QWidget& w) {
  const QPixmap inside = w.grab();
  QImage out(inside.width() + 2, inside.height() + 24, QImage::Format_RGB32);
  out.fill(QColor(64, 64, 64));
  QPainter p(&out);
  QLinearGradient g(0, 0, out.width(), 0);
  g.setColorAt(0, QColor(10, 36, 106));
  g.setColorAt(1, QColor(120, 160, 215));
  p.fillRect(QRect(1, 1, out.width() - 2, 22), g);
  QFont f(QStringLiteral("Liberation Sans"));
  f.setPixelSize(12);
  f.setBold(true);
  p.setFont(f);
  p.setPen(Qt::white);
  p.drawText(QRect(6, 1, out.width() - 30, 22), Qt::AlignVCenter | Qt::AlignLeft, w.windowTitle());
  p.drawText(QRect(out.width() - 20, 1, 14, 22), Qt::AlignCenter, QStringLiteral("\u00D7"));
  p.drawPixmap(1, 23, inside);
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const std::string out = argc > 1 ? argv[1] : "curve.png";
  std::string error;
  sysinfo::SystemSpec spec;
  spec.lines = sysinfo::ConvertReport(sysinfo::RunReportTool(&error));
  if (!error.empty()) std::fprintf(stderr, "quorvex-curve-shot: %s\n", error.c_str());

  ui::CurveWindow window(spec);
  window.resize(900, 600);
  window.show();  // starts the measurement
  window.WaitFinished();
  std::fprintf(stderr, "%s\n%s\n", window.status->text().toUtf8().constData(),
               window.allCoreLabel->text().toUtf8().constData());
  if (!Framed(window).save(QString::fromStdString(out))) {
    std::fprintf(stderr, "quorvex-curve-shot: could not write %s\n", out.c_str());
    return 1;
  }
  return 0;
}
