// Tokenizer edge cases: quotes and their escapes, Korean text, bracketed names, comments,
// numbers and the texts the tokenizer must refuse.
#include "retalo/db/tsql/lexer.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace tsql {
namespace {

std::string Kind(TokenKind kind) {
  switch (kind) {
    case TokenKind::kIdentifier:
      return "id";
    case TokenKind::kQuotedIdentifier:
      return "qid";
    case TokenKind::kString:
      return "str";
    case TokenKind::kNString:
      return "nstr";
    case TokenKind::kNumber:
      return "num";
    case TokenKind::kVariable:
      return "var";
    case TokenKind::kOperator:
      return "op";
    case TokenKind::kEnd:
      return "end";
  }
  return "?";
}

// "kind:text" of every token but the final kEnd.
std::vector<std::string> Lex(const std::string& source) {
  std::vector<Token> tokens;
  std::string error;
  EXPECT_TRUE(Tokenize(source, &tokens, &error)) << error;
  std::vector<std::string> out;
  for (const Token& token : tokens) {
    if (token.kind != TokenKind::kEnd) out.push_back(Kind(token.kind) + ":" + token.text);
  }
  return out;
}

TEST(TsqlLexerTest, SplitsTextsIntoTokens) {
  struct Case {
    const char* source;
    std::vector<std::string> tokens;
  };
  const Case cases[] = {
      {"'it''s'", {"str:it's"}},
      {"''", {"str:"}},
      {"''''", {"str:'"}},
      {"N'가나''다'", {"nstr:가나'다"}},
      {"n'x'", {"nstr:x"}},
      {"'제품명_미등록'", {"str:제품명_미등록"}},
      {"'a -- not a comment /* nor this */'", {"str:a -- not a comment /* nor this */"}},
      {"[PM DRUG]..[CD]]X]", {"qid:PM DRUG", "op:.", "op:.", "qid:CD]X"}},
      {"\"a\"\"b\".c", {"qid:a\"b", "op:.", "id:c"}},
      {"PM_DRUG..CD_GOODS", {"id:PM_DRUG", "op:.", "op:.", "id:CD_GOODS"}},
      {"가격 AS 값", {"id:가격", "id:AS", "id:값"}},
      {"1e+06 .5 1. 12 3.25E-2", {"num:1e+06", "num:.5", "num:1.", "num:12", "num:3.25E-2"}},
      {"@DATE @@ROWCOUNT @a1", {"var:@DATE", "var:@@ROWCOUNT", "var:@a1"}},
      {"a<>b!=c<=d>=e!<f",
       {"id:a", "op:<>", "id:b", "op:!=", "id:c", "op:<=", "id:d", "op:>=", "id:e", "op:!<",
        "id:f"}},
      {"x-1", {"id:x", "op:-", "num:1"}},
      {"SELECT /* a /* nested */ b */ 1 -- tail\n, 2", {"id:SELECT", "num:1", "op:,", "num:2"}},
      {"\t\r\n  ", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(Lex(c.source), c.tokens) << c.source;
}

TEST(TsqlLexerTest, OffsetsCountBytesOfKoreanText) {
  std::vector<Token> tokens;
  std::string error;
  ASSERT_TRUE(Tokenize("'가나' + x", &tokens, &error));
  ASSERT_EQ(tokens.size(), 4u);
  EXPECT_EQ(tokens[0].offset, 0u);
  EXPECT_EQ(tokens[0].length, 8u);  // two three-byte characters and the quotes
  EXPECT_EQ(tokens[1].offset, 9u);
  EXPECT_EQ(tokens[2].offset, 11u);
}

TEST(TsqlLexerTest, RefusesMalformedText) {
  struct Case {
    const char* source;
    const char* message;
  };
  const Case cases[] = {
      {"SELECT 'abc", "unsupported T-SQL: unterminated string literal near ''abc'"},
      {"SELECT N'가", "unsupported T-SQL: unterminated string literal near ''가'"},
      {"SELECT [abc", "unsupported T-SQL: unterminated quoted name near '[abc'"},
      {"SELECT /* a /* b */", "unsupported T-SQL: unterminated comment near '/* a /* b */'"},
      {"SELECT 0x1F", "unsupported T-SQL: binary literal near '0x1F'"},
      {"SELECT 1abc", "unsupported T-SQL: malformed number near '1abc'"},
      {"SELECT ?", "unsupported T-SQL: character near '?'"},
      {"SELECT @", "unsupported T-SQL: variable name near '@'"},
  };
  for (const Case& c : cases) {
    std::vector<Token> tokens;
    std::string error;
    EXPECT_FALSE(Tokenize(c.source, &tokens, &error)) << c.source;
    EXPECT_EQ(error, c.message) << c.source;
  }
  // A NUL in a string or a quoted name: SQLite would read the statement only up to it.
  using namespace std::string_view_literals;
  for (std::string_view source : {"SELECT 'a\0b'"sv, "SELECT 1 AS [a\0b]"sv}) {
    std::vector<Token> tokens;
    std::string error;
    EXPECT_FALSE(Tokenize(source, &tokens, &error));
    EXPECT_EQ(error.rfind("unsupported T-SQL: NUL character near", 0), 0u) << error;
  }
}

TEST(TsqlLexerTest, MessagesQuoteAShortPieceWithoutCuttingACharacter) {
  std::string korean;
  for (int i = 0; i < 20; ++i) korean += "가";
  std::string twelve;
  for (int i = 0; i < 12; ++i) twelve += "가";
  // 40 bytes would end inside the 13th character: the piece stops before it.
  EXPECT_EQ(UnsupportedMessage("test", "xy" + korean, 0),
            "unsupported T-SQL: test near 'xy" + twelve + "'");
}

}  // namespace
}  // namespace tsql
