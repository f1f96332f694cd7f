#include "gui/dial.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>
#include <numbers>

#include "core/compare_model.h"
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

// Text with a 3-pixel halo of the face's colour, so the pointer under it never hides a letter.
void HaloText(QPainter& p, const QRectF& box, const QFont& font, const QColor& colour, const QString& text,
              Qt::Alignment align = Qt::AlignHCenter | Qt::AlignVCenter) {
  if (text.isEmpty()) return;
  const QFontMetricsF fm(font);
  const double w = fm.horizontalAdvance(text);
  double x = box.left();
  if (align & Qt::AlignHCenter) x = box.center().x() - w / 2;
  const double baseline =
      (align & Qt::AlignTop) ? box.top() + fm.ascent() : box.center().y() + (fm.ascent() - fm.descent()) / 2;
  QPainterPath path;
  path.addText(QPointF(x, baseline), font, text);
  p.save();
  p.setPen(QPen(kFace, 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.setBrush(Qt::NoBrush);
  p.drawPath(path);
  p.setPen(Qt::NoPen);
  p.setBrush(colour);
  p.drawPath(path);
  p.restore();
}

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

std::vector<double> QuickDial::tickValues() const { return core::RoundTicks(lower_, upper_, kMajorTicks); }

QStringList QuickDial::tickLabels() const {
  QStringList labels;
  for (double v : tickValues()) labels << QString::number(v, 'f', decimals_);
  return labels;
}

QuickDial::OffScale QuickDial::offScale() const {
  if (!(upper_ > lower_) || std::isnan(value_)) return OffScale::None;
  if (value_ > upper_) return OffScale::Above;
  if (value_ < lower_) return OffScale::Below;
  return OffScale::None;
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

  drawTicks(p);
  // The pointer goes under every text, which keeps a halo of the face's colour.
  drawPointer(p);
  drawTickLabels(p);
  HaloText(p, QRectF(0, kCentreY + kTitleOffset - 8, kFaceWidth, 14), PixelFont("Trebuchet MS", 11),
           Qt::black, title_);
  HaloText(p, QRectF(0, kCentreY + kSubtitleOffset - 6, kFaceWidth, 12), PixelFont("Trebuchet MS", 9),
           QColor(128, 128, 128), subtitle_);
  p.setPen(Qt::NoPen);
  p.setBrush(kHub);
  p.drawEllipse(QPointF(kCentreX, kCentreY), kHubSize / 2.0, kHubSize / 2.0);
}

// The arc, a major tick at every round value and minor ticks between, outside the arc.
void QuickDial::drawTicks(QPainter& p) const {
  p.setPen(QPen(kScale, 1.2));
  const QRectF arcRect(kCentreX - kRadius, kCentreY - kRadius, 2 * kRadius, 2 * kRadius);
  p.drawArc(arcRect, 0, 180 * 16);
  const double step = core::RoundTickStep(lower_, upper_, kMajorTicks);
  if (!(step > 0)) return;
  // A step of 2 x 10^n splits in halves, 1 and 5 x 10^n in fifths.
  const double mantissa = step / std::pow(10.0, std::floor(std::log10(step)));
  const int parts = std::abs(mantissa - 2) < 1e-6 ? 2 : 5;
  const double minor = step / parts;
  const double first = std::ceil(lower_ / minor - 1e-9), last = std::floor(upper_ / minor + 1e-9);
  for (double k = first; k <= last; ++k) {
    const double degrees = angleOf(k * minor);
    const bool major = std::fmod(std::abs(k), parts) < 1e-6;
    const double length = major ? kMajorTickLength : kMajorTickLength / 2.0;
    p.setPen(QPen(kScale, major ? 1.4 : 0.8));
    p.drawLine(OnCircle(kRadius, degrees), OnCircle(kRadius + length, degrees));
  }
}

// Tick labels inside the arc, at their tick's direction.
void QuickDial::drawTickLabels(QPainter& p) const {
  const QFont font = PixelFont("Microsoft Sans Serif", 9);
  const QFontMetricsF fm(font);
  const std::vector<double> values = tickValues();
  const QStringList labels = tickLabels();
  for (int i = 0; i < labels.size(); ++i) {
    const double degrees = angleOf(values[static_cast<size_t>(i)]);
    const QPointF at = OnCircle(kLabelRadius, degrees);
    const double w = fm.horizontalAdvance(labels[i]);
    // Labels at the ends lean inwards, clear of the bands; the low side labels lean outwards, clear
    // of the title that runs across the middle; the rest are centred on their tick.
    const double c = std::cos(degrees * std::numbers::pi / 180.0);
    double dx = -w / 2;
    if (degrees > 172)
      dx = -w * 0.1;
    else if (degrees < 8)
      dx = -w * 0.9;
    else if (c < -0.8)
      dx = -w + 6;
    else if (c > 0.8)
      dx = -6;
    const QRectF box(at.x() + dx, at.y() - fm.ascent() / 2, w, fm.height());
    HaloText(p, box, font, Qt::black, labels[i], Qt::AlignLeft | Qt::AlignTop);
  }
}

// The needle, or, for a value off the scale, an arrow past that end of the arc instead (a needle
// pinned at the end would lie over the end's label and look like a reading).
void QuickDial::drawPointer(QPainter& p) const {
  const OffScale off = offScale();
  if (off == OffScale::None) {
    p.setPen(QPen(kPointer, 2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(kCentreX, kCentreY), OnCircle(kPointerLength, angleOf(value_)));
    return;
  }
  const double tipX = off == OffScale::Above ? kFaceWidth - 3 : 3;
  const double baseX = off == OffScale::Above ? kCentreX + kRadius + 3 : kCentreX - kRadius - 3;
  const double y = kCentreY - 6;
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(200, 30, 30));
  p.drawPolygon(QPolygonF{QPointF(tipX, y), QPointF(baseX, y - 7), QPointF(baseX, y + 7)});
}

void QuickDial::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) emit clicked();
  QWidget::mouseReleaseEvent(event);
}

}  // namespace gui
