// A label that looks and acts like a web link: blue text, a pointing hand, clicked() on release.
// The underline comes with the font each window gives it.
#pragma once

#include <QLabel>

namespace gui {

class LinkLabel : public QLabel {
  Q_OBJECT
 public:
  explicit LinkLabel(QWidget* parent = nullptr);

 signals:
  void clicked();

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override;
};

}  // namespace gui
