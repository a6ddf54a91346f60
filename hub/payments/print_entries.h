// Printing on terminal 0's printer: the print message (message 151) and the three ways a text
// reaches it from the POS side. Each entry builds the message body, frames it toward the
// terminal (routing prefix, check byte), puts the frame at the start of the relay slot's send
// buffer and sets the send state to 1; terminal 0's loop sends it.
//
// The body builders are pure (bytes in, bytes out). The entries that take the relay slot expect
// it idle (send state 0) and refuse, touching nothing, when it is not.
#pragma once

#include <string>
#include <string_view>

#include "hub/core/relay_slot.h"
#include "hub/payments/pharmacy_settings.h"

namespace hub::payments {

// The bytes examined of a framed print request (second acknowledgement listener).
inline constexpr size_t kFramedPrintExamined = 10240;
// The field table of a framed print request.
inline constexpr size_t kFramedPrintFields = 512;

// "151" FS FS FS "PRINT" and the text as it stands (a "%" prints as itself).
std::string PrintMessageBody(std::string_view text);

// Message 151 from a POS client, `text` its field 1: rewritten when the settings ask for it, then
// the print message with LF. The first ESC "i" SP SP of the body becomes four spaces (the bill's
// first cut would cut the paper before the bill is whole); a later one stays.
std::string PosPrintBody(std::string_view text, const PharmacySettings& settings);

// An unframed text sent to the first acknowledgement listener: CR LF and then every remaining CR
// become LF; a run of four LFs ends the text after its first LF; rewritten when the settings ask
// for it; no LF added.
std::string FirstAckPrintBody(std::string_view received, const PharmacySettings& settings);

// A framed text sent to the second acknowledgement listener: the received bytes up to the first
// ETX, at most kFramedPrintExamined of them, split at FS; the text is field 2, with GS turned into
// SO and RS into SI; rewritten when the settings ask for it; no LF added.
//   - No ETX within kFramedPrintExamined bytes: the text ends there (logged).
//   - More than kFramedPrintFields fields: only field 2 is printed anyway; the count is logged.
std::string SecondAckPrintBody(std::string_view received, const PharmacySettings& settings);

// Frames `body` toward the terminal and queues it: send buffer, byte count, then send state 1.
// Returns 1; 0 when the print is refused (logged; the slot is left as it was): the body is too
// long for a frame's four-digit length field (more than 9,988 bytes), or a request is pending in
// the slot (send state not 0), whose frame is never overwritten.
int QueuePrintBody(RelaySlot& slot, std::string_view body);

// The three print entries. The two acknowledgement listeners' entries first make `client` the
// relay client and clear the payment fields (the first also sets the pending request code to
// 151). Each returns QueuePrintBody's result. A busy slot is refused before anything is
// touched (the caller closes its own connection); a text too long for a frame is refused after
// the connection became the relay client (the caller closes the relay client).
int PrintPosRequestText(RelaySlot& slot, std::string_view field1, const PharmacySettings& settings);
int PrintFirstAckText(RelaySlot& slot, std::string_view received, int client,
                      const PharmacySettings& settings);
int PrintSecondAckFrame(RelaySlot& slot, std::string_view received, int client,
                        const PharmacySettings& settings);

// The cash-receipt printout waits in the send buffer between the cash receipt handler and the
// print: its bytes and a zero byte at the start of the buffer, byte count 0. Returns false (and
// places nothing) when it does not fit.
bool PlaceCashReceipt(RelaySlot& slot, std::string_view receipt);
// The text placed there: up to the zero byte.
std::string_view PlacedCashReceipt(const RelaySlot& slot);

}  // namespace hub::payments
