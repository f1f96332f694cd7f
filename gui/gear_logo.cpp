#include "gui/gear_logo.h"

#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cmath>
#include <numbers>

namespace gui {

namespace {

// A gear outline: teeth with sloped flanks between the root and the tip circle, and a bore.
QPainterPath GearPath(QPointF centre, double tipRadius, double rootRadius, int teeth, double phaseDegrees,
                      double boreRadius) {
  QPainterPath path;
  const double step = 2 * std::numbers::pi / teeth;
  const double phase = phaseDegrees * std::numbers::pi / 180.0;
  auto at = [&](double radius, double angle) {
    return QPointF(centre.x() + radius * std::cos(angle), centre.y() - radius * std::sin(angle));
  };
  for (int i = 0; i < teeth; ++i) {
    const double a = phase + i * step;
    const QPointF p0 = at(rootRadius, a - step * 0.30);
    if (i == 0)
      path.moveTo(p0);
    else
      path.lineTo(p0);
    path.lineTo(at(tipRadius, a - step * 0.17));
    path.lineTo(at(tipRadius, a + step * 0.17));
    path.lineTo(at(rootRadius, a + step * 0.30));
    path.lineTo(at(rootRadius, a + step * 0.70));
  }
  path.closeSubpath();
  path.addEllipse(centre, boreRadius, boreRadius);
  path.setFillRule(Qt::OddEvenFill);
  return path;
}

void PaintGear(QPainter& p, const QPainterPath& gear, QPointF centre, double radius, const QColor& light,
               const QColor& dark, const QColor& edge) {
  QRadialGradient fill(centre - QPointF(radius * 0.35, radius * 0.35), radius * 1.5);
  fill.setColorAt(0, light);
  fill.setColorAt(1, dark);
  p.setBrush(fill);
  p.setPen(QPen(edge, 1.2));
  p.drawPath(gear);
}

void PaintLogo(QPainter& p, const QSize& size) {
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size.width() / 100.0, size.height() / 101.0);
  // Big blue wheel lower left, the silver-white one upper right; their teeth interlock.
  const QPointF blue(37, 64);
  const QPointF silver(71.6, 29.4);  // 49 apart along 45 degrees: a silver tooth sits in a blue gap
  PaintGear(p, GearPath(blue, 34, 28, 12, 30, 9), blue, 34, QColor(110, 170, 255), QColor(10, 50, 150),
            QColor(5, 30, 90));
  PaintGear(p, GearPath(silver, 21, 16, 8, 0, 5.5), silver, 21, QColor(255, 255, 255), QColor(170, 176, 186),
            QColor(90, 96, 106));
  // Hubs
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(200, 220, 255, 160));
  p.drawEllipse(blue, 14, 14);
  p.setBrush(QColor(230, 232, 236, 200));
  p.drawEllipse(silver, 8.5, 8.5);
  p.setBrush(QColor(5, 30, 90));
  p.drawEllipse(blue, 4, 4);
  p.setBrush(QColor(90, 96, 106));
  p.drawEllipse(silver, 2.5, 2.5);
}

}  // namespace

QImage DrawGearLogo(const QSize& size) {
  QImage image(size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter p(&image);
  PaintLogo(p, size);
  return image;
}

GearLogo::GearLogo(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_TranslucentBackground);
  resize(100, 101);
}

void GearLogo::paintEvent(QPaintEvent*) {
  QPainter p(this);
  PaintLogo(p, size());
}

}  // namespace gui
