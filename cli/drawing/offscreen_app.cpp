#include "cli/drawing/offscreen_app.h"

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace cli {

namespace {

QtMessageHandler qtDefault = nullptr;

// Two notices Qt gives offscreen that say nothing to a terminal user: a missing XDG_RUNTIME_DIR
// (Qt makes its own folder) and a plugin without propagateSizeHints(). Everything else goes on.
void DropKnownNotices(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (type == QtWarningMsg && (message.contains(QLatin1String("XDG_RUNTIME_DIR")) ||
                               message.contains(QLatin1String("propagateSizeHints()"))))
    return;
  if (qtDefault != nullptr) {
    qtDefault(type, context, message);
  } else {
    std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
  }
}

}  // namespace

QApplication& OffscreenApplication() {
  if (auto* app = qobject_cast<QApplication*>(QCoreApplication::instance())) return *app;
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  qtDefault = qInstallMessageHandler(DropKnownNotices);
  static int argc = 1;
  static char name[] = "quorvex-cli";
  static char* argv[] = {name, nullptr};
  static std::unique_ptr<QApplication> app = std::make_unique<QApplication>(argc, argv);
  return *app;
}

}  // namespace cli
