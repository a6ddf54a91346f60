// The customer-list requests served from the pharmacy's data: PM2000's database (the fixture)
// and the UBcare program's library (libUpharmMD with its data file).
#include "helvar/pm2000_db.h"

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>

#include "companions/util/ordella_util.h"
#include "helvar/customer_list.h"
#include "helvar/helvar_log.h"
#include "helvar/test_support.h"
#include "helvar/work_context.h"
#include "platform/clock.h"
#include "platform/prefix.h"
#include "platform/testing/temp_prefix.h"
#include "tests/fixtures/fixture.h"

namespace helvar {
namespace {

using testing::Cp;
using testing::HubBlock;

// Today, local time, as "YYYYMMDD" or "YYYY-MM-DD".
std::string Today(bool dashes) {
  const std::string date = platform::SystemClock().LocalDate();
  return dashes ? date.substr(0, 4) + "-" + date.substr(4, 2) + "-" + date.substr(6, 2) : date;
}

void WriteFile(std::string_view windows_path, const std::string& text) {
  const std::filesystem::path path = platform::MapPath(windows_path).value();
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

class CustomerListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetInstallDir("c:\\tavenor");
    std::string error;
    ASSERT_TRUE(fixture::LoadFixture(fixture::DefaultDir(), &error)) << error;
    WriteFile("C:\\PM2000V6\\PM2000V6.INI", "[DATAPATH]\r\nPATH=PHARMSRV\r\n");
    ASSERT_TRUE(block_.ok());
  }

  // Runs one request as its worker does, with the pharmacy program `program_index`.
  static int Serve(int program_index, int32_t code) {
    WorkSettings settings;
    settings.program_index = program_index;
    CWorkContext context(settings);
    FillDispatchTable(context);
    Request request;
    request.code = code;
    return context.Dispatch(request);
  }

  static std::string Record(const std::string& serial, const char* name, const char* panum,
                            const char* number) {
    return ShortCustomerRecord(serial, Cp(name), panum, number);
  }

  platform::testing::TempPrefix prefix_;
  HubBlock block_;
};

// Values are handed on as the database holds them: a padded text keeps its blanks, so a key
// packed from it is the one the pharmacy program packs; NULL reads as empty.
TEST_F(CustomerListTest, ValueTextsComeBackUnchanged) {
  CPm2000Db db;
  ASSERT_TRUE(db.Open());
  ASSERT_TRUE(db.Query("SELECT ' 0012  ' AS A, NULL AS B, 42 AS C"));
  ASSERT_EQ(db.row_count(), 1u);
  EXPECT_EQ(db.ValueText(0, 0), " 0012  ");
  EXPECT_EQ(db.ValueText(0, 1), "");
  EXPECT_EQ(db.ValueText(0, 2), "42");
  db.Disconnect();
}

TEST_F(CustomerListTest, TodaysPrescriptionsNewestFirstToTheAskingTerminal) {
  ASSERT_EQ(Serve(kProgramPm2000, 301), 1);
  EXPECT_EQ(block_.status(), 301);
  const std::string today = Today(false);
  EXPECT_EQ(block_.data(),
            CustomerListFrame("821",
                              {Record(today + "000002", "김영희", "9203152345678", "0"),
                               Record(today + "000001", "홍길동", "8001011234567", "0")},
                              CheckKind::kPm2000));
}

TEST_F(CustomerListTest, NoPrescriptionTodayAnswersThatNoCustomerCanBeChosen) {
  std::string rows, error;
  ASSERT_TRUE(
      fixture::QueryFixture(fixture::DefaultDir(), "DELETE FROM PM_PRES.PS_MAIN", &rows, &error))
      << error;
  ASSERT_EQ(Serve(kProgramPm2000, 300), 1);
  EXPECT_EQ(block_.status(), 300);
  EXPECT_EQ(block_.data(), NoCustomerFrame("821", CheckKind::kPm2000));
}

TEST_F(CustomerListTest, WithoutServerNameOrDatabaseNoReplyIsWritten) {
  std::filesystem::remove(platform::MapPath("C:\\PM2000V6\\PM2000V6.INI").value());
  EXPECT_EQ(Serve(kProgramPm2000, 302), 1);
  EXPECT_EQ(block_.status(), 0);

  WriteFile("C:\\PM2000V6\\PM2000V6.INI", "[DATAPATH]\r\nPATH=PHARMSRV\r\n");
  testing::SetRegText("Software\\Tavenor", "SqliteDir", "c:\\nowhere");
  EXPECT_EQ(Serve(kProgramPm2000, 302), 1);
  EXPECT_EQ(block_.status(), 0);
}

TEST_F(CustomerListTest, LoadUserListAnswersInShortAndLongForm) {
  ASSERT_EQ(Serve(kProgramPm2000, 200), 1);
  EXPECT_EQ(block_.status(), 200);
  const std::string short_list = block_.data();
  EXPECT_EQ(short_list.substr(21, 9),
            "TRM811\x1C"
            "02");
  block_.set_status(0);

  ASSERT_EQ(Serve(kProgramPm2000, 252), 1);
  EXPECT_EQ(block_.status(), 252);
  const std::string long_list = block_.data();
  EXPECT_EQ(long_list.substr(21, 9),
            "TRM881\x1C"
            "02");
  ASSERT_EQ(long_list.size(), 31u + 2 * 56 + 2);
  // The second customer's cash-receipt identity "01012345678" in the fifth field.
  const std::string today = Today(false);
  EXPECT_EQ(long_list.substr(31, 56), LongCustomerRecord(today + "000002", Cp("김영희"),
                                                         "9203152345678", "4200", "01012345678"));
}

TEST_F(CustomerListTest, UnreachableDatabaseAnswersTheFailureBody) {
  testing::SetRegText("Software\\Tavenor", "SqliteDir", "c:\\nowhere");
  ASSERT_EQ(Serve(kProgramPm2000, 201), 1);
  EXPECT_EQ(block_.status(), 201);
  EXPECT_EQ(block_.data(), Pm2000FailureFrame("811"));
}

TEST_F(CustomerListTest, UbcareGivesThe29HighestIndicesHighestFirst) {
  const std::string date = Today(true);
  std::string file = "# forty customers of today, one of yesterday\n";
  file += "CUST|1999-01-01|OLD|old|000000-0000000|1900-01-01|M\n";
  for (int i = 0; i < 40; ++i) {
    const std::string n = std::to_string(100 + i);
    file += "CUST|" + date + "|" + n + "|name" + n + "|800101-1" + n + "|1980-01-01|M\n";
  }
  WriteFile("C:\\UBcare\\UpharmMD.txt", file);
  ASSERT_EQ(Serve(kProgramUbcare, 301), 1);
  EXPECT_EQ(block_.status(), 301);
  const std::string frame = block_.data();
  ASSERT_EQ(frame.size(), 31u + 29 * 28 + 2);
  EXPECT_EQ(frame.substr(28, 3), "29\x1C");
  for (int r = 0; r < 29; ++r) {
    const std::string n = std::to_string(139 - r);
    EXPECT_EQ(frame.substr(31 + 28 * static_cast<size_t>(r), 28),
              ShortCustomerRecord(n, "name" + n, "8001011" + n, ""))
        << r;
  }
  const std::string checked = frame.substr(1, frame.size() - 2);
  EXPECT_EQ(static_cast<unsigned char>(frame.back()),
            UtilCheckByte(reinterpret_cast<const unsigned char*>(checked.data()),
                          static_cast<int>(checked.size())));
}

TEST_F(CustomerListTest, UbcareWithoutCustomersOrLibraryData) {
  WriteFile("C:\\UBcare\\UpharmMD.txt", "CUST|1999-01-01|OLD|old|000000-0000000|1900-01-01|M\n");
  ASSERT_EQ(Serve(kProgramUbcare, 300), 1);
  EXPECT_EQ(block_.data(), NoCustomerFrame("821", CheckKind::kUtil));
  block_.set_status(0);

  WriteFile("C:\\UBcare\\UpharmMD.txt", "not a record\n");  // the library cannot open it
  EXPECT_EQ(Serve(kProgramUbcare, 300), 1);
  EXPECT_EQ(block_.status(), 0);
}

}  // namespace
}  // namespace helvar
