// The terminal loop: the worker thread of one serial card terminal. It sleeps until it has
// something to do, then takes what the watcher queued, assembles gateway frames, sends terminal
// 0's relayed POS request and watches its acknowledgement, greets a terminal that has gone quiet,
// reports VAN state changes, forwards Helvar's replies, hands every byte that is not gateway
// traffic to the VAN module, and dispatches the frames that complete. It runs while the module's
// running flag is set and keeps waiting after its port is lost.
//
// One cycle, in this order:
//   1. wait until woken or the next deadline (below), then take the bytes queued and feed them
//      to the assembler;
//   2. relay slot (terminal 0 only, only while the last VAN state is 0): a waiting request is
//      written (state 1 -> 2); a sent one is refused (host notifications 900 and 0, relay client
//      closed) when the terminal answers NAK or has not acknowledged it within 4,000 ms, and
//      marked acknowledged (notification 951) when it answers ACK. A waiting request that the
//      VAN module holds back for more than kVanHoldLimitMs is refused the same way;
//   3. greeting 841, once per loop, after 2,500 ms without bytes from the terminal;
//   4. a changed VAN state is posted as a host notification (wParam the state, lParam the index);
//   5. while the VAN state is 0, a Helvar reply for this terminal is written to it;
//   6. bytes that are not gateway traffic go to the VAN module (SendProtocal), in order;
//   7. each completed frame: a "BUSY" answer makes the loop write its last frame again (up to four
//      times, 300 ms apart; the fifth only clears it); any other frame is dispatched, then the
//      BUSY count is reset and the VAN module's partial message cleared (SendClearBuffer).
//
// The wait ends on the port's wake event (TerminalPort::WakeLoop), which is signalled by the
// port's watcher when bytes are queued, by RelaySlot::MarkQueued for terminal 0, by the loop's
// shared-block watcher when a writer (Helvar, in its own process) stores a status routed to this
// terminal, and by whoever clears the running flag. Without a wake it ends at the next deadline:
// the greeting, the end of the relay ACK window, the next look at the VAN state, or at the
// latest after kIdleWakeMs.
//
// Missing pieces do not stop the loop: without the VAN module (or one of its entry points) those
// calls are skipped; without the sign-pad library or the shared block the loop runs without them.
//
// The same loop serves the TCP terminal (tcp_terminal.h) over its connection, with the
// differences its link asks for (TerminalLoopStyle): no VAN module, the link check (ENQ ENQ ENQ
// echoed, host notification 1010), ACK and NAK as runs of three bytes, the greeting in the first
// quiet cycle of a connection, and, while a remote relay peer takes the relay slot's requests and
// Helvar's replies, neither those nor the greeting. The loop ends when the terminal closes the
// connection.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "hub/core/frame_assembler.h"
#include "hub/core/frame_log.h"
#include "hub/core/helvar_bridge.h"
#include "hub/core/module_state.h"
#include "hub/core/relay_slot.h"
#include "hub/core/shared_block_watcher.h"
#include "hub/core/terminal_link.h"
#include "hub/core/terminal_port.h"
#include "platform/clock.h"
#include "platform/process.h"
#include "platform/wake_event.h"
#include "protocol/frame.h"

namespace hub {

// Link kinds of a terminal context.
inline constexpr int kLinkTcp = 0;
inline constexpr int kLinkSerial = 1;

// What a terminal loop shares with the dispatcher and the payment path that run on it.
struct TerminalContext {
  int index = 0;
  int link_kind = kLinkSerial;
  int barcode_chunk = 0;  // the barcode chunk being sent (0: none)
  TerminalLink* port = nullptr;  // the terminal's serial port or TCP connection
  std::unique_ptr<SharedBlock> shared_block;  // null when it could not be opened
  platform::Library* sign_pad = nullptr;      // the loop's own sign-pad library; may be null
  LogTarget log;
  // The loop's relay slot, host notifications and clock, for the payment path that runs on it
  // (null or empty: the loaded module's, the system clock).
  const std::atomic<RelaySlot*>* relay_slot = nullptr;
  std::function<void(uint32_t event, int64_t lparam)> notify;
  platform::Clock* clock = nullptr;

  // Keeps `bytes` as the last frame sent (for BUSY resends) and writes them to the terminal.
  // Returns the count written (0 on failure).
  int SendToTerminal(std::string_view bytes);
};

// The frame being handled (one per loop).
struct MessageRecord {
  enum State : int32_t { kIdle = 0, kReceiving = 2, kComplete = 3 };
  int32_t code = 0;  // set by the dispatcher once the frame is decoded
  State state = kIdle;
  std::string frame;  // STX through the check byte, at most kMessageRecordSize bytes
};

// What dispatching a complete frame asks of the loop.
enum DispatchResult : int {
  kDispatchDone = 0,        // handled or dropped
  kDispatchPayment = 1,     // hand the frame to the payment path
  kDispatchCloseRelay = 2,  // send the relay client nothing and close it
};
using DispatchFn = int (*)(TerminalContext& context, MessageRecord& record);
using PaymentFn = void (*)(TerminalContext& context, MessageRecord& record);

// The payment path of the loaded module, installed once while the library loads (hub/module/),
// before any loop starts; ForModule hands it to every loop. None installed: null.
void InstallTerminalPayment(PaymentFn payment);
PaymentFn InstalledTerminalPayment();

// The dispatcher used until terminal messages are handled: the frame goes to the diagnostic log
// ("TerminalFrame", card data masked) and is dropped.
int LogAndDropFrame(TerminalContext& context, MessageRecord& record);

// Everything a loop takes from the module; ForModule gives the loaded module's.
struct TerminalLoopServices {
  const std::atomic<bool>* running = nullptr;
  const VanEntryPoints* van = nullptr;  // entry points may be null
  const std::atomic<RelaySlot*>* relay_slot = nullptr;
  std::function<void(uint32_t event, int64_t lparam)> notify;
  platform::Clock* clock = nullptr;  // the system clock when null; tests drive time by hand
  DispatchFn dispatch = &LogAndDropFrame;
  PaymentFn payment = nullptr;  // none: a payment frame is logged (card data masked) and dropped
  int32_t payment_path = 0;     // property offset 2652, given to CreateVanModule
  LogTarget log;
  std::string sign_pad_library = "KiccPad.DLL";

  static TerminalLoopServices ForModule();
};

// Timings of the loop.
// The VAN module has no way to tell us its state changed. Its state leaves 0 only for an exchange
// that a VAN message handed to it starts (3 while it talks with the VAN server), so the loop
// looks at it this often while the state is not 0 and for a second after it last handed the
// module bytes: a Helvar reply or relay request held back while the module was busy leaves at
// most 50 ms after it turns idle (the terminal's own limits are seconds). An idle module adds no
// wake of its own: each idle wake still looks at it, so a change it made by itself is seen
// within kIdleWakeMs. (Twenty looks a second for each idle terminal cost more than the rest of
// an idle host together.)
inline constexpr uint32_t kVanPollMs = 50;
inline constexpr uint32_t kVanWatchAfterHandOffMs = 1000;
// The longest wait without a wake. Every piece of work signals the wake; this only bounds what a
// writer that does not wake (a program built before the block's writers woke waiters) costs.
inline constexpr uint32_t kIdleWakeMs = 1000;
inline constexpr uint32_t kGreetingSilenceMs = 2500;
inline constexpr uint32_t kRelayAckTimeoutMs = 4000;
inline constexpr uint32_t kRelayClosePauseMs = 500;
inline constexpr uint32_t kBusyPauseMs = 300;
inline constexpr int kMaxBusyResends = 4;
// How long a relay request may wait for a VAN module that stays busy. Longer than any VAN
// exchange takes; past it the request is refused (host notifications 900 and 0, relay client
// closed), so a module whose state never returns to 0 does not hold the POS client, and every
// POS request after it, for good.
inline constexpr uint32_t kVanHoldLimitMs = 60000;

// The greeting: body "841" and 21 empty fields, with the routing prefix and the length field 35.
std::string GreetingFrame();

// Answers the relay client with nothing and closes it: host notification 0 (lParam 0), the
// connection shut down and closed, byte count and send state 0 (state last), then a 500 ms
// pause so the POS client sees the close before the next request is taken.
void CloseRelayClient(RelaySlot& slot, const std::function<void(uint32_t, int64_t)>& notify,
                      platform::Clock& clock);

// Sends `answer` to the relay client, then closes it as CloseRelayClient does. True only when the
// whole answer reached the connection within kAnswerSendLimitMs: a client that left before its
// answer, or a slot without a client, has not been answered (logged).
bool AnswerRelayClient(RelaySlot& slot, std::string_view answer,
                       const std::function<void(uint32_t, int64_t)>& notify,
                       platform::Clock& clock, const LogTarget& log);

// How a loop's link differs from a serial terminal's.
struct TerminalLoopStyle {
  int link_kind = kLinkSerial;
  // The greeting goes after this long without bytes from the terminal.
  uint32_t greeting_silence_ms = kGreetingSilenceMs;
  // How many ACK (or NAK) bytes in a row, at the start of what the terminal sent, answer a
  // relayed request.
  size_t answer_run = 1;
  // ENQ ENQ ENQ alone is the link check: echoed, host notification 1010 (lParam 0).
  bool link_check = false;
  // False while a remote relay peer serves the relay slot and Helvar's replies (and greets):
  // the terminal gets neither, and no greeting.
  bool serves_relay = true;

  static TerminalLoopStyle Serial() { return {}; }
  static TerminalLoopStyle Tcp(bool serves_relay) {
    return TerminalLoopStyle{kLinkTcp, 0, protocol::kTcpAnswerRun, true, serves_relay};
  }
};

class TerminalLoop {
 public:
  // Set-up: the sign-pad library, the terminal context with its shared-block view, the VAN
  // handle (CreateVanModule with the link's record and the payment path; a link without a
  // record has no VAN handle).
  TerminalLoop(TerminalLink& link, TerminalLoopServices services,
               TerminalLoopStyle style = TerminalLoopStyle::Serial());
  // End: CloseVanPort, the shared-block view unmapped, the sign-pad library unloaded.
  ~TerminalLoop();
  TerminalLoop(const TerminalLoop&) = delete;
  TerminalLoop& operator=(const TerminalLoop&) = delete;

  // Cycles while the running flag is set and the link lasts.
  void Run();
  // One cycle (the steps above), beginning with its wait.
  void Cycle();
  // How long the next cycle's wait may last: the time to the nearest deadline.
  uint32_t NextWaitMs();

  TerminalContext& context() { return context_; }
  int32_t last_van_state() const { return last_van_state_; }
  // False once the link has ended (the TCP terminal closed its connection).
  bool link_up() const { return link_up_; }

 private:
  void ServeRelaySlot();
  void LimitVanHold();
  bool AnswerRun(char answer) const;
  bool LinkCheck();
  void Greet(bool read_bytes);
  void FollowVanState();
  // True while the VAN module may be busy or about to be: its last state was not 0, or the loop
  // handed it bytes within kVanWatchAfterHandOffMs of `now`.
  bool VanMayBeBusy(uint32_t now) const;
  void ForwardHelvarReply();
  void HandleFrame(const std::string& frame);
  void RegisterRelayWake();

  TerminalLink& port_;
  TerminalLoopServices services_;
  const TerminalLoopStyle style_;
  bool link_up_ = true;
  std::unique_ptr<platform::Library> sign_pad_;
  TerminalContext context_;
  int32_t van_handle_ = 0;
  FrameAssembler assembler_;
  FrameAssembler::Output fed_;
  MessageRecord record_;
  std::vector<unsigned char> cycle_bytes_;
  std::vector<unsigned char> reply_;
  bool greeted_ = false;
  uint32_t last_receive_ = 0;
  int busy_count_ = 0;
  int32_t last_van_state_ = 0;
  bool van_handed_bytes_ = false;  // since van_handed_at_
  uint32_t van_handed_at_ = 0;
  bool van_holds_request_ = false;  // a relay request waits for the VAN module since van_hold_since_
  uint32_t van_hold_since_ = 0;
  RelaySlot* registered_slot_ = nullptr;  // the slot that holds this loop's wake (terminal 0)
  std::unique_ptr<SharedBlockWatcher> block_watcher_;  // null without the shared block
};

// Starts the terminal loop for an open port as its worker thread, with the module's services.
// False when the thread cannot start. The loop ends when the module's running flag clears.
bool StartTerminalLoop(TerminalPort* port);

}  // namespace hub
