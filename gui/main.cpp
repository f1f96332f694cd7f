// The program entry: the application, the main window (its creation runs the start-up), the
// message loop until the window is closed.
//
// For pictures of the window: --screenshot FILE saves the window as the upload draws it once the
// start-up is done (after a run, too, with --run) and quits.
#include <QApplication>
#include <QIcon>
#include <QImage>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "gui/form1.h"
#include "gui/window_shot.h"
#include "platform/file_version.h"

namespace {

// Said before Qt is asked for a display, so that neither --help nor a terminal meets Qt's abort.
bool DisplayAvailable() {
  for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return true;
  }
  return false;
}

// --help and --version answer without a display; 0 after one of them, -1 to go on.
int AnswerWithoutWindow(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::printf(
          "Usage: quorvex [--screenshot FILE [--run]]\n"
          "Quorvex, the memory benchmark, in its window (it needs a display).\n"
          "  --screenshot FILE  save the window's picture once the start-up is done, then quit\n"
          "  --run              with --screenshot: run the benchmark first\n"
          "In a terminal, quorvex-cli runs the same benchmark (quorvex-cli --help).\n");
      return 0;
    }
    if (arg == "--version") {
      std::printf("quorvex %s\n", platform::FileVersionText("").c_str());
      return 0;
    }
  }
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  if (const int answered = AnswerWithoutWindow(argc, argv); answered >= 0) return answered;
  if (!DisplayAvailable()) {
    std::fprintf(stderr,
                 "quorvex: the window needs a display, and neither DISPLAY nor WAYLAND_DISPLAY is set.\n"
                 "In a terminal, `quorvex-cli run` runs the same benchmark (quorvex-cli --help).\n");
    return 1;
  }
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("quorvex"));
  // Desktops find the installed entry and icon by this name; the carried icon serves elsewhere.
  QGuiApplication::setDesktopFileName(QStringLiteral("org.quorvex.Quorvex"));
  QIcon icon;
  for (const char* size : {"32", "48", "256"})
    icon.addFile(QStringLiteral(":/icons/quorvex-%1.png").arg(QLatin1String(size)));
  QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("org.quorvex.Quorvex"), icon));

  std::string screenshot;
  bool runFirst = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--screenshot" && i + 1 < argc) {
      screenshot = argv[++i];
    } else if (arg == "--run") {
      runFirst = true;
    } else {
      std::fprintf(stderr, "quorvex: unknown option %s (the window takes --screenshot FILE [--run] only)\n",
                   arg.c_str());
      return 2;
    }
  }

  window::FormOptions options;
  if (!screenshot.empty()) {
    // No one is there to close a message box.
    options.messageSink = [](const std::string& title, const std::string& text) {
      std::fprintf(stderr, "%s: %s\n", title.c_str(), text.c_str());
    };
  }
  TForm1 form(options);
  if (screenshot.empty()) return QApplication::exec();

  if (runFirst) form.Button7Click();
  QApplication::processEvents();
  QImage picture;
  if (!gui::PrintWindowToBitmap(&form, &picture) ||
      !picture.convertToFormat(QImage::Format_RGB32).save(QString::fromStdString(screenshot), "PNG")) {
    std::fprintf(stderr, "quorvex: could not save %s\n", screenshot.c_str());
    return 1;
  }
  return 0;
}
