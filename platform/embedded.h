// Bytes of a built target embedded into this one by quorvex_embed() in CMake.
#pragma once

#include <cstddef>

namespace platform {
struct EmbeddedImage {
  const unsigned char* data;
  size_t size;
};
}  // namespace platform

// Declares the symbols of an image embedded under NAME and a function NAME_image() returning it.
#define QV_EMBEDDED_IMAGE(NAME)                                                     \
  extern "C" const unsigned char NAME##_start[];                                    \
  extern "C" const unsigned long long NAME##_size;                                  \
  inline platform::EmbeddedImage NAME##_image() {                                   \
    return platform::EmbeddedImage{NAME##_start, static_cast<size_t>(NAME##_size)}; \
  }
