// A half-circle dial gauge: a 180-degree scale from a lower to an upper end, coloured bands along
// the arc, tick marks with labels, a line pointer with a hub, a title and a subtitle.
#pragma once

#include <QColor>
#include <QString>
#include <QWidget>
#include <vector>

class QPainter;

namespace gui {

class QuickDial : public QWidget {
  Q_OBJECT

 public:
  struct Band {
    double from = 0;
    double to = 0;
    QColor colour;
  };

  // Design size of every dial at 96 dots per inch.
  static constexpr int kFaceWidth = 244;
  static constexpr int kFaceHeight = 122;
  static constexpr int kRadius = 100;
  static constexpr int kMajorTicks = 10;
  static constexpr int kMinorTicks = 5;  // between two major ticks
  static constexpr int kMajorTickLength = 10;
  static constexpr int kTitleOffset = -24;  // from the centre, pixels
  static constexpr int kSubtitleOffset = -13;

  explicit QuickDial(QWidget* parent = nullptr);

  // Lower end first, then upper end; the pointer is clamped into the new range.
  void setRange(double lower, double upper);
  void setValue(double value);
  // Up to three bands from the band-end formula; colours low to high, an invalid colour leaves
  // that band undrawn.
  void setBands(double firstEnd, double secondEnd, const std::vector<QColor>& colours);
  void setTitle(const QString& title);
  void setSubtitle(const QString& subtitle);
  void setDecimals(int decimals);
  void setRaisedFace(bool raised);

  double lower() const { return lower_; }
  double upper() const { return upper_; }
  double value() const { return clamped(value_); }  // where the pointer sits
  const std::vector<Band>& bands() const { return bands_; }
  const QString& title() const { return title_; }
  const QString& subtitle() const { return subtitle_; }
  int decimals() const { return decimals_; }
  bool raisedFace() const { return raised_; }
  // Texts of the major tick labels, lower end first: round values inside the range.
  QStringList tickLabels() const;
  std::vector<double> tickValues() const;
  // Which end's arrow marks a value off the scale (the pointer is not drawn then).
  enum class OffScale { None, Below, Above };
  OffScale offScale() const;

  QSize sizeHint() const override { return {kFaceWidth, kFaceHeight}; }

 signals:
  void clicked();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  double clamped(double v) const;
  void drawTicks(QPainter& p) const;
  void drawTickLabels(QPainter& p) const;
  void drawPointer(QPainter& p) const;
  // Angle in degrees (180 at the lower end, 0 at the upper end) of a value on the scale.
  double angleOf(double v) const;

  double lower_ = 0;
  double upper_ = 0;
  double value_ = 0;
  std::vector<Band> bands_;
  QString title_;
  QString subtitle_;
  int decimals_ = 0;
  bool raised_ = false;
};

}  // namespace gui
