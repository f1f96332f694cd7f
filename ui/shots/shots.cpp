// Saves pictures of the quick-compare and About windows for the documentation:
//   quorvex-ui-shots FOLDER   (run under a display, e.g. xvfb-run)
// The compare window gets a fixed reference line so the picture does not depend on a server.
#include <QApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <cstdio>
#include <string>

#include "ui/about.h"
#include "ui/compare.h"

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
  const std::string folder = argc > 1 ? argv[1] : ".";

  ui::CompareInputs in;
  in.memoryType = "DDR4";
  in.channels = "Dual";
  in.memoryClock = 1600;
  in.scoreCaption = "21.74 ";
  in.latencyCaption = "LATENCY  71.3  ns";
  ui::Tfqcompare compare(in, [](const std::string&) {
    return ui::FetchReply{true, "12<BR />34<BR />1066<BR />1866<BR />55<BR />95", ""};
  });
  ui::Tfabout about("Quorvex\xC2\xB2");
  compare.show();
  about.show();
  bool ok = true;
  QTimer::singleShot(300, [&] {
    ok = Framed(compare).save(QString::fromStdString(folder + "/compare.png")) &&
         Framed(about).save(QString::fromStdString(folder + "/about.png"));
    app.quit();
  });
  app.exec();
  if (!ok) std::fprintf(stderr, "quorvex-ui-shots: could not write into %s\n", folder.c_str());
  return ok ? 0 : 1;
}
