// What every database export shares: the "‡"-separated parameter texts, the result codes, and
// the frame of a call (parse, open, work, close) with its log records.
//
//   int SaveNewItem(const char* item) {
//     const std::string text = item != nullptr ? item : "";
//     ExportCall call(LogHeader::Form2("SaveNewItem", Cp949("상품정보"), text));
//     if (text.empty()) return call.Fail(kDataError, 1, Cp949("상품정보 데이터구성오류"));
//     if (!call.Open(2)) return kDbConnectFailed;
//     ...
//     if (step_failed) return call.FailStep(3);
//     return call.Finish();
//   }
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "retalo/db/ado_connection.h"
#include "retalo/db/log_writer.h"

namespace retalo {

inline constexpr int kExportOk = 1;
inline constexpr int kDbConnectFailed = -1001;  // the database cannot be reached
inline constexpr int kDbStepFailed = -1002;     // a statement failed or a required row is missing
inline constexpr int kDataError = -1003;        // a parameter text could not be parsed

// The separator of parameter texts: "‡" in CP949.
inline constexpr std::string_view kParamSeparator = "\xA2\xD4";

// The fields of a parameter text. The separator is found character by character, so the
// trail byte of one two-byte character and the lead byte of the next never pass for it. An
// empty field is two adjacent separators; the text after the last separator is the last field
// (so "" gives one empty field).
std::vector<std::string> SplitParams(std::string_view text);

// The frame of one export call. The destructor ends the connection on every path (rolling
// back a transaction that was not committed).
class ExportCall {
 public:
  // `header` heads every log record of the call. The display exports pass
  // log_codes = false: their failure lines carry code 0, the header and position tell.
  explicit ExportCall(LogHeader header, bool log_codes = true);
  ExportCall(LogHeader header, CAdoConnection::Options options, bool log_codes = true);
  ~ExportCall();
  ExportCall(const ExportCall&) = delete;
  ExportCall& operator=(const ExportCall&) = delete;

  CAdoConnection& db() { return db_; }

  // Opens the connection (with a transaction when asked). On failure writes the record
  // (code -1001, the position, "DB연결실패") and returns false; the export returns
  // kDbConnectFailed.
  bool Open(int position, bool with_transaction = false);

  // Ends the call with `code` after a plain record (position and description).
  int Fail(int code, int position, std::string_view description);
  // Ends the call with -1002 after an indexed record (position and item index).
  int FailStep(int position, int index = 0);
  // Commits an open transaction and ends the call with `result`. A commit that fails means
  // nothing was stored: the call then ends with -1002 after a record at position 0.
  int Finish(int result = kExportOk);

 private:
  int LoggedCode(int code) const { return log_codes_ ? code : 0; }

  LogHeader header_;
  bool log_codes_;
  CAdoConnection db_;
};

}  // namespace retalo
