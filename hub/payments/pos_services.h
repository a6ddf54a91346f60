// The payments side's services for the local listeners (hub/core/pos_services.h): the print
// entries (print_entries.h), the settings reader (pharmacy_settings.h), the cash receipt
// handler (cash_receipt.h) and the card request handler (card_payment.h). A handler has the
// hook's signature,
//   PosRequestResult (RelaySlot& slot, const PosRequest& request, const PharmacySettings&),
// and gives the slot back with RefuseTakenRequest (hub/core/pos_request.h) when it refuses.
#pragma once

#include "hub/core/pos_services.h"

namespace hub::payments {

PosServices ListenerPosServices();

}  // namespace hub::payments
