// Saves a picture of the cache-and-memory curve window after a real curve and latency under load
// on this machine:
//   quorvex-curve-shot OUTPUT.png   (run under a display, e.g. xvfb-run; about a minute)
#include <QApplication>
#include <cstdio>
#include <string>

#include "gui/curve_window.h"
#include "gui/shots/framed.h"
#include "sysinfo/runner.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const std::string out = argc > 1 ? argv[1] : "curve.png";
  std::string error;
  sysinfo::SystemSpec spec;
  spec.lines = sysinfo::ConvertReport(sysinfo::RunReportTool(&error));
  if (!error.empty()) std::fprintf(stderr, "quorvex-curve-shot: %s\n", error.c_str());

  gui::CurveWindow window(spec);
  window.resize(900, 820);
  window.show();  // starts the measurement
  window.WaitFinished();
  window.StartLoaded();
  window.WaitFinished();
  std::fprintf(stderr, "%s\n%s\n", window.status->text().toUtf8().constData(),
               window.allCoreLabel->text().toUtf8().constData());
  if (!shots::Framed(window).save(QString::fromStdString(out))) {
    std::fprintf(stderr, "quorvex-curve-shot: could not write %s\n", out.c_str());
    return 1;
  }
  return 0;
}
