#include "gui/gradient_bar.h"

#include <QLinearGradient>
#include <QPainter>

#include "gui/qt_text.h"

namespace gui {

GradientBar::GradientBar(const QColor& light, const QColor& dark, QWidget* parent)
    : QWidget(parent), light_(light), dark_(dark) {
  QFont bold = font();
  bold.setBold(true);
  setFont(bold);
}

void GradientBar::setValue(const core::BarValue& value) {
  value_ = value;
  update();
}

double GradientBar::fillRatio() const {
  if (value_.max <= 0) return 0;
  return static_cast<double>(value_.position) / value_.max;
}

void GradientBar::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const QRect outer = rect();
  // A sunken well, then the gradient over the filled share.
  p.fillRect(outer, QColor(236, 236, 236));
  p.setPen(QColor(160, 160, 160));
  p.drawLine(outer.topLeft(), outer.topRight());
  p.drawLine(outer.topLeft(), outer.bottomLeft());
  p.setPen(Qt::white);
  p.drawLine(outer.bottomLeft(), outer.bottomRight());
  p.drawLine(outer.topRight(), outer.bottomRight());

  const QRect well = outer.adjusted(2, 2, -2, -2);
  const int filled = static_cast<int>(well.width() * fillRatio() + 0.5);
  if (filled > 0) {
    QLinearGradient gradient(well.topLeft(), well.topRight());
    gradient.setColorAt(0, light_);
    gradient.setColorAt(1, dark_);
    const QRect bar(well.left(), well.top(), filled, well.height());
    p.fillRect(bar, gradient);
    // A soft highlight on the upper half gives the bar some body.
    QLinearGradient gloss(bar.topLeft(), bar.bottomLeft());
    gloss.setColorAt(0, QColor(255, 255, 255, 90));
    gloss.setColorAt(0.5, QColor(255, 255, 255, 20));
    gloss.setColorAt(1, QColor(0, 0, 0, 25));
    p.fillRect(bar, gloss);
  }

  const QString text = Q(value_.caption);
  p.setFont(font());
  p.setPen(QColor(255, 255, 255, 160));
  p.drawText(well.translated(1, 1), Qt::AlignCenter, text);
  p.setPen(QColor(16, 16, 16));
  p.drawText(well, Qt::AlignCenter, text);
}

}  // namespace gui
