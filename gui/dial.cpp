#include "gui/dial.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>
#include <numbers>

#include "gui/fonts.h"

namespace gui {

namespace {

const QColor kFace(255, 255, 236);
const QColor kPointer(81, 81, 81);
const QColor kHub(83, 83, 83);
const QColor kScale(64, 64, 64);
constexpr int kHubSize = 8;
constexpr double kCentreX = QuickDial::kFaceWidth / 2.0;
constexpr double kCentreY = 114;     // leaves the ticks 4 pixels below the top edge
constexpr double kBandWidth = 8;     // the bands lie just inside the arc
constexpr double kLabelRadius = 80;  // tick labels inside the bands
constexpr double kPointerLength = 90;

QPointF OnCircle(double radius, double degrees) {
  const double r = degrees * std::numbers::pi / 180.0;
  return {kCentreX + radius * std::cos(r), kCentreY - radius * std::sin(r)};
}

}  // namespace

QuickDial::QuickDial(QWidget* parent) : QWidget(parent) {
  resize(kFaceWidth, kFaceHeight);
  setCursor(Qt::PointingHandCursor);
}

void QuickDial::setRange(double lower, double upper) {
  lower_ = lower;
  upper_ = upper;
  update();
}

void QuickDial::setValue(double value) {
  value_ = value;
  update();
}

void QuickDial::setBands(double firstEnd, double secondEnd, const std::vector<QColor>& colours) {
  bands_.clear();
  const double ends[] = {lower_, firstEnd, secondEnd, upper_};
  for (size_t i = 0; i < 3 && i < colours.size(); ++i) {
    if (colours[i].isValid()) bands_.push_back(Band{ends[i], ends[i + 1], colours[i]});
  }
  update();
}

void QuickDial::setTitle(const QString& title) {
  title_ = title;
  update();
}

void QuickDial::setSubtitle(const QString& subtitle) {
  subtitle_ = subtitle;
  update();
}

void QuickDial::setDecimals(int decimals) {
  decimals_ = std::clamp(decimals, 0, 6);
  update();
}

void QuickDial::setRaisedFace(bool raised) {
  raised_ = raised;
  update();
}

double QuickDial::clamped(double v) const {
  // An inverted range from the server has no inside: the pointer rests at the lower end.
  if (!(upper_ > lower_)) return lower_;
  if (std::isnan(v)) return lower_;
  return std::clamp(v, lower_, upper_);
}

double QuickDial::angleOf(double v) const {
  if (!(upper_ > lower_)) return 180.0;
  return 180.0 - 180.0 * (clamped(v) - lower_) / (upper_ - lower_);
}

QStringList QuickDial::tickLabels() const {
  QStringList labels;
  for (int i = 0; i < kMajorTicks; ++i) {
    const double v = lower_ + (upper_ - lower_) * i / (kMajorTicks - 1);
    labels << QString::number(v, 'f', decimals_);
  }
  return labels;
}

void QuickDial::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  // Everything is laid out at design size and scaled with the widget (high-DPI screens).
  const double scale = std::min(width() / double(kFaceWidth), height() / double(kFaceHeight));
  p.scale(scale, scale);

  const QRectF face(0, 0, kFaceWidth, kFaceHeight);
  p.fillRect(face, kFace);
  if (raised_) {
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(QColor(255, 255, 255));
    p.drawLine(QPointF(0, kFaceHeight - 1), QPointF(0, 0));
    p.drawLine(QPointF(0, 0), QPointF(kFaceWidth - 1, 0));
    p.setPen(QColor(160, 160, 160));
    p.drawLine(QPointF(kFaceWidth - 1, 0), QPointF(kFaceWidth - 1, kFaceHeight - 1));
    p.drawLine(QPointF(kFaceWidth - 1, kFaceHeight - 1), QPointF(0, kFaceHeight - 1));
    p.setRenderHint(QPainter::Antialiasing);
  }

  // Bands: ring segments just inside the arc.
  const double bandRadius = kRadius - kBandWidth / 2;
  const QRectF bandRect(kCentreX - bandRadius, kCentreY - bandRadius, 2 * bandRadius, 2 * bandRadius);
  for (const Band& band : bands_) {
    const double a0 = angleOf(band.from);
    const double a1 = angleOf(band.to);
    if (a0 - a1 <= 0) continue;
    p.setPen(QPen(band.colour, kBandWidth, Qt::SolidLine, Qt::FlatCap));
    p.drawArc(bandRect, int(std::lround(a1 * 16)), int(std::lround((a0 - a1) * 16)));
  }

  // The arc and the ticks outside it.
  p.setPen(QPen(kScale, 1.2));
  const QRectF arcRect(kCentreX - kRadius, kCentreY - kRadius, 2 * kRadius, 2 * kRadius);
  p.drawArc(arcRect, 0, 180 * 16);
  const int steps = (kMajorTicks - 1) * (kMinorTicks + 1);
  for (int i = 0; i <= steps; ++i) {
    const double degrees = 180.0 - 180.0 * i / steps;
    const bool major = i % (kMinorTicks + 1) == 0;
    const double length = major ? kMajorTickLength : kMajorTickLength / 2.0;
    p.setPen(QPen(kScale, major ? 1.4 : 0.8));
    p.drawLine(OnCircle(kRadius, degrees), OnCircle(kRadius + length, degrees));
  }

  // Tick labels inside the arc, centred on their tick's direction.
  p.setPen(Qt::black);
  p.setFont(PixelFont("Microsoft Sans Serif", 9));
  const QStringList labels = tickLabels();
  for (int i = 0; i < labels.size(); ++i) {
    const double degrees = 180.0 - 180.0 * i / (kMajorTicks - 1);
    const QPointF at = OnCircle(kLabelRadius, degrees);
    const QFontMetricsF fm(p.font());
    const double w = fm.horizontalAdvance(labels[i]);
    // The end labels lean inwards, clear of the bands; the low side labels lean outwards, clear
    // of the title that runs across the middle; the rest are centred on their tick.
    const double c = std::cos(degrees * std::numbers::pi / 180.0);
    double dx = -w / 2;
    if (i == 0)
      dx = -w * 0.1;
    else if (i == labels.size() - 1)
      dx = -w * 0.9;
    else if (c < -0.8)
      dx = -w + 6;
    else if (c > 0.8)
      dx = -6;
    p.drawText(QPointF(at.x() + dx, at.y() + fm.ascent() / 2), labels[i]);
  }

  // Title and subtitle above the hub.
  p.setFont(PixelFont("Trebuchet MS", 11));
  p.setPen(Qt::black);
  p.drawText(QRectF(0, kCentreY + kTitleOffset - 8, kFaceWidth, 14), Qt::AlignHCenter | Qt::AlignVCenter,
             title_);
  p.setFont(PixelFont("Trebuchet MS", 9));
  p.setPen(QColor(128, 128, 128));
  p.drawText(QRectF(0, kCentreY + kSubtitleOffset - 6, kFaceWidth, 12), Qt::AlignHCenter | Qt::AlignVCenter,
             subtitle_);

  // Pointer and hub.
  p.setPen(QPen(kPointer, 2, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(kCentreX, kCentreY), OnCircle(kPointerLength, angleOf(value_)));
  p.setPen(Qt::NoPen);
  p.setBrush(kHub);
  p.drawEllipse(QPointF(kCentreX, kCentreY), kHubSize / 2.0, kHubSize / 2.0);
}

void QuickDial::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) emit clicked();
  QWidget::mouseReleaseEvent(event);
}

}  // namespace gui
