// The main window's way into the cache-and-memory curve: a glyph button beside the quick compare
// and an entry of the context menu.
#include <QIcon>
#include <QPainter>
#include <QPixmap>

#include "app/window/form1.h"
#include "ui/curve_window.h"

namespace window {

// A falling bandwidth line over a rising latency line, with a dashed cache boundary.
QIcon CurveGlyph() {
  QPixmap pm(20, 20);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(90, 90, 90), 1));
  p.drawLine(QPointF(2.5, 2), QPointF(2.5, 17.5));
  p.drawLine(QPointF(2.5, 17.5), QPointF(18, 17.5));
  p.setPen(QPen(ui::kCurveCacheColour, 1, Qt::DashLine));
  p.drawLine(QPointF(10.5, 3), QPointF(10.5, 17));
  p.setPen(QPen(ui::kCurveReadColour, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.drawPolyline(QPolygonF{QPointF(4, 5), QPointF(9, 5.5), QPointF(12, 11), QPointF(17, 12)});
  p.setPen(QPen(ui::kCurveLatencyColour, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.drawPolyline(QPolygonF{QPointF(4, 15.5), QPointF(9, 15), QPointF(12, 8), QPointF(17, 6.5)});
  return QIcon(pm);
}

}  // namespace window

void TForm1::curveClick() {
  // The main window waits while the curve window is open: two measurements at once would
  // spoil both.
  auto* form = new ui::CurveWindow(Spec(), ui::CurveWindowOptions(), this);
  form->setAttribute(Qt::WA_DeleteOnClose);
  form->setWindowModality(Qt::ApplicationModal);
  form->show();
}
