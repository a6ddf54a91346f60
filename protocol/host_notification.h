// Host notifications: what the hub tells the host program. Each is window message 2124 posted to
// the host window, with the event code in wParam.
#pragma once

#include <cstdint>

namespace protocol {

inline constexpr uint32_t kHostNotifyMessage = 2124;

enum HostEvent : uint32_t {
  // lParam: the terminal index (a frame is being dispatched) or 0 (the relay client was closed)
  kEventFrameOrRelayClosed = 0,
  kEventServerConnected = 3,  // connected to the gateway server for a pass-through
  kEventServerGreeted = 4,
  kEventSignOn = 842,
  kEventRelayRefused = 900,
  kEventPosRequest = 950,
  kEventRelayAcknowledged = 951,
  kEventBarcodeRebuild = 981,
  kEventBarcodeTransferEnd = 982,
  kEventTcpTerminal = 1010,
  kEventPosListenerFailed = 1020,
  kEventAckListener1Failed = 1021,
  kEventAckListener2Failed = 1022,
  kEventTcpListenerFailed = 1023,
  kEventSerialPortFailed = 1030,
  // lParam: the id of a payment journal entry the staff must look at (the network may hold money
  // the POS client never heard of; ordella_journal lists and settles it). Posted at module start
  // for every entry the last run left open (approved or printed and never answered, or handed to
  // the network with no outcome), and when a repeated POS request meets an entry left with no
  // outcome (the repeat goes on as a new transaction, so both may be approved).
  kEventOpenPayment = 1040,
  // lParam 0: the payment journal could not be opened or written (diagnostic record
  // "PaymentJournal"); the payment went on without its record.
  kEventJournalFailed = 1041,
  kEventPortLost = 99999,
};

}  // namespace protocol
