// Decoding a received gateway frame in place, before any field is read:
//   1. a packed frame (packing flag a digit) is unpacked with UtilUnpackFrame;
//   2. an enciphered frame (cipher flag "S") is deciphered with Ordella_Crypt;
// then the message code is read from bytes 10-12 (MessageCode in frame.h).
//
// Only a digit asks for unpacking: "X" is plain and "C" marks a frame the hub forwards to the
// gateway server; any other packing flag is left alone rather than handed to the unpacker.
//
// A decoded frame is a plain one: flags "X" and "X", the length field its byte count from STX
// through ETX, and a fresh check byte when the frame had one. Decoding it again changes nothing,
// so a frame passed from the dispatcher to the payment path is never decoded twice.
#pragma once

#include <string>

namespace hub {

enum class DecodeStatus {
  kOk,              // plain, or made plain
  kNotAFrame,       // no STX and head, no ETX at the end of a packed or enciphered frame,
                    // packed with a cipher flag other than "X" (enciphered among them), or too
                    // long for a plain frame once deciphered
  kUnpackFailed,    // the packed body could not be unpacked, or unpacked to less than a
                    // message code; the frame is unchanged
  kDecipherFailed,  // the enciphered body could not be deciphered; the frame is unchanged
};

// `frame` runs from STX through the check byte (or through ETX for frames sent without one).
DecodeStatus DecodeFrame(std::string* frame);

const char* DecodeStatusText(DecodeStatus status);

}  // namespace hub
