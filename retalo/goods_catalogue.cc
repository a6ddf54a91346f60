#include "retalo/goods_catalogue.h"

#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/text.h"
#include "retalo/db/export_frame.h"
#include "retalo/db/log_writer.h"
#include "retalo/db/sql_fill.h"
#include "retalo/db/sql_texts.h"
#include "retalo/ordella_retalo.h"

namespace retalo {
namespace {

constexpr std::string_view kArticlePrefix = "880";
constexpr size_t kArticleLength = 13;  // a Korean article number
constexpr size_t kGs1MinLength = 16;   // a GS1 code carries the article at position 3
constexpr size_t kGs1ArticlePosition = 3;
constexpr size_t kLastArticleStart = 3;  // "880" is looked for at positions 0 to 3
constexpr size_t kLongTailLength = 21;   // from here on only the article itself is kept
constexpr std::string_view kFirstMakerCode = "50001";
constexpr int kDrugNumberDigits = 8;  // "ZP" + eight digits
constexpr int kMakerCodeDigits = 5;

// The newest package row of a barcode, as far as the look-ups use it.
struct MemberRow {
  std::string drug_code;
  std::string unit_code;
  std::string units_per_pack;  // CD_NM_UNIT as the row holds it, written back unquoted
  std::string barcode;
  double sale_price = 0;
  double purchase_price = 0;
  double quantity = 0;
};

// Finds the newest package row of `barcode` and reads it into *row. Failures are logged under
// `header` (a query that fails: position 1 with its text; nothing for an invalid barcode).
int FindNewestMember(CAdoConnection& db, std::string_view barcode, const LogHeader& header,
                     MemberRow* row) {
  const BarcodeMatch match = NormalizeBarcode(barcode);
  if (!match.valid()) return kLookUpFailed;
  const std::string sql =
      FillSql(sql::kSelectNewestUnitMemberRow, {match.op(), match.prefix(), match.barcode});
  const int rc = db.ExecuteSql(sql, true);
  if (rc == kSqlNoRows) return kNotInCatalogue;
  db.ClearFieldError();
  if (rc == kSqlOk) {
    row->drug_code = db.GetFieldText("DRUGCODE");
    row->unit_code = db.GetFieldText("CD_CD_UNIT");
    row->units_per_pack = db.GetFieldText("CD_NM_UNIT");
    row->barcode = db.GetFieldText("CD_CD_BARCODE");
    row->sale_price = db.GetFieldReal("CD_MY_UNIT");
    row->purchase_price = db.GetFieldReal("CD_IN_UNIT");
    row->quantity = db.GetFieldReal("CD_CD_QUAN");
    db.CloseRecordset();
  }
  if (rc != kSqlOk || db.field_error()) {
    LogFailure(header, 0, 1, sql);
    return kLookUpFailed;
  }
  return kInCatalogue;
}

std::string NewDrugCodeSql() { return FillSql(sql::kSelectHighestNewDrugNumber, {}); }
std::string NewMakerCodeSql() { return FillSql(sql::kSelectNextMakerCode, {}); }

// What registering a barcode that the catalogue lacks needs to know of the item.
struct Registration {
  std::string_view log_name;
  std::string* barcode;  // the item's barcode; replaced by the national table's
  bool priced;           // goods lists carry prices, new items do not (zero is written)
  double sale_price;
  double purchase_price;
  std::string_view product_name;  // of an item unknown to the national table (no prices)
  std::string_view maker_name;
  std::string today;
};

// The national table's entry of a barcode.
struct NationalEntry {
  std::string units_per_pack;  // PAKUNIT
  std::string maker_name;      // SPLNAME
  std::string product_name;    // ETCNAME
  std::string title_code;      // TITLECODE
  std::string unit_name;       // UNITNAME
};

class Registrar {
 public:
  Registrar(CAdoConnection& db, Registration r) : db_(db), r_(std::move(r)) {}

  bool Run() {
    const BarcodeMatch match = NormalizeBarcode(*r_.barcode);
    if (!match.valid()) return Fail(1, Cp949("바코드형식 오류"));
    std::string sql = FillSql(sql::kSelectNationalBarcode, {*r_.barcode, match.barcode});
    const int rc = db_.ExecuteSql(sql, true);
    if (rc == kSqlFailed) return Fail(2, sql);
    if (rc == kSqlNoRows) return RegisterUnnamed();
    db_.ClearFieldError();
    NationalEntry entry;
    const std::string national_barcode = db_.GetFieldText("BARCODE");
    entry.units_per_pack = db_.GetFieldText("PAKUNIT");
    entry.maker_name = db_.GetFieldText("SPLNAME");
    entry.product_name = db_.GetFieldText("ETCNAME");
    entry.title_code = db_.GetFieldText("TITLECODE");
    entry.unit_name = db_.GetFieldText("UNITNAME");
    db_.CloseRecordset();
    if (db_.field_error()) return Fail(2, sql);
    *r_.barcode = national_barcode;
    return RegisterNational(entry);
  }

 private:
  bool Fail(int position, std::string_view description) {
    LogFailure(LogHeader::Form1(r_.log_name), 0, position, description);
    return false;
  }
  bool Execute(int position, const std::string& sql) {
    return db_.ExecuteSql(sql, false) == kSqlOk || Fail(position, sql);
  }

  // A barcode of the national table: the goods (found by barcode or added, with their maker)
  // and a package row.
  bool RegisterNational(const NationalEntry& entry) {
    const std::string unit_code = CDatabaseUtil(db_).GetItemUnitCode(entry.unit_name);
    std::string maker_code(kFirstMakerCode);
    std::string drug_code;
    std::string sql = FillSql(sql::kSelectGoodsByBarcode, {*r_.barcode});
    bool found = false;
    if (!ReadFirstField(db_, sql, "DRUGCODE", &drug_code, &found)) return Fail(3, sql);
    if (!found) {
      if (!NewDrugCode(db_, &drug_code)) return Fail(4, NewDrugCodeSql());
      sql = FillSql(sql::kSelectMakerByName, {entry.maker_name});
      if (!ReadFirstField(db_, sql, "SPLCODE", &maker_code, &found)) return Fail(5, sql);
      if (!found) {
        if (!NewMakerCode(db_, &maker_code)) return Fail(6, NewMakerCodeSql());
        if (!Execute(7, FillSql(sql::kInsertMaker, {maker_code, entry.maker_name}))) return false;
      }
      const std::string goods =
          r_.priced ? FillSql(sql::kInsertPricedGoods,
                              {entry.product_name, entry.title_code, drug_code, maker_code,
                               r_.sale_price, r_.sale_price, entry.maker_name, entry.title_code})
                    : FillSql(sql::kInsertGoods, {entry.product_name, entry.title_code, drug_code,
                                                  maker_code, entry.maker_name, entry.title_code});
      if (!Execute(8, goods)) return false;
      if (!Execute(9, FillSql(sql::kInsertStockRowIfMissing, {drug_code, drug_code}))) {
        return false;
      }
    }
    const std::string units = entry.units_per_pack.empty() ? "0" : entry.units_per_pack;
    const std::string member =
        r_.priced
            ? FillSql(sql::kInsertPricedUnitMember,
                      {drug_code, unit_code, r_.sale_price, r_.purchase_price, *r_.barcode,
                       r_.today, units})
            : FillSql(sql::kInsertUnitMember, {drug_code, unit_code, *r_.barcode, r_.today, units});
    return Execute(10, member);
  }

  // A barcode nobody knows: an unnamed product with one package row.
  bool RegisterUnnamed() {
    std::string drug_code;
    if (!NewDrugCode(db_, &drug_code)) return Fail(11, NewDrugCodeSql());
    const std::string unnamed = Cp949("제품명_미등록");
    const std::string goods =
        r_.priced
            ? FillSql(sql::kInsertUnnamedPricedGoods, {drug_code, r_.sale_price, r_.sale_price})
            : FillSql(sql::kInsertUnnamedGoods,
                      {r_.product_name.empty() ? std::string_view(unnamed) : r_.product_name,
                       drug_code, r_.maker_name});
    if (!Execute(12, goods)) return false;
    if (!Execute(13, FillSql(sql::kInsertStockRowIfMissing, {drug_code, drug_code}))) return false;
    const std::string unit_code = CDatabaseUtil(db_).GetItemUnitCode("");
    const std::string member =
        r_.priced
            ? FillSql(
                  sql::kInsertUnnamedPricedUnitMember,
                  {drug_code, unit_code, r_.sale_price, r_.purchase_price, *r_.barcode, r_.today})
            : FillSql(sql::kInsertUnnamedUnitMember, {drug_code, unit_code, *r_.barcode, r_.today});
    return Execute(14, member);
  }

  CAdoConnection& db_;
  Registration r_;
};

// An article number is matched at the end of the stored barcode with LIKE, where its own
// wildcards would widen the match.
BarcodeMatch ArticleMatch(std::string article) {
  BarcodeMatch match;
  if (HasLikeWildcard(article)) {
    match.result = BarcodeMatch::kWildcard;
    return match;
  }
  match.result = BarcodeMatch::kArticle;
  match.barcode = std::move(article);
  return match;
}

}  // namespace

BarcodeMatch NormalizeBarcode(std::string_view barcode) {
  BarcodeMatch match;
  const std::string text = TrimText(barcode);
  if (text.empty()) return match;
  if (text.size() > kMaxBarcodeLength) {
    match.result = BarcodeMatch::kTooLong;
    return match;
  }
  if (text.size() >= kGs1MinLength &&
      text.compare(kGs1ArticlePosition, kArticlePrefix.size(), kArticlePrefix) == 0) {
    return ArticleMatch(text.substr(kGs1ArticlePosition, kArticleLength));
  }
  for (size_t at = 0; at <= kLastArticleStart && at < text.size(); ++at) {
    if (text.compare(at, kArticlePrefix.size(), kArticlePrefix) != 0) continue;
    std::string article = text.substr(at);
    if (article.size() >= kLongTailLength) article.resize(kArticleLength);
    return ArticleMatch(std::move(article));
  }
  match.result = BarcodeMatch::kExact;
  match.barcode = text;
  return match;
}

std::string BarcodeAnswerSql(const BarcodeMatch& match) {
  const SqlArg op(match.op());
  const SqlArg prefix(match.prefix());
  const SqlArg barcode(match.barcode);
  return FillSql(sql::kSelectBarcodeAnswer,
                 {op, prefix, barcode, op, prefix, barcode, op, prefix, barcode});
}

int LookUpBarcode(CAdoConnection& db, const BarcodeMatch& match, std::string* sql) {
  *sql = BarcodeAnswerSql(match);
  return db.ExecuteSql(*sql, true);
}

bool NewDrugCode(CAdoConnection& db, std::string* code) {
  std::string highest;
  bool has_row = false;
  if (!ReadFirstField(db, NewDrugCodeSql(), "DRUGCODE", &highest, &has_row) || !has_row) {
    return false;
  }
  // The code has room for eight digits.
  const long long next = std::atoll(highest.c_str()) + 1;
  const std::optional<std::string> number = platform::ZeroPadded(next, kDrugNumberDigits);
  if (next < 1 || !number) return false;
  *code = "ZP" + *number;
  return true;
}

bool NewMakerCode(CAdoConnection& db, std::string* code) {
  std::string next;
  bool has_row = false;
  if (!ReadFirstField(db, NewMakerCodeSql(), "SPLCODE", &next, &has_row)) {
    return false;
  }
  const int number = has_row ? std::atoi(next.c_str()) : 0;
  if (number == 0) {
    *code = kFirstMakerCode;
    return true;
  }
  const std::optional<std::string> padded = platform::ZeroPadded(number, kMakerCodeDigits);
  if (number < 0 || !padded) return false;
  *code = *padded;
  return true;
}

bool CGoodsData::Parse(const std::vector<std::string>& fields, size_t first) {
  items_.clear();
  if (first >= fields.size()) return false;
  const int count = std::atoi(fields[first].c_str());
  if (count < 0) return false;
  const size_t needed = static_cast<size_t>(count) * kFieldsPerItem;
  if (fields.size() - first - 1 < needed) return false;
  items_.reserve(static_cast<size_t>(count));
  for (size_t at = first + 1; items_.size() < static_cast<size_t>(count); at += kFieldsPerItem) {
    GoodsItem item;
    item.barcode = TrimText(fields[at]);
    if (NormalizeBarcode(item.barcode).result == BarcodeMatch::kWildcard) return false;
    item.sale_price = std::atof(fields[at + 1].c_str());
    item.purchase_price = std::atof(fields[at + 2].c_str());
    item.quantity = std::atof(fields[at + 3].c_str());
    item.flags = TrimText(fields[at + 4]).substr(0, 2);
    item.flags.resize(2, 'D');
    items_.push_back(std::move(item));
  }
  return true;
}

int CGoodsData::HasBarcodeInItemUnitMember(CAdoConnection& db, size_t index, int price_update) {
  if (index >= items_.size()) return kLookUpFailed;
  GoodsItem& item = items_[index];
  MemberRow row;
  const int found = FindNewestMember(
      db, item.barcode, LogHeader::Form1("CGoodsData::HasBarcodeInItemUnitMember"), &row);
  if (found != kInCatalogue) return found;
  item.barcode = row.barcode;
  if (price_update != 1 || !(item.StoreSalePrice() || item.StorePurchasePrice())) {
    return kInCatalogue;
  }
  const double sale = item.StoreSalePrice() ? item.sale_price : row.sale_price;
  const double purchase = item.StorePurchasePrice() ? item.purchase_price : row.purchase_price;
  const std::string today = today_();
  // CD_NM_UNIT stands unquoted in the new row; a row without it keeps it NULL.
  const std::string units = row.units_per_pack.empty() ? "NULL" : row.units_per_pack;
  const std::string sql =
      FillSql(sql::kUpsertDatedUnitPrices,
              {row.drug_code, today, sale, purchase, row.drug_code, today, row.drug_code,
               row.unit_code, units, sale, purchase, row.barcode, today, row.quantity});
  if (db.ExecuteSql(sql, false) != kSqlOk) {
    LogFailure(LogHeader::Form1("CGoodsData::HasBarcodeInItemUnitMember"), 0, 2, sql);
    return kLookUpFailed;
  }
  return kInCatalogue;
}

bool CGoodsData::InsertItemUnitMember(CAdoConnection& db, size_t index) {
  if (index >= items_.size()) return false;
  GoodsItem& item = items_[index];
  return Registrar(db, {"CGoodsData::InsertItemUnitMember",
                        &item.barcode,
                        true,
                        item.sale_price,
                        item.purchase_price,
                        {},
                        {},
                        today_()})
      .Run();
}

bool CItemData::Parse(std::string_view text) {
  if (text.empty()) return false;
  const std::vector<std::string> fields = SplitParams(text);
  if (fields.size() < 3) return false;
  item_.barcode = TrimText(fields[0]);
  if (NormalizeBarcode(item_.barcode).result == BarcodeMatch::kWildcard) return false;
  item_.product_name = TrimText(fields[1]);
  item_.maker_name = TrimText(fields[2]);
  return true;
}

int CItemData::HasBarcodeInItemUnitMember(CAdoConnection& db) {
  return FindMember(db, LogHeader::Form1("CItemData::HasBarcodeInItemUnitMember"));
}

int CItemData::HasBarcodeInItemUnitMember(CAdoConnection& db, std::string* drug_code) {
  const int found = FindMember(db, LogHeader::Form2("CItemData::HasBarcodeInItemUnitMember",
                                                    "strDrugcode", *drug_code));
  *drug_code = drug_code_;
  return found;
}

int CItemData::FindMember(CAdoConnection& db, const LogHeader& header) {
  drug_code_.clear();
  MemberRow row;
  const int found = FindNewestMember(db, item_.barcode, header, &row);
  if (found != kInCatalogue) return found;
  item_.barcode = row.barcode;
  drug_code_ = row.drug_code;
  return kInCatalogue;
}

bool CItemData::InsertItemUnitMember(CAdoConnection& db) {
  return Registrar(db, {"CItemData::InsertItemUnitMember", &item_.barcode, false, 0, 0,
                        item_.product_name, item_.maker_name, today_()})
      .Run();
}

namespace {

constexpr std::string_view kAnswerFields[] = {
    "BARCODE", "ETCNAME",    "SPLNAME",    "PAKUNIT",
    "PACK",    "CD_MY_UNIT", "CD_IN_UNIT", "IM_QT_SALE_DEBIT"};

std::string TextOf(const char* text) { return text != nullptr ? text : ""; }

}  // namespace
}  // namespace retalo

using retalo::Cp949;
using retalo::ExportCall;
using retalo::LogHeader;

extern "C" int HasBarcode(const char* barcode, char* answer, int answer_size) {
  const std::string text = retalo::TextOf(barcode);
  ExportCall call(LogHeader::Form2("HasBarcode", Cp949("바코드"), text));
  if (text.empty()) return call.Fail(retalo::kDataError, 1, Cp949("바코드번호 오류"));
  if (!call.Open(2)) return retalo::kDbConnectFailed;
  const retalo::BarcodeMatch match = retalo::NormalizeBarcode(text);
  if (!match.valid()) return call.Fail(retalo::kDataError, 3, Cp949("바코드번호 오류"));
  std::string sql;
  const int rc = retalo::LookUpBarcode(call.db(), match, &sql);
  if (rc == retalo::kSqlFailed) return call.FailStep(4);
  if (rc == retalo::kSqlNoRows) return call.Finish(0);
  call.db().ClearFieldError();
  std::string reply;
  for (std::string_view field : retalo::kAnswerFields) {
    if (!reply.empty()) reply += '|';
    reply += call.db().GetFieldText(field);
  }
  call.db().CloseRecordset();
  if (call.db().field_error()) return call.FailStep(4);
  if (!retalo::WriteAnswer(reply, answer, answer_size)) {
    return call.Fail(retalo::kDataError, 5, Cp949("응답버퍼 크기 부족"));
  }
  return call.Finish(1);
}

extern "C" int SaveNewItem(const char* item) {
  const std::string text = retalo::TextOf(item);
  ExportCall call(LogHeader::Form2("SaveNewItem", Cp949("상품정보"), text));
  retalo::CItemData data;
  if (!data.Parse(text)) return call.Fail(retalo::kDataError, 1, Cp949("상품정보 데이터구성오류"));
  if (!call.Open(2)) return retalo::kDbConnectFailed;
  switch (data.HasBarcodeInItemUnitMember(call.db())) {
    case retalo::kInCatalogue:
      return call.Finish();
    case retalo::kNotInCatalogue:
      if (!data.InsertItemUnitMember(call.db())) return call.FailStep(4);
      return call.Finish();
    default:
      return call.FailStep(3);
  }
}

extern "C" int SaveGoods(const char* goods, int price_update) {
  const std::string text = retalo::TextOf(goods);
  ExportCall call(LogHeader::Form3("SaveGoods", Cp949("상품정보"), text,
                                   Cp949("판매가/구입가업데이트"), price_update));
  retalo::CGoodsData data;
  if (text.empty() || !data.Parse(retalo::SplitParams(text))) {
    return call.Fail(retalo::kDataError, 1, Cp949("상품정보 데이터구성오류"));
  }
  if (data.items().empty()) return call.Finish();
  if (!call.Open(2)) return retalo::kDbConnectFailed;
  for (size_t i = 0; i < data.items().size(); ++i) {
    const int index = static_cast<int>(i);
    const int found = data.HasBarcodeInItemUnitMember(call.db(), i, price_update);
    if (found == retalo::kLookUpFailed) return call.FailStep(3, index);
    if (found == retalo::kNotInCatalogue && !data.InsertItemUnitMember(call.db(), i)) {
      return call.FailStep(4, index);
    }
  }
  return call.Finish();
}
