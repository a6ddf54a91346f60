// The payment taken at the card terminal and its rows in the pharmacy's payment table
// (PM_PRES..CD_SUNAB): the payment parameter text with the prescriptions it covers
// (CPaymentData), the day's order numbers shared by sales, statements and stock revisions, and
// one payment row (CTransRecord) with its single statement. Sales (SaveSaleData) and
// prescription payments (SavePresData) both write through here.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "retalo/db/ado_connection.h"

namespace retalo {

// The customer code of "no particular customer".
inline constexpr std::string_view kWalkInCustomer = "0000000000";

// Payment kinds of the payment text.
inline constexpr std::string_view kPayCard = "C";
inline constexpr std::string_view kPayCashReceipt = "H";
inline constexpr std::string_view kPayCashReceiptB = "B";
inline constexpr std::string_view kPayPoints = "P";

// A decimal number of a parameter field: surrounding white space allowed, an empty field reads
// as 0, anything else that is not wholly a number (including a trailing unit or a thousands
// separator, which atof would silently cut) is refused. The payment and sale texts carry money,
// and an amount read as its first digits alone would book a wrong sale.
bool ParseAmountField(std::string_view field, double* value);
bool ParseIntegerField(std::string_view field, int* value);

// One prescription covered by a payment. Only the serial comes from the caller; the rest is
// read from PM_PRES..PS_MAIN (SetCustomerData).
struct PrescriptionRecord {
  std::string strPreSerial;
  std::string received_date;
  int iDaySerial = 0;
  std::string customer_code;
  int price = 0;
};

class CPaymentData {
 public:
  static constexpr size_t kHeaderFields = 10;
  static constexpr size_t kFieldsPerPrescription = 5;

  // The "‡"-separated payment text: OTC amount, OTC tax, ETC amount, kind, approval number,
  // terminal number, card or identity data, instalment, approval date and time, count N, then
  // N prescription records of five fields. False (a data composition error) when the text is
  // empty, a header field is missing, a number is unreadable, N is negative or larger than the
  // records present, or the approval time does not start with an eight-digit date.
  bool Parse(std::string_view text);

  // The first eight digits of the approval date and time: the business date.
  std::string BusinessDate() const { return approval_time.substr(0, 8); }

  // Completes every prescription record from PS_MAIN. False (logged, with the record's index)
  // when a serial is not there or the query fails.
  bool SetCustomerData(CAdoConnection& db);
  // Prescription payments: a payment without a prescription record gets a fresh order number
  // of the business date for its record 0; record 0 then must have a serial and a day serial.
  bool SetDefaultCustomerData(CAdoConnection& db);

  // Takes the next number of `date`'s counter (PM_BASE..CD_BASE, created at 1 on the first
  // use of a day): *order_number = date + the counter in six digits, *day_serial = one more
  // than the day's highest sale serial. The counter is shared by sales, statements and stock
  // revisions. False on failure (logged).
  static bool GetSerialNum(CAdoConnection& db, std::string_view date, std::string* order_number,
                           int* day_serial);

  // The text with the card data (field 7) masked, for the log: first 6 and last 4 digits of
  // the card number kept, track data after a separator dropped.
  static std::string MaskedForLog(std::string_view text);

  int otc_amount = 0;
  int otc_tax = 0;
  int etc_amount = 0;
  std::string kind;
  std::string approval_number;
  std::string terminal_number;
  std::string card_data;  // PTRACKDATA of a card, NCHKNOGBN of a cash receipt
  std::string instalment;
  std::string approval_time;  // 14 digits
  std::vector<PrescriptionRecord> m_pstCustomerData;
};

// What a sale contributes to its payment row.
struct SaleKey {
  std::string customer_code;
  std::string sale_date;
  std::string order_number;
  int day_serial = 0;
  size_t line_count = 0;
};

// One row of PM_PRES..CD_SUNAB; a new row has every text empty and every number 0.
class CTransRecord {
 public:
  // The row of a sale: keyed by the sale's customer, date and order number.
  void SetTransRecord(const CPaymentData& payment, const SaleKey& sale);
  // The row of a prescription payment: keyed by prescription record 0, or, without any
  // record, by a fresh order number of the business date. False when that number cannot be
  // taken (logged).
  bool SetTransRecord(const CPaymentData& payment, CAdoConnection& db);
  // Turns the row last written into the row of prescription record k of the same payment:
  // amounts 0, DAERISUNAB "2", the prescription's key and price; approval data kept.
  void SetPrescriptionRow(const PrescriptionRecord& record);

  // Inserts the row, or updates it in place when its key exists already. False on failure
  // (logged, card data masked).
  bool UpdateTransRecord(CAdoConnection& db) const;
  // Stores the cash-receipt identity with the customer; nothing without one. False on failure.
  bool UpdateCashTrack2(CAdoConnection& db) const;

  // Columns (names as in CD_SUNAB).
  std::string CUSCODE, INDATE, PRESERIAL, PTERMID, SMCHNO, PMCHDATA;
  int DAY_SERIAL = 0;
  int ETC_CARD = 0, ETC_CASH = 0, ETC_PAPER = 0, OTC_CARD = 0, OTC_CASH = 0, OTC_PAPER = 0;
  std::string DAERISUNAB;
  int TEMP_4 = 0, TEMP_5 = 0;
  std::string APPR_GUBUN, APPR_DATE, CANCEL_DATE, APPR_POSITION, PTRDTYPE, PCARDNAME, PTRACKDATA,
      YOHUDATE, PSWIPE, PMONTH;
  int PTRADEAMT = 0, PSVCAMT = 0, PTAXAMT = 0;
  std::string PAUDATE, PCARDINMODE, PAPPROVAL_NUM, PCANCEL_NUM, PCHK_GUBUN, PCARDINPUTGUBUN,
      PCARDINNAME;
  int PCRYPFLAG = 0;
  std::string NAUDATE, NTRDNO;
  int NSUPAMT = 0, NVATAMT = 0;
  std::string NTRADER, NCHKNOGBN, NPINGBN, NCASHINMODE, NAPPROVAL_NUM, NCANCEL_NUM, SAUTHNUM,
      NCHK_GUBUN, AUTOGUBUN;

 private:
  // The columns that the payment kind decides (approval kind, amounts, approval data).
  void ApplyPayment(const CPaymentData& payment);
  // The cash columns of a cash receipt or a points payment.
  void ApplyCashAmounts(const CPaymentData& payment);
  std::string UpsertSql(std::string_view track_data) const;
};

// The card data of a log record: the card number's first 6 and last 4 digits kept and the
// digits between masked; everything from a track separator on dropped.
std::string MaskCardForLog(std::string_view card_data);

}  // namespace retalo
