#include "retalo/sale_recording.h"

#include <cmath>
#include <ctime>
#include <optional>

#include "platform/text.h"
#include "retalo/database_util.h"
#include "retalo/db/export_frame.h"
#include "retalo/db/log_writer.h"
#include "retalo/db/sql_fill.h"
#include "retalo/db/sql_texts.h"
#include "retalo/ordella_retalo.h"

namespace retalo {
namespace {

constexpr int kStatementNumberDigits = 6;
constexpr int kSaleSlipClass = 1;
constexpr std::string_view kSaleLineClass = "1";
constexpr std::string_view kSaleCustomerSelect = "2";  // SPP_IS_BUY_CUSTOM of a sale
constexpr std::string_view kAutoMark = "D";            // lines written by the POS
constexpr std::string_view kAutoMarkKey = "D";

std::string OpenTime() {
  const std::tm now = LocalTimeNow();
  char text[8];
  return std::string(text, std::strftime(text, sizeof text, "%H%M", &now));
}

// The discount as a percentage of the total, rounded half up to two decimals. A total below
// one won has no ratio (the percentage would divide by zero).
double DiscountRatio(double discount, double total) {
  const double whole = std::trunc(total);
  if (whole == 0) return 0;
  return std::floor(((discount / whole) * 100 + 0.005) * 100) / 100;
}

}  // namespace

bool SaleText::Parse(std::string_view text, CGoodsData* goods) {
  if (text.empty()) return false;
  const std::vector<std::string> fields = SplitParams(text);
  if (fields.size() <= kHeaderFields) return false;
  count_text = fields[0];
  customer_code = TrimText(fields[1]);
  int item_count = 0;
  if (!ParseAmountField(fields[2], &received) || !ParseAmountField(fields[3], &received_tax) ||
      !ParseAmountField(fields[4], &discount) ||
      !ParseIntegerField(fields[kHeaderFields], &item_count)) {
    return false;
  }
  if (!goods->Parse(fields, kHeaderFields)) return false;
  // Prices and quantities of the items must be numbers too: read as their first digits they
  // would book wrong amounts and stock.
  for (size_t i = 0; i < goods->items().size(); ++i) {
    const size_t at = kHeaderFields + 1 + i * CGoodsData::kFieldsPerItem;
    double number = 0;
    for (size_t k = 1; k <= 3; ++k) {
      if (!ParseAmountField(fields[at + k], &number)) return false;
    }
  }
  return true;
}

bool CSalesChart::SetSalesChartMain(CAdoConnection& db, const SaleText& text,
                                    const CPaymentData& payment) {
  const LogHeader header = LogHeader::Form1("CSalesChart::SetSalesChartMain");
  customer_code = text.customer_code;
  sale_date = payment.BusinessDate();
  count_text = text.count_text;
  sale = text.received + text.received_tax;
  discount = text.discount;
  total = discount + sale;
  discount_ratio = DiscountRatio(discount, total);
  received = text.received;
  received_tax = text.received_tax;
  sale_cost = 0;
  if (!CPaymentData::GetSerialNum(db, sale_date, &order_number, &day_serial)) {
    LogFailure(header, 0, 1, "After paymentData.GetSerialNum()");
    return false;
  }
  if (customer_code.empty() && !payment.m_pstCustomerData.empty()) {
    customer_code = payment.m_pstCustomerData[0].customer_code;
  }
  if (customer_code != kWalkInCustomer) {
    const std::string sql = FillSql(sql::kSelectSaleCustomer, {customer_code});
    const int rc = ReadOneRow(db, sql, [this](CAdoConnection& row) {
      customer_name = row.GetFieldText("PANAME");
      insurance_code = row.GetFieldText("INSCODE");
      customer_number = row.GetFieldText("PANUM");
      customer_seq = row.GetFieldInt("SEQ");
    });
    if (rc == kSqlOk) return true;
    if (rc == kSqlFailed) {
      LogFailure(header, 0, 2, sql);
      return false;
    }
  }
  // No customer, or none active under that code: the walk-in customer.
  customer_code = kWalkInCustomer;
  customer_name.clear();
  insurance_code = kWalkInCustomer;
  customer_number.clear();
  customer_seq = 0;
  return true;
}

bool CSalesChart::SetSalesChartSub(CAdoConnection& db, const CGoodsData& goods, size_t index) {
  const GoodsItem& item = goods.items().at(index);
  const std::string sql = FillSql(sql::kSelectNewestUnitByBarcode, {item.barcode});
  if (lines.size() <= index) lines.resize(index + 1);
  SaleLine& line = lines[index];
  const bool read = ReadOneRow(db, sql, [&line](CAdoConnection& row) {
                      line.drug_code = row.GetFieldText("DRUGCODE");
                      line.unit_code = row.GetFieldText("CD_CD_UNIT");
                      line.units_per_pack = row.GetFieldReal("CD_NM_UNIT");
                      line.purchase_price = row.GetFieldReal("CD_IN_UNIT");
                    }) == kSqlOk;
  if (!read) {
    LogFailure(LogHeader::Form3("CSalesChart::SetSalesChartSub", "", "", "iSaleSubIdx",
                                static_cast<int>(index)),
               0, 1, sql);
    return false;
  }
  line.quantity = item.quantity;
  line.unit_price = item.sale_price;
  line.amount = item.sale_price * item.quantity;
  line.line_number = static_cast<int>(index) + 1;
  line.barcode = item.barcode;
  sale_cost += line.purchase_price * line.quantity;
  return true;
}

bool CSalesChart::InsertSalesChartMain(CAdoConnection& db) const {
  const std::string sql =
      FillSql(sql::kInsertSaleMaster,
              {order_number, sale_date,      customer_code, customer_seq,  insurance_code,
               count_text,   customer_name,  credit_slip,   received_slip, total,
               discount,     sale,           credit,        credit_tax,    received,
               received_tax, discount_ratio, sale_cost,     day_serial,    customer_number});
  if (db.ExecuteSql(sql, false) == kSqlOk) return true;
  LogFailure(LogHeader::Form1("CSalesChart::InsertSalesChartMain"), 0, 1, sql);
  return false;
}

bool CSalesChart::InsertSalesChartSub(CAdoConnection& db, size_t index) const {
  const SaleLine& line = lines.at(index);
  const double tax = 0;
  const std::string sql =
      FillSql(sql::kInsertSaleLine,
              {order_number, line.drug_code, sale_date, customer_code, insurance_code,
               line.unit_code, line.units_per_pack, line.quantity, line.unit_price, line.unit_price,
               line.unit_price, line.amount, line.amount, line.amount, tax, line.purchase_price,
               line.line_number, line.barcode, line.purchase_price});
  if (db.ExecuteSql(sql, false) == kSqlOk) return true;
  LogFailure(LogHeader::Form3("CSalesChart::InsertSalesChartSub", "", "", "iSaleSubIdx",
                              static_cast<int>(index)),
             0, 1, sql);
  return false;
}

bool CSalesChart::UpdateStock(CAdoConnection& db, size_t index) const {
  const SaleLine& line = lines.at(index);
  auto fail = [index](int position, std::string_view sql) {
    LogFailure(
        LogHeader::Form3("CSalesChart::UpdateStock", "", "", "iGoodsIdx", static_cast<int>(index)),
        0, position, sql);
    return false;
  };
  // The movement in single units: negative for a sale, positive for a return.
  const double movement = 0 - line.units_per_pack * line.quantity;
  const double sold = movement < 0 ? -movement : 0;
  const double returned = movement >= 0 ? movement : 0;

  std::string sql = FillSql(sql::kInsertSaleStockMovement,
                            {order_number, line.drug_code, sale_date, returned, sold});
  if (db.ExecuteSql(sql, false) != kSqlOk) return fail(1, sql);

  sql = FillSql(sql::kSelectDayStockTotals, {line.drug_code, sale_date});
  double day_credit = 0;
  double day_debit = 0;
  int rc = ReadOneRow(db, sql, [&](CAdoConnection& row) {
    day_credit = row.GetFieldReal("IM_QT_SALE_CREDIT");
    day_debit = row.GetFieldReal("IM_QT_SALE_DEBIT");
  });
  if (rc == kSqlFailed) return fail(2, sql);
  sql = rc == kSqlOk
            ? FillSql(sql::kUpdateDayStockTotals,
                      {day_credit + sold, day_debit + returned, line.drug_code, sale_date})
            : FillSql(sql::kInsertDayStockTotals, {sale_date, line.drug_code, sold, returned});
  if (db.ExecuteSql(sql, false) != kSqlOk) return fail(3, sql);

  sql = FillSql(sql::kSelectStockOnHand, {line.drug_code});
  double on_hand = 0;
  rc = ReadOneRow(
      db, sql, [&on_hand](CAdoConnection& row) { on_hand = row.GetFieldReal("IM_QT_SALE_DEBIT"); });
  if (rc == kSqlFailed) return fail(4, sql);
  sql = rc == kSqlOk ? FillSql(sql::kUpdateStockOnHand, {on_hand + movement, line.drug_code})
                     : FillSql(sql::kInsertStockOnHand, {line.drug_code, movement});
  if (db.ExecuteSql(sql, false) != kSqlOk) return fail(5, sql);
  return true;
}

std::string CSalesChart::GetSerialCode(CAdoConnection& db) const {
  const LogHeader header = LogHeader::Form1("CSalesChart::GetSerialCode");
  std::string sql = FillSql(sql::kSelectDayCounter, {sale_date});
  int counter = 0;
  const int rc = ReadOneRow(
      db, sql, [&counter](CAdoConnection& row) { counter = row.GetFieldInt("CD_SE_SERIAL"); });
  if (rc == kSqlFailed) {
    LogFailure(header, 0, 1, sql);
    return {};
  }
  // The day's first number creates its counter row.
  const int next = rc == kSqlOk ? counter + 1 : 1;
  sql = rc == kSqlOk ? FillSql(sql::kUpdateDayCounter, {next, sale_date})
                     : FillSql(sql::kInsertDayCounter, {sale_date, next, OpenTime()});
  const std::optional<std::string> number = platform::ZeroPadded(next, kStatementNumberDigits);
  if (!number || db.ExecuteSql(sql, false) != kSqlOk) {
    LogFailure(header, 0, 2, sql);
    return {};
  }
  return *number;
}

bool CSalesChart::InsertStatement(CAdoConnection& db, int credit_flag,
                                  const std::string& number) const {
  const std::string sql = FillSql(sql::kInsertStatementHeader, {sale_date, number, kSaleSlipClass,
                                                                remark, received + received_tax});
  if (db.ExecuteSql(sql, false) == kSqlOk) return true;
  LogFailure(LogHeader::Form3("CSalesChart::InsertStatement", "strSerialCode", number, "bCredit",
                              credit_flag),
             0, 1, sql);
  return false;
}

bool CSalesChart::ManageStatement(CAdoConnection& db) {
  const LogHeader header = LogHeader::Form1("CSalesChart::ManageStatement");
  auto fail = [&header](int position, std::string_view note) {
    LogFailure(header, 0, position, note);
    return false;
  };
  CDatabaseUtil util(db);
  // A sale booked again under its order number replaces what was booked before.
  if (!util.DeleteStatement(
          {sale_date, "", std::string(kAutoMark), order_number, std::string(kAutoMarkKey)})) {
    return fail(1, "After dbUtil.DeleteStatement()");
  }
  if (received == 0) return true;
  received_slip = GetSerialCode(db);
  if (received_slip.empty()) return fail(5, "GetSerialCode()");
  if (!InsertStatement(db, 0, received_slip)) return fail(6, "InsertStatement()");

  StatementLine line;
  line[kSppDate] = sale_date;
  line[kSppSlip] = received_slip;
  line[kSppClass] = kSaleLineClass;
  line[kSppAccount] = kSalesAccount;
  line[kSppBuyCustom] = kSaleCustomerSelect;
  line[kSppCustomer] = customer_code;
  line[kSppRemark] = Cp949("일반매출");
  line[kSppAmount] = AmountText(received);
  line[kSppIsVat] = "0";
  line[kSppAuto] = kAutoMark;
  line[kSppSerial] = order_number;
  line[kSppFamily] = insurance_code;
  if (!util.InsertStatement(line)) return fail(7, "dbUtil.InsertStatement()");
  if (received_tax == 0) return true;
  line[kSppAccount] = kSalesTaxAccount;
  line[kSppAmount] = AmountText(received_tax);
  line[kSppIsVat] = "1";
  if (!util.InsertStatement(line)) return fail(8, "dbUtil.InsertStatement()");
  return true;
}

int SaveSale(std::string_view sale_text, std::string_view payment_text, int price_update,
             const CAdoConnection::Options& options) {
  ExportCall call(LogHeader::Form4("SaveSaleData", Cp949("판매정보"), sale_text, Cp949("결제정보"),
                                   CPaymentData::MaskedForLog(payment_text),
                                   Cp949("판매가/구입가업데이트"), price_update),
                  options);
  SaleText text;
  CGoodsData goods;
  if (!text.Parse(sale_text, &goods)) {
    return call.Fail(kDataError, 1, Cp949("판매정보 데이터구성오류"));
  }
  CPaymentData payment;
  if (!payment.Parse(payment_text)) {
    return call.Fail(kDataError, 2, Cp949("결제정보 데이터구성오류"));
  }
  if (!call.Open(3)) return kDbConnectFailed;
  CAdoConnection& db = call.db();

  // First phase, committed as it goes: the order number, the customer, the catalogue brought
  // up to date with the sold goods, and each line's package row.
  if (!payment.SetCustomerData(db)) return call.FailStep(4);
  CSalesChart chart;
  if (!chart.SetSalesChartMain(db, text, payment)) return call.FailStep(5);
  for (size_t i = 0; i < goods.items().size(); ++i) {
    const int index = static_cast<int>(i);
    const int found = goods.HasBarcodeInItemUnitMember(db, i, price_update);
    if (found == kLookUpFailed) return call.FailStep(6, index);
    if (found == kNotInCatalogue && !goods.InsertItemUnitMember(db, i)) {
      return call.FailStep(7, index);
    }
    if (!chart.SetSalesChartSub(db, goods, i)) return call.FailStep(8, index);
  }

  // Second phase, one transaction: the statement, the sale, its stock and its payment rows are
  // written together or not at all.
  db.Close();
  if (!call.Open(9, true)) return kDbConnectFailed;
  if (!chart.ManageStatement(db)) return call.FailStep(10);
  if (!chart.InsertSalesChartMain(db)) return call.FailStep(11);
  for (size_t j = 0; j < chart.lines.size(); ++j) {
    const int index = static_cast<int>(j);
    if (!chart.InsertSalesChartSub(db, j)) return call.FailStep(12, index);
    if (!chart.UpdateStock(db, j)) return call.FailStep(13, index);
  }
  CTransRecord row;
  row.SetTransRecord(payment, chart.Key());
  if (!row.UpdateTransRecord(db)) return call.FailStep(14);
  for (size_t k = 0; k < payment.m_pstCustomerData.size(); ++k) {
    row.SetPrescriptionRow(payment.m_pstCustomerData[k]);
    if (!row.UpdateTransRecord(db)) return call.FailStep(15, static_cast<int>(k));
    if (k == 0 && !row.UpdateCashTrack2(db)) return call.FailStep(16);
  }
  return call.Finish();
}

}  // namespace retalo

extern "C" int SaveSaleData(const char* sale, const char* payment, int price_update) {
  return retalo::SaveSale(sale != nullptr ? sale : "", payment != nullptr ? payment : "",
                          price_update, retalo::CAdoConnection::Options{});
}
