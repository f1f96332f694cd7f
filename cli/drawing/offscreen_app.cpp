#include "cli/drawing/offscreen_app.h"

#include <QApplication>
#include <cstdlib>
#include <memory>

namespace cli {

QApplication& OffscreenApplication() {
  if (auto* app = qobject_cast<QApplication*>(QCoreApplication::instance())) return *app;
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  static int argc = 1;
  static char name[] = "quorvex-cli";
  static char* argv[] = {name, nullptr};
  static std::unique_ptr<QApplication> app = std::make_unique<QApplication>(argc, argv);
  return *app;
}

}  // namespace cli
