// The check values that close gateway frames and barcode chunk frames.
#include "companions/util/ordella_util.h"

namespace {

constexpr unsigned char kCheckByteBit = 0x20;
constexpr uint16_t kCrcPolynomial = 0x1021;
constexpr uint16_t kCrcInitial = 0xFFFF;

}  // namespace

extern "C" unsigned char UtilCheckByte(const unsigned char* data, int length) {
  unsigned char check = 0;
  for (int i = 0; data != nullptr && i < length; ++i) check ^= data[i];
  return static_cast<unsigned char>(check | kCheckByteBit);
}

extern "C" uint16_t UtilCheck16(const unsigned char* data, int length) {
  uint16_t crc = kCrcInitial;
  for (int i = 0; data != nullptr && i < length; ++i) {
    crc = static_cast<uint16_t>(crc ^ (data[i] << 8));
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc & 0x8000) != 0 ? static_cast<uint16_t>((crc << 1) ^ kCrcPolynomial)
                                : static_cast<uint16_t>(crc << 1);
    }
  }
  return crc;
}
