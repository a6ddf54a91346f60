// The point-of-sale relay's goods requests: the barcode look-up that answers the terminal with
// an item packet, creating goods the pharmacy database lacks from the gateway server's
// catalogue (705-707), and the sale of one scanned item (715-717). Also the texts every relay
// handler shares: the terminal item record and the "‡"-joined parameter texts of the database
// writer.
#pragma once

#include <string>
#include <string_view>

#include "helvar/request.h"

namespace helvar {

class CWorkContext;

// "‡" in CP949: the field separator of every text handed to the database writer.
inline constexpr std::string_view kParamSep = "\xA2\xD4";

// The database writer's results the handlers act on.
inline constexpr int kRetaloOk = 1;
inline constexpr int kRetaloUnreachable = -1001;

// A handler's result from the last database call: a retry when the database was unreachable.
int HandlerResultOf(int retalo_result);

// `text` without its leading "0" characters (an all-zero text becomes empty).
std::string_view ZeroStripped(std::string_view text);

// The terminal item record: 54 characters of fixed fields, then up to four flag characters.
// A record shorter than its fields reads the missing characters as absent (empty).
struct TerminalItem {
  std::string barcode;         // 0-29 without its "F" fill
  std::string sale_price;      // 30-37, zero-stripped
  std::string quantity;        // 38-41, zero-stripped
  std::string counted;         // 42-45, zero-stripped
  std::string purchase_price;  // 46-53, zero-stripped
  std::string price_flags;     // characters 54 and 57 (sale and purchase price), as present
  bool revise_stock = false;   // character 56 is "U"
};
TerminalItem ReadTerminalItem(std::string_view record);

// True when the counter's customer display is switched on ("pharmscreen" 1).
bool CustomerDisplayOn();

// The 81-byte item packet the terminal expects in answer to a look-up.
struct ItemPacketFields {
  std::string barcode;
  std::string sale_price;      // decimal digits
  std::string purchase_price;  // decimal digits
  std::string stock;           // decimal digits
  std::string product_line;    // already cut to one display line
  std::string maker_line;
};
std::string BuildItemPacket(const ItemPacketFields& fields);

// Codes 705-707: the item packet of the barcode in the request data, always answered.
int LookUpItem(CWorkContext& context, const Request& request);

// Codes 715-717: one scanned item sold (goods updated, stock revised when flagged).
int SellScannedItem(CWorkContext& context, const Request& request);

}  // namespace helvar
