#include "hub/payments/pharmacy_settings.h"

#include "companions/connmap/ordella_connmap.h"

namespace hub::payments {

PharmacySettings PharmacySettingsFrom(const char* record) {
  PharmacySettings settings;
  if (record == nullptr) return settings;
  settings.trade_name = connmap::ReadText(record, connmap::kTradeName);
  settings.area_code = connmap::ReadText(record, connmap::kAreaCode);
  settings.telephone = connmap::ReadText(record, connmap::kTelephone);
  settings.business_number = connmap::ReadText(record, connmap::kBusinessNumber);
  settings.business_address = connmap::ReadText(record, connmap::kBusinessAddress);
  settings.owner_name = connmap::ReadText(record, connmap::kOwnerName);
  settings.terminal_id = connmap::ReadText(record, connmap::InSlot(0, connmap::kTerminalId));
  settings.install_dir = connmap::ReadText(record, connmap::kInstallDir);
  settings.program_index = connmap::ReadInt(record, connmap::kProgramIndex);
  settings.payment_path = connmap::ReadInt(record, connmap::kPaymentPath);
  settings.second_copy = connmap::ReadInt(record, connmap::kSecondReceiptCopy) == 1;
  settings.rewrite_bills = connmap::ReadInt(record, connmap::kConvertPrintText) == 1;
  return settings;
}

}  // namespace hub::payments
