// The product logo: a blue gear wheel meshing with a smaller silver-white one, drawn in code.
#pragma once

#include <QImage>
#include <QSize>
#include <QWidget>

namespace gui {

// The logo on a transparent background at the given size (design size 100 x 101).
QImage DrawGearLogo(const QSize& size = QSize(100, 101));

class GearLogo : public QWidget {
  Q_OBJECT
 public:
  explicit GearLogo(QWidget* parent = nullptr);
  QSize sizeHint() const override { return {100, 101}; }

 protected:
  void paintEvent(QPaintEvent* event) override;
};

}  // namespace gui
