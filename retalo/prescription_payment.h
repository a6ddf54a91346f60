// Payments that cover prescriptions only, recorded in the payment table (PM_PRES..CD_SUNAB):
// one row per prescription, the first with the payment's amounts and approval data; and the
// dispensing pharmacist's name written into prescriptions (PM_PRES..PS_MAIN). The exports,
// SavePresData and UpdatePresData, are declared in ordella_retalo.h.
#pragma once

#include <string_view>

#include "retalo/db/ado_connection.h"

namespace retalo {

// SavePresData and UpdatePresData over connections made with `options`.
int SavePrescriptionPayment(std::string_view payment_text, const CAdoConnection::Options& options);
int UpdatePharmacistName(std::string_view prescriptions_text,
                         const CAdoConnection::Options& options);

}  // namespace retalo
