// Stock counts taken at the terminal: the pharmacy program's stock of a product is set to the
// quantity counted on the shelf, with a revision row (PM_DRUG..IMS_STOCK_REVISION), a movement
// (IM_POSITION) and both stock totals corrected by the difference. The export itself,
// StockRevision, is declared in ordella_retalo.h.
#pragma once

#include <string_view>

#include "retalo/db/ado_connection.h"

namespace retalo {

// StockRevision over connections made with `options` (tests put a failing backend there).
int ReviseStock(std::string_view barcode, double counted, const CAdoConnection::Options& options);

}  // namespace retalo
