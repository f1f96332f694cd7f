// The program entry: the application, the main window (its creation runs the start-up), the
// message loop until the window is closed.
#include <QApplication>

#include "app/window/form1.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("quorvex"));
  TForm1 form;
  return QApplication::exec();
}
