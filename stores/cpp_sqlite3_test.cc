#include "stores/cpp_sqlite3.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "platform/testing/temp_prefix.h"

namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

// Runs the operation and returns the exception it raised; fails the test when none came.
CppSQLite3Exception Raised(const std::function<void()>& operation) {
  try {
    operation();
  } catch (const CppSQLite3Exception& e) {
    return e;
  }
  ADD_FAILURE() << "no exception";
  return CppSQLite3Exception(-1, "none");
}

CppSQLite3DB OpenMemory() {
  CppSQLite3DB db;
  db.OpenFile(":memory:");
  db.ExecuteChange("create table T (id integer primary key, name text, n integer);");
  return db;
}

TEST(CppSQLite3ExceptionTest, MessageNamesTheCode) {
  const struct {
    int code;
    const char* detail;
    const char* message;
  } cases[] = {
      {0, "fine", "SQLITE_OK[0]: fine"},
      {1, nullptr, "SQLITE_ERROR[1]: "},
      {14, "unable to open database file", "SQLITE_CANTOPEN[14]: unable to open database file"},
      {25, "", "SQLITE_RANGE[25]: "},
      {100, "r", "SQLITE_ROW[100]: r"},
      {101, "d", "SQLITE_DONE[101]: d"},
      {1000, "Database not open", "CPPSQLITE_ERROR[1000]: Database not open"},
      {26, "x", "UNKNOWN_ERROR[26]: x"},
      {-1, "x", "UNKNOWN_ERROR[-1]: x"},
      {2067, "x", "UNKNOWN_ERROR[2067]: x"},
  };
  for (const auto& c : cases) {
    const CppSQLite3Exception e(c.code, c.detail);
    EXPECT_EQ(e.errorCode(), c.code);
    EXPECT_STREQ(e.errorMessage(), c.message);
  }
}

TEST(CppSQLite3ExceptionTest, CopyOwnsItsMessage) {
  auto original = std::make_unique<CppSQLite3Exception>(5, "database is locked");
  CppSQLite3Exception copy(*original);
  CppSQLite3Exception assigned(0, "");
  assigned = *original;
  original.reset();
  EXPECT_STREQ(copy.errorMessage(), "SQLITE_BUSY[5]: database is locked");
  EXPECT_STREQ(assigned.errorMessage(), "SQLITE_BUSY[5]: database is locked");
}

TEST(CppSQLite3DBTest, EveryStatementNeedsAnOpenDatabase) {
  CppSQLite3DB never_opened;
  CppSQLite3DB closed = OpenMemory();
  closed.CloseFile();
  CppSQLite3DB moved_from = OpenMemory();
  CppSQLite3DB taker(std::move(moved_from));
  EXPECT_TRUE(taker.IsOpen());
  for (CppSQLite3DB* db : {&never_opened, &closed, &moved_from}) {
    const std::function<void()> operations[] = {
        [db] { db->ExecuteChange("create table X (a);"); },
        [db] { db->ExecuteQuery("select 1;"); },
        [db] { db->LoadTable("select 1;"); },
        [db] { db->TableExists("T"); },
    };
    for (const auto& operation : operations) {
      const CppSQLite3Exception e = Raised(operation);
      EXPECT_EQ(e.errorCode(), CPPSQLITE_ERROR);
      EXPECT_STREQ(e.errorMessage(), "CPPSQLITE_ERROR[1000]: Database not open");
    }
  }
}

TEST(CppSQLite3DBTest, OpenInAMissingDirectoryCannotOpen) {
  platform::testing::TempPrefix prefix;
  CppSQLite3DB db;
  const auto file = (prefix.path() / "missing" / "store.db").string();
  const CppSQLite3Exception e = Raised([&] { db.OpenFile(file); });
  EXPECT_EQ(e.errorCode(), 14);
  EXPECT_THAT(e.errorMessage(), StartsWith("SQLITE_CANTOPEN[14]: "));
  EXPECT_FALSE(db.IsOpen());
}

TEST(CppSQLite3DBTest, AReadOnlyOpenNeitherCreatesNorWrites) {
  platform::testing::TempPrefix prefix;
  const auto file = (prefix.path() / "store.db").string();
  CppSQLite3DB db;
  EXPECT_EQ(Raised([&] { db.OpenFileReadOnly(file); }).errorCode(), 14);
  EXPECT_FALSE(std::filesystem::exists(file)) << "a missing file is not created";

  db.OpenFile(file);
  db.ExecuteChange("create table T (n integer); insert into T values (7);");
  db.OpenFileReadOnly(file);
  EXPECT_EQ(db.LoadTable("select n from T;").RowCount(), 1);
  const CppSQLite3Exception write = Raised([&] { db.ExecuteChange("insert into T values (8);"); });
  EXPECT_EQ(write.errorCode(), 8);  // SQLITE_READONLY
  db.OpenFile(file);
  EXPECT_EQ(db.LoadTable("select n from T;").RowCount(), 1);
}

TEST(CppSQLite3DBTest, FailingStatementsRaiseSqlitesCodeAndText) {
  CppSQLite3DB db = OpenMemory();
  db.ExecuteChange("insert into T values (1, 'a', 1);");

  const CppSQLite3Exception syntax = Raised([&] { db.ExecuteChange("insert into T valuez (2);"); });
  EXPECT_EQ(syntax.errorCode(), 1);
  EXPECT_THAT(syntax.errorMessage(), StartsWith("SQLITE_ERROR[1]: "));
  EXPECT_THAT(syntax.errorMessage(), HasSubstr("syntax error"));

  const CppSQLite3Exception duplicate =
      Raised([&] { db.ExecuteChange("insert into T values (1, 'b', 2);"); });
  EXPECT_EQ(duplicate.errorCode(), 19);
  EXPECT_THAT(duplicate.errorMessage(), HasSubstr("UNIQUE constraint failed"));

  const CppSQLite3Exception table = Raised([&] { db.LoadTable("select * from Missing;"); });
  EXPECT_EQ(table.errorCode(), 1);
  EXPECT_THAT(table.errorMessage(), HasSubstr("no such table: Missing"));

  // A statement that cannot be prepared raises with its code and no detail.
  const CppSQLite3Exception query = Raised([&] { db.ExecuteQuery("select * from Missing;"); });
  EXPECT_STREQ(query.errorMessage(), "SQLITE_ERROR[1]: ");

  // A statement that fails on its first step is finalised and raises the step's error.
  const CppSQLite3Exception step =
      Raised([&] { db.ExecuteQuery("insert into T values (1, 'c', 3);"); });
  EXPECT_EQ(step.errorCode(), 19);

  // Nothing of the failed statements was kept.
  EXPECT_EQ(db.LoadTable("select * from T;").RowCount(), 1);
}

TEST(CppSQLite3DBTest, ExecuteChangeCountsChangedRows) {
  CppSQLite3DB db = OpenMemory();
  EXPECT_EQ(db.ExecuteChange("insert into T (name, n) values ('a', 1), ('b', 2), ('c', 3);"), 3);
  EXPECT_EQ(db.ExecuteChange("update T set n = n + 10 where n >= 2;"), 2);
  EXPECT_EQ(db.ExecuteChange("delete from T where n > 100;"), 0);
  EXPECT_EQ(db.LastRowId(), 3);
  EXPECT_TRUE(db.TableExists("t"));
  EXPECT_FALSE(db.TableExists("T'; drop table T; --"));
  EXPECT_TRUE(db.TableExists("T"));
}

TEST(CppSQLite3QueryTest, WalksRowsToTheEnd) {
  CppSQLite3DB db = OpenMemory();
  db.ExecuteChange("insert into T values (1, 'one', 10), (2, null, 20);");

  CppSQLite3Query none = db.ExecuteQuery("select * from T where id > 5;");
  EXPECT_TRUE(none.Eof());
  EXPECT_EQ(none.FieldCount(), 3);
  EXPECT_STREQ(Raised([&] { none.FieldText(0); }).errorMessage(),
               "CPPSQLITE_ERROR[1000]: Invalid row index requested");

  CppSQLite3Query rows = db.ExecuteQuery("select id, name, n from T order by id;");
  ASSERT_FALSE(rows.Eof());
  EXPECT_STREQ(rows.FieldName(1), "name");
  EXPECT_EQ(rows.FieldInt(0), 1);
  EXPECT_STREQ(rows.FieldText(1), "one");
  EXPECT_FALSE(rows.FieldIsNull(1));
  for (const int bad : {-1, 3}) {
    EXPECT_STREQ(Raised([&] { rows.FieldText(bad); }).errorMessage(),
                 "CPPSQLITE_ERROR[1000]: Invalid field index requested");
  }
  rows.NextRow();
  ASSERT_FALSE(rows.Eof());
  EXPECT_TRUE(rows.FieldIsNull(1));
  EXPECT_STREQ(rows.FieldText(1), "");
  EXPECT_EQ(rows.FieldInt(2), 20);
  rows.NextRow();
  EXPECT_TRUE(rows.Eof());

  rows.Finish();
  EXPECT_STREQ(Raised([&] { rows.NextRow(); }).errorMessage(),
               "CPPSQLITE_ERROR[1000]: Null Results pointer");
}

TEST(CppSQLite3QueryTest, QueryMayOutliveItsDatabaseObject) {
  CppSQLite3Query rows;
  {
    CppSQLite3DB db = OpenMemory();
    db.ExecuteChange("insert into T values (1, 'a', 1), (2, 'b', 2);");
    rows = db.ExecuteQuery("select name from T order by id;");
  }
  // The connection stays until the statement is finalised.
  ASSERT_FALSE(rows.Eof());
  EXPECT_STREQ(rows.FieldText(0), "a");
  rows.NextRow();
  EXPECT_STREQ(rows.FieldText(0), "b");
}

TEST(CppSQLite3TableTest, RowAndFieldAccessIsChecked) {
  CppSQLite3DB db = OpenMemory();
  CppSQLite3Table empty = db.LoadTable("select * from T;");
  EXPECT_EQ(empty.RowCount(), 0);
  EXPECT_STREQ(Raised([&] { empty.SelectRow(0); }).errorMessage(),
               "CPPSQLITE_ERROR[1000]: Invalid row index requested");
  // An empty result that still names its columns has no row to read a cell from.
  db.ExecuteChange("pragma empty_result_callbacks = on;");
  CppSQLite3Table named = db.LoadTable("select * from T;");
  ASSERT_EQ(named.ColumnCount(), 3);
  EXPECT_STREQ(named.ColumnName(2), "n");
  EXPECT_STREQ(Raised([&] { named.CellText(0); }).errorMessage(),
               "CPPSQLITE_ERROR[1000]: Invalid row index requested");

  db.ExecuteChange("insert into T values (7, 'seven', 70), (8, null, 80);");
  CppSQLite3Table table = db.LoadTable("select * from T order by id;");
  ASSERT_EQ(table.RowCount(), 2);
  ASSERT_EQ(table.ColumnCount(), 3);
  EXPECT_STREQ(table.ColumnName(1), "name");
  EXPECT_EQ(table.CellInt(0), 7);
  EXPECT_STREQ(table.CellText(1), "seven");
  table.SelectRow(1);
  EXPECT_EQ(table.CellInt(2), 80);
  EXPECT_TRUE(table.CellIsNull(1));
  EXPECT_STREQ(table.CellText(1), "");
  for (const int bad : {-1, 2}) {
    EXPECT_STREQ(Raised([&] { table.SelectRow(bad); }).errorMessage(),
                 "CPPSQLITE_ERROR[1000]: Invalid row index requested");
  }
  for (const int bad : {-1, 3}) {
    EXPECT_STREQ(Raised([&] { table.CellText(bad); }).errorMessage(),
                 "CPPSQLITE_ERROR[1000]: Invalid field index requested");
  }

  CppSQLite3Table taken(std::move(table));
  EXPECT_EQ(taken.CellInt(0), 8);  // the current row moves along
  taken.Release();
  EXPECT_STREQ(Raised([&] { taken.CellText(0); }).errorMessage(),
               "CPPSQLITE_ERROR[1000]: Null Results pointer");
  EXPECT_STREQ(Raised([&] { taken.SelectRow(0); }).errorMessage(),
               "CPPSQLITE_ERROR[1000]: Null Results pointer");
}

TEST(CppSQLite3DBTest, BusyTimeoutDecidesHowLongALockIsWaitedFor) {
  platform::testing::TempPrefix prefix;
  const auto file = (prefix.path() / "shared.db").string();
  CppSQLite3DB writer;
  writer.OpenFile(file);
  writer.ExecuteChange("create table S (a); begin exclusive; insert into S values (1);");

  CppSQLite3DB other;
  other.SetBusyTimeout(0);  // kept for the open that follows
  other.OpenFile(file);
  const CppSQLite3Exception busy =
      Raised([&] { other.ExecuteChange("insert into S values (2);"); });
  EXPECT_EQ(busy.errorCode(), 5);
  EXPECT_THAT(busy.errorMessage(), StartsWith("SQLITE_BUSY[5]: "));

  writer.ExecuteChange("commit;");
  EXPECT_EQ(other.ExecuteChange("insert into S values (2);"), 1);
}

}  // namespace
