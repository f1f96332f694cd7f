// window_gap_probe: the real window, start-up and one full run with the carried modules, with a
// 2 ms timer on the GUI thread. The longest time between two ticks is the longest time the window
// went without handling events (no repaint, no answer to the window system). Prints the longest
// gaps and where they fell. Used by app/measure-gui-gaps; not part of the program.
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "gui/form1.h"
#include "platform/temp_folder.h"

namespace {

struct Gap {
  double ms;
  double at;  // seconds into the run
  std::string during;
};

}  // namespace

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  window::FormOptions options;
  options.logPath = platform::PrivateFolder() + "/Quorvex2_LOG.csv";
  options.messageSink = [](const std::string& title, const std::string& text) {
    std::fprintf(stderr, "%s: %s\n", title.c_str(), text.c_str());
  };
  QElapsedTimer startUp;
  startUp.start();
  TForm1 form(options);
  std::printf("start-up (version check and gathering): %.2f s\n", startUp.nsecsElapsed() / 1e9);

  QElapsedTimer clock;
  std::vector<Gap> gaps;
  qint64 last = 0;
  std::string during = "start";
  QTimer timer;
  timer.setTimerType(Qt::PreciseTimer);
  timer.setInterval(2);
  QObject::connect(&timer, &QTimer::timeout, [&] {
    const qint64 now = clock.nsecsElapsed();
    gaps.push_back({(now - last) / 1e6, now / 1e9, during});
    last = now;
    // What the run is doing now, by the bar that shows a plain caption (the test in progress).
    for (core::BarId id : core::kBars) {
      const std::string caption = form.State().Bar(id).caption;
      if (caption.find(' ') == std::string::npos) {
        during = caption;
        return;
      }
    }
    during = "between tests";
  });
  clock.start();
  timer.start();
  form.Button7Click();
  timer.stop();
  const double total = clock.nsecsElapsed() / 1e9;

  std::sort(gaps.begin(), gaps.end(), [](const Gap& a, const Gap& b) { return a.ms > b.ms; });
  const auto over = std::count_if(gaps.begin(), gaps.end(), [](const Gap& g) { return g.ms > 100; });
  std::printf("run: %.1f s, %zu timer ticks, %ld gaps over 100 ms\n", total, gaps.size(),
              static_cast<long>(over));
  std::printf("longest gaps without events (ms, at s, during):\n");
  for (size_t i = 0; i < gaps.size() && i < 5; ++i)
    std::printf("  %8.1f  %7.2f  %s\n", gaps[i].ms, gaps[i].at, gaps[i].during.c_str());
  for (core::BarId id : core::kBars) std::printf("%s\n", form.State().Bar(id).caption.c_str());
  std::printf("longest gap: %.1f ms (aim: 100 ms or less)\n", gaps.empty() ? 0.0 : gaps.front().ms);
  return 0;
}
