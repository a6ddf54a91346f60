#include "retalo/prescription_payment.h"

#include <string>
#include <vector>

#include "retalo/database_util.h"
#include "retalo/db/export_frame.h"
#include "retalo/db/log_writer.h"
#include "retalo/db/sql_fill.h"
#include "retalo/db/sql_texts.h"
#include "retalo/ordella_retalo.h"
#include "retalo/payment_record.h"

namespace retalo {

int SavePrescriptionPayment(std::string_view payment_text, const CAdoConnection::Options& options) {
  ExportCall call(
      LogHeader::Form2("SavePresData", Cp949("결제정보"), CPaymentData::MaskedForLog(payment_text)),
      options);
  CPaymentData payment;
  if (!payment.Parse(payment_text)) {
    return call.Fail(kDataError, 1, Cp949("결제정보 데이터구성오류"));
  }
  if (!call.Open(2, true)) return kDbConnectFailed;
  CAdoConnection& db = call.db();
  if (!payment.SetCustomerData(db)) return call.FailStep(3);
  if (!payment.SetDefaultCustomerData(db)) return call.FailStep(4);
  CTransRecord row;
  if (!row.SetTransRecord(payment, db)) return call.FailStep(5);
  if (!row.UpdateTransRecord(db)) return call.FailStep(5);
  if (!row.UpdateCashTrack2(db)) return call.FailStep(6);
  for (size_t k = 1; k < payment.m_pstCustomerData.size(); ++k) {
    row.SetPrescriptionRow(payment.m_pstCustomerData[k]);
    if (!row.UpdateTransRecord(db)) return call.FailStep(7, static_cast<int>(k));
  }
  return call.Finish();
}

int UpdatePharmacistName(std::string_view text, const CAdoConnection::Options& options) {
  ExportCall call(LogHeader::Form2("UpdatePresData", Cp949("결제정보"), text), options);
  const std::vector<std::string> fields = SplitParams(text);
  int count = 0;
  if (text.empty() || fields.size() < 2 || !ParseIntegerField(fields[1], &count) || count < 0 ||
      fields.size() - 2 < static_cast<size_t>(count) * CPaymentData::kFieldsPerPrescription) {
    return call.Fail(kDataError, 1, Cp949("szPres 데이터구성오류"));
  }
  const std::string name = TrimText(fields[0]);
  if (!call.Open(2)) return kDbConnectFailed;
  if (name.empty()) return call.Finish();
  for (int i = 0; i < count; ++i) {
    const std::string& serial =
        fields[2 + static_cast<size_t>(i) * CPaymentData::kFieldsPerPrescription];
    const std::string sql = FillSql(sql::kUpdatePharmacistName, {name, TrimText(serial)});
    if (call.db().ExecuteSql(sql, false) != kSqlOk) return call.FailStep(3, i);
  }
  return call.Finish();
}

}  // namespace retalo

extern "C" int SavePresData(const char* payment) {
  return retalo::SavePrescriptionPayment(payment != nullptr ? payment : "",
                                         retalo::CAdoConnection::Options{});
}

extern "C" int UpdatePresData(const char* prescriptions) {
  return retalo::UpdatePharmacistName(prescriptions != nullptr ? prescriptions : "",
                                      retalo::CAdoConnection::Options{});
}
