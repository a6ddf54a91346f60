// The dispatch table: which handler serves which request code for which pharmacy program.
#include "helvar/barcode_database.h"
#include "helvar/cancel_transaction.h"
#include "helvar/customer_list.h"
#include "helvar/work_context.h"

namespace helvar {
namespace {

// Codes base, base + 1 and base + 2: one per terminal.
void SetForTerminals(CWorkContext& context, int program_index, int32_t base, Handler handler) {
  for (int32_t terminal = 0; terminal < 3; ++terminal) {
    context.SetHandler(program_index, base + terminal, handler);
  }
}

}  // namespace

void FillDispatchTable(CWorkContext& context) {
  // Customer lists.
  SetForTerminals(context, kProgramPm2000, 200, Pm2000CustomerList);
  SetForTerminals(context, kProgramPm2000, 250, Pm2000CustomerList);
  SetForTerminals(context, kProgramPm2000, 300, Pm2000Prescriptions);
  SetForTerminals(context, kProgramUbcare, 300, UbcareCustomers);
  // The terminal's barcode database file.
  SetForTerminals(context, kProgramPm2000, 700, BuildBarcodeDatabaseFile);
  // Cancellations made at the terminal, recorded in the pharmacy database.
  SetForTerminals(context, kProgramPm2000, 850, RecordCancellation);
  // Stored requests, one per tick of the shell's timer.
  context.SetHandler(kProgramPm2000, kRetryCode, RetryStoredRequest);
  // Still to come here: medication guidance (PM2000 8, 66, 310-312; UBcare 9, 310-312;
  // OnPharm and OptiPharm 9), the seller list (400-402), the
  // POS relay (705-707, 715-717, 800-802, 860-862) and the customer display (950, 951).
}

}  // namespace helvar
