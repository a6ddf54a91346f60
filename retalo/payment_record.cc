#include "retalo/payment_record.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "retalo/database_util.h"
#include "retalo/db/export_frame.h"
#include "retalo/db/log_writer.h"
#include "retalo/db/sql_fill.h"
#include "retalo/db/sql_texts.h"

namespace retalo {
namespace {

constexpr size_t kDateLength = 8;
constexpr int kOrderCounterDigits = 6;
constexpr size_t kCardDataField = 6;  // 0-based place of the card or identity data
// A cash receipt with this identity was issued by the pharmacy on the customer's behalf.
constexpr std::string_view kSelfIssuedIdentity = "0100001234";
// NTRDNO of a card payment: four characters of the order number or prescription serial.
constexpr size_t kTradeNumberAt = 10;
constexpr size_t kTradeNumberLength = 4;
constexpr size_t kKeptLeadingDigits = 6;
constexpr size_t kKeptTrailingDigits = 4;

bool IsDigits(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

}  // namespace

bool ParseAmountField(std::string_view field, double* value) {
  const std::string text = TrimText(field);
  if (text.empty()) {
    *value = 0;
    return true;
  }
  // Only plain decimal notation: no hexadecimal, infinity or NaN forms that strtod would take.
  for (char c : text) {
    if (!((c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+')) return false;
  }
  char* end = nullptr;
  errno = 0;
  const double number = std::strtod(text.c_str(), &end);
  if (end != text.c_str() + text.size() || errno != 0 || !std::isfinite(number)) return false;
  *value = number;
  return true;
}

bool ParseIntegerField(std::string_view field, int* value) {
  const std::string text = TrimText(field);
  if (text.empty()) {
    *value = 0;
    return true;
  }
  char* end = nullptr;
  errno = 0;
  const long number = std::strtol(text.c_str(), &end, 10);
  if (end != text.c_str() + text.size() || errno != 0 || number < std::numeric_limits<int>::min() ||
      number > std::numeric_limits<int>::max()) {
    return false;
  }
  *value = static_cast<int>(number);
  return true;
}

bool CPaymentData::Parse(std::string_view text) {
  if (text.empty()) return false;
  const std::vector<std::string> fields = SplitParams(text);
  if (fields.size() < kHeaderFields) return false;
  int count = 0;
  if (!ParseIntegerField(fields[0], &otc_amount) || !ParseIntegerField(fields[1], &otc_tax) ||
      !ParseIntegerField(fields[2], &etc_amount) || !ParseIntegerField(fields[9], &count)) {
    return false;
  }
  kind = TrimText(fields[3]);
  approval_number = fields[4];
  terminal_number = fields[5];
  card_data = fields[6];
  instalment = fields[7];
  approval_time = TrimText(fields[8]);
  // Every row of the payment is dated with the approval's day.
  if (!IsDigits(BusinessDate()) || BusinessDate().size() != kDateLength) return false;
  if (count < 0 ||
      fields.size() - kHeaderFields < static_cast<size_t>(count) * kFieldsPerPrescription) {
    return false;
  }
  m_pstCustomerData.clear();
  for (size_t at = kHeaderFields; m_pstCustomerData.size() < static_cast<size_t>(count);
       at += kFieldsPerPrescription) {
    PrescriptionRecord record;
    record.strPreSerial = TrimText(fields[at]);
    record.received_date = fields[at + 1];
    if (!ParseIntegerField(fields[at + 2], &record.iDaySerial)) return false;
    record.customer_code = fields[at + 3];
    if (!ParseIntegerField(fields[at + 4], &record.price)) return false;
    m_pstCustomerData.push_back(std::move(record));
  }
  return true;
}

bool CPaymentData::SetCustomerData(CAdoConnection& db) {
  for (size_t i = 0; i < m_pstCustomerData.size(); ++i) {
    PrescriptionRecord& record = m_pstCustomerData[i];
    const std::string sql = FillSql(sql::kSelectPrescription, {record.strPreSerial});
    const bool read = ReadOneRow(db, sql, [&record](CAdoConnection& row) {
                        record.received_date = row.GetFieldText("INDATE");
                        record.iDaySerial = row.GetFieldInt("DAY_SERIAL");
                        record.customer_code = row.GetFieldText("CUSCODE");
                        record.price = row.GetFieldInt("PRICE_N");
                      }) == kSqlOk;
    if (!read) {
      LogIndexedFailure(LogHeader::Form2("CPaymentData::SetCustomerData", "strQuery", sql), 0, 1,
                        static_cast<int>(i));
      return false;
    }
  }
  return true;
}

bool CPaymentData::SetDefaultCustomerData(CAdoConnection& db) {
  if (m_pstCustomerData.empty()) return true;
  PrescriptionRecord& first = m_pstCustomerData[0];
  if (first.strPreSerial.empty()) {
    first.received_date = BusinessDate();
    first.iDaySerial = 0;
    first.customer_code.clear();
    if (!GetSerialNum(db, BusinessDate(), &first.strPreSerial, &first.iDaySerial)) {
      LogFailure(LogHeader::Form1("CPaymentData::SetDefaultCustomerData"), 0, 1,
                 "After GetSerialNum()");
      return false;
    }
  }
  if (!first.strPreSerial.empty() && first.iDaySerial != 0) {
    if (first.customer_code.empty()) first.customer_code = kWalkInCustomer;
    return true;
  }
  LogFailure(
      LogHeader::Form3("CPaymentData::SetDefaultCustomerData", "m_pstCustomerData[0].strPreSerial",
                       first.strPreSerial, "m_pstCustomerData[0].iDaySerial", first.iDaySerial),
      0, 2, Cp949("변수값 오류"));
  return false;
}

bool CPaymentData::GetSerialNum(CAdoConnection& db, std::string_view date,
                                std::string* order_number, int* day_serial) {
  const LogHeader header = LogHeader::Form1("CPaymentData::GetSerialNum");
  std::string sql = FillSql(sql::kAdvanceDayCounter, {date});
  if (db.ExecuteSql(sql, false) != kSqlOk) {
    LogFailure(header, 0, 1, sql);
    return false;
  }
  sql = FillSql(sql::kSelectOrderNumber, {date});
  std::string order;
  int serial = 0;
  const int rc = ReadOneRow(db, sql, [&](CAdoConnection& row) {
    order = row.GetFieldText("SL_NO_ORDER");
    serial = row.GetFieldInt("SL_DAY_SERIAL");
  });
  if (rc == kSqlNoRows) {
    *order_number = std::string(date) + "000001";
    *day_serial = 1;
    return true;
  }
  // The counter row was written by the first statement; an order number without its six
  // digits would key a sale no other program can find.
  if (rc == kSqlOk && order.size() == date.size() + kOrderCounterDigits) {
    *order_number = std::move(order);
    *day_serial = serial;
    return true;
  }
  LogFailure(header, 0, 2, sql);
  return false;
}

std::string MaskCardForLog(std::string_view card_data) {
  // The card number ends at the first track separator; what follows is track data.
  size_t end = card_data.find_first_of("=^");
  for (size_t i = 1; i < card_data.size() && i < end; ++i) {
    if (card_data[i] == 'D' && card_data[i - 1] >= '0' && card_data[i - 1] <= '9') end = i;
  }
  std::string masked(card_data.substr(0, end));
  size_t digits = 0;
  for (char c : masked) digits += (c >= '0' && c <= '9') ? 1 : 0;
  size_t seen = 0;
  for (char& c : masked) {
    if (c < '0' || c > '9') continue;
    if (seen >= kKeptLeadingDigits && seen + kKeptTrailingDigits < digits) c = '*';
    ++seen;
  }
  return masked;
}

std::string CPaymentData::MaskedForLog(std::string_view text) {
  std::vector<std::string> fields = SplitParams(text);
  if (fields.size() <= kCardDataField) return std::string(text);
  fields[kCardDataField] = MaskCardForLog(fields[kCardDataField]);
  std::string joined;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) joined += kParamSeparator;
    joined += fields[i];
  }
  return joined;
}

void CTransRecord::ApplyPayment(const CPaymentData& payment) {
  if (payment.kind == kPayCard) {
    APPR_GUBUN = "1";
    OTC_CARD = payment.otc_amount + payment.otc_tax;
    ETC_CARD = payment.etc_amount;
    PTRADEAMT = payment.etc_amount + payment.otc_amount;
    PTAXAMT = payment.otc_tax;
    PAUDATE = payment.BusinessDate();
    PTRDTYPE = "D1";
    PTERMID = payment.terminal_number;
    PTRACKDATA = payment.card_data;
    PMONTH = payment.instalment;
    PAPPROVAL_NUM = payment.approval_number;
    NTRDNO = PRESERIAL.size() > kTradeNumberAt
                 ? PRESERIAL.substr(kTradeNumberAt, kTradeNumberLength)
                 : std::string();
    PCHK_GUBUN = "KIC";
    PCARDINMODE = "1";
  } else if (payment.kind == kPayCashReceipt || payment.kind == kPayCashReceiptB) {
    APPR_GUBUN = "2";
    ApplyCashAmounts(payment);
    NCHKNOGBN = payment.card_data;
    NCHK_GUBUN = "KIC";
    NCASHINMODE = "1";
    if (NCHKNOGBN == kSelfIssuedIdentity) {
      NCHK_GUBUN = "KCJ";
      AUTOGUBUN = "1";
    }
  } else if (payment.kind == kPayPoints) {
    APPR_GUBUN = "A";
    ApplyCashAmounts(payment);
    PCHK_GUBUN = "KIC";
  }
}

void CTransRecord::ApplyCashAmounts(const CPaymentData& payment) {
  OTC_CASH = payment.otc_amount + payment.otc_tax;
  ETC_CASH = payment.etc_amount;
  NSUPAMT = payment.etc_amount + payment.otc_amount;
  NVATAMT = payment.otc_tax;
  NAUDATE = payment.BusinessDate();
  NAPPROVAL_NUM = payment.approval_number;
}

void CTransRecord::SetTransRecord(const CPaymentData& payment, const SaleKey& sale) {
  *this = CTransRecord{};
  CUSCODE = sale.customer_code;
  INDATE = sale.sale_date;
  PRESERIAL = sale.order_number;
  DAY_SERIAL = sale.day_serial;
  APPR_POSITION = "3";
  DAERISUNAB = "1";
  APPR_DATE = sale.sale_date;
  const int otc = payment.otc_amount + payment.otc_tax;
  if (!payment.m_pstCustomerData.empty() || payment.kind == kPayCard) {
    TEMP_4 = 0;
    TEMP_5 = otc;
  }
  ApplyPayment(payment);
  if (CUSCODE.empty()) CUSCODE = kWalkInCustomer;
}

bool CTransRecord::SetTransRecord(const CPaymentData& payment, CAdoConnection& db) {
  *this = CTransRecord{};
  if (!payment.m_pstCustomerData.empty()) {
    const PrescriptionRecord& first = payment.m_pstCustomerData[0];
    CUSCODE = first.customer_code;
    INDATE = first.received_date;
    PRESERIAL = first.strPreSerial;
    DAY_SERIAL = first.iDaySerial;
  } else {
    CUSCODE = kWalkInCustomer;
    INDATE = payment.BusinessDate();
    if (!CPaymentData::GetSerialNum(db, INDATE, &PRESERIAL, &DAY_SERIAL)) {
      LogFailure(LogHeader::Form1("CTransRecord::SetTransRecord"), 0, 1,
                 "After paymentData.GetSerialNum()");
      return false;
    }
  }
  APPR_POSITION = "1";
  DAERISUNAB = "1";
  APPR_DATE = payment.approval_time;
  if (CUSCODE.empty()) CUSCODE = kWalkInCustomer;
  if (payment.m_pstCustomerData.size() > 1) {
    TEMP_4 = payment.m_pstCustomerData[0].price;
    TEMP_5 = 0;
  }
  ApplyPayment(payment);
  return true;
}

void CTransRecord::SetPrescriptionRow(const PrescriptionRecord& record) {
  DAERISUNAB = "2";
  ETC_CARD = ETC_CASH = ETC_PAPER = OTC_CARD = OTC_CASH = OTC_PAPER = 0;
  TEMP_5 = 0;
  TEMP_4 = record.price;
  PRESERIAL = record.strPreSerial;
  CUSCODE = record.customer_code.empty() ? std::string(kWalkInCustomer) : record.customer_code;
  INDATE = record.received_date;
}

std::string CTransRecord::UpsertSql(std::string_view track_data) const {
  return FillSql(
      sql::kUpsertPaymentRow,
      {// the key looked for
       CUSCODE, INDATE, PRESERIAL,
       // UPDATE ... SET
       DAY_SERIAL, ETC_CARD, ETC_CASH, ETC_PAPER, OTC_CARD, OTC_CASH, OTC_PAPER, PTRDTYPE, PTERMID,
       PMCHDATA, PCARDNAME, track_data, PSWIPE, PMONTH, PTRADEAMT, PSVCAMT, PTAXAMT, PAUDATE,
       PCRYPFLAG, PCARDINMODE, PAPPROVAL_NUM, PCANCEL_NUM, APPR_POSITION, PCHK_GUBUN, NAUDATE,
       NTRDNO, NSUPAMT, NVATAMT, NTRADER, NCHKNOGBN, NPINGBN, NCASHINMODE, NAPPROVAL_NUM,
       NCANCEL_NUM, SAUTHNUM, NCHK_GUBUN, AUTOGUBUN, DAERISUNAB, APPR_DATE, CANCEL_DATE, APPR_GUBUN,
       YOHUDATE, PCARDINPUTGUBUN, PCARDINNAME, SMCHNO, TEMP_4, TEMP_5,
       // WHERE
       CUSCODE, INDATE, PRESERIAL,
       // INSERT ... VALUES
       CUSCODE, INDATE, DAY_SERIAL, PRESERIAL, ETC_CARD, ETC_CASH, ETC_PAPER, OTC_CARD, OTC_CASH,
       OTC_PAPER, PTRDTYPE, PTERMID, PMCHDATA, PCARDNAME, track_data, PSWIPE, PMONTH, PTRADEAMT,
       PSVCAMT, PTAXAMT, PAUDATE, PCRYPFLAG, PCARDINMODE, PAPPROVAL_NUM, PCANCEL_NUM, APPR_POSITION,
       PCHK_GUBUN, NAUDATE, NTRDNO, NSUPAMT, NVATAMT, NTRADER, NCHKNOGBN, NPINGBN, NCASHINMODE,
       NAPPROVAL_NUM, NCANCEL_NUM, SAUTHNUM, NCHK_GUBUN, AUTOGUBUN, DAERISUNAB, APPR_DATE,
       CANCEL_DATE, APPR_GUBUN, YOHUDATE, PCARDINPUTGUBUN, PCARDINNAME, SMCHNO, TEMP_4, TEMP_5});
}

bool CTransRecord::UpdateTransRecord(CAdoConnection& db) const {
  if (db.ExecuteSql(UpsertSql(PTRACKDATA), false) == kSqlOk) return true;
  // The log never holds the card's number or track.
  LogFailure(LogHeader::Form1("CTransRecord::UpdateTransRecord"), 0, 1,
             UpsertSql(MaskCardForLog(PTRACKDATA)));
  return false;
}

bool CTransRecord::UpdateCashTrack2(CAdoConnection& db) const {
  if (NCHKNOGBN.empty()) return true;
  const std::string sql = FillSql(sql::kUpdateCashIdentity, {NCHKNOGBN, CUSCODE});
  if (db.ExecuteSql(sql, false) == kSqlOk) return true;
  LogFailure(LogHeader::Form1("CTransRecord::UpdateCashTrack2"), 0, 1, sql);
  return false;
}

}  // namespace retalo
