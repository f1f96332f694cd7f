// Small POSIX helpers the platform services share; not a service of its own.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

namespace platform::detail {

inline std::string Errno(const std::string& what) { return what + ": " + std::strerror(errno); }

inline const char* NonEmptyEnv(const char* name) {
  const char* v = std::getenv(name);
  return (v && *v) ? v : nullptr;
}

inline std::string WithoutTrailingSeparator(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// Writes all bytes, going on after interrupted or short writes.
inline bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace platform::detail
