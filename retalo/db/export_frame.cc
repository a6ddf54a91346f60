#include "retalo/db/export_frame.h"

#include "platform/text.h"

namespace retalo {

std::vector<std::string> SplitParams(std::string_view text) {
  std::vector<std::string> fields;
  size_t start = 0;
  size_t i = 0;
  while (i < text.size()) {
    if (text.substr(i, kParamSeparator.size()) == kParamSeparator) {
      fields.emplace_back(text.substr(start, i - start));
      i += kParamSeparator.size();
      start = i;
    } else if (platform::IsCp949LeadByte(static_cast<unsigned char>(text[i]))) {
      i += 2;  // a two-byte character, whatever its trail byte
    } else {
      ++i;
    }
  }
  fields.emplace_back(text.substr(std::min(start, text.size())));
  return fields;
}

ExportCall::ExportCall(LogHeader header, bool log_codes)
    : header_(std::move(header)), log_codes_(log_codes) {}

ExportCall::ExportCall(LogHeader header, CAdoConnection::Options options, bool log_codes)
    : header_(std::move(header)), log_codes_(log_codes), db_(std::move(options)) {}

ExportCall::~ExportCall() { db_.End(); }

bool ExportCall::Open(int position, bool with_transaction) {
  const bool opened = with_transaction ? db_.OpenWithTransaction() : db_.OpenConnection();
  if (opened) return true;
  LogFailure(header_, LoggedCode(kDbConnectFailed), position, Cp949("DB연결실패"));
  db_.End();
  return false;
}

int ExportCall::Fail(int code, int position, std::string_view description) {
  LogFailure(header_, LoggedCode(code), position, description);
  db_.End();
  return code;
}

int ExportCall::FailStep(int position, int index) {
  LogIndexedFailure(header_, LoggedCode(kDbStepFailed), position, index);
  db_.End();
  return kDbStepFailed;
}

int ExportCall::Finish(int result) {
  if (db_.in_transaction() && !db_.Commit()) {
    LogFailure(header_, LoggedCode(kDbStepFailed), 0, "CommitTrans");
    db_.End();
    return kDbStepFailed;
  }
  db_.End();
  return result;
}

}  // namespace retalo
