// The About window: logo, product name and suffix, tag line, the web-site link, the notice on
// where the system facts come from, OK and the build text.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <string>

#include "gui/link_label.h"

namespace gui {

class GearLogo;

// A label that draws its text over a 1-pixel silver shadow.
class ShadowLabel : public QLabel {
  Q_OBJECT
 public:
  using QLabel::QLabel;

 protected:
  void paintEvent(QPaintEvent* event) override;
};

// The program's web site: the results page of the program's web server.
std::string ProgramWebSite();

class Tfabout : public QDialog {
  Q_OBJECT

 public:
  // applicationTitle as the main window keeps it ("Quorvex²", perhaps with " [New version
  // available]"); programPath is the executable whose version is shown, empty for this one.
  explicit Tfabout(const std::string& applicationTitle, QWidget* parent = nullptr,
                   const std::string& programPath = std::string());

  GearLogo* logo;
  ShadowLabel* productName;
  ShadowLabel* nameSuffix;
  QLabel* tagLine;
  LinkLabel* JvgLabel1;  // web-site link
  QLabel* JvgLabel2;     // notice
  QFrame* strip;
  QPushButton* ok;
  QLabel* buildText;

  void okClick();
  void JvgLabel1Click();

 private:
  void FormCreate(const std::string& applicationTitle, const std::string& programPath);
};

}  // namespace gui
