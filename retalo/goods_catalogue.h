// The goods catalogue of the pharmacy database as the terminal's sales see it: a scanned
// barcode is found among the package rows (PM_DRUG..CD_ITEM_UNIT_MEMBER) of the goods
// (PM_DRUG..CD_GOODS); a barcode that is missing is registered, from the national barcode table
// (PM_DRUG..CD_BARCODE) when it is there and otherwise as an unnamed product; changed sale and
// purchase prices are kept in a package row dated with the day of the change.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "retalo/database_util.h"
#include "retalo/db/ado_connection.h"
#include "retalo/db/log_writer.h"

namespace retalo {

// Barcodes longer than this are refused.
inline constexpr size_t kMaxBarcodeLength = 128;

// A scanned barcode brought to the form the catalogue is searched with. Korean article numbers
// (GS1 prefix "880") are cut out of longer scans and matched at the end of the stored barcode
// (LIKE '%%<barcode>'); anything else is matched exactly. An article number holding a LIKE
// wildcard (%, _ or [) is refused rather than escaped: the texts are sent verbatim, without an
// ESCAPE clause, a real article number is digits only, and "880%" would otherwise find the first
// barcode containing 880 and let a goods list update that product's prices.
struct BarcodeMatch {
  static constexpr int kEmpty = -1;
  static constexpr int kTooLong = -2;
  static constexpr int kWildcard = -3;  // an article number with a LIKE wildcard
  static constexpr int kExact = 0;      // no "880": the barcode as scanned
  static constexpr int kArticle = 1;    // the article number from its "880"

  int result = kEmpty;
  std::string barcode;  // what the look-ups compare with; empty when invalid

  bool valid() const { return result >= 0; }
  // The operator and the literal prefix of "CD_CD_BARCODE %s '%s%s'".
  std::string_view op() const { return result == kArticle ? "LIKE" : "="; }
  std::string_view prefix() const { return result == kArticle ? "%%" : ""; }
};

// `barcode`, trimmed, normalised: longer than 15 characters with "880" at position 3: the 13
// characters from there (a GS1 code); else from the first "880" at positions 0 to 3 to the end,
// only its first 13 characters when that is 21 or longer; else the barcode unchanged. Refused
// (kWildcard) when the article number so found holds a LIKE wildcard.
BarcodeMatch NormalizeBarcode(std::string_view barcode);

// The look-up's SQL text for a valid match (sql::kSelectBarcodeAnswer filled).
std::string BarcodeAnswerSql(const BarcodeMatch& match);

// The catalogue's answer for a barcode: the goods and their newest package row when the
// pharmacy has them, else the national table's entry with zero prices and stock. Columns
// BARCODE, ETCNAME, SPLNAME, PAKUNIT, PACK, CD_MY_UNIT, CD_IN_UNIT, IM_QT_SALE_DEBIT.
// REQUIRES: match.valid(). Returns ExecuteSql's outcome (rows wanted); *sql receives the text,
// BarcodeAnswerSql's.
int LookUpBarcode(CAdoConnection& db, const BarcodeMatch& match, std::string* sql);

// "ZP%08d": the next code of the products the pharmacy registered itself. False on failure.
bool NewDrugCode(CAdoConnection& db, std::string* code);
// "%05d": the next maker code of the 5xxxx range, "50001" for the first. False on failure.
bool NewMakerCode(CAdoConnection& db, std::string* code);

// One goods item of a goods list: five parameter fields.
struct GoodsItem {
  std::string barcode;  // as scanned; the catalogue's stored barcode once it is found
  double sale_price = 0;
  double purchase_price = 0;
  double quantity = 0;  // packages sold, negative for a return
  std::string flags;    // two characters; "U" first: store the sale price, second: purchase

  bool StoreSalePrice() const { return flags[0] == 'U'; }
  bool StorePurchasePrice() const { return flags[1] == 'U'; }
};

// Look-up results of HasBarcodeInItemUnitMember.
inline constexpr int kInCatalogue = 0;
inline constexpr int kNotInCatalogue = -2;
inline constexpr int kLookUpFailed = -1;

// A goods list with prices, as the terminal's sales carry it: a count, then the items.
class CGoodsData {
 public:
  static constexpr size_t kFieldsPerItem = 5;

  explicit CGoodsData(TodaySource today = TodayText) : today_(std::move(today)) {}

  // Reads the count at fields[first] and the items after it. False when the count is negative,
  // fewer fields follow than its items need (fields after them are not looked at) or a barcode
  // is refused for a LIKE wildcard.
  bool Parse(const std::vector<std::string>& fields, size_t first = 0);

  std::vector<GoodsItem>& items() { return items_; }
  const std::vector<GoodsItem>& items() const { return items_; }

  // Finds item `index` among the package rows (the newest row of its barcode) and takes its
  // stored barcode. With `price_update` 1 and a price flag set, the changed prices go into the
  // row of today's date (updated, or added on the first change of the day).
  // Returns kInCatalogue, kNotInCatalogue or kLookUpFailed.
  int HasBarcodeInItemUnitMember(CAdoConnection& db, size_t index, int price_update);
  // Registers item `index` with its prices. False on failure (logged).
  bool InsertItemUnitMember(CAdoConnection& db, size_t index);

 private:
  TodaySource today_;
  std::vector<GoodsItem> items_;
};

// A new item without prices: barcode, product name and maker name, as the gateway server
// names an article the pharmacy does not know yet.
struct NewItem {
  std::string barcode;
  std::string product_name;
  std::string maker_name;
};

class CItemData {
 public:
  explicit CItemData(TodaySource today = TodayText) : today_(std::move(today)) {}

  // The "‡"-separated new item text: barcode, product name, maker name, each trimmed. False
  // when the text is empty, has fewer than three fields or its barcode is refused for a LIKE
  // wildcard.
  bool Parse(std::string_view text);
  // An item known by its barcode alone.
  void SetBarcode(std::string_view barcode) { item_.barcode = TrimText(barcode); }

  const NewItem& item() const { return item_; }
  // The drug code of the package row last found (empty before, or when none was).
  const std::string& drug_code() const { return drug_code_; }

  // As CGoodsData's, without prices. Returns kInCatalogue, kNotInCatalogue or kLookUpFailed.
  int HasBarcodeInItemUnitMember(CAdoConnection& db);
  // The same, giving the package row's drug code in *drug_code (empty when none was found);
  // a failed query's record shows the drug code it was called with.
  int HasBarcodeInItemUnitMember(CAdoConnection& db, std::string* drug_code);
  // Registers the item with zero prices. False on failure (logged).
  bool InsertItemUnitMember(CAdoConnection& db);

 private:
  int FindMember(CAdoConnection& db, const LogHeader& header);

  TodaySource today_;
  NewItem item_;
  std::string drug_code_;
};

}  // namespace retalo
