// The ODBC backend through unixODBC's driver manager to the T-SQL stand-in: the connection the
// writer builds, texts both ways in UTF-16, a batch's results, transactions and a dropped
// connection, each with the diagnostics the backend reads back.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/testing/temp_prefix.h"
#include "platform/text.h"
#include "retalo/db/odbc_backend.h"
#include "retalo/db/server_choice.h"
#include "retalo/db/testing/standin_setup.h"
#include "tests/fixtures/fixture.h"

namespace retalo {
namespace {

std::string Cp(std::string_view utf8) { return platform::Utf8ToCp949(utf8).value(); }

class StandInDriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(fixture::LoadFixture(fixture::DefaultDir(), &error)) << error;
    ASSERT_TRUE(standin::InstallStandIn(fixture::DefaultDir(), &error)) << error;
    server_ = ChooseServer(SystemServerLookup());
  }
  // The connection string the writer builds for this computer.
  std::string WritersConnection() const {
    return OdbcConnectionString(standin::kDriverName, server_);
  }
  void Open() {
    ConnectionSettings settings;
    settings.odbc_connection = WritersConnection();
    std::string error;
    ASSERT_TRUE(backend_.Open(settings, &error)) << error;
  }
  SqlOutcome Run(std::string_view sql) {
    SqlOutcome out;
    std::string error;
    EXPECT_TRUE(backend_.Execute(sql, &out, &error)) << sql << ": " << error;
    return out;
  }
  std::string Fails(std::string_view sql) {
    SqlOutcome out;
    std::string error;
    EXPECT_FALSE(backend_.Execute(sql, &out, &error)) << sql;
    return error;
  }
  static std::string Codes() {
    std::string rows, error;
    EXPECT_TRUE(fixture::QueryFixture(
        fixture::DefaultDir(), "SELECT group_concat(DRUGCODE) FROM PM_DRUG.CD_MC", &rows, &error))
        << error;
    return rows;
  }

  platform::testing::TempPrefix prefix_;
  std::string server_;
  OdbcBackend backend_;
};

TEST_F(StandInDriverTest, ConnectsOnlyAsTheServerAndLoginItStandsFor) {
  struct Case {
    std::string name;
    std::string connection;  // "" for the writer's own
    std::string error;       // "" when the connection opens
  };
  const std::string rest = ";UID=sa;PWD={Vq7#mL2&xR};DATABASE=master";
  const std::string driver = "DRIVER={" + std::string(standin::kDriverName) + "}";
  const std::vector<Case> cases = {
      {"the writer's connection", "", ""},
      {"another server", driver + ";SERVER=ELSEWHERE\\PM2005" + rest,
       "server 'ELSEWHERE\\PM2005' was not found"},
      {"another instance", driver + ";SERVER=" + server_ + "\\SQLEXPRESS" + rest, "was not found"},
      {"a wrong password",
       driver + ";SERVER=" + server_ + "\\PM2005;UID=sa;PWD={guess};DATABASE=master",
       "Login failed for user 'sa'."},
      {"another catalogue",
       driver + ";SERVER=" + server_ + "\\PM2005;UID=sa;PWD={Vq7#mL2&xR}" + ";DATABASE=PM_DRUG",
       "Cannot open database \"PM_DRUG\""},
      {"a driver nobody registered",
       "DRIVER={No Such Driver};SERVER=" + server_ + "\\PM2005" + rest, "not found"},
  };
  for (const Case& c : cases) {
    ConnectionSettings settings;
    settings.odbc_connection = c.connection.empty() ? WritersConnection() : c.connection;
    std::string error;
    EXPECT_EQ(backend_.Open(settings, &error), c.error.empty()) << c.name << ": " << error;
    if (!c.error.empty()) {
      EXPECT_NE(error.find(c.error), std::string::npos) << c.name << ": " << error;
    }
    backend_.Close();
  }
}

TEST_F(StandInDriverTest, TextsTravelAsUtf16BothWays) {
  Open();
  // Korean longer than one read piece, NULL, a number, an empty text, a quote.
  std::string long_text;
  for (int i = 0; i < 1500; ++i) long_text += Cp("가나");
  SqlOutcome out = Run("SELECT '" + long_text + "' AS LONGTEXT, NULL AS N, 42 AS I, '' AS E, " +
                       Cp("'홍''길동'") + " AS Q");
  ASSERT_TRUE(out.has_result_set);
  ASSERT_EQ(out.result.rows.size(), 1u);
  EXPECT_EQ(out.result.columns, (std::vector<std::string>{"LONGTEXT", "N", "I", "E", "Q"}));
  const std::vector<SqlCell>& row = out.result.rows[0];
  EXPECT_EQ(row[0].text, long_text);
  EXPECT_TRUE(row[1].is_null);
  EXPECT_EQ(row[2].text, "42");
  EXPECT_FALSE(row[3].is_null);
  EXPECT_EQ(row[3].text, "");
  EXPECT_EQ(row[4].text, Cp("홍'길동"));
  // What is written in Korean is read back the same through the files.
  Run("INSERT INTO PM_DRUG..CD_MC (DRUGCODE) VALUES ('" + Cp("약품") + "')");
  EXPECT_EQ(Codes(), "E100000001,약품");
}

TEST_F(StandInDriverTest, ABatchGivesItsRowsAndItsErrorsAsTheServerReportsThem) {
  Open();
  // The writer's upsert form: one row changed, no result set.
  SqlOutcome out = Run(
      "IF EXISTS (SELECT TOP 1 * FROM PM_DRUG..CD_MC WHERE DRUGCODE = 'E100000001') BEGIN "
      "UPDATE PM_DRUG..CD_MC SET DRUGCODE = 'E100000002' WHERE DRUGCODE = 'E100000001' END ELSE "
      "BEGIN INSERT INTO PM_DRUG..CD_MC (DRUGCODE) VALUES ('E100000001') END");
  EXPECT_FALSE(out.has_result_set);
  EXPECT_EQ(out.rows_affected, 1);
  // An update of no row is no failure (the driver answers it with SQL_NO_DATA).
  out = Run("UPDATE PM_DRUG..CD_MC SET DRUGCODE = 'X' WHERE DRUGCODE = 'none'");
  EXPECT_FALSE(out.has_result_set);
  EXPECT_EQ(out.rows_affected, 0);
  // A query without rows still has its result set.
  out = Run("SELECT DRUGCODE FROM PM_DRUG..CD_MC WHERE DRUGCODE = 'none'");
  EXPECT_TRUE(out.has_result_set);
  EXPECT_TRUE(out.result.rows.empty());
  EXPECT_EQ(out.result.columns, std::vector<std::string>{"DRUGCODE"});

  EXPECT_NE(Fails("SELECT * FROM PM_DRUG..NO_SUCH_TABLE").find("NO_SUCH_TABLE"), std::string::npos);
  EXPECT_NE(Fails("MERGE PM_DRUG..CD_MC USING x ON 1 = 1").find("unsupported T-SQL"),
            std::string::npos);
  // After an error the connection serves on.
  EXPECT_EQ(Run("SELECT COUNT(*) AS C FROM PM_DRUG..CD_MC").result.rows[0][0].text, "1");
}

TEST_F(StandInDriverTest, TransactionsEndAsAskedAndADroppedConnectionLeavesNothing) {
  Open();
  std::string error;
  ASSERT_TRUE(backend_.Begin(&error)) << error;
  Run("INSERT INTO PM_DRUG..CD_MC (DRUGCODE) VALUES ('X1')");
  ASSERT_TRUE(backend_.Rollback(&error)) << error;
  ASSERT_TRUE(backend_.Begin(&error)) << error;
  Run("INSERT INTO PM_DRUG..CD_MC (DRUGCODE) VALUES ('X2')");
  ASSERT_TRUE(backend_.Commit(&error)) << error;
  Run("INSERT INTO PM_DRUG..CD_MC (DRUGCODE) VALUES ('X3')");  // autocommit again
  EXPECT_EQ(Codes(), "E100000001,X2,X3");

  // The connection drops at its second statement holding "X5", inside a transaction.
  standin::DropPlan plan;
  plan.statement = "X5";
  plan.occurrence = 2;
  ASSERT_TRUE(standin::WriteControl(standin::ServerForThisPrefix(fixture::DefaultDir()), plan));
  backend_.Close();
  Open();
  Run("SELECT 'X5' AS FIRST");
  ASSERT_TRUE(backend_.Begin(&error)) << error;
  Run("INSERT INTO PM_DRUG..CD_MC (DRUGCODE) VALUES ('X4')");
  EXPECT_NE(Fails("INSERT INTO PM_DRUG..CD_MC (DRUGCODE) VALUES ('X5')")
                .find("Communication link failure"),
            std::string::npos);
  EXPECT_NE(Fails("SELECT 1 AS ONE").find("Communication link failure"), std::string::npos);
  EXPECT_FALSE(backend_.Commit(&error));
  EXPECT_NE(error.find("Communication link failure"), std::string::npos) << error;
  backend_.Close();
  EXPECT_TRUE(standin::ReadDropState().dropped);
  EXPECT_EQ(Codes(), "E100000001,X2,X3");
  // The next connection works, and the plan has been spent.
  Open();
  Run("INSERT INTO PM_DRUG..CD_MC (DRUGCODE) VALUES ('X5')");
  EXPECT_EQ(Codes(), "E100000001,X2,X3,X5");
}

}  // namespace
}  // namespace retalo
