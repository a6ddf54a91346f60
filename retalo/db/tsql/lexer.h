// Tokenizer of the T-SQL texts: identifiers, [bracketed] and "quoted" names, N'..' and '..'
// strings with '' escapes, numbers, @variables, operators; comments (-- and nested /* */) and
// white space are skipped. Bytes of UTF-8 text (Korean names and literals) pass through intact.
#ifndef RETALO_DB_TSQL_LEXER_H_
#define RETALO_DB_TSQL_LEXER_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tsql {

enum class TokenKind {
  kIdentifier,        // plain name or keyword; `text` as written
  kQuotedIdentifier,  // [name] or "name"; `text` is the name without quotes
  kString,            // '...'; `text` is the value with '' turned into '
  kNString,           // N'...'; `text` as for kString
  kNumber,            // 12, 1.5, .5, 1e+06; `text` as written
  kVariable,          // @name; `text` includes the @ ("@@name" for system variables)
  kOperator,          // ( ) , . ; + - * / % = < > <= >= <> != !< !> & | ^ ~
  kEnd,               // end of the text
};

struct Token {
  TokenKind kind = TokenKind::kEnd;
  std::string text;
  size_t offset = 0;  // byte offset of the token in the source
  size_t length = 0;  // bytes of source text the token covers
};

// Splits `source` into tokens, ending with one kEnd token. False on an unterminated string,
// quoted name or comment, or a character that T-SQL does not know; *error then says where.
bool Tokenize(std::string_view source, std::vector<Token>* tokens, std::string* error);

// "unsupported T-SQL: <construct> near '<a short piece of the source from offset>'".
std::string UnsupportedMessage(std::string_view construct, std::string_view source, size_t offset);

// True when `token` is the plain identifier `word`, compared without regard to ASCII case.
bool IsWord(const Token& token, std::string_view word);

// ASCII case-insensitive equality of two names.
bool SameName(std::string_view a, std::string_view b);

// Upper-case copy of an ASCII name (other bytes unchanged).
std::string UpperName(std::string_view name);

}  // namespace tsql

#endif  // RETALO_DB_TSQL_LEXER_H_
