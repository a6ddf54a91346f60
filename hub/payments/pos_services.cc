#include "hub/payments/pos_services.h"

#include "hub/payments/card_payment.h"
#include "hub/payments/cash_receipt.h"
#include "hub/payments/pharmacy_settings.h"
#include "hub/payments/print_entries.h"

namespace hub::payments {

PosServices ListenerPosServices() {
  PosServices services;
  services.settings = &PharmacySettingsFrom;
  services.print_pos_request = &PrintPosRequestText;
  services.print_first_ack = &PrintFirstAckText;
  services.print_second_ack = &PrintSecondAckFrame;
  services.queue_body = &QueuePrintBody;
  services.cash_receipt = &CashReceiptRequest;
  services.card_request = &CardRequest;
  return services;
}

}  // namespace hub::payments
