// Numbers inside displayed texts, and numbers the program writes ("." under every locale).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace core {

// The number inside a displayed text: "," read as ".", everything but + - . and digits
// dropped, "..." and ".." shrunk to ".", blanks removed; "0" when nothing is left.
std::string NumericText(std::string_view text);

// value rounded half away from zero to decimals places, fixed notation, "." as point, no
// thousands separators. Never touches the global locale.
std::string FixedText(double value, int decimals);

// Whole decimal number of the entire text (optional sign, digits only), as Delphi-style
// conversions accept it; nothing on an empty text, other characters or overflow.
std::optional<int64_t> ParseInteger(std::string_view text);

// Decimal number of the entire text with "." as point (no exponent needed); nothing otherwise.
std::optional<double> ParseDecimal(std::string_view text);

}  // namespace core
