// The bookkeeping side of a sale in PM_BASE: statement lines (SPP_SUB) and the four running
// totals they feed, per customer and day (MC_CUSTOM_DATE), per customer (MT_CUSTOM_TOTAL), per
// account and day (MA_ACCOUNT_DATE) and per account (MT_TRIAL_BALANCE).
#include <cstdlib>
#include <optional>

#include "platform/text.h"
#include "retalo/database_util.h"
#include "retalo/db/log_writer.h"
#include "retalo/db/sql_fill.h"
#include "retalo/db/sql_texts.h"

namespace retalo {
namespace {

constexpr int kLineNumberDigits = 4;

// Lines of class "2" and "3" are debit lines; every other class is a credit line.
bool IsDebitClass(std::string_view line_class) { return line_class == "2" || line_class == "3"; }
// Cash lines are balanced against the cash account.
bool IsCashClass(std::string_view line_class) { return line_class == "1" || line_class == "2"; }

double Apply(double total, double amount, int work_code) {
  return work_code == kWorkAdd ? total + amount : total - amount;
}

// One side of a total moved by a line's amount; the other side keeps its value.
void ApplyToSide(bool debit_side, double amount, int work_code, double* debit, double* credit) {
  double& side = debit_side ? *debit : *credit;
  side = Apply(side, amount, work_code);
}

// The old debit and credit of a total's row: false when the query fails; zero and *found false
// when there is no row.
bool ReadTotals(CAdoConnection& db, const std::string& sql, std::string_view debit_column,
                std::string_view credit_column, bool* found, double* debit, double* credit) {
  *debit = *credit = 0;
  const int rc = ReadOneRow(db, sql, [&](CAdoConnection& row) {
    *debit = row.GetFieldReal(debit_column);
    *credit = row.GetFieldReal(credit_column);
  });
  *found = rc == kSqlOk;
  return rc != kSqlFailed;
}

LogHeader TotalHeader(std::string_view op, int work_code) {
  return LogHeader::Form3(op, "", "", "iWorkCode", work_code);
}

}  // namespace

std::string AmountText(double amount) { return FormatSqlReal(amount); }

bool CDatabaseUtil::UpdateCustomDate(const std::array<std::string, 8>& v, int work_code) {
  const auto& [line_class, date, select, customer, account, house, book, amount] = v;
  const LogHeader header = TotalHeader("CDatabaseUtil::UpdateCustomDate", work_code);
  std::string sql = FillSql(sql::kSelectCustomerDateTotal, {date, select, customer, account});
  bool found = false;
  double debit = 0, credit = 0;
  if (!ReadTotals(db_, sql, "MC_MY_DEBIT", "MC_MY_CREDIT", &found, &debit, &credit)) {
    LogFailure(header, 0, 1, sql);
    return false;
  }
  ApplyToSide(IsDebitClass(line_class), std::atof(amount.c_str()), work_code, &debit, &credit);
  sql = found ? FillSql(sql::kUpdateCustomerDateTotal,
                        {house, book, debit, credit, date, select, customer, account})
              : FillSql(sql::kInsertCustomerDateTotal,
                        {date, select, customer, account, house, book, debit, credit});
  if (db_.ExecuteSql(sql, false) == kSqlOk) return true;
  LogFailure(header, 0, 2, sql);
  return false;
}

bool CDatabaseUtil::UpdateCustomTotal(const std::array<std::string, 7>& v, int work_code) {
  const auto& [line_class, select, customer, account, house, book, amount] = v;
  const LogHeader header = TotalHeader("CDatabaseUtil::UpdateCustomTotal", work_code);
  std::string sql = FillSql(sql::kSelectCustomerTotal, {select, customer, account});
  bool found = false;
  double debit = 0, credit = 0;
  if (!ReadTotals(db_, sql, "MT_MY_DEBIT", "MT_MY_CREDIT", &found, &debit, &credit)) {
    LogFailure(header, 0, 1, sql);
    return false;
  }
  ApplyToSide(IsDebitClass(line_class), std::atof(amount.c_str()), work_code, &debit, &credit);
  sql = found ? FillSql(sql::kUpdateCustomerTotal,
                        {house, book, debit, credit, select, customer, account})
              : FillSql(sql::kInsertCustomerTotal,
                        {select, customer, account, house, book, debit, credit});
  if (db_.ExecuteSql(sql, false) == kSqlOk) return true;
  LogFailure(header, 0, 2, sql);
  return false;
}

bool CDatabaseUtil::SetWorkForAccount(const std::string& date, const std::string& account,
                                      int work_code, AccountRow* row) {
  const std::string sql = FillSql(sql::kSelectAccountDateTotal, {date, account});
  if (ReadTotals(db_, sql, "MA_MY_DEBIT", "MA_MY_CREDIT", &row->found, &row->debit, &row->credit)) {
    return true;
  }
  LogFailure(LogHeader::Form4("CDatabaseUtil::SetWorkForAccount", "strAccount", account, "strDate",
                              date, "iWorkCode", work_code),
             0, 1, sql);
  return false;
}

bool CDatabaseUtil::WorkForAccount(const std::string& date, const std::string& account,
                                   int work_code, const AccountRow& row) {
  const std::string sql =
      row.found ? FillSql(sql::kUpdateAccountDateTotal, {row.debit, row.credit, date, account})
                : FillSql(sql::kInsertAccountDateTotal, {date, account, row.debit, row.credit});
  if (db_.ExecuteSql(sql, false) == kSqlOk) return true;
  LogFailure(
      LogHeader::Form8("CDatabaseUtil::WorkForAccount", "strAccount", account, "strDate", date,
                       "iWorkCode", work_code, "dDebit", row.debit, "dCredit", row.credit),
      0, 1, sql);
  return false;
}

bool CDatabaseUtil::SetWorkForBalance(const std::string& account, int work_code, double amount,
                                      AccountRow* row) {
  const std::string sql = FillSql(sql::kSelectTrialBalance, {account});
  if (ReadTotals(db_, sql, "MT_MY_DEBIT", "MT_MY_CREDIT", &row->found, &row->debit, &row->credit)) {
    return true;
  }
  LogFailure(LogHeader::Form6("CDatabaseUtil::SetWorkForBalance", "strAccount", account,
                              "iWorkCode", work_code, "dAmount", amount),
             0, 1, sql);
  return false;
}

bool CDatabaseUtil::WorkForBalance(const std::string& account, int work_code,
                                   const AccountRow& row) {
  const std::string sql = row.found
                              ? FillSql(sql::kUpdateTrialBalance, {row.debit, row.credit, account})
                              : FillSql(sql::kInsertTrialBalance, {account, row.debit, row.credit});
  if (db_.ExecuteSql(sql, false) == kSqlOk) return true;
  LogFailure(LogHeader::Form7("CDatabaseUtil::WorkForBalance", "strAccount", account, "iWorkCode",
                              work_code, "dDebit", row.debit, "dCredit", row.credit),
             0, 1, sql);
  return false;
}

bool CDatabaseUtil::UpdateAccount(const std::array<std::string, 4>& v, int work_code) {
  const auto& [line_class, date, account, amount_text] = v;
  const LogHeader header = TotalHeader("CDatabaseUtil::UpdateAccount", work_code);
  const double amount = std::atof(amount_text.c_str());
  auto fail = [&header](int position, std::string_view note) {
    LogFailure(header, 0, position, note);
    return false;
  };
  AccountRow row;
  if (!SetWorkForAccount(date, account, work_code, &row))
    return fail(1, "After SetWorkForAccount()");
  ApplyToSide(IsDebitClass(line_class), amount, work_code, &row.debit, &row.credit);
  if (!WorkForAccount(date, account, work_code, row)) return fail(2, "After WorkForAccount()");
  if (!IsCashClass(line_class)) return true;
  // The cash account takes the amount on the other side: a cash sale (class "1") is a debit
  // of cash, a cash payment out (class "2") a credit.
  AccountRow cash;
  const std::string cash_account(kCashAccount);
  if (!SetWorkForAccount(date, cash_account, work_code, &cash)) {
    return fail(3, "After SetWorkForAccount()");
  }
  ApplyToSide(line_class == "1", amount, work_code, &cash.debit, &cash.credit);
  if (!WorkForAccount(date, cash_account, work_code, cash))
    return fail(4, "After WorkForAccount()");
  return true;
}

bool CDatabaseUtil::UpdateBalance(const std::array<std::string, 3>& v, int work_code) {
  const auto& [line_class, account, amount_text] = v;
  const LogHeader header = TotalHeader("CDatabaseUtil::UpdateBalance", work_code);
  const double amount = std::atof(amount_text.c_str());
  auto fail = [&header](int position, std::string_view note) {
    LogFailure(header, 0, position, note);
    return false;
  };
  AccountRow row;
  if (!SetWorkForBalance(account, work_code, amount, &row)) {
    return fail(1, "After SetWorkForBalance()");
  }
  ApplyToSide(IsDebitClass(line_class), amount, work_code, &row.debit, &row.credit);
  if (!WorkForBalance(account, work_code, row)) return fail(2, "After WorkForBalance()");
  if (!IsCashClass(line_class)) return true;
  AccountRow cash;
  const std::string cash_account(kCashAccount);
  if (!SetWorkForBalance(cash_account, work_code, amount, &cash)) {
    return fail(3, "After SetWorkForBalance()");
  }
  ApplyToSide(line_class == "1", amount, work_code, &cash.debit, &cash.credit);
  if (!WorkForBalance(cash_account, work_code, cash)) return fail(4, "After WorkForBalance()");
  return true;
}

bool CDatabaseUtil::InsertStatement(const StatementLine& line) {
  const LogHeader header = LogHeader::Form1("CDatabaseUtil::InsertStatement");
  auto fail = [&header](int position, std::string_view note) {
    LogFailure(header, 0, position, note);
    return false;
  };
  std::string sql =
      FillSql(sql::kSelectStatementLineNumber, {line[kSppDate], line[kSppSlip], line[kSppClass]});
  int lines = 0;
  int highest = 0;
  if (ReadOneRow(db_, sql, [&](CAdoConnection& row) {
        lines = row.GetFieldInt("CALCCOL");
        highest = row.GetFieldInt("MAXSLIPCOL");
      }) == kSqlFailed) {
    return fail(1, sql);
  }
  const std::optional<std::string> number =
      platform::ZeroPadded(lines == 0 ? 1 : highest + 1, kLineNumberDigits);
  if (!number) return fail(1, sql);

  const bool debit = IsDebitClass(line[kSppClass]);
  const std::string& amount = line[kSppAmount];
  sql = FillSql(sql::kInsertStatementLine,
                {line[kSppDate], line[kSppSlip], line[kSppClass], *number, line[kSppAccount],
                 line[kSppBuyCustom], line[kSppCustomer], line[kSppBillNo], line[kSppBankAccount],
                 line[kSppAccountNo], line[kSppRemark], debit ? amount : "0", debit ? "0" : amount,
                 line[kSppIsVat], line[kSppSubbook], line[kSppAuto], line[kSppSerial],
                 line[kSppFamily], line[kSppInner]});
  if (db_.ExecuteSql(sql, false) != kSqlOk) return fail(2, sql);

  const std::string& cls = line[kSppClass];
  if (!UpdateCustomDate({cls, line[kSppDate], line[kSppBuyCustom], line[kSppCustomer],
                         line[kSppAccount], line[kSppFamily], line[kSppSubbook], amount},
                        kWorkAdd)) {
    return fail(3, "After UpdateCustomDate()");
  }
  if (!UpdateCustomTotal({cls, line[kSppBuyCustom], line[kSppCustomer], line[kSppAccount],
                          line[kSppFamily], line[kSppSubbook], amount},
                         kWorkAdd)) {
    return fail(4, "After UpdateCustomTotal()");
  }
  if (!UpdateAccount({cls, line[kSppDate], line[kSppAccount], amount}, kWorkAdd)) {
    return fail(5, "After UpdateAccount()");
  }
  if (!UpdateBalance({cls, line[kSppAccount], amount}, kWorkAdd)) {
    return fail(6, "After UpdateBalance()");
  }
  return true;
}

bool CDatabaseUtil::DeleteStatement(const std::array<std::string, 5>& key) {
  const std::string& mark = key[2];
  const std::string& order_number = key[3];
  const char* const op = "CDatabaseUtil::DeleteStatement";
  if (!db_.OpenTempRecordset()) {
    LogFailure(LogHeader::Form1(op), 0, 1, "Error OpenTempRecordset()");
    return false;
  }
  std::string sql = FillSql(sql::kSelectAutoStatementLines, {mark, order_number});
  const int rc = db_.ExecuteSql(sql, true, true);
  if (rc == kSqlNoRows) return true;
  if (rc != kSqlOk) {
    LogFailure(LogHeader::Form1(op), 0, 2, sql);
    return false;
  }
  // A step of the reversal failed: what failed, then where.
  auto fail = [op](std::string_view label, std::string_view what, int position) {
    LogIndexedFailure(LogHeader::Form2(op, label, what), 0, position, 0);
    return false;
  };
  std::string last_date;
  std::string last_slip;
  bool removed = false;
  for (; !db_.IsEof(true); db_.MoveNext(true)) {
    db_.ClearFieldError();
    if (db_.GetFieldText("SPP_NO_SERIAL", true) != order_number) continue;
    const std::string date = db_.GetFieldText("SPP_DT_APPL", true);
    const std::string slip = db_.GetFieldText("SPP_NO_SLIP", true);
    const std::string cls = db_.GetFieldText("SPP_CL_SLIP", true);
    const std::string line_number = db_.GetFieldText("SPP_SR_SLIP_COL", true);
    const std::string account = db_.GetFieldText("SPP_CD_ACCOUNT", true);
    const std::string select = db_.GetFieldText("SPP_IS_BUY_CUSTOM", true);
    const std::string customer = db_.GetFieldText("SPP_CD_BUY_CUSTOM", true);
    const std::string house = db_.GetFieldText("SPP_CD_FAMILY", true);
    const std::string book = db_.GetFieldText("SPP_IS_SUBBOOK", true);
    // The line's amount stands on its debit side, or else on its credit side.
    const double debit = db_.GetFieldReal("SPP_MY_DEBIT", true);
    const std::string amount =
        AmountText(debit != 0 ? debit : db_.GetFieldReal("SPP_MY_CREDIT", true));
    if (db_.field_error()) return fail("strQuery", sql, 2);

    if (!UpdateCustomDate({cls, date, select, customer, account, house, book, amount},
                          kWorkRemove)) {
      return fail("", "After UpdateCustomDate()", 3);
    }
    if (!UpdateCustomTotal({cls, select, customer, account, house, book, amount}, kWorkRemove)) {
      return fail("", "After UpdateCustomTotal()", 4);
    }
    if (!UpdateAccount({cls, date, account, amount}, kWorkRemove)) {
      return fail("", "After UpdateAccount()", 5);
    }
    if (!UpdateBalance({cls, account, amount}, kWorkRemove)) {
      return fail("", "After UpdateBalance()", 6);
    }
    const std::string remove = FillSql(sql::kDeleteStatementLine, {date, slip, cls, line_number});
    if (db_.ExecuteSql(remove, false) != kSqlOk) return fail("strQuery", remove, 7);
    last_date = date;
    last_slip = slip;
    removed = true;
  }
  db_.CloseRecordset(true);
  if (!removed) return true;
  sql = FillSql(sql::kDeleteStatementHeader, {last_date, last_slip});
  if (db_.ExecuteSql(sql, false) == kSqlOk) return true;
  LogFailure(LogHeader::Form1(op), 0, 8, sql);
  return false;
}

}  // namespace retalo
