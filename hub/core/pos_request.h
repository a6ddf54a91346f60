// POS request handling: what a complete request from a POS client becomes. A gateway frame is
// decoded, its code read, and it is either turned into a frame for terminal 0 in the relay slot
// (the connection then waits there as the relay client for the terminal's answer) or answered
// at once with a refusal frame. A signature image frame goes to the terminal unchanged.
//
//   151             print: field 1, the bill header rewritten when the settings ask for it
//   157             "157" FS FS FS field 3 FS field 4 FS field 5: the display request's text
//                   and the POS client's fields 4 and 5 passed on as they came, the way 843
//                   carries them (an empty field stays empty)
//   843             "843" FS FS FS field 3 FS field 4 FS field 5
//   161 171 181 183 cash receipt handler
//   51 61 63 71     card request handler
//   any other       the code as three digits, FS FS field 1 FS field 2
// The print, the framing of the relayed bodies and the two handlers are the payments side's
// services (pos_services.h).
//
// Refusal frame (to the POS client, then the connection is closed): a plain gateway frame (no
// routing prefix, check byte) whose code is the request code + 1 (the answer code the client
// waits for; 0 when the request had no readable code), field 1 terminal slot 0's identifier,
// field 2 the response code "9999", field 3 the reason:
//   "REQUEST PENDING"         another request occupies the relay slot (it is never overwritten)
//   "REQUEST NOT READABLE"    the frame could not be unpacked or deciphered, or has no code
//   "REQUEST TOO LONG"        the frame for the terminal would not fit its length field
//   "CASH RECEIPT NOT READY"  the module has no cash receipt handler
//   "CARD PAYMENT NOT READY"  the module has no card request handler
//   "REQUEST NOT SERVED"      the module has no print or framing service for the request
// The fields stand where the cash and card answers carry terminal, response code and message.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "protocol/frame.h"
#include "hub/core/pharmacy_settings.h"
#include "hub/core/relay_slot.h"

namespace hub {

struct PosServices;

// The request fields kept when a POS request is split (21 slots, missing fields read empty).
inline constexpr size_t kPosRequestFields = 21;

inline constexpr std::string_view kRefusalResponseCode = "9999";
inline constexpr std::string_view kRefusedPending = "REQUEST PENDING";
inline constexpr std::string_view kRefusedUnreadable = "REQUEST NOT READABLE";
inline constexpr std::string_view kRefusedTooLong = "REQUEST TOO LONG";
inline constexpr std::string_view kRefusedCashNotReady = "CASH RECEIPT NOT READY";
inline constexpr std::string_view kRefusedCardNotReady = "CARD PAYMENT NOT READY";
inline constexpr std::string_view kRefusedNotServed = "REQUEST NOT SERVED";

// A decoded POS request: the plain frame and its fields (views into it).
struct PosRequest {
  int code = 0;
  std::string frame;
  protocol::Fields<kPosRequestFields> fields;
};

// What became of a request.
struct PosRequestResult {
  // True: the request waits in the relay slot and the connection became its relay client; the
  // caller gives the connection up to the slot. False: the caller sends `answer` (if any) and
  // closes the connection; the slot is as it was before.
  bool queued = false;
  std::string answer;
};

// The refusal frame for a request with code `request_code` (see above).
std::string RefusalFrame(int request_code, std::string_view reason,
                         const PharmacySettings& settings);

// The body for the terminal of a request that is relayed as it is (157, 843 and codes without a
// handler of their own); nullopt for the codes that have one (151, cash, card).
std::optional<std::string> RelayedBody(const PosRequest& request);

// Handles one complete gateway frame from a POS client connected on `client`, with the payments
// side's `services`.
PosRequestResult HandlePosRequest(RelaySlot& slot, std::string_view frame, int client,
                                  const PharmacySettings& settings, const PosServices& services);

// Handles one complete signature image frame: copied unchanged into the send buffer.
PosRequestResult HandleSignatureFrame(RelaySlot& slot, std::string_view frame, int client,
                                      const PharmacySettings& settings);

// Refuses a request that has taken the slot (logged): the slot lets go of its connection and
// pending code, and the result carries the refusal frame for `reason`.
PosRequestResult RefuseTakenRequest(RelaySlot& slot, const PosRequest& request,
                                    std::string_view reason, const PharmacySettings& settings);

}  // namespace hub
