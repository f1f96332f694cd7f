#include "gui/link_label.h"

#include <QMouseEvent>

namespace gui {

LinkLabel::LinkLabel(QWidget* parent) : QLabel(parent) {
  setCursor(Qt::PointingHandCursor);
  QPalette pal = palette();
  pal.setColor(QPalette::WindowText, QColor(0, 0, 255));
  setPalette(pal);
}

void LinkLabel::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) emit clicked();
  QLabel::mouseReleaseEvent(event);
}

}  // namespace gui
