// The picture of the main window that a score upload sends: the window painted into a 16-bit
// image, the date and time stamped across it as outlined, rotated text, saved as PNG.
#pragma once

#include <QDateTime>
#include <QImage>
#include <QString>
#include <string>

class QWidget;

namespace gui {

// Height of the caption bar drawn above the window's contents, and the frame around both: the
// window manager draws the real ones on X11, so the picture gets ours.
constexpr int kShotCaptionHeight = 22;
constexpr int kShotFrame = 1;

// Sizes bitmap to the window with its frame and caption bar and paints the window into it
// (16-bit, 5-6-5). False, with the bitmap left empty, when there is no window to paint.
bool PrintWindowToBitmap(QWidget* window, QImage* bitmap);

// Strokes text as the outline of a 34-point Arial font rotated by 26 degrees, in the grey 1-pixel
// pen, near the middle of the bitmap. dotsPerInch converts the points to pixels.
void DrawOutlinedStamp(QImage* bitmap, const QString& text, double dotsPerInch = 96);

// The stamp: the local date in the user's short form, a blank, the time of day.
QString StampText(const QDateTime& when);

// Writes image as PNG (truecolour, 8 bits per channel, not interlaced, zlib level 9) to a file
// that must not exist yet.
bool WritePng(const QImage& image, const std::string& path, std::string* error);

// Captures window, stamps it with the current date and time, writes the PNG to path.
bool SaveWindowShot(QWidget* window, const std::string& path, std::string* error);

}  // namespace gui
