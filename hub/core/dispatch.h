// The terminal message dispatcher: every complete gateway frame from a terminal, serial or TCP,
// goes through it on its terminal loop's thread. It decodes the frame in place, passes server
// business ("CRE", "SHB", "MIC") through to the gateway server, and for every other message
// code acts itself (barcode database transfer, sample guidance sheet, PM2000 and
// PharmChartPlus hand-offs), asks Helvar, relays a sale to the gateway server, runs the
// sign-on, or returns the frame to its loop as a payment answer.
//
// Sending to the terminal means: for a serial terminal, writing to its port; for the TCP
// terminal, putting the bytes into the shared block with status 200, from where the TCP
// terminal's loop sends them.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "hub/core/server_relay.h"
#include "hub/core/terminal_loop.h"

namespace hub {

// Time limits of the pass-through of server business: the server's greeting, its first answer,
// its second answer, and its reply to the five ACK bytes that confirm the second answer.
struct PassThroughLimits {
  std::chrono::milliseconds greeting{5000};
  std::chrono::milliseconds first_answer{20000};
  std::chrono::milliseconds second_answer{30000};
  std::chrono::milliseconds receipt{5000};
};

// The terminal's sign-on (message 842), run on its loop.
using SignOnFn = void (*)(TerminalContext& context, MessageRecord& record);

// Everything the dispatcher reaches outside itself; ModuleDispatchServices gives the loaded
// module's. Tests replace single members.
struct DispatchServices {
  // Helvar request `code` with `payload` (empty: none); 1 when Helvar took it.
  std::function<int(int32_t code, std::string_view payload)> send_helvar;
  std::function<void(uint32_t event, int64_t lparam)> notify;
  // Sends bytes to the terminal of `context` by its link kind; the count sent.
  std::function<int(TerminalContext& context, std::string_view bytes)> send_to_terminal;
  platform::Clock* clock = nullptr;  // the system clock when null
  // Starts a program through the shell ("open"); true when started.
  std::function<bool(std::string_view command)> start_program;
  SignOnFn sign_on = nullptr;  // none: message 842 is logged and dropped
  RelayServices relay;         // its send_helvar is replaced by the one above
  GatewayEndpoint pass_through;
  PassThroughLimits limits;
  int32_t program_index = 0;  // property offset 2396; 1 is PM2000
};
DispatchServices ModuleDispatchServices();

// The loop's dispatch function (DispatchFn) with the module's services.
int Dispatch(TerminalContext& context, MessageRecord& record);
// Returns kDispatchDone, kDispatchPayment or kDispatchCloseRelay; sets record.code to the
// decoded message code (0 when the frame carries none). A frame that cannot be decoded is
// logged and dropped.
int Dispatch(TerminalContext& context, MessageRecord& record, const DispatchServices& services);

// Sends bytes to the terminal by its link kind (the default send_to_terminal).
int SendToTerminalByLink(TerminalContext& context, std::string_view bytes);

// The barcode database file of a terminal: "c:\tavenor\BarcodeDB<700 + terminal>.db".
std::string BarcodeDatabasePath(int terminal);
// The size of one barcode chunk.
inline constexpr size_t kBarcodeChunkBytes = 21000;
// Pause before a chunk goes out, so the terminal has finished with the previous one.
inline constexpr uint32_t kBarcodeChunkPauseMs = 500;

// Sends chunk `chunk` (0-based; its frame says chunk + 1) of the terminal's barcode database
// file: bytes chunk x 21,000 on, at most 21,000 of them. False when nothing was sent: the file
// is missing (logged "BDBwrite"), the chunk lies before the first or past the end of the file,
// or its number does not fit the chunk frame's two digits (logged).
bool SendBarcodeChunk(int chunk, TerminalContext& context, const DispatchServices& services);

// The sample guidance sheet: a raw print frame ("JIDPRINT" and its LF-ended lines, CP949).
std::string SampleGuidanceSheet();

// The customer-display request of message 880 carries at most this many customer records
// (a digit and their hexadecimal text fill Helvar's 63-character payload).
inline constexpr int kMaxDisplayCustomers = 3;

}  // namespace hub
