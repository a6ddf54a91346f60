// Recursive-descent parser of the T-SQL subset the system's texts use. Anything outside the
// subset fails with "unsupported T-SQL: <construct> near '<text>'".
#ifndef RETALO_DB_TSQL_PARSER_H_
#define RETALO_DB_TSQL_PARSER_H_

#include <string>
#include <string_view>
#include <vector>

#include "retalo/db/tsql/ast.h"
#include "retalo/db/tsql/lexer.h"

namespace tsql {

// Parses a whole batch into its statements. False with *error on the first construct outside the
// subset or on malformed text.
bool ParseBatch(std::string_view source, std::vector<StmtPtr>* statements, std::string* error);

// The same from the tokens of `source` (as Tokenize gives them). The literals written as values
// keep the index of their token (Expr::token).
bool ParseTokens(std::string_view source, std::vector<Token> tokens,
                 std::vector<StmtPtr>* statements, std::string* error);

}  // namespace tsql

#endif  // RETALO_DB_TSQL_PARSER_H_
