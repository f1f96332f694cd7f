// Fonts asked for by their Windows names. Where a name is missing, fontconfig's default
// substitute is much wider than the original faces, so the metric-compatible Liberation family
// comes next.
#pragma once

#include <QFont>

namespace gui {

inline QFont PixelFont(const char* family, int pixels, bool bold = false) {
  QFont font;
  const QString name = QString::fromLatin1(family);
  const bool serif = name.startsWith(QLatin1String("Times"));
  font.setFamilies({name, serif ? QStringLiteral("Liberation Serif") : QStringLiteral("Liberation Sans")});
  font.setPixelSize(pixels);
  font.setBold(bold);
  return font;
}

}  // namespace gui
