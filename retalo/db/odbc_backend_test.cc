#include "retalo/db/odbc_backend.h"

#include <gtest/gtest.h>

#include <clocale>

#include "platform/testing/temp_prefix.h"
#include "retalo/db/log_writer.h"
#include "tests/fixtures/fixture.h"

namespace retalo {
namespace {

// The backend run for real through the SQLite ODBC driver on the fixture's goods database.
// That driver has only the narrow API: the driver manager turns the wide calls into the
// locale's character set, which must be UTF-8 like the database file.
class OdbcBackendTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::setlocale(LC_CTYPE, "C.UTF-8");
    std::string error;
    ASSERT_TRUE(fixture::LoadFixture(fixture::DefaultDir(), &error)) << error;
    ConnectionSettings settings;
    settings.odbc_connection =
        "DRIVER=SQLite3;Database=" + (fixture::DefaultDir() / "PM_DRUG.db").string();
    ASSERT_TRUE(backend_.Open(settings, &error)) << error;
  }
  SqlOutcome Run(std::string_view sql) {
    SqlOutcome out;
    std::string error;
    EXPECT_TRUE(backend_.Execute(sql, &out, &error)) << sql << ": " << error;
    return out;
  }

  platform::testing::TempPrefix prefix_;
  OdbcBackend backend_;
};

TEST_F(OdbcBackendTest, ReadsValuesThroughTheWideApi) {
  // A Korean value longer than one read piece, NULL, a number, an empty text.
  SqlOutcome out =
      Run(Cp949("SELECT replace(hex(zeroblob(1500)), '00', '가나') AS LONGTEXT, NULL AS N, 42 AS "
                "I, '' AS E"));
  ASSERT_TRUE(out.has_result_set);
  ASSERT_EQ(out.result.rows.size(), 1u);
  EXPECT_EQ(out.result.columns, (std::vector<std::string>{"LONGTEXT", "N", "I", "E"}));
  std::string expected;
  for (int i = 0; i < 1500; ++i) expected += Cp949("가나");
  const std::vector<SqlCell>& row = out.result.rows[0];
  EXPECT_EQ(row[0].text, expected);
  EXPECT_TRUE(row[1].is_null);
  EXPECT_EQ(row[2].text, "42");
  EXPECT_FALSE(row[3].is_null);
  EXPECT_EQ(row[3].text, "");
}

TEST_F(OdbcBackendTest, CountsChangedRowsAndReportsErrors) {
  EXPECT_EQ(Run("UPDATE CD_ITEM_UNIT_MEMBER SET COM_GUBUN = '02' WHERE DRUGCODE = '6430100010'")
                .rows_affected,
            2);
  EXPECT_FALSE(Run("DELETE FROM CD_MC WHERE DRUGCODE = 'none'").has_result_set);
  SqlOutcome out;
  std::string error;
  EXPECT_FALSE(backend_.Execute("SELECT * FROM NO_SUCH_TABLE", &out, &error));
  EXPECT_NE(error.find("NO_SUCH_TABLE"), std::string::npos) << error;
  // Text that is not CP949 never reaches the driver.
  EXPECT_FALSE(backend_.Execute("SELECT '\xFF\xFF'", &out, &error));
}

TEST_F(OdbcBackendTest, RollbackUndoesAndCommitKeeps) {
  std::string error;
  ASSERT_TRUE(backend_.Begin(&error)) << error;
  Run("INSERT INTO CD_MC (DRUGCODE) VALUES ('X1')");
  ASSERT_TRUE(backend_.Rollback(&error)) << error;
  ASSERT_TRUE(backend_.Begin(&error)) << error;
  Run("INSERT INTO CD_MC (DRUGCODE) VALUES ('X2')");
  ASSERT_TRUE(backend_.Commit(&error)) << error;
  // After the transaction the connection commits each statement again.
  Run("INSERT INTO CD_MC (DRUGCODE) VALUES ('X3')");
  backend_.Close();
  std::string rows;
  ASSERT_TRUE(fixture::QueryFixture(
      fixture::DefaultDir(), "SELECT group_concat(DRUGCODE) FROM PM_DRUG.CD_MC", &rows, &error))
      << error;
  EXPECT_EQ(rows, "E100000001,X2,X3");
}

}  // namespace
}  // namespace retalo
