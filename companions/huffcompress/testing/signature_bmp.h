// For tests: a small monochrome (1 bit per pixel) Windows bitmap of a signature stroke, the kind
// of image a card terminal's pad delivers.
#pragma once

#include <cmath>
#include <cstdint>
#include <string>

namespace huffcompress::testing {

inline void PutLe(std::string* out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out->push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

// A `width` x `height` bitmap, white, with a wavy black line across it.
inline std::string SignatureBmp(int width = 128, int height = 64) {
  const int row_bytes = ((width + 31) / 32) * 4;  // rows are padded to four bytes
  const uint32_t pixels_size = static_cast<uint32_t>(row_bytes * height);
  const uint32_t pixels_offset = 14 + 40 + 8;  // file header, info header, two palette entries
  std::string bmp = "BM";
  PutLe(&bmp, pixels_offset + pixels_size, 4);
  PutLe(&bmp, 0, 4);
  PutLe(&bmp, pixels_offset, 4);
  PutLe(&bmp, 40, 4);
  PutLe(&bmp, static_cast<uint32_t>(width), 4);
  PutLe(&bmp, static_cast<uint32_t>(height), 4);
  PutLe(&bmp, 1, 2);  // planes
  PutLe(&bmp, 1, 2);  // bits per pixel
  PutLe(&bmp, 0, 4);  // no compression
  PutLe(&bmp, pixels_size, 4);
  PutLe(&bmp, 2835, 4);
  PutLe(&bmp, 2835, 4);
  PutLe(&bmp, 2, 4);
  PutLe(&bmp, 0, 4);
  PutLe(&bmp, 0x00000000, 4);  // palette: 0 black
  PutLe(&bmp, 0x00FFFFFF, 4);  //          1 white
  std::string pixels(pixels_size, static_cast<char>(0xFF));
  for (int x = 0; x < width; ++x) {
    const double wave = std::sin(x / 9.0) * height / 4.0 + std::sin(x / 3.7) * 3.0;
    const int y = height / 2 + static_cast<int>(wave);
    for (int dy = -1; dy <= 1; ++dy) {
      const int row = y + dy;
      if (row < 0 || row >= height) continue;
      char& byte = pixels[static_cast<size_t>(row * row_bytes + x / 8)];
      byte = static_cast<char>(byte & ~(0x80 >> (x % 8)));
    }
  }
  return bmp + pixels;
}

}  // namespace huffcompress::testing
