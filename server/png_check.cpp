#include "server/png_check.h"

#include <array>

namespace qvserver {

namespace {

constexpr std::string_view kSignature{"\x89PNG\r\n\x1a\n", 8};

uint32_t BigEndian32(std::string_view b, size_t at) {
  return (static_cast<uint32_t>(static_cast<unsigned char>(b[at])) << 24) |
         (static_cast<uint32_t>(static_cast<unsigned char>(b[at + 1])) << 16) |
         (static_cast<uint32_t>(static_cast<unsigned char>(b[at + 2])) << 8) |
         static_cast<uint32_t>(static_cast<unsigned char>(b[at + 3]));
}

bool Fail(std::string* error, const char* message) {
  if (error) *error = message;
  return false;
}

}  // namespace

uint32_t Crc32(std::string_view bytes, uint32_t crc) {
  static const std::array<uint32_t, 256> table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t n = 0; n < 256; ++n) {
      uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xedb88320u ^ (c >> 1) : c >> 1;
      t[n] = c;
    }
    return t;
  }();
  crc = ~crc;
  for (unsigned char b : bytes) crc = table[(crc ^ b) & 0xff] ^ (crc >> 8);
  return ~crc;
}

bool CheckPng(std::string_view bytes, PngInfo* info, std::string* error) {
  if (bytes.size() > kMaxPictureBytes) return Fail(error, "picture larger than 2 MiB");
  if (bytes.substr(0, kSignature.size()) != kSignature) return Fail(error, "picture is not a PNG file");
  size_t at = kSignature.size();
  bool first = true, seenIdat = false, idatEnded = false;
  while (true) {
    if (bytes.size() - at < 12) return Fail(error, "PNG file is cut short");
    const uint32_t length = BigEndian32(bytes, at);
    const std::string_view type = bytes.substr(at + 4, 4);
    if (length > bytes.size() - at - 12) return Fail(error, "PNG chunk runs past the end of the file");
    for (char c : type)
      if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')))
        return Fail(error, "PNG chunk type is not letters");
    const std::string_view typeAndData = bytes.substr(at + 4, 4 + length);
    if (Crc32(typeAndData) != BigEndian32(bytes, at + 8 + length))
      return Fail(error, "PNG chunk checksum is wrong");
    if (first) {
      if (type != "IHDR" || length != 13) return Fail(error, "PNG file does not start with its header chunk");
      const uint32_t w = BigEndian32(bytes, at + 8), h = BigEndian32(bytes, at + 12);
      // Decoded, the picture takes width x height x 3 bytes: bounded here, not by the file size.
      if (w < 1 || h < 1 || w > kMaxPictureSide || h > kMaxPictureSide ||
          static_cast<uint64_t>(w) * h > kMaxPicturePixels)
        return Fail(error, "PNG picture size is outside what a window picture can be");
      const unsigned char* f = reinterpret_cast<const unsigned char*>(bytes.data()) + at + 16;
      // Depth 8, truecolour, deflate, adaptive filtering, not interlaced: what the program writes.
      if (f[0] != 8 || f[1] != 2 || f[2] != 0 || f[3] != 0 || f[4] != 0)
        return Fail(error, "PNG picture is not 8-bit truecolour without interlacing");
      if (info) *info = PngInfo{w, h};
      first = false;
    } else if (type == "IHDR") {
      return Fail(error, "PNG file has a second header chunk");
    }
    if (type == "IDAT") {
      // The image data must be one run of IDAT chunks.
      if (idatEnded) return Fail(error, "PNG image data is split by other chunks");
      seenIdat = true;
    } else if (seenIdat) {
      idatEnded = true;
    }
    at += 12 + length;
    if (type == "IEND") break;
  }
  if (at != bytes.size()) return Fail(error, "bytes follow the end of the PNG file");
  if (!seenIdat) return Fail(error, "PNG file holds no image data");
  return true;
}

}  // namespace qvserver
