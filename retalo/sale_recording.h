// An over-the-counter sale made at the card terminal, recorded in the pharmacy database: the
// sale header (PM_PRES..SALE_MAIN) and its lines (SALE_SUB), the stock movement of every line
// (PM_DRUG..IM_POSITION, IM_DATE_TOTAL, IM_TOTAL), the sale's accounting statement and the
// payment rows. The export itself, SaveSaleData, is declared in ordella_retalo.h.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "retalo/db/ado_connection.h"
#include "retalo/goods_catalogue.h"
#include "retalo/payment_record.h"

namespace retalo {

// The sale text's header: count text, customer code, received amount, received tax, discount;
// the goods list (count, then five fields per item) follows.
struct SaleText {
  static constexpr size_t kHeaderFields = 5;

  // False when the text is empty, the header or the goods count is missing, the count is
  // larger than the items present, or an amount is not a number.
  bool Parse(std::string_view text, CGoodsData* goods);

  std::string count_text;
  std::string customer_code;
  double received = 0;
  double received_tax = 0;
  double discount = 0;
};

// One line of a sale (SALE_SUB).
struct SaleLine {
  std::string drug_code;
  std::string unit_code;
  double quantity = 0;
  double units_per_pack = 0;
  double unit_price = 0;  // the goods' sale price: cost columns A, B and R
  double amount = 0;      // unit price x quantity: amount columns A, B and R
  double purchase_price = 0;
  int line_number = 0;
  std::string barcode;
};

// The header of one sale and its lines.
class CSalesChart {
 public:
  // The header from the sale text and the payment: customer (from CD_PERSON, or the
  // walk-in customer), date, amounts and discount ratio, and a new order number.
  bool SetSalesChartMain(CAdoConnection& db, const SaleText& sale, const CPaymentData& payment);
  // Line `index` from the newest package row of goods item `index`'s (stored) barcode; adds
  // the line's purchase cost to the sale.
  bool SetSalesChartSub(CAdoConnection& db, const CGoodsData& goods, size_t index);

  bool InsertSalesChartMain(CAdoConnection& db) const;
  bool InsertSalesChartSub(CAdoConnection& db, size_t index) const;
  // The stock movement of line `index`: a sale lowers the stock on hand, a return raises it.
  bool UpdateStock(CAdoConnection& db, size_t index) const;

  // The sale's statement: earlier automatic lines of its order number reversed, then a header
  // and the credit lines of the sale ("4101") and its tax ("2161").
  bool ManageStatement(CAdoConnection& db);
  // The next statement number of the sale's day, six digits; empty on failure.
  std::string GetSerialCode(CAdoConnection& db) const;
  bool InsertStatement(CAdoConnection& db, int credit, const std::string& number) const;

  SaleKey Key() const { return {customer_code, sale_date, order_number, day_serial, lines.size()}; }

  std::string order_number;
  std::string sale_date;
  int day_serial = 0;
  int customer_seq = 0;
  std::string customer_code;
  std::string customer_name;
  std::string insurance_code;
  std::string count_text;
  std::string remark;
  double total = 0;
  double sale = 0;
  double sale_cost = 0;
  double discount = 0;
  double discount_ratio = 0;
  double credit = 0;
  double credit_tax = 0;
  double received = 0;
  double received_tax = 0;
  std::string credit_slip;
  std::string received_slip;
  std::string customer_number;
  std::vector<SaleLine> lines;
};

// SaveSaleData over connections made with `options` (tests put a failing backend there).
int SaveSale(std::string_view sale_text, std::string_view payment_text, int price_update,
             const CAdoConnection::Options& options);

}  // namespace retalo
