#include "gui/window_shot.h"

#include <QFile>
#include <QFontMetrics>
#include <QImageWriter>
#include <QLayout>
#include <QLinearGradient>
#include <QLocale>
#include <QPainter>
#include <QPainterPath>
#include <QWidget>
#include <cmath>

namespace gui {

namespace {

void DrawFrameAndCaption(QPainter& p, const QSize& size, const QString& title) {
  const QRect caption(kShotFrame, kShotFrame, size.width() - 2 * kShotFrame, kShotCaptionHeight);
  QLinearGradient gradient(caption.topLeft(), caption.topRight());
  gradient.setColorAt(0, QColor(10, 36, 106));
  gradient.setColorAt(1, QColor(120, 160, 215));
  p.fillRect(caption, gradient);
  p.setPen(QColor(64, 64, 64));
  p.drawRect(QRect(0, 0, size.width() - 1, size.height() - 1));
  QFont font(QStringLiteral("Tahoma"));
  font.setPixelSize(12);
  font.setBold(true);
  p.setFont(font);
  p.setPen(Qt::white);
  p.drawText(caption.adjusted(6, 0, -6, 0), Qt::AlignLeft | Qt::AlignVCenter, title);
}

}  // namespace

bool PrintWindowToBitmap(QWidget* window, QImage* bitmap) {
  *bitmap = QImage();
  if (window == nullptr) return false;
  window->ensurePolished();
  if (QLayout* layout = window->layout()) layout->activate();
  const QSize inner = window->size();
  if (inner.isEmpty()) return false;
  const QSize outer(inner.width() + 2 * kShotFrame, inner.height() + kShotCaptionHeight + 2 * kShotFrame);
  *bitmap = QImage(outer, QImage::Format_RGB16);
  bitmap->setDotsPerMeterX(3780);  // 96 dots per inch, whatever the screen says
  bitmap->setDotsPerMeterY(3780);
  bitmap->fill(window->palette().color(QPalette::Window));
  QPainter p(bitmap);
  DrawFrameAndCaption(p, outer, window->windowTitle());
  window->render(&p, QPoint(kShotFrame, kShotFrame + kShotCaptionHeight), QRegion(),
                 QWidget::DrawWindowBackground | QWidget::DrawChildren);
  return true;
}

void DrawOutlinedStamp(QImage* bitmap, const QString& text, double dotsPerInch) {
  if (bitmap == nullptr || bitmap->isNull()) return;
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(static_cast<int>(std::lround(34.0 * dotsPerInch / 72.0)));
  font.setStyleStrategy(QFont::NoAntialias);
  const QFontMetrics metrics(font);
  // Unrotated extents place the text; rint sends halves to the even neighbour.
  const int tw = metrics.horizontalAdvance(text);
  const int th = metrics.height();
  const int x = bitmap->width() / 2 - static_cast<int>(std::rint(tw / 1.95));
  const int y = bitmap->height() / 2 + static_cast<int>(std::rint(th / 2.55));

  // The text cell's top-left corner sits at (x, y); the baseline rises 26 degrees to the right.
  // The glyphs turn with the baseline (the separate 21-degree glyph angle only applies in an
  // advanced drawing mode that the original did not use).
  QPainterPath path;
  path.addText(0, metrics.ascent(), font, text);
  QTransform turn;
  turn.translate(x, y);
  turn.rotate(-26.0);

  QPainter p(bitmap);
  p.setRenderHint(QPainter::Antialiasing, false);
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(QColor(128, 128, 128), 1));
  p.drawPath(turn.map(path));
}

QString StampText(const QDateTime& when) {
  const QLocale locale = QLocale::system();
  // The long time form of some locales carries the time zone name; the stamp shows the clock only.
  QString timeFormat = locale.timeFormat(QLocale::LongFormat);
  timeFormat.remove(QLatin1Char('t'));
  return locale.toString(when.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
         locale.toString(when.time(), timeFormat.trimmed());
}

bool WritePng(const QImage& image, const std::string& path, std::string* error) {
  QFile file(QString::fromStdString(path));
  if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
    if (error)
      *error = "the picture could not be created at " + path + ": " + file.errorString().toStdString();
    return false;
  }
  QImageWriter writer(&file, "png");
  // Qt's PNG writer takes the zlib level from the quality (0..9); its compression option counts
  // the other way round and would store the data uncompressed.
  writer.setQuality(9);
  if (!writer.write(image) || !file.flush()) {
    if (error)
      *error = "the picture could not be written to " + path + ": " + writer.errorString().toStdString();
    file.close();
    file.remove();
    return false;
  }
  file.close();
  return true;
}

bool SaveWindowShot(QWidget* window, const std::string& path, std::string* error) {
  QImage bitmap;
  if (!PrintWindowToBitmap(window, &bitmap)) {
    if (error) *error = "the window could not be captured";
    return false;
  }
  DrawOutlinedStamp(&bitmap, StampText(QDateTime::currentDateTime()), window->logicalDpiY());
  return WritePng(bitmap, path, error);
}

}  // namespace gui
