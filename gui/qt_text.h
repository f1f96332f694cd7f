// The program's texts are UTF-8 std::strings; Qt's widgets take QString. The one conversion.
#pragma once

#include <QString>
#include <string_view>

namespace gui {

inline QString Q(std::string_view utf8) {
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

}  // namespace gui
