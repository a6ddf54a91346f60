// The packing side of gateway frames: the terminal and the gateway server may send a frame
// whose body is deflated (packing flag "0"-"9"); UtilUnpackFrame turns it back in place.
// The simulators build such frames with PackFrame.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace frame_packing {

// The packed frame keeps the plain frame's head; the deflated body follows it.
inline constexpr size_t kStxOffset = 0;
inline constexpr size_t kCipherFlagOffset = 1;
inline constexpr size_t kPackingFlagOffset = 2;
inline constexpr size_t kLengthOffset = 3;
inline constexpr size_t kLengthDigits = 4;
inline constexpr size_t kBodyOffset = 10;  // after STX, flags, length and frame type
inline constexpr size_t kFrameOverhead = kBodyOffset + 1;  // head + ETX: length = body + 11
inline constexpr size_t kMaxFrameLength = 9999;            // the largest four-digit length field
inline constexpr unsigned char kStx = 0x02;
inline constexpr unsigned char kEtx = 0x03;
inline constexpr char kPlainFlag = 'X';
// Raw deflate (no zlib header or trailer).
inline constexpr int kDeflateWindowBits = -15;

// Packs a plain frame (STX through ETX, with or without its check byte; packing flag "X")
// at compression `level` 0-9, which becomes the packing digit. Returns the packed frame from
// STX through ETX followed by its check byte, or nullopt when the input is not a plain frame,
// the level is out of range or the packed frame would not fit the four-digit length field.
// Unpacking gives back the same head and body with the normal length field (body + 11).
std::optional<std::string> PackFrame(std::string_view plain_frame, int level);

}  // namespace frame_packing
