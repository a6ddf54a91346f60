// The medication guidance sheet ("복약지도") as the terminal's printer takes it, and the gateway
// server's guidance service that supplies each drug's name, effect and pictograms. Helvar lays
// the sheet out and asks the service; the terminal simulator renders the sheet; the gateway
// simulator plays the service.
//
// The sheet is CP949 printer text: LF ends a line, SO/SI switch large letters on and off, and
// GS followed by six digits names up to three pictograms by their two-digit position in the
// printer's pictogram table (00 for none). The sheet opens with GS "680000".
//
// The service exchange ("GetGuidePrint"): one TCP connection per sheet.
//   request  STX "XX" <length, 6 digits: STX through ETX> "CRE" <body> ETX
//            body: "143" <business number, at least 10> <4 + 64 spaces> FS "100" FS <key> FS
//                  <program code> FS <drug count> FS <drug codes, each + GS> FS
//                  <directions, each + GS> FS FS FS
//   answer   STX "XX" <length, 6 digits: the whole answer> ... ; field 0 (up to the first FS)
//            holds the answer code at positions 25-28 ("0000": served); drug k (from 0) takes
//            its pictogram codes from field 5 + 10k, its name from field 6 + 10k and its effect
//            text from field 11 + 10k. A pictogram field is a two-digit count and the codes,
//            each three characters, separated by GS.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace protocol::guidance {

// --- The sheet ---------------------------------------------------------------------------

inline constexpr char kLargeOn = 0x0E;                    // SO
inline constexpr char kLargeOff = 0x0F;                   // SI
inline constexpr std::string_view kSheetHead = "680000";  // after GS, the sheet's first bytes
inline constexpr size_t kLineWidth = 40;                  // bytes of a wrapped line
inline constexpr size_t kPictogramDigits = 6;             // after GS: three two-digit positions
inline constexpr size_t kPictogramPositionDigits = 2;
inline constexpr size_t kPictogramCodeSize = 3;
inline constexpr int kPictogramPositions = 99;  // 0-98
inline constexpr std::string_view kRule = "-------------------------------------------";

// The position of a pictogram code in the printer's table; nullopt for a code it lacks.
std::optional<int> PictogramPosition(std::string_view code);
// The code at a position; empty for a position without one (or outside 0-98).
std::string_view PictogramCode(int position);

// --- The gateway server's guidance service -----------------------------------------------

inline constexpr uint16_t kServicePort = 16350;
inline constexpr std::string_view kRequestType = "CRE";
inline constexpr std::string_view kOperation = "143";
inline constexpr std::string_view kRequestKind = "100";
inline constexpr size_t kLengthOffset = 3;  // request and answer: six digits
inline constexpr size_t kLengthDigits = 6;
inline constexpr size_t kRequestOverhead = 13;  // STX "XX" length "CRE" ... ETX around the body
// Fields of the request split at FS (field 0 is the head with the business number).
inline constexpr size_t kRequestKeyField = 2;
inline constexpr size_t kRequestProgramField = 3;
inline constexpr size_t kRequestCountField = 4;
inline constexpr size_t kRequestCodesField = 5;
inline constexpr size_t kRequestDirectionsField = 6;
// The answer.
inline constexpr size_t kAnswerHeadSize = 29;  // field 0 is cut after this many characters
inline constexpr size_t kAnswerCodeOffset = 25;
inline constexpr size_t kAnswerCodeSize = 4;
inline constexpr std::string_view kAnswerServed = "0000";
inline constexpr size_t kFieldsPerDrug = 10;
inline constexpr size_t kPictogramField = 5;
inline constexpr size_t kNameField = 6;
inline constexpr size_t kEffectField = 11;
inline constexpr size_t kAnswerRoom = 81920;  // the answer buffer: a longer answer is refused
inline constexpr size_t kReadPiece = 8190;    // at most this much per read

}  // namespace protocol::guidance
