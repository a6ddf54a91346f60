// Recognising gateway frames in the byte stream of a terminal link.
//
// An STX starts a head. After each byte the head's flag bytes are tested: "X" followed by a
// digit or "X", or "S" followed by "X", is accepted and the head becomes the start of a frame
// being received. Any other pair fails: those bytes and every byte up to the next STX are not
// gateway traffic. Once 13 bytes are held the length field is read, and the frame is complete
// when more bytes are held than it says (with the normal length value: when the check byte has
// arrived). The check byte is not verified. Each completed frame is logged as
// "TAVENOR_PROTOCAL_END", with card data masked.
//
// An STX restarts collection wherever it occurs, with one exception: in the body of a frame
// whose body is binary (cipher flag "S" or a packing digit) an STX is data, since enciphered and
// packed bodies hold every byte value; such a frame is bounded by its length field instead.
// A plain frame that stops short is thus dropped (and logged) at the next STX, and a binary one
// when its length is reached.
//
// A frame whose length field is not four digits, or that would not fit the message record, is
// dropped with a log record, and its bytes up to the next STX are dropped with it.
//
// Bytes are given back to the caller as "other bytes" (not gateway traffic, for the VAN module)
// in the order they came, once their fate is known: an STX whose flag bytes have not arrived
// yet is held back until they do.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "hub/core/frame_log.h"
#include "protocol/frame.h"

namespace hub {

inline constexpr char kFrameEndLogTag[] = "TAVENOR_PROTOCAL_END";
inline constexpr char kFrameDroppedLogTag[] = "FrameDropped";

class FrameAssembler {
 public:
  // What one Feed produced, in the order the bytes came.
  struct Output {
    std::vector<std::string> frames;  // completed frames, STX through the last byte counted
    std::string other_bytes;          // bytes that are not part of any frame
  };

  // `record_size` bounds a frame (the message record); it must hold at least a head.
  explicit FrameAssembler(LogTarget log = {}, size_t record_size = protocol::kMessageRecordSize);

  // Takes the next bytes of the stream; `out` is cleared, then filled.
  void Feed(std::string_view bytes, Output* out);

  // True while a frame has been accepted and is not yet complete.
  bool receiving() const { return state_ == State::kReceiving; }

 private:
  enum class State {
    kIdle,        // outside any frame: bytes up to the next STX are other bytes
    kHead,        // an STX and not yet both flag bytes
    kReceiving,   // an accepted frame
    kDiscarding,  // a refused frame: bytes up to the next STX are dropped
  };

  void StartHead();
  // At an STX that may start collection: takes the whole frame at once when `from_stx` holds
  // all of it and nothing in it would restart or drop it, else starts a head. Returns the bytes
  // consumed.
  size_t StartAt(std::string_view from_stx, Output* out);
  // The size of the complete frame that the byte-by-byte course would give out from the start
  // of `bytes` (an STX) without a drop; 0 when there is none wholly in `bytes`.
  size_t WholeFrame(std::string_view bytes) const;
  // Logs a completed frame and gives it out.
  void Emit(std::string_view frame, Output* out);
  // Each returns the bytes of `bytes` it consumed (at least one).
  size_t TakeOther(std::string_view bytes, Output* out);
  size_t TakeHeadByte(char byte, Output* out);
  size_t TakeFrameBytes(std::string_view bytes, Output* out);
  size_t TakeDiscarded(std::string_view bytes, Output* out);
  // The bytes the frame being received still needs before its next decision.
  size_t Wanted() const;
  // How many of the next `available` bytes may still restart collection with an STX.
  size_t RestartSpan(size_t available) const;
  void ReadLength();
  void Drop(std::string_view reason, State next);

  LogTarget log_;
  size_t record_size_;
  State state_ = State::kIdle;
  std::string record_;
  bool binary_body_ = false;
  bool length_known_ = false;
  size_t length_value_ = 0;
  std::vector<std::string> spare_;  // strings of frames given out earlier, reused for new ones
};

}  // namespace hub
