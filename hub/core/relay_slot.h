// The relay slot: the single record through which a POS client's request reaches terminal 0 and
// its answer returns. One request occupies it at a time. The threads that share it (the
// listeners that queue a request, terminal 0's loop that sends it and watches its
// acknowledgement, whoever answers the POS client) hand it over through `send_state`, stored last
// by every writer (release) and read first by every reader (acquire). Terminal 0's loop sleeps
// until it has work, so whoever queues a request ends with MarkQueued, which wakes it.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "platform/process.h"
#include "platform/text.h"
#include "platform/wake_event.h"

namespace hub {

// A text of the relay slot with a fixed room: at most Room bytes, never more. A longer text is
// cut to the room (never inside a two-byte character) and the cut is reported to the writer.
template <size_t Room>
class SlotText {
 public:
  static constexpr size_t kRoom = Room;

  // Stores `text`, cut to the room; false when it had to be cut.
  bool Set(std::string_view text) {
    const std::string_view kept = platform::CutCp949(text, Room);
    if (!kept.empty()) std::memcpy(bytes_.data(), kept.data(), kept.size());
    size_ = kept.size();
    return kept.size() == text.size();
  }
  void Clear() { size_ = 0; }
  std::string_view view() const { return std::string_view(bytes_.data(), size_); }
  bool empty() const { return size_ == 0; }

 private:
  std::array<char, Room> bytes_{};
  size_t size_ = 0;
};

// The fields of the pending cash or card request that its handler stores and the receipts print.
// Rooms are those of the requests' fields.
struct PaymentFields {
  SlotText<19> amount1;  // prescription drugs on split receipts, the whole sale on plain ones
  SlotText<19> amount2;  // over-the-counter goods
  SlotText<19> amount3;  // value-added tax
  SlotText<2> cash_usage_code;     // cash: "00" income deduction, "01" proof of expense
  SlotText<2> installment_months;  // card: two characters, "00" a lump sum
  SlotText<9> original_date;       // cancellations: the date of the cancelled transaction
  SlotText<9> original_approval;   // cancellations: its approval number
  SlotText<199> identification;    // cash: telephone, card or business number
  SlotText<199> card_data;         // card: track data or card number read by the POS side
  SlotText<20> terminal_id;        // terminal slot 0's identifier
  SlotText<10> program_code;       // the pharmacy program's code

  void Clear() { *this = PaymentFields{}; }
};

// A print copy buffer: the signature image frame and the print frame of one card-receipt copy.
// The bytes are followed by a zero byte that the count does not include, so they never fill the
// last byte.
struct PrintCopyBuffer {
  static constexpr size_t kSize = 16384;

  std::array<unsigned char, kSize> bytes{};
  int32_t count = 0;

  size_t room() const { return kSize - 1 - static_cast<size_t>(count); }
  // Appends `data` and the zero byte behind it; false, and nothing written, when it does not fit.
  bool Append(std::string_view data) {
    if (data.size() > room()) return false;
    std::memcpy(bytes.data() + count, data.data(), data.size());
    count += static_cast<int32_t>(data.size());
    bytes[static_cast<size_t>(count)] = 0;
    return true;
  }
  std::string_view view() const {
    return std::string_view(reinterpret_cast<const char*>(bytes.data()),
                            static_cast<size_t>(count));
  }
};

// How long sending an answer to a POS client may take before it counts as not answered.
inline constexpr int kAnswerSendLimitMs = 5000;

struct RelaySlot {
  static constexpr size_t kSendBufferSize = 80000;

  // Send states.
  static constexpr int32_t kIdle = 0;
  static constexpr int32_t kWaiting = 1;  // a frame waits to be sent to the terminal
  static constexpr int32_t kSent = 2;     // sent, waiting for the terminal (each send adds 1)

  static constexpr int kNoClient = -1;

  // The frame (or frames) waiting for terminal 0 and how many bytes of it there are.
  std::array<unsigned char, kSendBufferSize> send_buffer{};
  std::atomic<int32_t> byte_count{0};
  std::atomic<int32_t> send_state{kIdle};
  // The socket of the POS or acknowledgement-listener client waiting for the answer.
  std::atomic<int> relay_client{kNoClient};
  // Tick count (platform::GetTickCount) of the last send to the terminal.
  std::atomic<uint32_t> send_time{0};
  // Set once the terminal has acknowledged the sent frame.
  std::atomic<bool> acknowledged{false};
  // Message code of the current POS request and of the terminal's last answer.
  std::atomic<int32_t> pending_request_code{0};
  std::atomic<int32_t> last_terminal_code{0};
  // The payments side's journal entry of the pending cash or card request (0: none). Set by the
  // request's handler before it queues, read by whoever completes the request.
  std::atomic<int64_t> journal_id{0};

  // Terminal 0's loop wake, registered by the loop while it runs (null otherwise).
  std::atomic<const platform::WakeEvent*> terminal_wake{nullptr};

  // Hands the frame in the send buffer (byte_count set) to terminal 0: stores the send state
  // "waiting" last and wakes terminal 0's loop. Every queuer of a request uses it.
  void MarkQueued() {
    send_state.store(kWaiting, std::memory_order_release);
    if (const platform::WakeEvent* wake = terminal_wake.load(std::memory_order_acquire)) {
      wake->Signal();
    }
  }

  // The pending request's payment fields and the two card-receipt copies. Written by the thread
  // that queues a request or builds a receipt before it stores the send state; cleared (with
  // both copy counts) when a POS client request begins.
  PaymentFields payment;
  PrintCopyBuffer customer_copy;
  PrintCopyBuffer merchant_copy;
  // Set when the customer copy of an approved card receipt is queued and the merchant copy is to
  // follow once the terminal has printed it (152); cleared when the merchant copy is queued.
  std::atomic<bool> merchant_copy_pending{false};
  // The answer area: the answer frame of the pending cash or card request, kept until it is sent
  // to the relay client. Written by whoever decides the answer before it stores the send state
  // (or before it answers at once), read by whoever completes the request.
  std::string answer;

  void ClearPayment() {
    payment.Clear();
    customer_copy.count = 0;
    merchant_copy.count = 0;
    merchant_copy_pending.store(false, std::memory_order_relaxed);
    answer.clear();
  }

  // The sign-pad module library (KiccPad.DLL), loaded when the slot is created; null when it is
  // missing, and the card payments that need it then fail.
  std::unique_ptr<platform::Library> sign_pad;
};

}  // namespace hub
