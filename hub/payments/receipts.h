// The two receipts the hub prints after an approval: the cash-receipt printout and the card
// receipt, the latter in a customer copy and a merchant copy, each preceded by the customer's
// signature. The text builders are pure; the slot-filling builders take the relay slot that the
// cash or card handler holds.
#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <string_view>

#include "hub/core/relay_slot.h"
#include "hub/payments/approval_record.h"
#include "hub/payments/pharmacy_settings.h"

namespace hub::payments {

// The national cash-receipt service's web address, printed on every cash receipt.
inline constexpr std::string_view kCashReceiptServiceAddress = "https://www.hometax.go.kr";

// The cash-receipt printout of an approved request (161, 181; cancelled 171, 183): title by usage
// code or cancellation, masked identification number, `now` as the transaction time, the amount
// lines, the approval number, the service lines and the member copy label; every line ends in LF.
std::string CashReceiptText(std::string_view approval_number, int request_code,
                            const PaymentFields& payment, const std::tm& now);

// Builds the cash-receipt printout from the slot's payment fields at the PC's local time and
// places it at the start of the send buffer, byte count 0 (PlaceCashReceipt), where the print
// request takes it from. Returns 1; 0 when it could not be placed.
int BuildCashReceipt(RelaySlot& slot, std::string_view approval_number, int request_code);

// The card receipt's two layouts: the sign-pad objects' (payment path 2) and the sign-pad
// module's (every other path).
enum class CardReceiptLayout { kSignPad, kModule };
CardReceiptLayout LayoutForPaymentPath(int payment_path);

// The card receipt of an approved card request (51, 61; cancelled 71, 63) from the approval
// record, the payment fields and the pharmacy's settings; every line ends in LF.
// The original transaction date of a cancellation prints by its length, whichever layout
// delivered it: 8 characters as YYYY/MM/DD, 6 characters as 20YY/MM/DD, any other as received.
std::string CardReceiptText(const ApprovalRecord& record, int request_code,
                            const PaymentFields& payment, const PharmacySettings& settings,
                            CardReceiptLayout layout);

// The print frames of the two copies of a receipt text: the print message with the copy's label
// (and, in the sign-pad layout, the signature line), framed toward the terminal with the receipt
// copies' length rule (body + 23). nullopt when a copy is too long for a frame.
struct CardReceiptCopies {
  std::string customer;
  std::string merchant;
};
std::optional<CardReceiptCopies> CardReceiptFrames(std::string_view receipt,
                                                   CardReceiptLayout layout);

// Fills the slot's two print copy buffers: the signature image frame when there is one, then the
// copy's print frame, each followed by an uncounted zero byte. A signature frame that would not
// leave room for the print frame in a buffer is left out of both (the receipt prints without
// the signature; logged). Returns 1; 0 when the print frames do not fit (nothing filled).
int FillPrintCopyBuffers(RelaySlot& slot, const CardReceiptCopies& copies,
                         const std::optional<std::string>& signature_frame);

// The card receipt builder the card payment calls after an approval: the receipt of the slot's
// pending request and payment fields in the settings' layout, with the signature frame of the
// compressed signature file when one exists. Returns 1 with both buffers filled, 0 otherwise.
int BuildCardReceipt(RelaySlot& slot, const ApprovalRecord& record,
                     const PharmacySettings& settings);

}  // namespace hub::payments
