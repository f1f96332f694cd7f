// printf-style formatting that never consults the process locale: the host may have set a
// locale with a decimal comma, and its parser expects "." in every figure.
#pragma once

#include <cstdarg>
#include <cstddef>

namespace membw_internal {

// Understands %u %d %X %c %s %f with optional width and precision (%8u, %.2f) and %%.
// Always NUL-terminates; truncates to fit. Returns the length written.
size_t FormatText(char* buffer, size_t size, const char* format, ...);
size_t FormatTextV(char* buffer, size_t size, const char* format, va_list args);

// Formats and writes to standard output in one piece.
void PrintText(const char* format, ...);

}  // namespace membw_internal
