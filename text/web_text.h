// Texts made safe for a web address and for HTML or SVG markup, as the program's compare address,
// its curve picture and the server's pages all need them. Header only, like trim.h, so the server
// shares it without linking the program.
#pragma once

#include <string>
#include <string_view>

namespace text {

// Every byte but the unreserved ones (A-Z a-z 0-9 - . _ ~) as %XX with upper-case hex digits.
inline std::string UrlEncode(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
        c == '_' || c == '~') {
      out += ch;
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

// The five markup characters as entities; control characters (which XML does not allow and a
// query string might carry) as a blank; tab kept.
inline std::string MarkupEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += static_cast<unsigned char>(c) < 0x20 && c != '\t' ? ' ' : c;
    }
  }
  return out;
}

}  // namespace text
