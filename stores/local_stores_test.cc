#include "stores/local_stores.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "platform/prefix.h"
#include "platform/testing/temp_prefix.h"
#include "protocol/barcode_file.h"
#include "stores/cpp_sqlite3.h"

namespace stores {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

class LocalStoresTest : public ::testing::Test {
 protected:
  static fs::path Local(const std::string& windows_path) {
    return platform::MapPath(windows_path).value();
  }
  static fs::path TempStore() { return Local(kTempStorePath); }

  // A connection of the test's own to a store file, for looking at what the stores wrote.
  static CppSQLite3DB Open(const fs::path& file) {
    CppSQLite3DB db;
    db.OpenFile(file.string());
    return db;
  }

  platform::testing::TempPrefix prefix_;
};

TEST_F(LocalStoresTest, StoredRequestsComeBackOldestFirstUntilTheLastIsDeleted) {
  ASSERT_FALSE(fs::exists(Local(protocol::kTavenorDir)));
  ASSERT_EQ(StoreRequest(800, "sale one", "aux"), 1);
  EXPECT_TRUE(fs::is_regular_file(TempStore()));
  ASSERT_EQ(StoreRequest(850, "cancel two", ""), 1);

  StoredRequest first;
  int pending = -1;
  ASSERT_EQ(ReadFirstStoredRequest(&first, &pending), 1);
  EXPECT_EQ(pending, 2);
  EXPECT_EQ(first.code, 800);
  EXPECT_EQ(first.data, "sale one");

  ASSERT_EQ(DeleteStoredRequest(first.id), 1);
  StoredRequest second;
  ASSERT_EQ(ReadFirstStoredRequest(&second, &pending), 1);
  EXPECT_EQ(pending, 1);
  EXPECT_GT(second.id, first.id);
  EXPECT_EQ(second.code, 850);
  EXPECT_EQ(second.data, "cancel two");

  // Deleting the last request drops the table; the hub's table in the same file stays.
  ASSERT_EQ(StoreUndeliveredFrame("kept frame"), 1);
  ASSERT_EQ(DeleteStoredRequest(second.id), 1);
  EXPECT_FALSE(Open(TempStore()).TableExists("RETALO_DB_TEMP"));
  StoredRequest none;
  pending = 5;
  EXPECT_EQ(ReadFirstStoredRequest(&none, &pending), 0);
  EXPECT_EQ(pending, 0);
  EXPECT_EQ(ReadUndeliveredFrames(), std::vector<std::string>{"kept frame"});

  // The next store starts the table again.
  ASSERT_EQ(StoreRequest(801, "sale three", ""), 1);
  ASSERT_EQ(ReadFirstStoredRequest(&none, &pending), 1);
  EXPECT_EQ(none.code, 801);
  EXPECT_EQ(pending, 1);
}

TEST_F(LocalStoresTest, TextsWithQuotesAreStoredIntact) {
  const struct {
    const char* data;
    const char* auxiliary;
  } cases[] = {
      {"O'Brien", "it's"},
      {"''", "'"},
      {"x'); drop table RETALO_DB_TEMP; --", "'); delete from RETALO_DB_TEMP; --"},
      {"\xB0\xA1'\xA2\xD4\x1C\x1D", "%s %d %q"},  // CP949 bytes, separators, format characters
  };
  for (const auto& c : cases) ASSERT_EQ(StoreRequest(715, c.data, c.auxiliary), 1) << c.data;

  CppSQLite3DB db = Open(TempStore());
  CppSQLite3Table rows =
      db.LoadTable("select SELMODE, INDATE, INDEXCODE, DATA from RETALO_DB_TEMP order by id");
  ASSERT_EQ(rows.RowCount(), 4);
  for (int row = 0; row < 4; ++row) {
    rows.SelectRow(row);
    EXPECT_EQ(rows.CellInt(0), 715);
    EXPECT_EQ(std::string(rows.CellText(1)).find_first_not_of("0123456789"), std::string::npos);
    EXPECT_EQ(std::string(rows.CellText(1)).size(), 8u);  // the date as YYYYMMDD
    EXPECT_STREQ(rows.CellText(2), cases[row].data);
    EXPECT_STREQ(rows.CellText(3), cases[row].auxiliary);
  }
}

TEST_F(LocalStoresTest, TextWithANulIsRefusedNotCut) {
  EXPECT_EQ(StoreRequest(800, std::string("ab\0cd", 5), ""), 0);
  EXPECT_EQ(StoreRequest(800, "ab", std::string("\0", 1)), 0);
  StoredRequest request;
  int pending = 3;
  EXPECT_EQ(ReadFirstStoredRequest(&request, &pending), 0);
  EXPECT_EQ(pending, 0);
}

TEST_F(LocalStoresTest, MissingStoreFileIsNotCreatedByReadersOrDelete) {
  StoredRequest request;
  int pending = 4;
  EXPECT_EQ(ReadFirstStoredRequest(&request, &pending), 0);
  EXPECT_EQ(pending, 0);
  EXPECT_EQ(DeleteStoredRequest(1), 0);
  EXPECT_TRUE(ReadUndeliveredFrames().empty());
  EXPECT_TRUE(ReadUndeliveredFramesWithIds().empty());
  EXPECT_EQ(DeleteUndeliveredFrame(1), 0);
  EXPECT_FALSE(fs::exists(TempStore()));
}

TEST_F(LocalStoresTest, UnreadableStoreLeavesThePendingCountAlone) {
  fs::create_directories(Local(protocol::kTavenorDir));
  std::ofstream(TempStore()) << "this is not a database file, whatever its name says";
  StoredRequest request;
  request.code = 42;
  int pending = 3;
  EXPECT_EQ(ReadFirstStoredRequest(&request, &pending), 0);
  EXPECT_EQ(pending, 3);
  EXPECT_EQ(request.code, 42);
  EXPECT_EQ(StoreRequest(800, "x", ""), 0);
  EXPECT_EQ(DeleteStoredRequest(1), 0);
  EXPECT_EQ(StoreUndeliveredFrame("x"), 0);
  EXPECT_TRUE(ReadUndeliveredFrames().empty());
}

// The status command's count: what waits in both tables, read without writing; a missing file
// counts nothing and creates nothing; a file that is no database cannot be counted.
TEST_F(LocalStoresTest, KeptWorkIsCountedWithoutWriting) {
  std::optional<KeptWorkCounts> none = CountKeptWork();
  ASSERT_TRUE(none.has_value());
  EXPECT_EQ(none->requests, 0);
  EXPECT_EQ(none->frames, 0);
  EXPECT_FALSE(fs::exists(TempStore()));

  ASSERT_EQ(StoreRequest(800, "a", ""), 1);
  ASSERT_EQ(StoreRequest(812, "b", ""), 1);
  ASSERT_EQ(StoreUndeliveredFrame("frame"), 1);
  const auto written = fs::last_write_time(TempStore());
  std::optional<KeptWorkCounts> counts = CountKeptWork();
  ASSERT_TRUE(counts.has_value());
  EXPECT_EQ(counts->requests, 2);
  EXPECT_EQ(counts->frames, 1);
  EXPECT_EQ(fs::last_write_time(TempStore()), written);

  fs::remove(TempStore());
  std::ofstream(TempStore()) << "this is not a database file, whatever its name says";
  EXPECT_FALSE(CountKeptWork().has_value());
}

TEST_F(LocalStoresTest, NothingIsStoredWhenTheDirectoryCannotBeMade) {
  fs::create_directories(Local("c:\\"));
  std::ofstream(Local(protocol::kTavenorDir)) << "a file where the directory should be";
  uint64_t size = 12345;
  EXPECT_EQ(StoreRequest(800, "x", ""), 0);
  EXPECT_EQ(StoreUndeliveredFrame("x"), 0);
  EXPECT_EQ(BuildBarcodeDatabase(700, &size), 0);
  EXPECT_EQ(size, 12345u);
}

TEST_F(LocalStoresTest, BarcodeBuildGivesTheFileAndItsSize) {
  uint64_t size = 0;
  ASSERT_EQ(BuildBarcodeDatabase(700, &size), 1);
  const fs::path file = Local("c:\\tavenor\\BarcodeDB700.db");
  ASSERT_TRUE(fs::is_regular_file(file));
  EXPECT_EQ(size, fs::file_size(file));
  EXPECT_GT(size, 0u);

  CppSQLite3DB db = Open(file);
  EXPECT_TRUE(db.TableExists("TAVENOR_DB"));
  EXPECT_EQ(db.LoadTable("select * from TAVENOR_DB").RowCount(), 0);
}

TEST_F(LocalStoresTest, EachTerminalGetsItsOwnFileBuiltAfresh) {
  uint64_t size = 0;
  ASSERT_EQ(BuildBarcodeDatabase(700, &size), 1);
  {
    CppSQLite3DB db = Open(Local("c:\\tavenor\\BarcodeDB700.db"));
    db.ExecuteChange("insert into TAVENOR_DB (BARCODE, ITEMNAME) values ('8801234567890', 'old')");
  }
  ASSERT_EQ(BuildBarcodeDatabase(701, &size), 1);
  EXPECT_TRUE(fs::is_regular_file(Local("c:\\tavenor\\BarcodeDB701.db")));
  EXPECT_EQ(
      Open(Local("c:\\tavenor\\BarcodeDB700.db")).LoadTable("select * from TAVENOR_DB").RowCount(),
      1);

  ASSERT_EQ(BuildBarcodeDatabase(700, &size), 1);
  EXPECT_EQ(
      Open(Local("c:\\tavenor\\BarcodeDB700.db")).LoadTable("select * from TAVENOR_DB").RowCount(),
      0);
}

TEST_F(LocalStoresTest, BarcodeBuildRefusesOtherCodes) {
  for (const int code : {0, 699, 703, 800, -700}) {
    uint64_t size = 12345;
    EXPECT_EQ(BuildBarcodeDatabase(code, &size), 0) << code;
    EXPECT_EQ(size, 12345u);
    EXPECT_FALSE(fs::exists(Local(protocol::BarcodeDatabaseName(code)))) << code;
  }
  EXPECT_EQ(BuildBarcodeDatabase(702, nullptr), 0);
}

TEST_F(LocalStoresTest, UndeliveredFramesComeBackByteForByte) {
  const std::vector<std::string> frames = {
      "\x02XC0027TRM883\x1C"
      "0000\x1C\x00\x01\x27\xFF\x03\x41"s,
      std::string(),
      std::string("''; drop table RETALO_812; --"),
      std::string(3000, '\0'),
  };
  for (const auto& frame : frames) ASSERT_EQ(StoreUndeliveredFrame(frame), 1);
  EXPECT_EQ(ReadUndeliveredFrames(), frames);
}

TEST_F(LocalStoresTest, UndeliveredRowThatIsNotAnEncodingIsSkipped) {
  ASSERT_EQ(StoreUndeliveredFrame("first"), 1);
  Open(TempStore()).ExecuteChange("insert into RETALO_812 values (null, char(5, 1, 7))");
  ASSERT_EQ(StoreUndeliveredFrame("third"), 1);
  EXPECT_EQ(ReadUndeliveredFrames(), (std::vector<std::string>{"first", "third"}));
}

TEST_F(LocalStoresTest, KeptFramesComeWithTheirRowsAndGoOneByOne) {
  for (const char* frame : {"first", "second", "third"}) ASSERT_EQ(StoreUndeliveredFrame(frame), 1);
  const std::vector<KeptFrame> kept = ReadUndeliveredFramesWithIds();
  ASSERT_EQ(kept.size(), 3u);
  EXPECT_LT(kept[0].seq, kept[1].seq);
  EXPECT_LT(kept[1].seq, kept[2].seq);
  EXPECT_EQ(kept[1].bytes, "second");

  EXPECT_EQ(DeleteUndeliveredFrame(kept[1].seq), 1);
  EXPECT_EQ(ReadUndeliveredFrames(), (std::vector<std::string>{"first", "third"}));
  // A row already gone is no failure: the frame is not there to send again.
  EXPECT_EQ(DeleteUndeliveredFrame(kept[1].seq), 1);
  // A new frame comes after the ones kept before, whatever was deleted.
  ASSERT_EQ(StoreUndeliveredFrame("fourth"), 1);
  const std::vector<KeptFrame> after = ReadUndeliveredFramesWithIds();
  ASSERT_EQ(after.size(), 3u);
  EXPECT_EQ(after[2].bytes, "fourth");
  EXPECT_GT(after[2].seq, kept[2].seq);
}

}  // namespace
}  // namespace stores
