// "GetGuidePrint": the gateway server's guidance service gives each drug of an order its name,
// effect text and pictograms, and the sheet is laid out from them as printer text; then the
// print frame (message 151) that carries the sheet to the terminal's printer. The wire of the
// service and the sheet's layout constants are in protocol/guidance_sheet.h.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "helvar/guidance_order.h"

namespace helvar {

// Where the guidance service listens: the gateway server's address (registry "Software\Tavenor",
// value "GatewayServer Ip", default 127.0.0.1) and port "GuideServer Port" (default 16350),
// read for each sheet.
struct GuideServer {
  std::string address = "127.0.0.1";
  std::string port = "16350";
  int connect_ms = 5000;       // connecting and sending each give up after this
  int answer_wait_ms = 30000;  // the whole announced answer must have come by then
};
GuideServer ReadGuideServer();

// The program codes the server knows the pharmacy programs by.
inline constexpr std::string_view kGuideProgramPm2000 = "200";
inline constexpr std::string_view kGuideProgramUbcare = "202";
inline constexpr std::string_view kGuideProgramOnPharm = "206";
inline constexpr std::string_view kGuideProgramOptiPharm = "222";

// The service's request for `order`.
std::string GuideRequest(std::string_view business_number, const GuidanceOrder& order,
                         std::string_view program_code);

// One exchange: connects, sends, reads the answer until the length it announces has arrived,
// closes. nullopt, with a record under "GetGuidePrint", when the server cannot be reached, the
// send fails or no answer comes ("복약지도 서버 접속안됨!"), and when the answer's length is
// unreadable, above the answer buffer of 81,920 bytes, or not reached before the connection
// ends or the wait runs out.
std::optional<std::string> ExchangeGuide(const GuideServer& server, std::string_view request);

// What the answer gives for one drug (CP949).
struct GuideDrugText {
  std::string name;
  std::string effect;
  std::string pictograms;  // the pictogram field as it came
};
// The texts of the first `drugs` drugs; nullopt when the answer code is not "0000".
std::optional<std::vector<GuideDrugText>> ParseGuideAnswer(std::string_view answer, size_t drugs);

// A text as wrapped lines: its first 1,023 bytes (never half a character) without CR and LF,
// cut into lines of at most 40 bytes that never split a two-byte character, each ended by LF.
std::string WrappedLines(std::string_view text);

// GS and six digits: the two-digit positions of the first codes that the field's count names
// and the pictogram table holds, cut to three or filled with "0"; GS "000000" for a field
// shorter than two characters.
std::string PictogramText(std::string_view field);

// The pharmacy's own lines at the sheet's foot, from the registry ("Software\Tavenor").
struct PharmacyLines {
  std::string pharmacy;  // "pharmacy"
  std::string owner;     // "name"
  std::string callarea;  // "callarea"
  std::string callno;    // "callno"
  std::string address;   // "address"
};
PharmacyLines ReadPharmacyLines();

// The sheet: head, patient line in large letters, dispensing date, and per drug its name,
// direction, effect and pictograms between rules; then the pharmacy's lines.
std::string LayOutSheet(const GuidanceOrder& order, const std::vector<GuideDrugText>& drugs,
                        const PharmacyLines& pharmacy);

// The whole of GetGuidePrint: the business number ("bizno"), the exchange, the answer and the
// sheet. nullopt when the exchange or the answer fails (the exchange logs why).
std::optional<std::string> GetGuidePrint(const GuideServer& server, const GuidanceOrder& order,
                                         std::string_view program_code);

// The print frame of a sheet, through its check byte. `routed`: for the terminal through the
// hub ("TavenorGateway", fields FS FS FS "PRINT" and the sheet, length = sheet + 11); otherwise
// FS and the sheet (length = sheet + 7). nullopt when the length does not fit four digits.
std::optional<std::string> GuidePrintFrame(std::string_view sheet, bool routed);

}  // namespace helvar
