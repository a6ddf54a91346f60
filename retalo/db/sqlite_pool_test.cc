// The embedded databases' connection kept between calls: each call still sees the folder's files
// as they are, and no call leaves a lock, a transaction or a stale translation to the next.
#include "retalo/db/sqlite_pool.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <thread>
#include <vector>

#include "platform/testing/temp_prefix.h"
#include "retalo/db/ado_connection.h"
#include "tests/fixtures/fixture.h"

namespace retalo {
namespace {

constexpr const char* kReadName =
    "SELECT GOODSNAME FROM PM_DRUG..CD_GOODS WHERE DRUGCODE = 'ZP00000041'";

class SqlitePoolTest : public ::testing::Test {
 protected:
  void SetUp() override { Load(dir_); }

  static void Load(const std::filesystem::path& dir, bool schema_only = false) {
    std::string error;
    ASSERT_TRUE(schema_only ? fixture::LoadSchemaOnly(dir, &error)
                            : fixture::LoadFixture(dir, &error))
        << error;
  }

  // One call as an export makes it: open, one text, end. The ExecuteSql outcome, or "open
  // failed".
  static std::string Call(std::string_view sql, bool want_rows = true) {
    CAdoConnection db;
    if (!db.OpenConnection()) return "open failed";
    const int rc = db.ExecuteSql(sql, want_rows);
    std::string outcome = rc == kSqlOk ? "ok" : rc == kSqlNoRows ? "no rows" : "failed";
    if (rc == kSqlOk && want_rows) outcome += " " + db.GetFieldText("GOODSNAME");
    db.End();
    return outcome;
  }

  // Runs plain SQLite on PM_DRUG.db through a connection of its own, as another program would,
  // without waiting for locks. SQLite's result code.
  int Outside(const char* sql) {
    sqlite3* db = nullptr;
    int rc = sqlite3_open((dir_ / "PM_DRUG.db").c_str(), &db);
    if (rc == SQLITE_OK) rc = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
    sqlite3_close(db);
    return rc;
  }

  platform::testing::TempPrefix prefix_;
  const std::filesystem::path dir_ = fixture::DefaultDir();
  const std::string name_ = "ok \xB9\xDA\xC4\xAB\xBD\xBA\xB5\xF0";  // 박카스디 in CP949
};

TEST_F(SqlitePoolTest, FilesChangedBetweenCallsAreSeen) {
  const std::filesystem::path other = prefix_.path() / "other";
  struct Case {
    const char* change;
    std::function<void()> apply;
    const char* outcome;
  };
  const Case cases[] = {
      {"file replaced",
       [&] {
         Load(other, true);
         std::filesystem::rename(other / "PM_DRUG.db", dir_ / "PM_DRUG.db");
       },
       "no rows"},
      {"folder replaced",
       [&] {
         Load(other, true);
         std::filesystem::rename(dir_, prefix_.path() / "moved");
         std::filesystem::rename(other, dir_);
       },
       "no rows"},
      {"file removed", [&] { std::filesystem::remove(dir_ / "PM_BASE.db"); }, "open failed"},
      {"file written by another program",
       [&] {
         ASSERT_EQ(Outside("UPDATE CD_GOODS SET GOODSNAME = 'x' WHERE DRUGCODE = 'ZP00000041'"),
                   SQLITE_OK);
       },
       "ok x"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.change);
    std::filesystem::remove_all(prefix_.path() / "moved");
    Load(dir_);
    ASSERT_EQ(Call(kReadName), name_);
    c.apply();
    EXPECT_EQ(Call(kReadName), c.outcome);
  }
}

TEST_F(SqlitePoolTest, NoCallLeavesALockOrATransactionBehind) {
  const std::string insert =
      "INSERT INTO PM_DRUG..IM_TOTAL (DRUGCODE, IM_QT_SALE_DEBIT) VALUES ('ZZ', 1)";
  struct Case {
    const char* ending;
    std::function<void(CAdoConnection&)> call;
  };
  const Case cases[] = {
      {"a read", [](CAdoConnection& db) { EXPECT_EQ(db.ExecuteSql(kReadName, true), kSqlOk); }},
      {"a failed statement",
       [](CAdoConnection& db) {
         EXPECT_EQ(db.ExecuteSql("SELECT * FROM PM_DRUG..NO_SUCH_TABLE", true), kSqlFailed);
       }},
      {"a read that fails after its first rows",
       [](CAdoConnection& db) {
         EXPECT_EQ(db.ExecuteSql("SELECT CAST(GOODSNAME AS INT) FROM PM_DRUG..CD_GOODS", true),
                   kSqlFailed);
       }},
      {"a transaction closed without commit or rollback",
       [&](CAdoConnection& db) {
         EXPECT_EQ(db.ExecuteSql(insert, false), kSqlOk);
         db.Close();
       }},
      {"a failed statement in a transaction",
       [&](CAdoConnection& db) {
         EXPECT_EQ(db.ExecuteSql(insert, false), kSqlOk);
         EXPECT_EQ(db.ExecuteSql(insert, false), kSqlFailed);  // the key is taken
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.ending);
    {
      CAdoConnection db;
      ASSERT_TRUE(db.OpenWithTransaction()) << db.last_error();
      c.call(db);
      db.End();
    }
    // Another program may write at once, and nothing of the call was kept.
    EXPECT_EQ(Outside("BEGIN EXCLUSIVE; ROLLBACK"), SQLITE_OK);
    CAdoConnection next;
    ASSERT_TRUE(next.OpenWithTransaction()) << next.last_error();
    EXPECT_EQ(next.ExecuteSql("SELECT * FROM PM_DRUG..IM_TOTAL WHERE DRUGCODE = 'ZZ'", true),
              kSqlNoRows);
    next.End();
  }
}

TEST_F(SqlitePoolTest, DeclarationsChangedByAnotherProgramAreSeen) {
  const char* insert = "INSERT INTO PM_DRUG..IM_TOTAL VALUES ('%s', 1)";
  auto text = [&](const char* code) {
    std::string sql = insert;
    return sql.replace(sql.find("%s"), 2, code);
  };
  EXPECT_EQ(Call(text("Z1"), false), "ok");
  ASSERT_EQ(Outside("ALTER TABLE IM_TOTAL ADD COLUMN NOTE varchar(10)"), SQLITE_OK);
  // Three columns now: two values no longer do.
  EXPECT_EQ(Call(text("Z2"), false), "failed");
}

TEST_F(SqlitePoolTest, AChildProcessOpensItsOwnConnection) {
  ASSERT_EQ(Call(kReadName), name_);  // the parent keeps a connection
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Writes through a connection of its own while the parent's stays untouched.
    const bool ok = Call("UPDATE PM_DRUG..CD_GOODS SET GOODSNAME = 'x' WHERE DRUGCODE = "
                         "'ZP00000041'",
                         false) == "ok" &&
                    Call(kReadName) == "ok x";
    _exit(ok ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(Call(kReadName), "ok x");
  EXPECT_EQ(Outside("BEGIN EXCLUSIVE; ROLLBACK"), SQLITE_OK);
}

TEST_F(SqlitePoolTest, CallsOnSeveralThreadsAtOnceEachHaveAConnection) {
  constexpr int kThreads = 3;
  constexpr int kCalls = 20;
  std::vector<std::string> outcomes(kThreads * kCalls);
  {
    std::vector<std::jthread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        for (int i = 0; i < kCalls; ++i) outcomes[t * kCalls + i] = Call(kReadName);
      });
    }
  }
  for (const std::string& outcome : outcomes) EXPECT_EQ(outcome, name_);
}

}  // namespace
}  // namespace retalo
