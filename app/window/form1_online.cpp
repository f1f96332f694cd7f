// The window's online actions: upload, quick compare and About.
#include <QMessageBox>

#include "app/window/form1.h"

void TForm1::uploadClick() {
  QMessageBox::information(this, QString::fromUtf8("Quorvex\xC2\xB2 - Upload"),
                           QStringLiteral("The upload is not built yet."));
}

void TForm1::gaugeClick() {
  QMessageBox::information(this, QString::fromUtf8("Quorvex\xC2\xB2 - Compare"),
                           QStringLiteral("The quick compare is not built yet."));
}

void TForm1::About1Click() {
  QMessageBox::about(this, QString::fromUtf8("Quorvex\xC2\xB2 - About"), QString::fromUtf8(ApplicationTitle().c_str()));
}
