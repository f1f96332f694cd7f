// Saves pictures of the quick-compare and About windows for the documentation:
//   quorvex-ui-shots FOLDER   (run under a display, e.g. xvfb-run)
// The compare window gets a fixed reference line so the picture does not depend on a server.
#include <QApplication>
#include <QScreen>
#include <QTimer>
#include <cstdio>
#include <string>

#include "gui/about.h"
#include "gui/compare.h"
#include "gui/shots/framed.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const std::string folder = argc > 1 ? argv[1] : ".";

  core::ShareFacts in;
  in.memoryType = "DDR4";
  in.channels = "Dual";
  in.memoryClock = 1600;
  in.scoreCaption = "21.74 ";
  in.latencyCaption = "LATENCY  71.3  ns";
  gui::Tfqcompare compare(
      in,
      [](const std::string&) {
        return online::FetchReply{true, "12<BR />34<BR />1066<BR />1866<BR />55<BR />95", ""};
      },
      nullptr,
      [](const std::string&) {
        return online::RankReply{true, 64, "faster than 64 % of DDR4 dual-channel results", ""};
      });
  gui::Tfabout about("Quorvex\xC2\xB2");
  compare.show();
  about.show();
  bool ok = true;
  QTimer::singleShot(300, [&] {
    ok = shots::Framed(compare).save(QString::fromStdString(folder + "/compare.png")) &&
         shots::Framed(about).save(QString::fromStdString(folder + "/about.png"));
    app.quit();
  });
  app.exec();
  if (!ok) std::fprintf(stderr, "quorvex-ui-shots: could not write into %s\n", folder.c_str());
  return ok ? 0 : 1;
}
