// The terminal link's frame assembler and the frame decoder behind it, on any byte stream.
//
// Input: one byte choosing the record size (mostly the real one, sometimes a small one so that
// frames overflow it), one byte seeding how the stream is cut into reads, then the stream.
//
// What must hold:
//   - a stream cut into reads of any sizes gives the same frames and other bytes, in the same
//     order, as the stream given whole: the link's reads never change what is recognised;
//   - every frame starts with STX and fits the record; nothing comes out that did not go in;
//   - a frame the decoder makes plain decodes again to itself; a frame it cannot unpack or
//     decipher is left as it was.
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "hub/core/frame_assembler.h"
#include "hub/core/frame_decoder.h"
#include "protocol/frame.h"

namespace {

struct Collected {
  std::string frames;  // each frame behind its size, so that frame boundaries count too
  std::string other_bytes;
  size_t frame_bytes = 0;
};

void Append(const hub::FrameAssembler::Output& out, Collected* collected) {
  for (const std::string& frame : out.frames) {
    collected->frames += std::to_string(frame.size()) + ":" + frame;
    collected->frame_bytes += frame.size();
  }
  collected->other_bytes += out.other_bytes;
}

void CheckDecoding(const std::string& received) {
  std::string frame = received;
  const hub::DecodeStatus status = hub::DecodeFrame(&frame);
  if (status == hub::DecodeStatus::kUnpackFailed || status == hub::DecodeStatus::kDecipherFailed) {
    FUZZ_CHECK(frame == received);
  }
  if (status != hub::DecodeStatus::kOk) return;
  std::string again = frame;
  FUZZ_CHECK(hub::DecodeFrame(&again) == hub::DecodeStatus::kOk);
  FUZZ_CHECK(again == frame);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzing::UsePrivatePrefix();  // the cipher key is read from the prefix's registry
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzing::Input input(data, size);
  const uint8_t size_choice = input.Byte();
  const size_t record_size =
      size_choice < 192 ? protocol::kMessageRecordSize : protocol::kHeadSize + size_choice;
  uint32_t cuts = input.Byte() * 2654435761u + 1;
  const std::string_view stream = input.Rest();

  hub::FrameAssembler::Output out;
  hub::FrameAssembler whole({}, record_size);
  Collected at_once;
  whole.Feed(stream, &out);
  Append(out, &at_once);

  hub::FrameAssembler pieces({}, record_size);
  Collected in_pieces;
  for (size_t at = 0; at < stream.size();) {
    cuts = cuts * 1103515245u + 12345u;
    const size_t piece = 1 + (cuts >> 16) % 64;
    pieces.Feed(stream.substr(at, piece), &out);
    Append(out, &in_pieces);
    for (const std::string& frame : out.frames) {
      FUZZ_CHECK(!frame.empty() && frame[0] == protocol::kStx);
      FUZZ_CHECK(frame.size() <= record_size);
      CheckDecoding(frame);
    }
    at += piece;
  }

  FUZZ_CHECK(in_pieces.frames == at_once.frames);
  FUZZ_CHECK(in_pieces.other_bytes == at_once.other_bytes);
  FUZZ_CHECK(pieces.receiving() == whole.receiving());
  FUZZ_CHECK(at_once.frame_bytes + at_once.other_bytes.size() <= stream.size());
  return 0;
}
