// Cancelling a card approval or a cash receipt in the pharmacy's payment rows
// (PM_PRES..CD_SUNAB): the rows of the approval take the cancel number and the cancelled kind,
// and their amounts move from the card or cash columns to the paper columns. Sales, stock and
// the ledger are not touched. The export itself, MakeCancelTrans, is declared in
// ordella_retalo.h.
#pragma once

namespace retalo {

// The payment kind of a cancel: card, or (any other value) cash receipt.
inline constexpr int kCancelCard = 1;
inline constexpr int kCancelCashReceipt = 2;

}  // namespace retalo
