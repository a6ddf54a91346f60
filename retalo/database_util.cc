#include "retalo/database_util.h"

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <utility>

#include "platform/clock.h"
#include "platform/text.h"
#include "retalo/db/log_writer.h"
#include "retalo/db/sql_fill.h"
#include "retalo/db/sql_texts.h"

namespace retalo {
namespace {

constexpr std::string_view kWhiteSpace = " \t\r\n\v\f";
constexpr size_t kZeroedAnswerBytes = 4;  // the callers look at these to tell "no answer"
constexpr int kUnitCodeDigits = 3;

}  // namespace

std::string TodayText() { return platform::SystemClock().LocalDate(); }

std::string TrimText(std::string_view text) {
  const size_t first = text.find_first_not_of(kWhiteSpace);
  if (first == std::string_view::npos) return {};
  const size_t last = text.find_last_not_of(kWhiteSpace);
  return std::string(text.substr(first, last - first + 1));
}

bool WriteAnswer(std::string_view text, char* buffer, int size) {
  if (buffer == nullptr || size < 0) return false;
  const size_t room = static_cast<size_t>(size);
  if (room < kZeroedAnswerBytes || text.size() + 1 > room) return false;
  std::memset(buffer, 0, kZeroedAnswerBytes);
  std::memcpy(buffer, text.data(), text.size());
  buffer[text.size()] = '\0';
  return true;
}

bool ReadFirstField(CAdoConnection& db, std::string_view sql, std::string_view column,
                    std::string* text, bool* has_row) {
  const int rc = db.ExecuteSql(sql, true);
  *has_row = rc == kSqlOk;
  if (rc != kSqlOk) return rc == kSqlNoRows;
  db.ClearFieldError();
  std::string value = db.GetFieldText(column);
  db.CloseRecordset();
  if (db.field_error()) return false;
  *text = std::move(value);
  return true;
}

std::string CDatabaseUtil::GetItemUnitCode(std::string_view unit_name) {
  const std::string name = unit_name.empty() ? Cp949("개") : std::string(unit_name);
  const LogHeader header = LogHeader::Form2("CDatabaseUtil::GetItemUnitCode", "strUnit", name);
  auto fail = [&header](int position, std::string_view sql) {
    LogFailure(header, 0, position, sql);
    return std::string();
  };

  std::string sql = FillSql(sql::kSelectUnitCodeByName, {name});
  std::string code;
  bool found = false;
  if (!ReadFirstField(db_, sql, "CD_CD_UNIT", &code, &found)) return fail(1, sql);
  if (!found) {
    // A new unit takes the code after the highest three-digit one ("999" is kept for "other").
    sql = FillSql(sql::kSelectHighestUnitCode, {});
    std::string highest;
    if (!ReadFirstField(db_, sql, "CD_CD_UNIT", &highest, &found) || !found) return fail(2, sql);
    const std::optional<std::string> next =
        platform::ZeroPadded(std::atoi(highest.c_str()) + 1, kUnitCodeDigits);
    if (!next) return fail(2, sql);
    code = *next;
    sql = FillSql(sql::kInsertUnit, {code, name});
    if (db_.ExecuteSql(sql, false) != kSqlOk) return fail(3, sql);
  }

  sql = FillSql(sql::kMergeNamelessUnits, {code});
  if (db_.ExecuteSql(sql, false) != kSqlOk) return fail(4, sql);
  return code;
}

}  // namespace retalo
