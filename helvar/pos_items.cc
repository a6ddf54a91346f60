#include "helvar/pos_items.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "companions/util/ordella_util.h"
#include "helvar/gateway_lookup.h"
#include "helvar/helvar_log.h"
#include "helvar/reply_writer.h"
#include "helvar/work_context.h"
#include "protocol/frame.h"
#include "retalo/ordella_retalo.h"

namespace helvar {
namespace {

// The terminal item record's fields.
constexpr size_t kBarcodeWidth = 30;
constexpr size_t kSalePriceAt = 30, kPriceWidth = 8;
constexpr size_t kQuantityAt = 38, kCountedAt = 42, kQuantityWidth = 4;
constexpr size_t kPurchasePriceAt = 46;
constexpr size_t kSalePriceFlagAt = 54, kStockFlagAt = 56, kPurchasePriceFlagAt = 57;

// The item packet.
constexpr std::string_view kPacketTag = "BDBI01";
constexpr std::string_view kPacketLength = "00060";  // what the terminal expects, not a count
constexpr size_t kLineWidth = 20;
constexpr size_t kStockDigits = 4;
constexpr size_t kCatalogueAnswerRoom = 8192;

// HasBarcode's answer fields.
constexpr size_t kNameField = 1, kMakerField = 2, kSalePriceField = 5, kPurchasePriceField = 6,
                 kStockField = 7;

std::string_view Part(std::string_view text, size_t at, size_t width) {
  return at < text.size() ? text.substr(at, width) : std::string_view();
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return 0;
}

// `text` right-aligned in `width` characters filled with `fill` (a longer text keeps its last
// characters), packed two hexadecimal digits to a byte.
std::string Packed(std::string_view text, size_t width, char fill) {
  if (text.size() > width) text = text.substr(text.size() - width);
  const std::string aligned = std::string(width - text.size(), fill) + std::string(text);
  std::string packed;
  for (size_t i = 0; i + 1 < aligned.size(); i += 2) {
    packed.push_back(static_cast<char>(HexValue(aligned[i]) << 4 | HexValue(aligned[i + 1])));
  }
  return packed;
}

// The first display line of at most 20 bytes of `text`, padded with spaces to 20.
std::string DisplayLine(const std::string& text) {
  std::array<char, kLineWidth + 1> line{};
  UtilNextLine(static_cast<int>(kLineWidth), text.c_str(), line.data());
  std::string padded(line.data());
  padded.resize(kLineWidth, ' ');
  return padded;
}

// The maker line of an item the gateway server knows: its maker, or "기타" without one.
std::string MakerLine(const std::string& maker) {
  return DisplayLine(maker.empty() ? Cp949("기타") : maker);
}

// Registers an item the gateway server knows: "barcode‡product‡maker line‡".
int SaveGatewayItem(const std::string& barcode, const GatewayItem& item) {
  const std::string text = barcode + std::string(kParamSep) + item.product +
                           std::string(kParamSep) + MakerLine(item.maker) + std::string(kParamSep);
  return SaveNewItem(text.c_str());
}


// HasBarcode with its 8,192-byte answer buffer; the answer text in *answer when found.
int LookUpCatalogue(const std::string& barcode, std::string* answer) {
  answer->assign(kCatalogueAnswerRoom, '\0');
  const int found = HasBarcode(barcode.c_str(), answer->data(), static_cast<int>(answer->size()));
  answer->resize(found > 0 ? strnlen(answer->data(), answer->size()) : 0);
  return found;
}

ItemPacketFields UnregisteredItem(const std::string& barcode) {
  const std::string unregistered = DisplayLine(Cp949("제품명_미등록"));
  return {barcode, "0", "0", "0", unregistered, unregistered};
}

}  // namespace

int HandlerResultOf(int retalo_result) {
  return retalo_result == kRetaloUnreachable ? kHandlerRetry : kHandlerDone;
}

std::string_view ZeroStripped(std::string_view text) {
  const size_t first = text.find_first_not_of('0');
  return first == std::string_view::npos ? std::string_view() : text.substr(first);
}

TerminalItem ReadTerminalItem(std::string_view record) {
  TerminalItem item;
  const std::string_view barcode = Part(record, 0, kBarcodeWidth);
  const size_t first = barcode.find_first_not_of('F');
  item.barcode = first == std::string_view::npos ? "" : std::string(barcode.substr(first));
  item.sale_price = ZeroStripped(Part(record, kSalePriceAt, kPriceWidth));
  item.quantity = ZeroStripped(Part(record, kQuantityAt, kQuantityWidth));
  item.counted = ZeroStripped(Part(record, kCountedAt, kQuantityWidth));
  item.purchase_price = ZeroStripped(Part(record, kPurchasePriceAt, kPriceWidth));
  item.price_flags = std::string(Part(record, kSalePriceFlagAt, 1)) +
                     std::string(Part(record, kPurchasePriceFlagAt, 1));
  item.revise_stock = Part(record, kStockFlagAt, 1) == "U";
  return item;
}

bool CustomerDisplayOn() { return UtilRegReadInt("Software\\Tavenor", "pharmscreen") == 1; }

std::string BuildItemPacket(const ItemPacketFields& fields) {
  std::string packet(1, protocol::kStx);
  packet += kPacketTag;
  packet += kPacketLength;
  packet += Packed(fields.barcode, kBarcodeWidth, 'F');
  packet += '+';
  packet += Packed(fields.sale_price, kPriceWidth, '0');
  packet += Packed(fields.purchase_price, kPriceWidth, '0');
  packet += Packed(fields.stock, kStockDigits, '0');
  for (const std::string* line : {&fields.product_line, &fields.maker_line}) {
    std::string cut = line->substr(0, kLineWidth);
    cut.resize(kLineWidth, ' ');
    packet += cut;
  }
  packet += protocol::kEtx;
  const uint16_t check = UtilCheck16(reinterpret_cast<const unsigned char*>(packet.data()) + 1,
                                     static_cast<int>(packet.size() - 1));
  packet.push_back(static_cast<char>(check >> 8));
  packet.push_back(static_cast<char>(check & 0xFF));
  return packet;
}

int LookUpItem(CWorkContext& /*context*/, const Request& request) {
  const std::string& barcode = request.data;
  std::string answer;
  const int found = LookUpCatalogue(barcode, &answer);
  ItemPacketFields fields = UnregisteredItem(barcode);
  if (found > 0) {
    const protocol::Fields<8> item = protocol::SplitFields<8>(answer, '|');
    fields = {barcode,
              std::string(item[kSalePriceField]),
              std::string(item[kPurchasePriceField]),
              std::string(item[kStockField]),
              DisplayLine(std::string(item[kNameField])),
              DisplayLine(std::string(item[kMakerField]))};
  } else if (found == 0) {
    const std::optional<GatewayItem> item = RequestBarCode(ReadGatewayServer(), barcode);
    if (item && item->known()) {
      fields = {barcode, item->sale_price, item->purchase_price, "0", DisplayLine(item->product),
                MakerLine(item->maker)};
      const int saved = SaveGatewayItem(barcode, *item);
      if (saved != kRetaloOk) WriteLog("SaveNewItem Code", "[ " + std::to_string(saved) + " ]");
    }
  }
  WriteReply(BuildItemPacket(fields), request.code);
  return kHandlerDone;
}

int SellScannedItem(CWorkContext& context, const Request& request) {
  const TerminalItem item = ReadTerminalItem(request.data);
  std::string answer;
  int result = LookUpCatalogue(item.barcode, &answer);
  if (result == 0) {
    const std::optional<GatewayItem> known = RequestBarCode(ReadGatewayServer(), item.barcode);
    if (known && known->known()) result = SaveGatewayItem(item.barcode, *known);
  }
  if (result < 0) {
    WriteLog("BarCodeRead", "BarCodeRead = [ " + std::to_string(result) + " ]");
    return HandlerResultOf(result);
  }
  const std::string sep(kParamSep);
  const std::string goods = "1" + sep + item.barcode + sep + item.sale_price + sep +
                            item.purchase_price + sep + item.quantity + sep + item.price_flags +
                            sep;
  if (CustomerDisplayOn()) AddScreenItem(goods.c_str());
  result = SaveGoods(goods.c_str(), context.settings().price_update);
  if (result != kRetaloOk) {
    WriteLog("BarCodeRead", "SaveGoods = [" + goods + "] Code = [" + std::to_string(result) + "]");
  } else if (item.revise_stock) {
    result = StockRevision(item.barcode.c_str(), std::atof(item.counted.c_str()));
    if (result != kRetaloOk) {
      WriteLog("BarCodeRead",
               "StockRevision = [" + item.barcode + "] Code = [" + std::to_string(result) + "]");
    }
  }
  return HandlerResultOf(result);
}

}  // namespace helvar
