// Asking the gateway server about a barcode the pharmacy database does not know
// ("RequestBarCode"): one TCP exchange with the server's barcode service. Used by the barcode
// look-up (705-707) and the scanned item sale (715-717).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace helvar {

// A text value under "Software\Tavenor" read through a buffer of `room` bytes (terminator
// included); `fallback` when the value is missing.
inline constexpr int kSettingRoom = 20;
std::string ReadSetting(const char* name, std::string fallback, int room = kSettingRoom);

// Where the barcode service listens: registry "Software\Tavenor", values "GatewayServer Ip"
// (default 127.0.0.1) and "GatewayServer Port" (default 15042), read for each look-up.
struct GatewayServer {
  std::string address = "127.0.0.1";
  std::string port = "15042";
  int answer_wait_ms = 10000;  // the single receive gives up after this
};
GatewayServer ReadGatewayServer();

// The server's item for a barcode. Fields of the answer split at FS: 2 maker, 3 product name,
// 4 purchase price, 5 sale price.
struct GatewayItem {
  std::string code;  // the answer code, positions 25-28 of field 0; "0000" when known
  std::string maker;
  std::string product;
  std::string purchase_price;
  std::string sale_price;

  bool known() const { return code == "0000"; }
};

// The look-up request the server reads: STX "XX", barcode length + 96 in six digits, "CRE835",
// the business number, four and sixty-four spaces, FS, barcode, FS, FS, ETX.
std::string BarcodeRequest(std::string_view business_number, std::string_view barcode);

// Connects, sends, receives once (at most 90,000 bytes, of which the first 8,191 are kept) and
// closes. nullopt when the server gives no answer (connection, send or receive failed, or an
// empty answer): logged under "RequestBarCode".
std::optional<GatewayItem> RequestBarCode(const GatewayServer& server, std::string_view barcode);

}  // namespace helvar
