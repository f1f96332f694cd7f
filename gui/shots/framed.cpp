#include "gui/shots/framed.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPixmap>
#include <QWidget>

namespace shots {

QImage Framed(QWidget& w) {
  const QPixmap inside = w.grab();
  QImage out(inside.width() + 2, inside.height() + 24, QImage::Format_RGB32);
  out.fill(QColor(64, 64, 64));
  QPainter p(&out);
  QLinearGradient g(0, 0, out.width(), 0);
  g.setColorAt(0, QColor(10, 36, 106));
  g.setColorAt(1, QColor(120, 160, 215));
  p.fillRect(QRect(1, 1, out.width() - 2, 22), g);
  QFont f(QStringLiteral("Liberation Sans"));
  f.setPixelSize(12);
  f.setBold(true);
  p.setFont(f);
  p.setPen(Qt::white);
  p.drawText(QRect(6, 1, out.width() - 30, 22), Qt::AlignVCenter | Qt::AlignLeft, w.windowTitle());
  p.drawText(QRect(out.width() - 20, 1, 14, 22), Qt::AlignCenter, QStringLiteral("\u00D7"));
  p.drawPixmap(1, 23, inside);
  return out;
}

}  // namespace shots
