// Each construct of the T-SQL subset, translated and run on SQLite, with the result SQL Server
// gives for it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/clock.h"
#include "retalo/db/tsql/test_database.h"
#include "retalo/db/tsql/tsql.h"

namespace tsql {
namespace {

using testing::TestDatabase;

struct ValueCase {
  const char* expression;
  const char* expected;  // "NULL" for NULL
};

void ExpectValues(const std::vector<ValueCase>& cases) {
  TestDatabase db;
  for (const ValueCase& c : cases) {
    EXPECT_EQ(db.Value(std::string("SELECT ") + c.expression), c.expected) << c.expression;
  }
}

TEST(TsqlExpressionTest, PlusConcatenatesTextsAndAddsOtherwise) {
  ExpectValues({
      {"'1' + '2'", "12"},
      {"1 + '2'", "3"},
      {"'2' + 1", "3"},
      {"2.5E0 + '1.25'", "3.75"},
      {"'가' + N'나'", "가나"},
      {"'a' + NULL", "NULL"},
      {"1 + NULL", "NULL"},
      {"RIGHT('000000' + CAST(7 AS VARCHAR), 6)", "000007"},
      // Age from the year digits: STR gives text, which the number beside it turns into numbers.
      {"100 + STR(SUBSTRING('202406', 3, 2)) - STR(SUBSTRING('8501011234567', 1, 2))", "39"},
      {"7 / 2", "3"},
      {"-7 / 2", "-3"},
      {"7.0 / 2", "3.5"},
      {"7 % 3", "1"},
      {"CAST('12' AS INT) * 2", "24"},
  });
}

TEST(TsqlExpressionTest, StringFunctionsCountCharactersAsSqlServerDoes) {
  ExpectValues({
      {"LEN('ab  ')", "2"},
      {"LEN('  ab')", "4"},
      {"LEN('')", "0"},
      {"LEN(N'가나다')", "3"},
      {"LEN(NULL)", "NULL"},
      {"LEN(12345)", "5"},
      {"LEFT('가나다라', 2)", "가나"},
      {"RIGHT('abcdef', 3)", "def"},
      {"RIGHT('ab', 5)", "ab"},
      {"SUBSTRING('abcdef', 0, 3)", "ab"},
      {"SUBSTRING('가나다', 2, 1)", "나"},
      {"SUBSTRING('abc', 5, 2)", ""},
      {"CHARINDEX('0', 'ZP00000041')", "3"},
      {"CHARINDEX('B', 'abc')", "2"},
      {"CHARINDEX('z', 'abc')", "0"},
      {"CHARINDEX('다', '가나다')", "3"},
      {"STUFF('8801011234567', 8, 6, '******')", "8801011******"},
      {"STUFF('abc', 4, 1, 'x')", "NULL"},
      {"STUFF('abc', 0, 1, 'x')", "NULL"},
      {"STUFF('abcdef', 2, 10, 'X')", "aX"},
      {"STR(24)", "        24"},
      {"STR(2.5)", "         3"},
      {"STR(-2.5)", "        -3"},
      {"STR(123.45, 6, 2)", "123.45"},
      {"STR(123.45, 5, 2)", "123.5"},
      {"STR(12345678901)", "**********"},
      {"STR('24')", "        24"},
      {"LTRIM(STR(15000))", "15000"},
      {"RTRIM('ab  ')", "ab"},
      {"REPLACE('10MG', 'mg', '')", "10"},
      {"REPLACE('1정', '정', '')", "1"},
      {"REPLACE('abc', '', 'x')", "abc"},
      {"UPPER('abc')", "ABC"},
      {"ISNULL(NULL, 0)", "0"},
      {"ISNULL(NULL, 'x')", "x"},
      {"ISNULL('a', 'x')", "a"},
  });
}

TEST(TsqlExpressionTest, ConvertGivesSqlServerTexts) {
  ExpectValues({
      {"CONVERT(varchar(4), 3)", "3"},
      {"CONVERT(varchar(2), 123)", "*"},
      {"CONVERT(varchar(20), CONVERT(float, 1.5))", "1.5"},
      {"CONVERT(varchar(20), CONVERT(float, 3))", "3"},
      {"CONVERT(varchar(20), CONVERT(float, 1234567))", "1.23457e+006"},
      {"CONVERT(varchar(20), CONVERT(float, 0.333333333))", "0.333333"},
      {"CONVERT(varchar(10), CONVERT(numeric(10, 2), 2.5))", "2.50"},
      {"CAST(CAST('41' AS INT) + 1 AS CHAR)", "42                            "},
      {"CAST('abcdef' AS VARCHAR(3))", "abc"},
      {"CAST('가나다' AS VARCHAR(4))", "가나"},
      {"CAST('가나다' AS VARCHAR(5))", "가나"},
      {"CAST(N'가나다' AS NVARCHAR(2))", "가나"},
      {"CAST('ab' AS CHAR(4)) + '|'", "ab  |"},
      {"CAST(' 12 ' AS INT)", "12"},
      {"CAST('' AS INT)", "0"},
      {"CAST(2.9 AS INT)", "2"},
      {"CAST('2.5' AS FLOAT) * 2", "5"},
      {"CAST('1e3' AS FLOAT)", "1000"},
      {"CONVERT(varchar(10), CAST('2024-06-05 13:04:05' AS datetime), 112)", "20240605"},
      {"CONVERT(char(6), CAST('20240605' AS datetime), 112)", "202406"},
      {"CONVERT(varchar(19), CAST('20240605 13:04:05' AS datetime), 120)", "2024-06-05 13:04:05"},
      {"CONVERT(varchar(10), CAST('2024/06/05' AS datetime), 23)", "2024-06-05"},
      {"CONVERT(varchar(8), CAST('2024-06-05 13:04:05' AS datetime), 108)", "13:04:05"},
      {"CONVERT(varchar(30), CAST('2024-06-05 13:04:05.5' AS datetime), 121)",
       "2024-06-05 13:04:05.500"},
      {"CONVERT(varchar(30), CAST('2024-06-05 13:04:05' AS datetime))", "Jun  5 2024  1:04PM"},
      {"CONVERT(varchar(10), CAST('2024-06-05' AS datetime), 101)", "06/05/2024"},
      {"CONVERT(varchar(10), CAST('2024-06-05' AS datetime), 1)", "06/05/24"},
      {"CONVERT(varchar(10), CAST('2024-06-05' AS datetime), 104)", "05.06.2024"},
      {"CONVERT(varchar(10), CAST('2024-06-05' AS datetime), 111)", "2024/06/05"},
      {"CONVERT(varchar(10), CAST('2024-06-05' AS datetime), 12)", "240605"},
      {"CONVERT(varchar(30), CAST('2024-06-05 13:04:05' AS datetime), 126)", "2024-06-05T13:04:05"},
      {"CONVERT(varchar(10), CAST(45000 AS datetime), 112)", "20230317"},
      {"CONVERT(varchar(10), CAST('' AS datetime), 112)", "19000101"},
  });
}

TEST(TsqlExpressionTest, GetDateIsTodaysLocalDate) {
  std::string today = platform::SystemClock().LocalDate();
  TestDatabase db;
  for (const char* text :
       {"SELECT CONVERT(varchar(8), GETDATE(), 112)", "SELECT CONVERT(VARCHAR(10), GETDATE(), 112)",
        "SELECT CONVERT(char(8), CURRENT_TIMESTAMP, 112)"}) {
    // A run across midnight would see the next day; that is not a fault of the layer.
    std::string value = db.Value(text);
    EXPECT_EQ(value.substr(0, 8), today) << text;
  }
}

TEST(TsqlExpressionTest, ComparisonsFollowTheDatabaseCollationAndTypeRules) {
  ExpectValues({
      {"CASE WHEN 'abc  ' = 'ABC' THEN 1 ELSE 0 END", "1"},
      {"CASE WHEN 'abc' < 'ABD' THEN 1 ELSE 0 END", "1"},
      {"CASE WHEN 'b' IN ('A', 'B') THEN 1 ELSE 0 END", "1"},
      {"CASE WHEN 'b' BETWEEN 'A' AND 'C' THEN 1 ELSE 0 END", "1"},
      {"CASE WHEN 10 = '10' THEN 1 ELSE 0 END", "1"},
      {"CASE WHEN 9 < '10' THEN 1 ELSE 0 END", "1"},
      {"CASE WHEN '9' < '10' THEN 1 ELSE 0 END", "0"},
      {"CASE WHEN 1 != 2 THEN 1 ELSE 0 END", "1"},
      {"CASE WHEN NULL = NULL THEN 1 ELSE 0 END", "0"},
      {"CASE 'x' WHEN 'X' THEN 'upper' ELSE 'other' END", "upper"},
      {"CASE WHEN 1 = 0 THEN 1 ELSE '2' END + 1", "3"},
  });
}

TEST(TsqlExpressionTest, LikeUsesSqlServerPatterns) {
  ExpectValues({
      {"CASE WHEN 'ABC' LIKE 'a%' THEN 1 ELSE 0 END", "1"},
      {"CASE WHEN '08801234567890' LIKE '%%8801234567890' THEN 1 ELSE 0 END", "1"},
      {"CASE WHEN '8801234567891' LIKE '%%8801234567890' THEN 1 ELSE 0 END", "0"},
      {"CASE WHEN '20131220153000' LIKE '20131220%' THEN 1 ELSE 0 END", "1"},
      {"CASE WHEN 'a1' LIKE '_[0-9]' THEN 1 ELSE 0 END", "1"},
      {"CASE WHEN 'ab' LIKE '_[^b]' THEN 1 ELSE 0 END", "0"},
      {"CASE WHEN '가나' LIKE '_나' THEN 1 ELSE 0 END", "1"},
      {"CASE WHEN 'abc  ' LIKE 'abc' THEN 1 ELSE 0 END", "1"},
      {"CASE WHEN '5%' LIKE '5!%' ESCAPE '!' THEN 1 ELSE 0 END", "1"},
      {"CASE WHEN '55' LIKE '5!%' ESCAPE '!' THEN 1 ELSE 0 END", "0"},
      {"CASE WHEN 'abc' NOT LIKE 'x%' THEN 1 ELSE 0 END", "1"},
  });
}

TEST(TsqlExpressionTest, RunTimeErrorsCarrySqlServerMessages) {
  struct ErrorCase {
    const char* text;
    const char* message;
  };
  const ErrorCase cases[] = {
      {"SELECT 1 + 'a'",
       "Conversion failed when converting the varchar value 'a' to data type int."},
      {"SELECT CAST('1.5' AS INT)", "Conversion failed when converting the varchar value '1.5'"},
      {"SELECT CAST('x' AS FLOAT)", "Error converting data type varchar to float."},
      {"SELECT 1 / 0", "Divide by zero error encountered."},
      {"SELECT LEFT('abc', -1)", "Invalid length parameter passed to the left function."},
      {"SELECT CAST('20241341' AS datetime)", "Conversion failed when converting date and/or time"},
      {"SELECT CAST(2147483648 AS INT)", "Arithmetic overflow error"},
      {"SELECT CONVERT(varchar(2), 1.5E0)", "Arithmetic overflow error converting float"},
  };
  TestDatabase db;
  for (const ErrorCase& c : cases) {
    EXPECT_NE(db.Error(c.text).find(c.message), std::string::npos) << c.text;
  }
}

TEST(TsqlExpressionTest, ExtremeNumbersGiveSqlServersAnswers) {
  // Positions and lengths past the end of a text all mean its end.
  ExpectValues({
      {"SUBSTRING('abc', 2, 9223372036854775807)", "bc"},
      {"SUBSTRING('abc', 9223372036854775807, 9223372036854775807)", ""},
      {"SUBSTRING('abc', -9223372036854775807, 9223372036854775807)", ""},
      {"SUBSTRING('abc', 0, 1)", ""},
      {"STUFF('abc', 2, 9223372036854775807, 'x')", "ax"},
      {"LEFT('abc', 9223372036854775807)", "abc"},
      {"RIGHT('abc', 9223372036854775807)", "abc"},
      {"CHARINDEX('b', 'abc', 9223372036854775807)", "0"},
      {"CHARINDEX('b', 'abc', -9223372036854775807)", "2"},
      {"STR(1E308)", "**********"},
      {"STR(-1E308, 10, 16)", "**********"},
      {"2147483646 + 1", "2147483647"},
      {"CAST('9223372036854775806' AS BIGINT) + 1", "9223372036854775807"},
      {"CONVERT(VARCHAR(8), CAST(2958463 AS DATETIME), 112)", "99991231"},
      {"CASE WHEN CAST(1E19 AS DECIMAL(38, 0)) > 9E18 THEN 1 ELSE 0 END", "1"},
  });
  // A result outside its type fails the statement.
  const std::string int_overflow =
      "Arithmetic overflow error converting expression to data type int.";
  const std::string bigint_overflow =
      "Arithmetic overflow error converting expression to data type bigint.";
  const std::string datetime_overflow =
      "Arithmetic overflow error converting expression to data type datetime.";
  const struct {
    const char* text;
    const std::string& message;
  } errors[] = {
      {"SELECT 2147483647 + 1", int_overflow},
      {"SELECT -2147483647 - 2", int_overflow},
      {"SELECT 65536 * 65536", int_overflow},
      {"SELECT '2147483647' + 1", int_overflow},
      {"SELECT 2147483647 + 1 - 1", int_overflow},
      {"SELECT CAST('-2147483648' AS INT) / -1", int_overflow},
      {"SELECT CAST('9223372036854775807' AS BIGINT) + 1", bigint_overflow},
      {"SELECT CAST('-9223372036854775807' AS BIGINT) - 2", bigint_overflow},
      {"SELECT CAST('4294967296' AS BIGINT) * CAST('4294967296' AS BIGINT)", bigint_overflow},
      {"SELECT CAST('-9223372036854775808' AS BIGINT) / -1", bigint_overflow},
      {"SELECT CAST(2958464 AS DATETIME)", datetime_overflow},
      {"SELECT CAST(1E300 AS DATETIME)", datetime_overflow},
      {"SELECT CAST(-1E300 AS DATETIME)", datetime_overflow},
  };
  TestDatabase db;
  for (const auto& c : errors) {
    EXPECT_EQ(db.Error(c.text).rfind(c.message, 0), 0u) << c.text << ": " << db.Error(c.text);
  }
}

// A small pharmacy database for the statement tests.
class TsqlStatementTest : public ::testing::Test {
 protected:
  void SetUp() override {
    db_.Exec(R"(
      CREATE TABLE PM_DRUG.GOODS (SN INTEGER PRIMARY KEY, CODE VARCHAR(10), NAME VARCHAR(20),
        UNIT CHAR(3), PRICE FLOAT, QTY INT, FLAG BIT, MADE DATETIME);
      CREATE TABLE PM_DRUG.UNITS (CODE CHAR(3), NAME VARCHAR(10));
      CREATE TABLE PM_BASE.COUNTER (DAY VARCHAR(8), SERIAL INT);
      INSERT INTO PM_DRUG.GOODS (CODE, NAME, UNIT, PRICE, QTY) VALUES
        ('ZP00000041', '감기약', '001', 1500, 10),
        ('ZP00000007', 'Vitamin', '002', 2500.5, 3),
        ('A1', 'Mask', '003', 700, 0);
      INSERT INTO PM_DRUG.UNITS VALUES ('001', '개'), ('002', ''), ('003', '');
    )");
  }

  std::vector<std::string> Column(const BatchResult& result, size_t set = 0, size_t column = 0) {
    std::vector<std::string> values;
    if (set >= result.result_sets.size()) return values;
    for (const std::vector<Cell>& row : result.result_sets[set].rows) {
      values.push_back(row[column].is_null ? "NULL" : row[column].text);
    }
    return values;
  }

  TestDatabase db_;
};

TEST_F(TsqlStatementTest, TopLimitsQueriesSubqueriesAndUnionMembers) {
  using Rows = std::vector<std::string>;
  EXPECT_EQ(Column(db_.Run("SELECT TOP (2) CODE FROM PM_DRUG..GOODS ORDER BY PRICE DESC")),
            (Rows{"ZP00000007", "ZP00000041"}));
  EXPECT_EQ(Column(db_.Run("SELECT TOP 1 NAME FROM PM_DRUG.dbo.GOODS ORDER BY QTY")),
            (Rows{"Mask"}));
  EXPECT_EQ(
      db_.Value("SELECT (SELECT TOP 1 G.NAME FROM PM_DRUG..GOODS AS G ORDER BY G.PRICE) + '!'"),
      "Mask!");
  EXPECT_EQ(Column(db_.Run("SELECT T.CODE FROM (SELECT TOP 2 CODE, PRICE FROM PM_DRUG..GOODS "
                           "ORDER BY PRICE) AS T ORDER BY T.CODE")),
            (Rows{"A1", "ZP00000041"}));
  // TOP belongs to its own SELECT of a UNION (one of the two stocked goods), ORDER BY to the
  // whole result, named by a qualified column.
  Rows both = Column(
      db_.Run("SELECT TOP 1 G.CODE FROM PM_DRUG..GOODS AS G WHERE G.QTY > 0 UNION "
              "SELECT G.CODE FROM PM_DRUG..GOODS AS G WHERE G.QTY = 0 ORDER BY G.CODE DESC"));
  ASSERT_EQ(both.size(), 2u);
  EXPECT_EQ(both[0].substr(0, 2), "ZP");
  EXPECT_EQ(both[1], "A1");
}

TEST_F(TsqlStatementTest, UnionOrderByNamesTheFirstSelectsColumns) {
  using Rows = std::vector<std::string>;
  BatchResult result = db_.Run(
      "SELECT G.CODE, G.PRICE FROM PM_DRUG..GOODS AS G WHERE G.QTY > 5 UNION ALL "
      "SELECT X.CODE, X.PRICE FROM PM_DRUG..GOODS AS X WHERE X.QTY < 5 ORDER BY G.PRICE DESC");
  EXPECT_EQ(Column(result), (Rows{"ZP00000007", "ZP00000041", "A1"}));
  EXPECT_EQ(Column(result, 0, 1), (Rows{"2500.5", "1500", "700"}));
  EXPECT_NE(db_.Error("SELECT CODE FROM PM_DRUG..GOODS UNION SELECT CODE FROM PM_DRUG..GOODS "
                      "ORDER BY PRICE")
                .find("ORDER BY term that is not in the select list of a UNION"),
            std::string::npos);
}

TEST_F(TsqlStatementTest, ResultColumnsAreNamedAsSqlServerNamesThem) {
  BatchResult result =
      db_.Run("SELECT g.code, 0, NAME AS n, 'x' 'quoted', total = QTY * 2 FROM PM_DRUG..GOODS g");
  ASSERT_EQ(result.result_sets.size(), 1u);
  EXPECT_EQ(result.result_sets[0].columns,
            (std::vector<std::string>{"code", "", "n", "quoted", "total"}));
  BatchResult star = db_.Run("SELECT TOP 1 * FROM PM_DRUG..UNITS WHERE CODE = 'none'");
  ASSERT_EQ(star.result_sets.size(), 1u);
  EXPECT_TRUE(star.result_sets[0].rows.empty());
  EXPECT_EQ(star.result_sets[0].columns, (std::vector<std::string>{"CODE", "NAME"}));
}

TEST_F(TsqlStatementTest, IfExistsBlocksInsertOrUpdate) {
  const char* upsert =
      "IF EXISTS (SELECT * FROM PM_BASE..COUNTER WHERE DAY = '20240605') "
      "BEGIN UPDATE PM_BASE..COUNTER SET SERIAL = SERIAL + 1 WHERE DAY = '20240605' END "
      "ELSE BEGIN INSERT INTO PM_BASE..COUNTER (DAY, SERIAL) VALUES ('20240605', 1) END";
  EXPECT_EQ(db_.Run(upsert).rows_affected, 1);
  db_.Run(upsert);
  db_.Run(upsert);
  EXPECT_EQ(db_.Value("SELECT COUNT(*) FROM PM_BASE..COUNTER"), "1");
  EXPECT_EQ(db_.Value("SELECT SERIAL FROM PM_BASE..COUNTER"), "3");

  const char* insert_once =
      "IF NOT EXISTS (SELECT * FROM PM_BASE..COUNTER WHERE DAY = '20240606') "
      "INSERT INTO PM_BASE..COUNTER (DAY, SERIAL) VALUES ('20240606', 0)";
  db_.Run(insert_once);
  db_.Run(insert_once);
  EXPECT_EQ(db_.Value("SELECT COUNT(*) FROM PM_BASE..COUNTER WHERE DAY = '20240606'"), "1");
}

TEST_F(TsqlStatementTest, NestedIfChoosesOneBranchAndItsResultSet) {
  const char* text =
      "IF EXISTS (SELECT * FROM PM_DRUG..GOODS WHERE QTY > 5) "
      "  IF NOT EXISTS (SELECT * FROM PM_DRUG..GOODS WHERE PRICE > 9000) SELECT 'cheap' "
      "  ELSE SELECT 'dear' "
      "ELSE BEGIN SELECT 'none'; SELECT 'second' END";
  BatchResult result = db_.Run(text);
  ASSERT_EQ(result.result_sets.size(), 1u);
  EXPECT_EQ(result.result_sets[0].rows[0][0].text, "cheap");
  db_.Run("UPDATE PM_DRUG..GOODS SET QTY = 0");
  EXPECT_EQ(db_.Run(text).result_sets.size(), 2u);
}

TEST_F(TsqlStatementTest, VariablesAreDeclaredSetAndBound) {
  // The declared type holds: a longer text is cut to VARCHAR(8), a number text becomes INT.
  EXPECT_EQ(db_.Value("DECLARE @DATE VARCHAR(8); SET @DATE = '20240605123'; SELECT @DATE + '|'"),
            "20240605|");
  EXPECT_EQ(db_.Value("DECLARE @n INT = '41'; SELECT @N + 1"), "42");
  EXPECT_EQ(db_.Value("DECLARE @a INT, @b VARCHAR(3) = 'x'; SELECT ISNULL(@a, 7) + LEN(@b)"), "8");
  // SELECT @v = ... keeps the last row's value, and no row leaves the variable as it was.
  EXPECT_EQ(db_.Value("DECLARE @c VARCHAR(10) SELECT @c = CODE FROM PM_DRUG..GOODS ORDER BY SN "
                      "SELECT @c"),
            "A1");
  EXPECT_EQ(db_.Value("DECLARE @c VARCHAR(10) = 'kept' SELECT @c = CODE FROM PM_DRUG..GOODS "
                      "WHERE 1 = 0 SELECT @c"),
            "kept");
  EXPECT_EQ(db_.Value("DECLARE @p FLOAT SELECT @p = MAX(PRICE) FROM PM_DRUG..GOODS "
                      "IF @p > 2000 SELECT 'high' ELSE SELECT 'low'"),
            "high");
  // A variable's value is a bound parameter: quotes in it are data, never SQL.
  EXPECT_EQ(db_.Value("DECLARE @s VARCHAR(20) = 'x'' OR ''1''=''1'; "
                      "SELECT COUNT(*) FROM PM_DRUG..GOODS WHERE NAME = @s"),
            "0");
}

TEST_F(TsqlStatementTest, UpdateFromJoinUpdatesTheRowsOfTheNamedReference) {
  // The updated table named by its own name and aliased in the FROM: its rows that join a
  // nameless unit move to unit 009.
  db_.Run(
      "UPDATE PM_DRUG..GOODS SET UNIT = '009' FROM PM_DRUG..UNITS AS A INNER JOIN "
      "PM_DRUG..GOODS AS B ON A.CODE = B.UNIT AND A.NAME = ''; "
      "DELETE FROM PM_DRUG..UNITS WHERE NAME = ''");
  EXPECT_EQ(Column(db_.Run("SELECT UNIT FROM PM_DRUG..GOODS ORDER BY SN")),
            (std::vector<std::string>{"001", "009", "009"}));
  EXPECT_EQ(db_.Value("SELECT COUNT(*) FROM PM_DRUG..UNITS"), "1");

  // Named by alias; the joined table's columns feed the new values.
  BatchResult result = db_.Run(
      "UPDATE G SET NAME = G.NAME + '/' + U.NAME FROM PM_DRUG..GOODS AS G "
      "INNER JOIN PM_DRUG..UNITS AS U ON U.CODE = G.UNIT WHERE G.QTY > 0");
  EXPECT_EQ(result.rows_affected, 1);
  EXPECT_EQ(db_.Value("SELECT NAME FROM PM_DRUG..GOODS WHERE CODE = 'ZP00000041'"), "감기약/개");

  // The FROM names only the updated table: its columns copy within each row.
  db_.Run(
      "UPDATE PM_DRUG..GOODS SET QTY = SN, PRICE = QTY FROM PM_DRUG..GOODS WHERE CODE LIKE 'ZP%'");
  EXPECT_EQ(Column(db_.Run("SELECT QTY FROM PM_DRUG..GOODS ORDER BY SN")),
            (std::vector<std::string>{"1", "2", "0"}));
  EXPECT_EQ(Column(db_.Run("SELECT PRICE FROM PM_DRUG..GOODS ORDER BY SN")),
            (std::vector<std::string>{"10", "3", "700"}));
}

TEST_F(TsqlStatementTest, StoringConvertsToTheColumnTypeOrFails) {
  db_.Run(
      "INSERT INTO PM_DRUG..GOODS (CODE, PRICE, QTY, FLAG, MADE) "
      "VALUES ('B1', '1500', '', 'True', '20240605 08:30')");
  BatchResult row = db_.Run("SELECT PRICE, QTY, FLAG, MADE FROM PM_DRUG..GOODS WHERE CODE = 'B1'");
  ASSERT_EQ(row.result_sets[0].rows.size(), 1u);
  const std::vector<Cell>& cells = row.result_sets[0].rows[0];
  EXPECT_EQ(cells[0].text, "1500");
  EXPECT_EQ(cells[1].text, "0");
  EXPECT_EQ(cells[2].text, "1");
  EXPECT_EQ(cells[3].text, "2024-06-05 08:30:00.000");
  // Without a column list the IDENTITY column takes no value.
  db_.Run("INSERT INTO PM_DRUG..UNITS VALUES ('010', '상자')");
  db_.Run("INSERT INTO PM_DRUG..GOODS VALUES ('C1', 'n', '010', 1, 1, 0, NULL)");
  EXPECT_EQ(db_.Value("SELECT SN FROM PM_DRUG..GOODS WHERE CODE = 'C1'"), "5");
  EXPECT_NE(db_.Error("INSERT INTO PM_DRUG..UNITS VALUES ('0100', 'x')")
                .find("String or binary data would be truncated."),
            std::string::npos);
  EXPECT_NE(
      db_.Error("UPDATE PM_DRUG..GOODS SET QTY = 'many' WHERE CODE = 'C1'")
          .find("Conversion failed when converting the varchar value 'many' to data type int."),
      std::string::npos);
  EXPECT_NE(db_.Error("INSERT INTO PM_DRUG..UNITS VALUES ('011')").find("column count"),
            std::string::npos);
}

TEST_F(TsqlStatementTest, AggregatesGroupsAndDerivedTables) {
  EXPECT_EQ(db_.Value("SELECT ISNULL(MAX(CAST(SUBSTRING(CODE, CHARINDEX('0', CODE), LEN(CODE)) "
                      "AS INT)), 0) FROM PM_DRUG..GOODS WHERE LEN(CODE) = 10 AND "
                      "LEFT(CODE, 2) = 'ZP'"),
            "41");
  EXPECT_EQ(db_.Value("SELECT ISNULL(MAX(CAST(CODE AS INT)), 0) FROM PM_DRUG..GOODS "
                      "WHERE CODE = 'none'"),
            "0");
  EXPECT_EQ(db_.Value("SELECT SUM(QTY) FROM PM_DRUG..GOODS"), "13");
  EXPECT_EQ(db_.Value("SELECT AVG(QTY) FROM PM_DRUG..GOODS"), "4");
  EXPECT_EQ(db_.Value("SELECT MAX(NAME) FROM PM_DRUG..GOODS WHERE NAME IN ('mask', 'Vitamin')"),
            "Vitamin");
  EXPECT_EQ(db_.Value("SELECT COUNT(DISTINCT U.NAME) FROM PM_DRUG..UNITS U"), "2");
  EXPECT_EQ(db_.Value("SELECT T.N FROM (SELECT UNIT, COUNT(*) AS N FROM PM_DRUG..GOODS "
                      "GROUP BY UNIT HAVING COUNT(*) >= 1) AS T WHERE T.UNIT = '002'"),
            "1");
  EXPECT_EQ(db_.Value("SELECT COUNT(*) FROM PM_DRUG..GOODS G LEFT OUTER JOIN PM_DRUG..UNITS U "
                      "ON U.CODE = G.UNIT AND U.NAME <> '' WHERE U.CODE IS NULL"),
            "2");
  EXPECT_EQ(db_.Value("SELECT COUNT(*) FROM PM_DRUG..GOODS WHERE UNIT IN "
                      "(SELECT CODE FROM PM_DRUG..UNITS WHERE NAME = '')"),
            "2");
  EXPECT_EQ(db_.Value("SELECT COUNT(*) FROM PM_DRUG..GOODS WHERE PRICE BETWEEN '700' AND 1500"),
            "2");
}

TEST_F(TsqlStatementTest, UnsupportedConstructsFailNamingTheConstruct) {
  struct Case {
    const char* text;
    const char* construct;
  };
  const Case cases[] = {
      {"SELECT * FROM PM_DRUG..GOODS WITH (NOLOCK)", "table hint"},
      {"SELECT * FROM PM_DRUG..GOODS (NOLOCK)", "table hint"},
      {"EXEC sp_who", "EXEC"},
      {"SELECT DATEADD(day, 1, GETDATE())", "function DATEADD"},
      {"SELECT TOP 10 PERCENT * FROM PM_DRUG..GOODS", "TOP PERCENT"},
      {"BEGIN TRAN", "transaction control"},
      {"SELECT CODE FROM PM_DRUG..GOODS FOR XML AUTO", "FOR"},
      {"WHILE 1 = 1 SELECT 1", "WHILE"},
      {"SELECT ROW_NUMBER() OVER (ORDER BY CODE) FROM PM_DRUG..GOODS", "window function OVER"},
      {"SELECT * FROM PM_DRUG..GOODS G RIGHT JOIN PM_DRUG..UNITS U ON 1 = 1", "RIGHT JOIN"},
      {"SELECT @@ROWCOUNT", "system variable @@ROWCOUNT"},
      {"SELECT CONVERT(varchar, GETDATE(), 999)", "CONVERT style 999"},
      {"SELECT 'a' COLLATE Korean_Wansung_CI_AS", "COLLATE clause"},
      {"SELECT CODE FROM PM_DRUG.GOODS", "schema-qualified name"},
      {"SELECT @x", "undeclared variable @X"},
      {"SET NOCOUNT ON", "SET option NOCOUNT"},
      {"SELECT 1 & 2", "bitwise operator &"},
      {"SELECT GETDATE() + 1", "datetime arithmetic"},
      {"SELECT 'a' - 'b'", "operator - on texts"},
      {"CREATE TABLE X (A INT)", "CREATE"},
      {"SELECT CAST(1 AS money2)", "data type money2"},
      {"WITH T AS (SELECT 1 AS A) SELECT A FROM T", "WITH"},
      {"SELECT 'abc", "unterminated string literal"},
      {"UPDATE PM_DRUG..GOODS SET QTY += 1", "expected '='"},
      {"UPDATE G SET QTY = 1 FROM PM_DRUG..UNITS U LEFT JOIN PM_DRUG..GOODS G ON G.UNIT = U.CODE",
       "outer join"},
      {"IF 1 = 1 SELECT 1; ELSE SELECT 2", "ELSE"},
      {"DECLARE @n INT = 1; IF @n SELECT 1", "condition that is not a comparison"},
      {"SELECT CODE FROM PM_DRUG..GOODS WHERE QTY", "condition that is not a comparison"},
  };
  for (const Case& c : cases) {
    std::string error = db_.Error(c.text);
    EXPECT_EQ(error.rfind("unsupported T-SQL: ", 0), 0u) << c.text << " -> " << error;
    EXPECT_NE(error.find(c.construct), std::string::npos) << c.text << " -> " << error;
    EXPECT_NE(error.find(" near '"), std::string::npos) << c.text << " -> " << error;
  }
}

TEST_F(TsqlStatementTest, DeepNestingIsRefusedWithoutExhaustingTheStack) {
  auto repeat = [](const std::string& piece, int times) {
    std::string text;
    for (int i = 0; i < times; ++i) text += piece;
    return text;
  };
  const std::string texts[] = {
      "SELECT " + repeat("(", 5000) + "1" + repeat(")", 5000),
      "SELECT 1" + repeat(" + 1", 5000),
      "SELECT " + repeat("- ", 5000) + "1",
      "SELECT 1 WHERE " + repeat("NOT ", 5000) + "1 = 1",
      repeat("IF 1 = 1 ", 5000) + "SELECT 1",
      "SELECT * FROM PM_DRUG..GOODS" + repeat(" CROSS JOIN PM_DRUG..UNITS", 5000),
  };
  for (const std::string& text : texts) {
    EXPECT_NE(db_.Error(text).find("nesting deeper than"), std::string::npos) << text.substr(0, 40);
  }
  // The texts of the system nest far less.
  EXPECT_EQ(db_.Value("SELECT " + repeat("(", 40) + "1" + repeat(")", 40) + repeat(" + 1", 40)),
            "41");
  // A long chain of integer operators is checked step by step without nesting in SQLite.
  EXPECT_EQ(db_.Value("SELECT 1" + repeat(" + 1", 250)), "251");
}

TEST_F(TsqlStatementTest, ABatchWithAnUnsupportedStatementRunsNothing) {
  db_.Error("INSERT INTO PM_BASE..COUNTER VALUES ('20240101', 1); SELECT DATEADD(d, 1, GETDATE())");
  EXPECT_EQ(db_.Value("SELECT COUNT(*) FROM PM_BASE..COUNTER"), "0");
}

TEST_F(TsqlStatementTest, AFailingStatementStopsTheBatchWithSqlitesMessage) {
  std::string error = db_.Error(
      "INSERT INTO PM_BASE..COUNTER VALUES ('20240101', 1) SELECT NOSUCH FROM PM_DRUG..GOODS "
      "INSERT INTO PM_BASE..COUNTER VALUES ('20240102', 1)");
  EXPECT_NE(error.find("no such column: NOSUCH"), std::string::npos) << error;
  EXPECT_EQ(db_.Value("SELECT COUNT(*) FROM PM_BASE..COUNTER"), "1");
  EXPECT_NE(db_.Error("SELECT * FROM PM_DRUG..MISSING").find("no such table"), std::string::npos);
}

TEST_F(TsqlStatementTest, TranslateGivesSqliteTextsOrRefusesControlFlow) {
  std::vector<std::string> statements;
  std::string error;
  ASSERT_TRUE(Translate(db_.db(),
                        "SELECT TOP 1 CODE FROM PM_DRUG..GOODS ORDER BY CODE; "
                        "DELETE FROM PM_BASE.dbo.COUNTER WHERE DAY = 'x'",
                        &statements, &error))
      << error;
  EXPECT_EQ(statements, (std::vector<std::string>{
                            "SELECT CODE FROM PM_DRUG.GOODS ORDER BY 1 LIMIT 1",
                            "DELETE FROM PM_BASE.COUNTER WHERE (DAY COLLATE TSQL = 'x')"}));
  EXPECT_FALSE(Translate(db_.db(), "IF 1 = 1 SELECT 1", &statements, &error));
  EXPECT_FALSE(Translate(db_.db(), "DECLARE @a INT; SELECT @a", &statements, &error));
  EXPECT_EQ(CompileOnly(db_.db(), "IF 1 = 1 SELECT 1 ELSE BEGIN SELECT 2; SELECT 3 END", &error),
            4);
}

}  // namespace
}  // namespace tsql
