// The dispatch table: which handler serves which request code for which pharmacy program.
#include "helvar/barcode_database.h"
#include "helvar/cancel_transaction.h"
#include "helvar/card_cancel.h"
#include "helvar/customer_list.h"
#include "helvar/guidance.h"
#include "helvar/pos_items.h"
#include "helvar/pos_sale.h"
#include "helvar/work_context.h"
#include "protocol/helvar_request.h"

namespace helvar {
namespace {

using namespace protocol;

// Codes base, base + 1 and base + 2: one per terminal.
void SetForTerminals(CWorkContext& context, int program_index, int32_t base, Handler handler) {
  for (int32_t terminal = 0; terminal < kHelvarTerminals; ++terminal) {
    context.SetHandler(program_index, base + terminal, handler);
  }
}

}  // namespace

void FillDispatchTable(CWorkContext& context) {
  // Customer lists.
  SetForTerminals(context, kProgramPm2000, kHelvarCustomerList, Pm2000CustomerList);
  SetForTerminals(context, kProgramPm2000, kHelvarCustomerListSecond, Pm2000CustomerList);
  SetForTerminals(context, kProgramPm2000, kHelvarPrescriptions, Pm2000Prescriptions);
  SetForTerminals(context, kProgramUbcare, kHelvarPrescriptions, UbcareCustomers);
  // The terminal's barcode database file.
  SetForTerminals(context, kProgramPm2000, kHelvarBuildBarcodeDb, BuildBarcodeDatabaseFile);
  // The point-of-sale relay: sellers, goods, sales and cancellations made at the terminal.
  SetForTerminals(context, kProgramPm2000, kHelvarSellerList, SendSellerList);
  SetForTerminals(context, kProgramPm2000, kHelvarBarcodeLookup, LookUpItem);
  SetForTerminals(context, kProgramPm2000, kHelvarBarcodeRead, SellScannedItem);
  SetForTerminals(context, kProgramPm2000, kHelvarSale, RecordSale);
  SetForTerminals(context, kProgramPm2000, kHelvarCancel, RecordCancellation);
  SetForTerminals(context, kProgramPm2000, kHelvarCancelWithMessage, CancelAtCardNetwork);
  // The customer display at the counter.
  context.SetHandler(kProgramPm2000, kHelvarClearDisplay, ClearCustomerDisplay);
  context.SetHandler(kProgramPm2000, kHelvarDisplayCustomers, ShowDisplayCustomers);
  // Stored requests, one per tick of the shell's timer.
  context.SetHandler(kProgramPm2000, kHelvarRetryStored, RetryStoredRequest);
  // Medication guidance sheets.
  context.SetHandler(kProgramPm2000, kHelvarGuidanceSheet, Pm2000Guidance);
  context.SetHandler(kProgramPm2000, kHelvarGuidanceWithoutPatient, Pm2000Guidance);
  SetForTerminals(context, kProgramPm2000, kHelvarGuidancePrint, Pm2000Guidance);
  context.SetHandler(kProgramUbcare, kHelvarGuidanceLibrary, UbcareGuidance);
  SetForTerminals(context, kProgramUbcare, kHelvarGuidancePrint, UbcareGuidance);
  context.SetHandler(kProgramOnPharm, kHelvarGuidanceLibrary, OnPharmGuidance);
  context.SetHandler(kProgramOptiPharm, kHelvarGuidanceLibrary, OptiPharmGuidance);
}

}  // namespace helvar
