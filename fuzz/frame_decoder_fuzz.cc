// The frame decoder on any frame: packed, enciphered or plain, whole or broken.
//
// What must hold: a frame made plain is a plain frame (STX first, cipher flag "X", packing flag
// "X" when it was packed, the length field its count from STX through ETX) and decodes again to
// itself; a frame whose body cannot
// be unpacked or deciphered is left as it was.
#include <cstdint>
#include <string>

#include "fuzz/fuzz_support.h"
#include "hub/core/frame_decoder.h"
#include "protocol/frame.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzing::UsePrivatePrefix();  // the cipher key is read from the prefix's registry
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string received(reinterpret_cast<const char*>(data), size);
  std::string frame = received;
  const hub::DecodeStatus status = hub::DecodeFrame(&frame);
  FUZZ_CHECK(hub::DecodeStatusText(status) != nullptr);
  if (status == hub::DecodeStatus::kUnpackFailed || status == hub::DecodeStatus::kDecipherFailed) {
    FUZZ_CHECK(frame == received);
    return 0;
  }
  if (status != hub::DecodeStatus::kOk) return 0;
  if (frame != received) {  // it was packed or enciphered: now a plain frame
    FUZZ_CHECK(frame.size() > protocol::kLengthOffset + protocol::kLengthDigits);
    FUZZ_CHECK(frame[0] == protocol::kStx);
    FUZZ_CHECK(frame[protocol::kCipherFlagOffset] == protocol::kPlainFlag);
    const char packing = received[protocol::kPackingFlagOffset];
    FUZZ_CHECK(frame[protocol::kPackingFlagOffset] ==
               (packing >= '0' && packing <= '9' ? protocol::kPlainFlag : packing));
    const size_t etx = protocol::EtxIndex(frame);
    FUZZ_CHECK(etx != std::string::npos);
    FUZZ_CHECK(protocol::ReadLengthField(frame) == static_cast<int>(etx + 1));
  }
  std::string again = frame;
  FUZZ_CHECK(hub::DecodeFrame(&again) == hub::DecodeStatus::kOk);
  FUZZ_CHECK(again == frame);
  return 0;
}
