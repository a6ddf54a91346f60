// The lists the terminal shows (today's unpaid prescriptions, the staff, the priced goods
// catalogue): each read with one query and written into the caller's buffer as one flat text,
// every field followed by "|", rows simply concatenated.
#pragma once

#include <string>
#include <string_view>

#include "retalo/db/ado_connection.h"

namespace retalo {

struct ListQuery {
  std::string_view export_name;  // names the log records
  std::string sql;               // filled, rows wanted
  // Appends the current row's fields to *text.
  void (*append_row)(CAdoConnection& db, std::string* text);
};

// Runs the query and writes its rows into `buffer` of `size` bytes (database_util.h's
// WriteAnswer). Returns the number of rows; 0 when there is none (the buffer is untouched);
// -1001 when the database cannot be reached, -1002 when the query or a row read fails, -1003
// when the rows do not fit the buffer. Failures are logged under the export's name.
int LoadList(const ListQuery& query, char* buffer, int size);

}  // namespace retalo
