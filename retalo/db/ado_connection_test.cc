#include "retalo/db/ado_connection.h"

#include <gtest/gtest.h>

#include <clocale>

#include "platform/registry.h"
#include "platform/testing/temp_prefix.h"
#include "retalo/db/log_writer.h"
#include "retalo/db/odbc_backend.h"
#include "retalo/db/sql_fill.h"
#include "tests/fixtures/fixture.h"

namespace retalo {
namespace {

// A connection to the fixture databases of the current prefix through one backend.
struct Backend {
  const char* name;
  std::unique_ptr<CAdoConnection> (*connect)();
};

// The configured default: the embedded SQLite databases.
std::unique_ptr<CAdoConnection> Embedded() { return std::make_unique<CAdoConnection>(); }

// ODBC through the SQLite ODBC driver: PM_DRUG.db is the main database, the other two are
// attached after connecting. The texts used below are valid in both dialects. The SQLite ODBC
// driver has only the narrow API: the driver manager turns the wide calls into the locale's
// character set, which must be UTF-8 like the database files.
std::unique_ptr<CAdoConnection> OdbcOnSqlite() {
  std::setlocale(LC_CTYPE, "C.UTF-8");
  const std::filesystem::path dir = fixture::DefaultDir();
  ConnectionSettings settings;
  settings.odbc_connection = "DRIVER=SQLite3;Database=" + (dir / "PM_DRUG.db").string();
  return std::make_unique<CAdoConnection>(std::make_unique<OdbcBackend>(), settings);
}

class AdoConnectionTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(fixture::LoadFixture(fixture::DefaultDir(), &error)) << error;
    db_ = GetParam().connect();
  }
  // Opens (with a transaction when asked) and makes the three databases reachable.
  void Open(bool with_transaction = false) {
    ASSERT_TRUE(with_transaction ? db_->OpenWithTransaction() : db_->OpenConnection())
        << db_->last_error();
    if (std::string(GetParam().name) != "odbc") return;
    for (const char* name : {"PM_BASE", "PM_PRES"}) {
      const std::string file = (fixture::DefaultDir() / (std::string(name) + ".db")).string();
      ASSERT_EQ(db_->ExecuteSql("ATTACH DATABASE '" + file + "' AS " + name, false), kSqlOk)
          << db_->last_error();
    }
  }
  std::string Query(std::string_view sql) {
    std::string rows, error;
    EXPECT_TRUE(fixture::QueryFixture(fixture::DefaultDir(), sql, &rows, &error)) << error;
    return rows;
  }

  platform::testing::TempPrefix prefix_;
  std::unique_ptr<CAdoConnection> db_;
};

TEST_P(AdoConnectionTest, ExecuteSqlReportsRowsNoRowsAndFailure) {
  Open();
  struct Case {
    const char* sql;
    bool want_rows;
    int expected;
  };
  const Case cases[] = {
      {"SELECT SPLNAME FROM CD_MAKER WHERE SPLCODE = '00456'", true, kSqlOk},
      {"SELECT SPLNAME FROM CD_MAKER WHERE SPLCODE = 'none'", true, kSqlNoRows},
      {"SELECT SPLNAME FROM CD_MAKER WHERE SPLCODE = 'none'", false, kSqlOk},
      {"UPDATE CD_MAKER SET SPLNAME = SPLNAME WHERE SPLCODE = 'none'", false, kSqlOk},
      {"UPDATE CD_MAKER SET SPLNAME = SPLNAME WHERE SPLCODE = '00456'", true, kSqlNoRows},
      {"SELECT NOSUCHCOLUMN FROM CD_MAKER", true, kSqlFailed},
      {"SELECT * FROM NO_SUCH_TABLE", false, kSqlFailed},
      {"INSERT INTO CD_MAKER (SPLCODE, SPLNAME) VALUES ('00123', 'duplicate')", false, kSqlFailed},
      {"", false, kSqlFailed},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(db_->ExecuteSql(c.sql, c.want_rows), c.expected)
        << c.sql << ": " << db_->last_error();
  }
  // After rows were wanted and came, the cursor stands on the first row.
  ASSERT_EQ(db_->ExecuteSql("SELECT SPLNAME FROM CD_MAKER WHERE SPLCODE = '00456'", true), kSqlOk);
  EXPECT_FALSE(db_->IsEof());
  EXPECT_EQ(db_->GetFieldText("SPLNAME"), Cp949("대웅제약"));
  // No rows: the result set is closed.
  ASSERT_EQ(db_->ExecuteSql("SELECT SPLNAME FROM CD_MAKER WHERE SPLCODE = 'none'", true),
            kSqlNoRows);
  EXPECT_TRUE(db_->IsEof());
}

TEST_P(AdoConnectionTest, FieldsAreTrimmedAndNullReadsEmpty) {
  Open();
  ASSERT_EQ(db_->ExecuteSql("SELECT '  12.75 ' AS Amount, NULL AS NoValue, ' -7x' AS Code, "
                            "'x' AS Last",
                            true),
            kSqlOk)
      << db_->last_error();
  EXPECT_EQ(db_->GetFieldText("AMOUNT"), "12.75");  // names compare without case
  EXPECT_EQ(db_->GetFieldInt("Amount"), 12);
  EXPECT_DOUBLE_EQ(db_->GetFieldReal("Amount"), 12.75);
  EXPECT_EQ(db_->GetFieldText("NoValue"), "");
  EXPECT_EQ(db_->GetFieldInt("NoValue"), 0);
  EXPECT_EQ(db_->GetFieldInt("Code"), -7);
  EXPECT_EQ(db_->GetFieldTextAt(3), "x");
  EXPECT_FALSE(db_->field_error());
  EXPECT_EQ(db_->GetFieldText("NoSuchField"), "");
  EXPECT_TRUE(db_->field_error());
}

TEST_P(AdoConnectionTest, MainAndTemporaryResultSetsAreReadSideBySide) {
  Open();
  ASSERT_TRUE(db_->OpenTempRecordset());
  ASSERT_EQ(db_->ExecuteSql("SELECT SPLCODE FROM CD_MAKER ORDER BY SPLCODE", true, true), kSqlOk);
  EXPECT_EQ(db_->RecordCount(true), 4u);
  std::string seen;
  for (; !db_->IsEof(true); db_->MoveNext(true)) {
    const std::string code = db_->GetFieldText("SPLCODE", true);
    ASSERT_EQ(
        db_->ExecuteSql("SELECT COUNT(*) AS N FROM CD_GOODS WHERE SPLCODE = '" + code + "'", true),
        kSqlOk);
    seen += code + "=" + db_->GetFieldText("N") + " ";
  }
  EXPECT_EQ(seen, "00123=1 00456=1 50001=1 50002=1 ");
  EXPECT_TRUE(db_->GetFieldText("SPLCODE", true).empty());  // past the end
  EXPECT_TRUE(db_->field_error());
}

TEST_P(AdoConnectionTest, QuotesAndKoreanTextRoundTrip) {
  Open();
  const std::string name = Cp949("O'Neil 제약 \"본점\"");
  ASSERT_EQ(db_->ExecuteSql(FillSql("INSERT INTO CD_MAKER (SPLCODE, SPLNAME) VALUES ('%s', '%s')",
                                    {"59999", name}),
                            false),
            kSqlOk)
      << db_->last_error();
  ASSERT_EQ(db_->ExecuteSql(FillSql("SELECT * FROM CD_MAKER WHERE SPLNAME = '%s'", {name}), true),
            kSqlOk)
      << db_->last_error();
  EXPECT_EQ(db_->GetFieldText("SPLCODE"), "59999");
  EXPECT_EQ(db_->GetFieldText("SPLNAME"), name);
  db_->Close();
  // The database holds the text as UTF-8.
  EXPECT_EQ(Query("SELECT SPLNAME FROM PM_DRUG.CD_MAKER WHERE SPLCODE = '59999'"),
            "O'Neil 제약 \"본점\"");
}

TEST_P(AdoConnectionTest, EndRollsBackWhatTheTransactionWrote) {
  Open(true);
  ASSERT_EQ(db_->ExecuteSql("INSERT INTO CD_MAKER (SPLCODE, SPLNAME) VALUES ('59998', 'a')", false),
            kSqlOk);
  ASSERT_EQ(
      db_->ExecuteSql("UPDATE CD_PERSON SET CASH_NUM = '999' WHERE CUSCODE = '0000000001'", false),
      kSqlOk)
      << db_->last_error();
  // A failing statement in the middle does not end the transaction by itself.
  EXPECT_EQ(db_->ExecuteSql("INSERT INTO NO_SUCH_TABLE VALUES (1)", false), kSqlFailed);
  db_->End();
  EXPECT_FALSE(db_->is_open());
  EXPECT_EQ(Query("SELECT COUNT(*) FROM PM_DRUG.CD_MAKER WHERE SPLCODE = '59998'"), "0");
  EXPECT_EQ(Query("SELECT CASH_NUM FROM PM_BASE.CD_PERSON WHERE CUSCODE = '0000000001'"), "");

  Open(true);
  ASSERT_EQ(db_->ExecuteSql("INSERT INTO CD_MAKER (SPLCODE, SPLNAME) VALUES ('59998', 'a')", false),
            kSqlOk);
  ASSERT_EQ(
      db_->ExecuteSql("UPDATE CD_PERSON SET CASH_NUM = '999' WHERE CUSCODE = '0000000001'", false),
      kSqlOk);
  EXPECT_TRUE(db_->Commit()) << db_->last_error();
  EXPECT_FALSE(db_->in_transaction());
  db_->End();
  EXPECT_EQ(Query("SELECT COUNT(*) FROM PM_DRUG.CD_MAKER WHERE SPLCODE = '59998'"), "1");
  EXPECT_EQ(Query("SELECT CASH_NUM FROM PM_BASE.CD_PERSON WHERE CUSCODE = '0000000001'"), "999");
}

TEST_P(AdoConnectionTest, StatementsOutsideATransactionStayWritten) {
  Open();
  ASSERT_EQ(db_->ExecuteSql("INSERT INTO CD_MAKER (SPLCODE, SPLNAME) VALUES ('59997', 'b')", false),
            kSqlOk);
  EXPECT_FALSE(db_->Commit());  // there is no transaction to commit
  db_->End();
  EXPECT_EQ(Query("SELECT COUNT(*) FROM PM_DRUG.CD_MAKER WHERE SPLCODE = '59997'"), "1");
}

INSTANTIATE_TEST_SUITE_P(Backends, AdoConnectionTest,
                         ::testing::Values(Backend{"sqlite", Embedded},
                                           Backend{"odbc", OdbcOnSqlite}),
                         [](const ::testing::TestParamInfo<Backend>& p) {
                           return std::string(p.param.name);
                         });

// Choosing and placing the backend from the settings.
class BackendSettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(fixture::LoadFixture(fixture::DefaultDir(), &error)) << error;
  }
  void Set(std::string_view name, std::string_view value) {
    ASSERT_EQ(platform::RegSetString(kSettingsKey, name, value), platform::RegStatus::kOk);
  }
  platform::testing::TempPrefix prefix_;
};

TEST_F(BackendSettingsTest, TheEmbeddedDatabasesAreTheDefaultAndCanBeMoved) {
  {
    CAdoConnection db;
    ASSERT_TRUE(db.OpenConnection()) << db.last_error();
    EXPECT_EQ(db.ExecuteSql("SELECT GOODSNAME FROM PM_DRUG..CD_GOODS WHERE DRUGCODE = 'ZP00000041'",
                            true),
              kSqlOk)
        << db.last_error();
  }
  std::string error;
  ASSERT_TRUE(fixture::LoadSchemaOnly(prefix_.path() / "drive_d" / "pm", &error)) << error;
  Set(kSqliteDirValue, "D:\\PM");
  CAdoConnection moved;
  ASSERT_TRUE(moved.OpenConnection()) << moved.last_error();
  EXPECT_EQ(moved.ExecuteSql("SELECT GOODSNAME FROM PM_DRUG..CD_GOODS", true), kSqlNoRows);

  Set(kSqliteDirValue, "D:\\nowhere");
  CAdoConnection missing;
  EXPECT_FALSE(missing.OpenConnection());
}

TEST_F(BackendSettingsTest, AnUnreachableServerNeverFallsBackToTheEmbeddedDatabases) {
  Set(kBackendValue, "odbc");
  const struct { const char* driver; } cases[] = {{"FreeTDS"}, {"NoSuchDriver"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.driver);
    Set(kOdbcDriverValue, c.driver);
    CAdoConnection::Options options;
    options.server_lookup = ServerLookup{[] { return std::string("COUNTER1"); },
                                         [](const std::string&) { return std::string(); }};
    CAdoConnection db(options);
    EXPECT_FALSE(db.OpenConnection());  // the computer's own name does not resolve to a server
    EXPECT_EQ(db.ExecuteSql("SELECT 1", false), kSqlFailed);
  }
  Set(kBackendValue, "oracle");
  CAdoConnection unknown;
  EXPECT_FALSE(unknown.OpenConnection());
}

}  // namespace
}  // namespace retalo
