// The customer's signature as the pad reports it, and the bitmap made of it.
//
// Signature data: pen points of two bytes each, x then y, on a pad of kPadWidth x kPadHeight
// (x 0-127, y 0-63, y growing downwards). Consecutive points are joined by straight lines while
// the pen is down; the pair 0xFF 0xFF lifts it, and so does any point off the pad. A single point
// between two lifts is a dot. An odd last byte is ignored.
//
// Bitmap file: a Windows BMP, BITMAPINFOHEADER, 1 bit per pixel, two palette colours (index 0
// white, index 1 black ink), rows bottom-up, each padded to four bytes, uncompressed.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kicc {

inline constexpr int kPadWidth = 128;
inline constexpr int kPadHeight = 64;
inline constexpr unsigned char kPenUp = 0xFF;

// A black-and-white image, row 0 at the top.
class SignImage {
 public:
  SignImage(int width, int height)
      : width_(width), height_(height), ink_(static_cast<size_t>(width * height), false) {}

  int width() const { return width_; }
  int height() const { return height_; }
  bool Ink(int x, int y) const { return Inside(x, y) && ink_[Index(x, y)]; }
  void Mark(int x, int y) {
    if (Inside(x, y)) ink_[Index(x, y)] = true;
  }

 private:
  bool Inside(int x, int y) const { return x >= 0 && y >= 0 && x < width_ && y < height_; }
  size_t Index(int x, int y) const { return static_cast<size_t>(y * width_ + x); }

  int width_;
  int height_;
  std::vector<bool> ink_;
};

// The strokes of the signature data drawn on an image of the pad's size scaled by `scale`
// (each pad pixel becomes scale x scale pixels).
SignImage DrawSignature(std::string_view data, int scale);

// The BMP file of the image.
std::string MonochromeBmp(const SignImage& image);

// BMP layout, as written.
inline constexpr size_t kBmpFileHeaderSize = 14;
inline constexpr size_t kBmpInfoHeaderSize = 40;
inline constexpr size_t kBmpPaletteSize = 2 * 4;
inline constexpr size_t kBmpPixelOffset = kBmpFileHeaderSize + kBmpInfoHeaderSize + kBmpPaletteSize;
// Bytes of one row of `width` pixels: one bit each, padded to a multiple of four.
constexpr size_t BmpRowBytes(int width) { return ((static_cast<size_t>(width) + 31) / 32) * 4; }

}  // namespace kicc
