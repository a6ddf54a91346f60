#include "companions/kiccpad/sign_bitmap.h"

#include <algorithm>
#include <cstdlib>
#include <optional>

namespace kicc {
namespace {

struct Point {
  int x;
  int y;
};

// Marks the pad pixel (x, y) as a scale x scale block.
void MarkPadPixel(SignImage& image, int x, int y, int scale) {
  for (int dy = 0; dy < scale; ++dy) {
    for (int dx = 0; dx < scale; ++dx) image.Mark(x * scale + dx, y * scale + dy);
  }
}

// Bresenham's line from a to b, both ends included, in pad pixels.
void DrawLine(SignImage& image, Point a, Point b, int scale) {
  const int dx = std::abs(b.x - a.x);
  const int dy = -std::abs(b.y - a.y);
  const int step_x = a.x < b.x ? 1 : -1;
  const int step_y = a.y < b.y ? 1 : -1;
  int error = dx + dy;
  for (;;) {
    MarkPadPixel(image, a.x, a.y, scale);
    if (a.x == b.x && a.y == b.y) return;
    const int twice = 2 * error;
    if (twice >= dy) {
      error += dy;
      a.x += step_x;
    }
    if (twice <= dx) {
      error += dx;
      a.y += step_y;
    }
  }
}

void PutLittleEndian(std::string& out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

}  // namespace

SignImage DrawSignature(std::string_view data, int scale) {
  SignImage image(kPadWidth * scale, kPadHeight * scale);
  std::optional<Point> pen;  // where the pen is while it is down
  for (size_t i = 0; i + 1 < data.size(); i += 2) {
    const int x = static_cast<unsigned char>(data[i]);
    const int y = static_cast<unsigned char>(data[i + 1]);
    if (x >= kPadWidth || y >= kPadHeight) {  // the pen-up pair, or a point off the pad
      pen.reset();
      continue;
    }
    const Point point{x, y};
    DrawLine(image, pen.value_or(point), point, scale);
    pen = point;
  }
  return image;
}

std::string MonochromeBmp(const SignImage& image) {
  constexpr uint32_t kPixelsPerMetre = 3780;  // 96 dpi
  const size_t row_bytes = BmpRowBytes(image.width());
  const size_t pixel_bytes = row_bytes * static_cast<size_t>(image.height());
  const auto file_size = static_cast<uint32_t>(kBmpPixelOffset + pixel_bytes);

  std::string bmp = "BM";
  PutLittleEndian(bmp, file_size, 4);
  PutLittleEndian(bmp, 0, 4);  // reserved
  PutLittleEndian(bmp, static_cast<uint32_t>(kBmpPixelOffset), 4);
  PutLittleEndian(bmp, static_cast<uint32_t>(kBmpInfoHeaderSize), 4);
  PutLittleEndian(bmp, static_cast<uint32_t>(image.width()), 4);
  PutLittleEndian(bmp, static_cast<uint32_t>(image.height()), 4);  // positive: bottom-up
  PutLittleEndian(bmp, 1, 2);                                      // planes
  PutLittleEndian(bmp, 1, 2);                                      // bits per pixel
  PutLittleEndian(bmp, 0, 4);                                      // uncompressed
  PutLittleEndian(bmp, static_cast<uint32_t>(pixel_bytes), 4);
  PutLittleEndian(bmp, kPixelsPerMetre, 4);
  PutLittleEndian(bmp, kPixelsPerMetre, 4);
  PutLittleEndian(bmp, 2, 4);           // colours used
  PutLittleEndian(bmp, 2, 4);           // colours important
  PutLittleEndian(bmp, 0x00FFFFFF, 4);  // index 0: white (blue, green, red, reserved)
  PutLittleEndian(bmp, 0x00000000, 4);  // index 1: black

  for (int y = image.height() - 1; y >= 0; --y) {
    std::string row(row_bytes, '\0');
    for (int x = 0; x < image.width(); ++x) {
      if (image.Ink(x, y)) row[static_cast<size_t>(x / 8)] |= static_cast<char>(0x80 >> (x % 8));
    }
    bmp.append(row);
  }
  return bmp;
}

}  // namespace kicc
