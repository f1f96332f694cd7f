// Trimming as every text rule of the program, its report tool and its server does it: characters
// with code 32 or less go at both ends. Header only, so the tool and the server share it without
// linking the program.
#pragma once

#include <string>
#include <string_view>

namespace text {

inline bool IsBlankCode(char c) { return static_cast<unsigned char>(c) <= 32; }

inline std::string Trim(std::string_view text) {
  size_t begin = 0, end = text.size();
  while (begin < end && IsBlankCode(text[begin])) ++begin;
  while (end > begin && IsBlankCode(text[end - 1])) --end;
  return std::string(text.substr(begin, end - begin));
}

}  // namespace text
