#include "format.h"

#include <charconv>
#include <cstdio>
#include <cstring>

namespace membw_internal {

namespace {

struct Sink {
  char* buffer;
  size_t size;
  size_t length = 0;

  void Put(char c) {
    if (length + 1 < size) buffer[length] = c;
    ++length;
  }
  void Put(const char* text, size_t n) {
    for (size_t i = 0; i < n; ++i) Put(text[i]);
  }
  // Right-aligns (or left-aligns) one converted field in its width.
  void Field(const char* text, size_t n, int width, bool left) {
    const size_t pad = width > 0 && static_cast<size_t>(width) > n ? width - n : 0;
    if (!left)
      for (size_t i = 0; i < pad; ++i) Put(' ');
    Put(text, n);
    if (left)
      for (size_t i = 0; i < pad; ++i) Put(' ');
  }
};

}  // namespace

size_t FormatTextV(char* buffer, size_t size, const char* format, va_list args) {
  Sink out{buffer, size};
  for (const char* f = format; *f; ++f) {
    if (*f != '%') {
      out.Put(*f);
      continue;
    }
    ++f;
    bool left = false;
    if (*f == '-') {
      left = true;
      ++f;
    }
    int width = 0;
    while (*f >= '0' && *f <= '9') width = width * 10 + (*f++ - '0');
    int precision = -1;
    if (*f == '.') {
      precision = 0;
      ++f;
      while (*f >= '0' && *f <= '9') precision = precision * 10 + (*f++ - '0');
    }
    char digits[400];
    std::to_chars_result r{digits, std::errc()};
    switch (*f) {
      case 'u':
        r = std::to_chars(digits, digits + sizeof digits, va_arg(args, unsigned));
        out.Field(digits, r.ptr - digits, width, left);
        break;
      case 'd':
        r = std::to_chars(digits, digits + sizeof digits, va_arg(args, int));
        out.Field(digits, r.ptr - digits, width, left);
        break;
      case 'X': {
        r = std::to_chars(digits, digits + sizeof digits, va_arg(args, unsigned), 16);
        for (char* p = digits; p < r.ptr; ++p)
          if (*p >= 'a' && *p <= 'f') *p = static_cast<char>(*p - 'a' + 'A');
        out.Field(digits, r.ptr - digits, width, left);
        break;
      }
      case 'c': {
        const char c = static_cast<char>(va_arg(args, int));
        out.Field(&c, 1, width, left);
        break;
      }
      case 's': {
        const char* s = va_arg(args, const char*);
        if (!s) s = "";
        out.Field(s, std::strlen(s), width, left);
        break;
      }
      case 'f':
        r = std::to_chars(digits, digits + sizeof digits, va_arg(args, double), std::chars_format::fixed,
                          precision < 0 ? 6 : precision);
        if (r.ec != std::errc()) {
          out.Field("?", 1, width, left);
        } else {
          out.Field(digits, r.ptr - digits, width, left);
        }
        break;
      case '%':
        out.Put('%');
        break;
      case '\0':
        --f;  // a lone % at the end prints nothing
        break;
      default:
        out.Put('%');
        out.Put(*f);
        break;
    }
  }
  if (size > 0) buffer[out.length < size ? out.length : size - 1] = '\0';
  return out.length < size ? out.length : (size > 0 ? size - 1 : 0);
}

size_t FormatText(char* buffer, size_t size, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const size_t n = FormatTextV(buffer, size, format, args);
  va_end(args);
  return n;
}

void PrintText(const char* format, ...) {
  char buffer[1024];
  va_list args;
  va_start(args, format);
  const size_t n = FormatTextV(buffer, sizeof buffer, format, args);
  va_end(args);
  std::fwrite(buffer, 1, n, stdout);
  std::fflush(stdout);
}

}  // namespace membw_internal
