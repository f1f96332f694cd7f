// The documentation's pictures of a window: the window with a title bar of our own, as the window
// manager of a test display has none.
#pragma once

#include <QImage>

class QWidget;

namespace shots {

QImage Framed(QWidget& window);

}  // namespace shots
