// Helpers the database exports share: today's date as the pharmacy database writes it, trimming
// of parameter fields, the answer buffers of the list and look-up exports, and CDatabaseUtil, the
// operations on the pharmacy database that several exports call.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "retalo/db/ado_connection.h"

namespace retalo {

// Today's local date as "%Y%m%d" (change dates, list dates). Replaceable where a test has to
// see two days.
using TodaySource = std::function<std::string()>;
std::string TodayText();

// `text` without white space (spaces, tabs, line ends) on either side.
std::string TrimText(std::string_view text);

// Writes an export's answer into the caller's buffer of `size` bytes: the first four bytes are
// zeroed, then the text is copied with a terminating zero. False (and the buffer untouched)
// when the buffer is missing or the text and its zero do not fit.
bool WriteAnswer(std::string_view text, char* buffer, int size);

// Runs `sql` (rows wanted) and reads `column` of its first row into *text; *has_row tells
// whether a row came (*text is left alone when none did). False when the query or the read
// failed.
bool ReadFirstField(CAdoConnection& db, std::string_view sql, std::string_view column,
                    std::string* text, bool* has_row);

class CDatabaseUtil {
 public:
  explicit CDatabaseUtil(CAdoConnection& db) : db_(db) {}

  // The code of the package unit named `unit_name` ("개" when empty), creating the unit with
  // the next free three-digit code when it is new. Members of units without a name are moved
  // to this unit and the nameless units removed. Empty after a failure (which is logged).
  std::string GetItemUnitCode(std::string_view unit_name);

 private:
  CAdoConnection& db_;
};

}  // namespace retalo
