// The one place that sees both halves of the module: the gateway core (hub/core), which knows
// the payments side only through the hooks it declares (hub/core/pos_services.h, the start
// report of hub/core/manager_main_thread.h), and the payments side (hub/payments), which fills
// them. This file is compiled into libOrdella_Hub.so itself (and into the tests that exercise the
// listeners with the real prints); its initialiser runs while the library loads, so the services
// are in place before the host can call CreateClientModule and the main thread starts the
// listeners.
//
// The payment journal installed is the prefix's (payment_journal_store.h); installing it opens
// nothing, so loading never fails because of it.
#include "hub/core/manager_main_thread.h"
#include "hub/core/pos_services.h"
#include "hub/core/terminal_loop.h"
#include "hub/payments/card_payment.h"
#include "hub/payments/payment_journal.h"
#include "hub/payments/payment_journal_store.h"
#include "hub/payments/pos_services.h"
#include "hub/payments/signpad_approval.h"

namespace hub {
namespace {

// Payment path 2: the sign-pad objects' approval, on the terminal loop's thread, with the
// module's property map (the settings the card payment read are not needed there).
payments::ModuleApprovalResult SignPadObjectsApproval(std::string_view frame, int request_code,
                                                      PaymentFields payment,
                                                      const PharmacySettings&) {
  return payments::SignPadApprovalOnThisLoop(frame, request_code, payment);
}

[[maybe_unused]] const bool payments_installed = [] {
  InstallPosServices(payments::ListenerPosServices());
  InstallTerminalPayment(&payments::HandlePaymentFrame);
  payments::InstallSignPadObjectsApproval(&SignPadObjectsApproval);
  payments::InstallPaymentJournal(&payments::ModulePaymentJournal());
  InstallOpenPaymentsReport(payments::ReportOpenJournalEntries);
  return true;
}();

}  // namespace
}  // namespace hub
