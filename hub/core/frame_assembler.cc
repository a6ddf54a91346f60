#include "hub/core/frame_assembler.h"

#include <algorithm>
#include <utility>

namespace hub {

using namespace protocol;

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

enum class HeadVerdict { kUndecided, kAccepted, kRejected };

// The test of the flag bytes (head bytes 1 and 2) after each byte appended to a head.
HeadVerdict TestHead(std::string_view head) {
  if (head.size() <= kCipherFlagOffset) return HeadVerdict::kUndecided;
  const char cipher = head[kCipherFlagOffset];
  if (cipher != kPlainFlag && cipher != kCipheredFlag) return HeadVerdict::kRejected;
  if (head.size() <= kPackingFlagOffset) return HeadVerdict::kUndecided;
  const char packing = head[kPackingFlagOffset];
  const bool accepted =
      cipher == kPlainFlag ? (packing == kPlainFlag || IsDigit(packing)) : packing == kPlainFlag;
  return accepted ? HeadVerdict::kAccepted : HeadVerdict::kRejected;
}

}  // namespace

FrameAssembler::FrameAssembler(LogTarget log, size_t record_size)
    : log_(std::move(log)), record_size_(std::max(record_size, kHeadSize + 1)) {}

void FrameAssembler::Feed(std::string_view bytes, Output* out) {
  // The strings of the frames given out last time keep their room for the next frames.
  for (std::string& frame : out->frames) spare_.push_back(std::move(frame));
  out->frames.clear();
  out->other_bytes.clear();
  while (!bytes.empty()) {
    size_t used = 0;
    switch (state_) {
      case State::kIdle:
        used = TakeOther(bytes, out);
        break;
      case State::kHead:
        used = TakeHeadByte(bytes.front(), out);
        break;
      case State::kReceiving:
        used = TakeFrameBytes(bytes, out);
        break;
      case State::kDiscarding:
        used = TakeDiscarded(bytes, out);
        break;
    }
    bytes.remove_prefix(used);
  }
}

void FrameAssembler::StartHead() {
  record_.assign(1, kStx);
  state_ = State::kHead;
  binary_body_ = false;
  length_known_ = false;
  length_value_ = 0;
}

size_t FrameAssembler::StartAt(std::string_view from_stx, Output* out) {
  if (const size_t whole = WholeFrame(from_stx); whole != 0) {
    Emit(from_stx.substr(0, whole), out);
    state_ = State::kIdle;
    return whole;
  }
  StartHead();
  return 1;
}

size_t FrameAssembler::WholeFrame(std::string_view bytes) const {
  if (bytes.size() < kHeadSize) return 0;
  const char cipher = bytes[kCipherFlagOffset];
  const char packing = bytes[kPackingFlagOffset];
  if (TestHead(bytes.substr(0, kPackingFlagOffset + 1)) != HeadVerdict::kAccepted ||
      packing == kStx) {
    return 0;
  }
  const bool binary = cipher == kCipheredFlag || IsDigit(packing);
  // Where an STX would restart collection: the whole frame when plain, the head before the
  // body when binary.
  const size_t head_restart_end = binary ? kBodyOffset : kHeadSize;
  if (bytes.substr(kLengthOffset, head_restart_end - kLengthOffset).find(kStx) !=
      std::string_view::npos) {
    return 0;
  }
  const std::optional<int> value = ReadDecimal(bytes, kLengthOffset, kLengthDigits);
  if (!value || static_cast<size_t>(*value) + 1 > record_size_) return 0;
  const size_t whole = std::max(static_cast<size_t>(*value) + 1, kHeadSize);
  if (bytes.size() < whole) return 0;
  if (!binary && bytes.substr(kHeadSize, whole - kHeadSize).find(kStx) != std::string_view::npos) {
    return 0;
  }
  return whole;
}

void FrameAssembler::Emit(std::string_view frame, Output* out) {
  WriteFrameLog(log_, kFrameEndLogTag, frame);
  if (spare_.empty()) {
    out->frames.emplace_back(frame);
    return;
  }
  out->frames.push_back(std::move(spare_.back()));
  spare_.pop_back();
  out->frames.back().assign(frame);
}

size_t FrameAssembler::TakeOther(std::string_view bytes, Output* out) {
  const size_t stx = bytes.find(kStx);
  out->other_bytes.append(bytes.substr(0, stx));
  if (stx == std::string_view::npos) return bytes.size();
  return stx + StartAt(bytes.substr(stx), out);
}

size_t FrameAssembler::TakeHeadByte(char byte, Output* out) {
  if (byte == kStx) {  // a new head: the undecided one was not gateway traffic
    out->other_bytes.append(record_);
    StartHead();
    return 1;
  }
  record_.push_back(byte);
  switch (TestHead(record_)) {
    case HeadVerdict::kUndecided:
      break;
    case HeadVerdict::kAccepted:
      state_ = State::kReceiving;
      binary_body_ =
          record_[kCipherFlagOffset] == kCipheredFlag || IsDigit(record_[kPackingFlagOffset]);
      break;
    case HeadVerdict::kRejected:
      out->other_bytes.append(record_);
      record_.clear();
      state_ = State::kIdle;
      break;
  }
  return 1;
}

size_t FrameAssembler::Wanted() const {
  return length_known_ ? length_value_ + 1 - record_.size() : kHeadSize - record_.size();
}

size_t FrameAssembler::RestartSpan(size_t available) const {
  if (!binary_body_) return available;
  return record_.size() < kBodyOffset ? std::min(available, kBodyOffset - record_.size()) : 0;
}

size_t FrameAssembler::TakeFrameBytes(std::string_view bytes, Output* out) {
  const size_t take = std::min(Wanted(), bytes.size());
  const size_t stx = bytes.substr(0, RestartSpan(take)).find(kStx);
  if (stx != std::string_view::npos) {
    record_.append(bytes.substr(0, stx));
    Drop("incomplete frame", State::kIdle);
    return stx + StartAt(bytes.substr(stx), out);
  }
  record_.append(bytes.substr(0, take));
  if (!length_known_ && record_.size() >= kHeadSize) ReadLength();
  if (state_ == State::kReceiving && length_known_ && record_.size() > length_value_) {
    Emit(record_, out);
    record_.clear();
    state_ = State::kIdle;
  }
  return take;
}

size_t FrameAssembler::TakeDiscarded(std::string_view bytes, Output* out) {
  const size_t stx = bytes.find(kStx);
  if (stx == std::string_view::npos) return bytes.size();
  return stx + StartAt(bytes.substr(stx), out);
}

void FrameAssembler::ReadLength() {
  const std::optional<int> value = ReadDecimal(record_, kLengthOffset, kLengthDigits);
  if (!value) {
    Drop("length field is not four digits", State::kDiscarding);
    return;
  }
  if (static_cast<size_t>(*value) + 1 > record_size_) {
    Drop("frame longer than the message record", State::kDiscarding);
    return;
  }
  length_value_ = static_cast<size_t>(*value);
  length_known_ = true;
}

void FrameAssembler::Drop(std::string_view reason, State next) {
  if (log_.enabled()) {
    std::string text(reason);
    text.append(": ");
    text.append(record_);
    WriteFrameLog(log_, kFrameDroppedLogTag, text);
  }
  record_.clear();
  state_ = next;
}

}  // namespace hub
