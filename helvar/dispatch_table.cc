// The dispatch table: which handler serves which request code for which pharmacy program.
#include "helvar/barcode_database.h"
#include "helvar/cancel_transaction.h"
#include "helvar/customer_list.h"
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
  // Cancellations made at the terminal, recorded in the pharmacy database.
  SetForTerminals(context, kProgramPm2000, kHelvarCancel, RecordCancellation);
  // Stored requests, one per tick of the shell's timer.
  context.SetHandler(kProgramPm2000, kHelvarRetryStored, RetryStoredRequest);
  // Still to come here: medication guidance (PM2000 8, 66, 310-312; UBcare 9, 310-312;
  // OnPharm and OptiPharm 9), the seller list (400-402), the
  // POS relay (705-707, 715-717, 800-802, 860-862) and the customer display (950, 951).
}

}  // namespace helvar
