#include "helvar/customer_list.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <ctime>
#include <optional>
#include <span>

#include "helvar/helvar_log.h"
#include "helvar/reply_writer.h"
#include "helvar/work_context.h"
#include "platform/text.h"
#include "protocol/frame.h"
#include "protocol/helvar_request.h"
#include "protocol/message_codes.h"
#include "retalo/db/sql_texts.h"
#include "retalo/ordella_retalo.h"

namespace helvar {
namespace {

using protocol::kFs;

// The answers go to the terminal: routing prefix, a length over the whole frame (STX through
// ETX) and the check byte of the answer's kind, appended here.
constexpr protocol::FrameShape kAnswerShape{.routing_prefix = true, .check_byte = false};
constexpr size_t kMaxRecords = 99;  // the two-digit count field

constexpr size_t kKeyDigits = 20;
constexpr size_t kNameBytes = 8;
constexpr size_t kDateDigits = 6;
constexpr size_t kNumberDigits = 12;
constexpr size_t kFifthDigits = 24;
constexpr size_t kLongZeroDigitsBefore = 12;
constexpr size_t kLongZeroDigitsAfter = 20;

constexpr int kShortListCode = protocol::kMsgShortCustomerList;
constexpr int kLongListCode = protocol::kMsgLongCustomerList;
constexpr int kPrescriptionCode = protocol::kMsgPrescriptionList;
constexpr int32_t kLongListBase = protocol::kHelvarCustomerListSecond;
constexpr size_t kUserListFields = 5;
constexpr int kUserListBuffer = 64 * 1024;
constexpr int kMaxUbcareRecords = 29;
constexpr int kMaxUbcareIndices = 100000;  // a library that never ends its list

int Nibble(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return 0;
}

// The answer frame of `fields` under `answer_code`, closed by the check byte of `check`.
std::string AnswerFrame(int answer_code, std::span<const std::string_view> fields,
                        CheckKind check) {
  const std::optional<std::string> body = protocol::MessageBody(answer_code, fields);
  std::optional<std::string> frame =
      body ? protocol::BuildFrame(*body, protocol::LengthRule::kWholeFrame, kAnswerShape)
           : std::nullopt;
  if (!frame) {
    WriteLog("CustomerList", "answer " + std::to_string(answer_code) + " does not fit a frame");
    return std::string();
  }
  const std::string_view checked = std::string_view(*frame).substr(1);
  frame->push_back(static_cast<char>(check == CheckKind::kPm2000 ? Pm2000CheckByte(checked)
                                                                 : protocol::CheckByte(checked)));
  return std::move(*frame);
}

std::string FixedBody(int answer_code, std::string_view message_utf8, CheckKind check) {
  const std::string message = Cp949(message_utf8);
  const std::array<std::string_view, 3> fields = {"00", message, ""};
  return AnswerFrame(answer_code, fields, check);
}

std::vector<std::string> Split(std::string_view text, char separator) {
  const std::vector<std::string_view> fields = protocol::SplitAll(text, separator);
  return {fields.begin(), fields.end()};
}

std::string Field(const std::vector<std::string>& fields, size_t index) {
  return index < fields.size() ? fields[index] : std::string();
}

// Today as "YYYY-MM-DD", local time.
std::string TodayWithDashes() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[16] = {};
  std::strftime(text, sizeof text, "%Y-%m-%d", &local);
  return text;
}

void Reply(const std::string& frame, int32_t status) { WriteReply(frame, status); }

}  // namespace

std::string PackDigits(std::string_view text) {
  std::string packed;
  packed.reserve((text.size() + 1) / 2);
  for (size_t i = 0; i < text.size(); i += 2) {
    const int high = Nibble(text[i]);
    const int low = i + 1 < text.size() ? Nibble(text[i + 1]) : 0;
    packed.push_back(static_cast<char>((high << 4) | low));
  }
  return packed;
}

std::string RightAligned(std::string_view text, size_t width, char fill) {
  if (text.size() >= width) return std::string(text.substr(0, width));
  return std::string(width - text.size(), fill) + std::string(text);
}

std::string ShortCustomerRecord(std::string_view key, std::string_view name, std::string_view date,
                                std::string_view number) {
  std::string record = PackDigits(RightAligned(key, kKeyDigits, ' '));
  // The name field never ends inside a two-byte character: the terminal could not show it.
  record += platform::FixedWidth(name, kNameBytes);
  record += PackDigits(RightAligned(date, kDateDigits, ' '));
  record += PackDigits(RightAligned(number, kNumberDigits, ' '));
  record += kFs;
  return record;
}

std::string LongCustomerRecord(std::string_view key, std::string_view name, std::string_view date,
                               std::string_view number, std::string_view fifth) {
  std::string record = ShortCustomerRecord(key, name, date, number);
  record.pop_back();  // the short record's FS
  record += PackDigits(std::string(kLongZeroDigitsBefore, '0'));
  record += PackDigits(RightAligned(fifth, kFifthDigits, 'F'));
  record += PackDigits(std::string(kLongZeroDigitsAfter, '0'));
  record += kFs;
  return record;
}

unsigned char Pm2000CheckByte(std::string_view bytes) {
  unsigned char check = 0;
  for (const char c : bytes) check ^= static_cast<unsigned char>(c);
  return static_cast<unsigned char>(check | 0x20);
}

std::string CustomerListFrame(int answer_code, const std::vector<std::string>& records,
                              CheckKind check) {
  const size_t count = std::min(records.size(), kMaxRecords);
  if (count < records.size()) {
    WriteLog("CustomerList", std::to_string(records.size() - count) + " customers left out");
  }
  const std::string count_text =
      platform::ZeroPadded(static_cast<long long>(count), 2).value_or("99");
  std::string joined;
  for (size_t i = 0; i < count; ++i) joined += records[i];  // each ends in its own FS
  const std::array<std::string_view, 2> fields = {count_text, joined};
  return AnswerFrame(answer_code, fields, check);
}

std::string NoCustomerFrame(int answer_code, CheckKind check) {
  return FixedBody(answer_code, "   선택가능한    고객이 없습니다.", check);
}

std::string Pm2000FailureFrame(int answer_code) {
  return FixedBody(answer_code, "   PM2000연동    장애 발생!  ", CheckKind::kPm2000);
}

int Pm2000CustomerList(CWorkContext& /*context*/, const Request& request) {
  const bool long_form = request.code >= kLongListBase;
  const int code = long_form ? kLongListCode : kShortListCode;
  std::vector<char> buffer(kUserListBuffer, '\0');
  const int n = LoadUserList(buffer.data(), kUserListBuffer);
  if (n < 0) {
    WriteLog("PM2000_Service_CustomerList", Cp949("에러코드 = ") + std::to_string(n));
    Reply(Pm2000FailureFrame(code), request.code);
    return kHandlerDone;
  }
  if (n == 0) {
    Reply(NoCustomerFrame(code, CheckKind::kPm2000), request.code);
    return kHandlerDone;
  }
  const std::vector<std::string> fields =
      Split(std::string_view(buffer.data(), strnlen(buffer.data(), buffer.size())), '|');
  std::vector<std::string> records;
  for (size_t i = 0; i < static_cast<size_t>(n); ++i) {
    const size_t f = i * kUserListFields;
    records.push_back(long_form ? LongCustomerRecord(Field(fields, f), Field(fields, f + 1),
                                                     Field(fields, f + 2), Field(fields, f + 3),
                                                     Field(fields, f + 4))
                                : ShortCustomerRecord(Field(fields, f), Field(fields, f + 1),
                                                      Field(fields, f + 2), Field(fields, f + 3)));
  }
  Reply(CustomerListFrame(code, records, CheckKind::kPm2000), request.code);
  return kHandlerDone;
}

int Pm2000Prescriptions(CWorkContext& context, const Request& request) {
  CPm2000Db& db = context.pm2000();
  if (!db.Open()) {
    WriteLog("PM2000_Service_BarCodeNotFound", "OpenDB Fail");
    return kHandlerFailed;
  }
  if (!db.Query(retalo::sql::kSelectTodayPrescriptions)) {
    WriteLog("CPm2000Db", "Qry FALSE");
    db.Disconnect();
    Reply(std::string(), request.code);
    return kHandlerFailed;
  }
  std::string frame;
  if (db.row_count() == 0) {
    frame = NoCustomerFrame(kPrescriptionCode, CheckKind::kPm2000);
  } else {
    std::vector<std::string> records;
    for (size_t row = 0; row < db.row_count(); ++row) {
      records.push_back(ShortCustomerRecord(db.ValueText(row, 0), db.ValueText(row, 1),
                                            db.ValueText(row, 2), db.ValueText(row, 3)));
    }
    frame = CustomerListFrame(kPrescriptionCode, records, CheckKind::kPm2000);
  }
  db.Disconnect();
  Reply(frame, request.code);
  return kHandlerDone;
}

int UbcareCustomers(CWorkContext& context, const Request& request) {
  CUpharmBinding& upharm = context.upharm();
  const bool loaded = upharm.Load(InstallDir());
  if (loaded) upharm.SetLog(1);
  if (!loaded || upharm.Open(0) != 1) {
    WriteLog("Ubcare_Service_CustomerList", Cp949("고객리스트를 가져올수 없습니다"));
    return kHandlerFailed;
  }
  const std::string today = TodayWithDashes();
  if (upharm.GetCustList(today, today) != 1) {
    Reply(NoCustomerFrame(kPrescriptionCode, CheckKind::kUtil), request.code);
    return kHandlerDone;
  }
  int k = 0;
  while (k < kMaxUbcareIndices && upharm.ArrCustList(k) == 1) ++k;
  std::vector<std::string> records;
  for (int i = k - 1; i >= 0 && static_cast<int>(records.size()) < kMaxUbcareRecords; --i) {
    if (upharm.ArrCustList(i) != 1) continue;
    const std::vector<std::string> fields = Split(upharm.GetCustData(i), kFs);
    std::string date = Field(fields, 1);
    std::erase(date, '-');
    records.push_back(ShortCustomerRecord(Field(fields, 2), Field(fields, 0), date, ""));
  }
  Reply(CustomerListFrame(kPrescriptionCode, records, CheckKind::kUtil), request.code);
  return kHandlerDone;
}

}  // namespace helvar
