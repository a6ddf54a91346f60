// Helpers the database exports share: today's date as the pharmacy database writes it, trimming
// of parameter fields, the answer buffers of the list and look-up exports, and CDatabaseUtil, the
// operations on the pharmacy database that several exports call.
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "retalo/db/ado_connection.h"

namespace retalo {

// Today's local date as "%Y%m%d" (change dates, list dates). Replaceable where a test has to
// see two days.
using TodaySource = std::function<std::string()>;
std::string TodayText();

// `text` without white space (spaces, tabs, line ends) on either side.
std::string TrimText(std::string_view text);

// Writes an export's answer into the caller's buffer of `size` bytes: the first four bytes are
// zeroed, then the text is copied with a terminating zero. False (and the buffer untouched)
// when the buffer is missing or the text and its zero do not fit.
bool WriteAnswer(std::string_view text, char* buffer, int size);

// Runs `sql` (rows wanted) and reads `column` of its first row into *text; *has_row tells
// whether a row came (*text is left alone when none did). False when the query or the read
// failed.
bool ReadFirstField(CAdoConnection& db, std::string_view sql, std::string_view column,
                    std::string* text, bool* has_row);

// One line of an accounting statement (PM_BASE..SPP_SUB): the texts of its columns but the
// line number, in this order.
enum StatementColumn : size_t {
  kSppDate,         // SPP_DT_APPL
  kSppSlip,         // SPP_NO_SLIP: the statement number
  kSppClass,        // SPP_CL_SLIP: "2" and "3" are debit lines, any other class a credit line
  kSppAccount,      // SPP_CD_ACCOUNT
  kSppBuyCustom,    // SPP_IS_BUY_CUSTOM
  kSppCustomer,     // SPP_CD_BUY_CUSTOM
  kSppBillNo,       // SPP_NO_BILL_NO
  kSppBankAccount,  // SPP_CD_BANK_ACC
  kSppAccountNo,    // SPP_NO_ACCOUNT
  kSppRemark,       // SPP_NT_REMARK
  kSppAmount,       // the amount, written to the debit or the credit column by the class
  kSppIsVat,        // SPP_IS_VAT
  kSppSubbook,      // SPP_IS_SUBBOOK
  kSppAuto,         // SPP_IS_AUTO: "D" for lines the POS wrote
  kSppSerial,       // SPP_NO_SERIAL: the order number of the sale
  kSppFamily,       // SPP_CD_FAMILY
  kSppInner,        // SPP_CD_INNER
  kStatementColumns
};
using StatementLine = std::array<std::string, kStatementColumns>;

// Work codes of the running totals: writing a statement adds its amounts, removing one
// subtracts them (1 and 2 both subtract).
inline constexpr int kWorkAdd = 0;
inline constexpr int kWorkRemove = 2;

// Accounts the sales post to.
inline constexpr std::string_view kSalesAccount = "4101";
inline constexpr std::string_view kSalesTaxAccount = "2161";
inline constexpr std::string_view kCashAccount = "1100";

// The amount of a statement line as the line's text holds it.
std::string AmountText(double amount);

// Runs `sql` (rows wanted) and, when a row came, lets `read` take the fields of its first row,
// then closes the result. Returns kSqlOk (row read), kSqlNoRows, or kSqlFailed (the query or a
// field read failed).
int ReadOneRow(CAdoConnection& db, std::string_view sql,
               const std::function<void(CAdoConnection&)>& read);

class CDatabaseUtil {
 public:
  explicit CDatabaseUtil(CAdoConnection& db) : db_(db) {}

  // Ledger. Each operation logs its failure and returns false; the caller's transaction
  // removes what it wrote.

  // Writes one statement line (numbered after the statement's last) and adds its amount to
  // the customer's day and total, the account's day and the trial balance; cash lines (class
  // "1" or "2") balance against the cash account "1100".
  bool InsertStatement(const StatementLine& line);
  // Reverses the lines written earlier for an order number: key [date, "", auto mark, order
  // number, "D"]. Every line with that mark and order number is subtracted from the four
  // totals and deleted, then the statement header of the last one.
  bool DeleteStatement(const std::array<std::string, 5>& key);
  // The four totals. Values: UpdateCustomDate [class, date, SL_SELECT, customer, account,
  // house, book, amount]; UpdateCustomTotal [class, SL_SELECT, customer, account, house, book,
  // amount]; UpdateAccount [class, date, account, amount]; UpdateBalance [class, account,
  // amount]. A missing row is created.
  bool UpdateCustomDate(const std::array<std::string, 8>& values, int work_code);
  bool UpdateCustomTotal(const std::array<std::string, 7>& values, int work_code);
  bool UpdateAccount(const std::array<std::string, 4>& values, int work_code);
  bool UpdateBalance(const std::array<std::string, 3>& values, int work_code);

  // Stock revision: sets the stock of `drug_code` to the counted quantity, writing the
  // revision, the movement and both stock totals with the difference.
  bool UpdateStock(const std::string& serial, double counted, const std::string& drug_code,
                   const std::string& date);

  // The code of the package unit named `unit_name` ("개" when empty), creating the unit with
  // the next free three-digit code when it is new. Members of units without a name are moved
  // to this unit and the nameless units removed. Empty after a failure (which is logged).
  std::string GetItemUnitCode(std::string_view unit_name);

 private:
  // One row of an account total: MA_ACCOUNT_DATE (with a date) or MT_TRIAL_BALANCE (without).
  struct AccountRow {
    bool found = false;
    double debit = 0;
    double credit = 0;
  };
  bool SetWorkForAccount(const std::string& date, const std::string& account, int work_code,
                         AccountRow* row);
  bool WorkForAccount(const std::string& date, const std::string& account, int work_code,
                      const AccountRow& row);
  bool SetWorkForBalance(const std::string& account, int work_code, double amount,
                         AccountRow* row);
  bool WorkForBalance(const std::string& account, int work_code, const AccountRow& row);

  CAdoConnection& db_;
};

}  // namespace retalo
