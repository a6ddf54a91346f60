// What a session shares between texts: one translation for texts that differ only in literals
// that cannot change it, separate ones where a literal's value or type decides the translation;
// and nothing of one run left running into the next.
#include <gtest/gtest.h>

#include <string>

#include "retalo/db/tsql/test_database.h"
#include "retalo/db/tsql/tsql.h"

namespace tsql {
namespace {

using testing::TestDatabase;

class SessionTest : public ::testing::Test {
 protected:
  SessionTest() {
    db_.Exec(
        "CREATE TABLE PM_DRUG.GOODS (CODE VARCHAR(10), NAME VARCHAR(20), SHORT VARCHAR(2));"
        "INSERT INTO PM_DRUG.GOODS VALUES ('A', 'zeta', 'z'), ('B', 'alpha', 'a');");
  }

  // The first cells of the first result's rows, joined by ",", or "error: <message>" without
  // the statement SQLite's messages name.
  std::string Run(const std::string& text) {
    BatchResult result;
    std::string error;
    if (!session_.Run(text, &result, &error)) return "error: " + error.substr(0, error.find(" (in: "));
    std::string cells;
    if (result.result_sets.empty()) return "<no result>";
    for (const auto& row : result.result_sets.front().rows) {
      if (!cells.empty()) cells += ",";
      cells += row[0].is_null ? "NULL" : row[0].text;
    }
    return cells;
  }

  TestDatabase db_;
  Session session_{db_.db()};
};

TEST_F(SessionTest, LiteralsShareATranslationOnlyWhereTheirValuesCannotChangeIt) {
  struct Case {
    const char* first;
    const char* first_result;
    const char* second;
    const char* second_result;
    bool shared;
  };
  const Case cases[] = {
      // Values compared, computed with, converted: parameters of one translation.
      {"SELECT NAME FROM PM_DRUG..GOODS WHERE CODE = 'A'", "zeta",
       "SELECT NAME FROM PM_DRUG..GOODS WHERE CODE = 'B'", "alpha", true},
      {"SELECT -5 + 2", "-3", "SELECT -6 + 2", "-4", true},
      {"SELECT 1.25 * 2", "2.5", "SELECT 1.75 * 2", "3.5", true},
      {"SELECT 2.5E0 + 1", "3.5", "SELECT 4.5E0 + 1", "5.5", true},
      {"SELECT CONVERT(VARCHAR(8), CAST('2024-06-05' AS DATETIME), 112)", "20240605",
       "SELECT CONVERT(VARCHAR(8), CAST('2023-01-31' AS DATETIME), 112)", "20230131", true},
      {"SELECT CODE FROM PM_DRUG..GOODS WHERE NAME LIKE 'ze%'", "A",
       "SELECT CODE FROM PM_DRUG..GOODS WHERE NAME LIKE '_l%'", "B", true},
      // Values the translation reads: written into it, one translation each.
      {"SELECT TOP 1 CODE FROM PM_DRUG..GOODS ORDER BY CODE", "A",
       "SELECT TOP 2 CODE FROM PM_DRUG..GOODS ORDER BY CODE", "A,B", false},
      {"SELECT CODE, NAME FROM PM_DRUG..GOODS ORDER BY 1", "A,B",
       "SELECT CODE, NAME FROM PM_DRUG..GOODS ORDER BY 2", "B,A", false},
      {"SELECT CONVERT(VARCHAR(10), CAST('2024-06-05' AS DATETIME), 112)", "20240605",
       "SELECT CONVERT(VARCHAR(10), CAST('2024-06-05' AS DATETIME), 102)", "2024.06.05", false},
      {"SELECT STR(12, 5)", "   12", "SELECT STR(12, 3)", " 12", false},
      // A literal's type is part of the match: a longer text, a number with a point.
      {"SELECT 7 / 2", "3", "SELECT 7.0 / 2", "3.5", false},
      {"DELETE FROM PM_DRUG..GOODS WHERE CODE = 'C'; INSERT INTO PM_DRUG..GOODS (CODE, SHORT) "
       "VALUES ('C', 'ab'); SELECT SHORT FROM PM_DRUG..GOODS WHERE CODE = 'C'",
       "ab",
       "DELETE FROM PM_DRUG..GOODS WHERE CODE = 'D'; INSERT INTO PM_DRUG..GOODS (CODE, SHORT) "
       "VALUES ('D', 'abc'); SELECT SHORT FROM PM_DRUG..GOODS WHERE CODE = 'D'",
       "error: String or binary data would be truncated.", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.first);
    session_.ForgetTranslations();
    EXPECT_EQ(Run(c.first), c.first_result);
    EXPECT_EQ(Run(c.second), c.second_result);
    EXPECT_EQ(session_.translation_count(), c.shared ? 1u : 2u);
    // Each text again, in the other order: the kept translations give the same answers.
    EXPECT_EQ(Run(c.second), c.second_result);
    EXPECT_EQ(Run(c.first), c.first_result);
    EXPECT_EQ(session_.translation_count(), c.shared ? 1u : 2u);
  }
}

// LIKE keeps a parsed pattern beside its statement while the pattern stays the same; a pattern
// that is a column differs from row to row and is parsed for each.
TEST_F(SessionTest, LikePatternsFromRowsAreEachTheirOwn) {
  EXPECT_EQ(Run("SELECT CODE FROM PM_DRUG..GOODS WHERE 'zebra' LIKE SHORT + '%' ORDER BY CODE"),
            "A");
  EXPECT_EQ(Run("SELECT CODE FROM PM_DRUG..GOODS WHERE 'apple' LIKE SHORT + '%' ORDER BY CODE"),
            "B");
  EXPECT_EQ(Run("SELECT CODE FROM PM_DRUG..GOODS WHERE NAME LIKE '%a' ORDER BY CODE"), "A,B");
}

TEST_F(SessionTest, NoStatementStaysRunningAfterARun) {
  db_.Exec("INSERT INTO PM_DRUG.GOODS VALUES ('E', '1', 'x'), ('F', 'many', 'x')");
  const std::string texts[] = {
      "SELECT CODE FROM PM_DRUG..GOODS",
      // Fails on its last row, after the first ones were read.
      "SELECT CAST(NAME AS INT) FROM PM_DRUG..GOODS WHERE CODE IN ('E', 'F') ORDER BY CODE",
      "IF EXISTS (SELECT * FROM PM_DRUG..GOODS WHERE CODE = 'A') SELECT 1 ELSE SELECT 2",
  };
  for (const std::string& text : texts) {
    SCOPED_TRACE(text);
    BatchResult result;
    std::string error;
    session_.Run(text, &result, &error);
    for (sqlite3_stmt* stmt = sqlite3_next_stmt(db_.db(), nullptr); stmt != nullptr;
         stmt = sqlite3_next_stmt(db_.db(), stmt)) {
      EXPECT_EQ(sqlite3_stmt_busy(stmt), 0) << sqlite3_sql(stmt);
    }
  }
  EXPECT_EQ(Run("SELECT CAST(NAME AS INT) FROM PM_DRUG..GOODS WHERE CODE = 'F'").rfind("error", 0),
            0u);
}

}  // namespace
}  // namespace tsql
