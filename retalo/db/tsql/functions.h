// The SQL Server functions and operators that SQLite lacks or does differently, registered on
// the pharmacy database's connection under "tsql_" names that the translation emits, and the
// collation "TSQL" (ASCII case and trailing blanks ignored) for comparisons of texts.
#ifndef RETALO_DB_TSQL_FUNCTIONS_H_
#define RETALO_DB_TSQL_FUNCTIONS_H_

#include <sqlite3.h>

#include <string>

namespace tsql {

// Names the translation emits.
inline constexpr const char* kCollation = "TSQL";

bool RegisterSqlFunctions(sqlite3* db, std::string* error);

}  // namespace tsql

#endif  // RETALO_DB_TSQL_FUNCTIONS_H_
