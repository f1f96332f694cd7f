// A horizontal bar of 0..maximum filled with a left-to-right gradient, its caption drawn bold
// inside it. The range rules are the model's (core::BarValue); the bar only draws them.
#pragma once

#include <QColor>
#include <QWidget>
#include <string>

#include "core/window_state.h"

namespace gui {

class GradientBar : public QWidget {
  Q_OBJECT

 public:
  GradientBar(const QColor& light, const QColor& dark, QWidget* parent = nullptr);

  const core::BarValue& value() const { return value_; }
  void setValue(const core::BarValue& value);

  const std::string& caption() const { return value_.caption; }

  // Share of the bar that is filled, 0..1.
  double fillRatio() const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QColor light_;
  QColor dark_;
  core::BarValue value_;
};

}  // namespace gui
