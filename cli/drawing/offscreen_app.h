// The terminal has no window system to rely on: the commands that draw (the upload's window
// picture, the curve's PNG) share one QApplication that renders offscreen unless told otherwise.
#pragma once

class QApplication;

namespace cli {

QApplication& OffscreenApplication();

}  // namespace cli
