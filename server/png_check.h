// Structural check of an uploaded picture before it is kept: the server stores only what is
// a complete PNG file, chunk by chunk, with every checksum right.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qvserver {

inline constexpr size_t kMaxPictureBytes = 2 * 1024 * 1024;
// A window picture: even a 4K screen at 200 % gives a main window far smaller than this.
inline constexpr uint32_t kMaxPictureSide = 4096;
inline constexpr uint64_t kMaxPicturePixels = 4096ull * 2304;

struct PngInfo {
  uint32_t width = 0;
  uint32_t height = 0;
};

// True when bytes are one whole PNG file (signature, IHDR first, IEND last, nothing after it,
// CRC of every chunk right), 8-bit truecolour not interlaced, within kMaxPictureSide and
// kMaxPicturePixels, with its image data in one run of IDAT chunks. Otherwise error says why.
bool CheckPng(std::string_view bytes, PngInfo* info, std::string* error);

uint32_t Crc32(std::string_view bytes, uint32_t crc = 0);

}  // namespace qvserver
