// The terminal's sign-on (message 842), run by the dispatcher on the terminal's loop:
//
//   1. host notification 842 (lParam the terminal);
//   2. the daily sync gate (AutoDataSync): when the day's sync is due, host notification 981,
//      the barcode chunk counter back to 0 and Helvar request 700 + terminal, so that Helvar
//      rebuilds the barcode database file the terminal then fetches in chunks;
//   3. fields 10, 11, 19 and 21 of the 842 kept in the terminal's slot of the property map;
//   4. the registration (below) exchanged with the gateway server on the registration port;
//   5. when the terminal's "25..." number (slot text of field 10) is below the server's (its
//      answer's field 10), message 840 to the terminal, which then updates itself.
//
// The registration, in the server form (no routing prefix, no check byte):
//
//   byte 0        STX
//   1-2           "XX"
//   3-8           length of the whole message, STX through ETX, six digits
//   9-11          "TRM"
//   12-14         "851"
//   15-24         business registration number, right-aligned in 10 characters ("%10s"; a
//                 longer number widens the field and moves everything after it)
//   25-92         68 spaces
//   then          15 fields, each introduced by FS (RegistrationField says which is which)
//   last          ETX
//
// The slot texts are written into the shared property record without a lock while other
// threads may read them; they become persistent when the host saves the module.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "hub/core/server_relay.h"

namespace hub {

struct DispatchServices;
struct TerminalContext;

inline constexpr int kRegistrationCode = 851;
inline constexpr int kSignOnAnswerCode = 840;
inline constexpr size_t kBusinessNumberWidth = 10;
inline constexpr size_t kRegistrationBlanks = 4 + 64;  // bytes 25-92

// The fields of the registration, in their order (field n follows the n-th FS).
enum RegistrationField : size_t {
  kRegAdapterAddress = 1,  // the first network adapter's hardware address, 12 hex digits
  kRegPharmacyCode = 5,    // property offset 2389 (fields 2-4 stay empty)
  kRegTerminalId,          // slot offset 4
  kRegTerminalField11,     // slot offset 92
  kRegTerminalField10,     // slot offset 112
  kRegHostVersion,         // the host program's file version
  kRegZero1,               // "0"
  kRegZero2,               // "0"
  kRegProgramCode,         // by the pharmacy program index
  kRegModuleKind,          // "03" or "61", by the payment path
  kRegPortText,            // "C%02d" by the serial port, "L00" for the TCP terminal
  kRegTerminalField21,     // slot offset 24
  kRegistrationFields = kRegTerminalField21,
};

// The fields of the terminal's 842 that are kept in its slot, and the answer's field that
// carries the server's terminal version.
inline constexpr size_t kSignOnField10 = 10;
inline constexpr size_t kSignOnField11 = 11;
inline constexpr size_t kSignOnField19 = 19;
inline constexpr size_t kSignOnField21 = 21;
inline constexpr size_t kSignOnFrameSlots = 24;  // fields beyond these are not looked at
inline constexpr size_t kAnswerVersionField = 10;
// Where the terminal's and the server's version numbers start: at the first "25".
inline constexpr std::string_view kVersionMark = "25";

// What the registration says about the terminal: the texts of its property-map slot.
struct TerminalSlotTexts {
  std::string terminal_id;  // slot offset 4
  std::string field21;      // slot offset 24
  std::string field11;      // slot offset 92
  std::string field10;      // slot offset 112
  int32_t serial_port = 0;  // slot offset 72; 0: the TCP terminal
};

// What the registration says about the pharmacy and this installation.
struct RegistrationSettings {
  std::string business_number;   // property offset 2369
  std::string pharmacy_code;     // property offset 2389
  int32_t program_index = 0;     // property offset 2396
  int32_t payment_path = 0;      // property offset 2652
  std::string adapter_address;   // AdapterAddressText
  std::string host_version;      // HostVersionText
};

// The program code of a pharmacy program index; empty for an index without one (10, 12, 15,
// and every index outside 0-16).
std::string_view ProgramCode(int32_t program_index);
// "03" for payment paths 0 and 1 (the sign-pad module library), "61" for 2 (the sign-pad
// objects); empty for any other value.
std::string_view ModuleKind(int32_t payment_path);
// "C%02d" with the serial port number ("C03", "C12"; a number above 99 widens it); "L00" for
// port 0, the TCP terminal.
std::string PortText(int32_t serial_port);
// 12 upper-case hexadecimal digits of a six-byte hardware address; empty without one.
std::string AdapterAddressText(const std::optional<std::array<uint8_t, 6>>& address);
// The host program's file version "major.minor.build.revision" as the registration carries it:
// all four numbers when build or revision is not 0, else "major.minor" when either of them is
// not 0, else empty. Empty when there is none or it is not four numbers of 16 bits (missing
// trailing numbers count as 0).
std::string HostVersionText(const std::optional<std::string>& file_version);
// The business registration number right-aligned in 10 characters ("%10s").
std::string BusinessNumberText(std::string_view number);

// The registration message; nullopt when it does not fit the six-digit length (it cannot, with
// texts read from the property map's rooms).
std::optional<std::string> BuildRegistration(const TerminalSlotTexts& terminal,
                                             const RegistrationSettings& settings);

// True when the terminal is behind the server: the text of the terminal's field 10 and the
// answer's field 10 both contain "25", and the number that starts there in the terminal's text
// is below the one in the answer's. An empty or garbled answer leaves the terminal as it is.
bool TerminalIsBehind(std::string_view terminal_field10, std::string_view answer);

// Message 840 to the terminal: body "840" and 21 empty fields, routing prefix, length field 35,
// check byte.
std::string SignOnAnswerFrame();

// What the sign-on reaches besides the dispatcher's seams (host notification, Helvar request,
// sending to the terminal); ModuleSignOnServices gives the loaded module's.
struct SignOnServices {
  // The property map: the settings above are read from it and the slot texts written into it.
  // Null: the sign-on is refused (logged).
  char* property_record = nullptr;
  GatewayEndpoint registration;
  std::chrono::milliseconds limit = kRegistrationLimit;
  // The daily sync gate; 1 when the day's sync for the terminal is due. Null: never due.
  std::function<int(int terminal)> auto_data_sync;
  std::function<std::optional<std::array<uint8_t, 6>>()> adapter_address;
  std::function<std::optional<std::string>()> host_file_version;  // "1.0.0.1"
};
SignOnServices ModuleSignOnServices();

// The host program whose file version the registration carries.
inline constexpr std::string_view kHostProgram = "Ordella_VanExcute.exe";
// Its file version, looked up by that name beside the running program; nullopt without one.
std::optional<std::string> HostProgramFileVersion();

// Runs the sign-on for the terminal of `context` with its 842 `frame` (decoded). Every refusal
// and failure is logged; a failed registration sends nothing and keeps the slot texts.
void SignOn(TerminalContext& context, std::string_view frame, const SignOnServices& services,
            const DispatchServices& dispatch);

}  // namespace hub
