// Recursive-descent parser of the T-SQL subset the system's texts use. Anything outside the
// subset fails with "unsupported T-SQL: <construct> near '<text>'".
#ifndef RETALO_DB_TSQL_PARSER_H_
#define RETALO_DB_TSQL_PARSER_H_

#include <string>
#include <string_view>
#include <vector>

#include "retalo/db/tsql/ast.h"

namespace tsql {

// Parses a whole batch into its statements. False with *error on the first construct outside the
// subset or on malformed text.
bool ParseBatch(std::string_view source, std::vector<StmtPtr>* statements, std::string* error);

}  // namespace tsql

#endif  // RETALO_DB_TSQL_PARSER_H_
