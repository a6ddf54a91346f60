#include "helvar/cancel_transaction.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "helvar/helvar_log.h"
#include "helvar/test_support.h"
#include "helvar/work_context.h"
#include "platform/prefix.h"
#include "platform/testing/temp_prefix.h"
#include "protocol/frame.h"
#include "stores/local_stores.h"
#include "tests/fixtures/fixture.h"

namespace helvar {
namespace {

using protocol::kFs;

// A sale record whose fields are `fields`, joined by FS.
std::string Record(const std::vector<std::string>& fields) {
  std::string record;
  for (size_t i = 0; i < fields.size(); ++i)
    record += (i == 0 ? "" : std::string(1, kFs)) + fields[i];
  return record;
}

// A record with F5, F14 and F15 set, as the hub builds it from the server's cancel answer.
std::string CancelRecord(const std::string& approval, const std::string& date,
                         const std::string& kind) {
  std::vector<std::string> fields(16);
  fields[0] = "0";
  fields[5] = approval;
  fields[14] = date;
  fields[15] = kind;
  return Record(fields) + kFs;
}

TEST(ReadCancelRequestTest, TakesApprovalDateAndKindFromTheSaleRecord) {
  struct Case {
    std::string name;
    std::string record;
    CancelRequest expected;
  };
  const std::vector<Case> cases = {
      {"card", CancelRecord("30012345", "131220153000", "C"), {"30012345", "20131220", 1}},
      {"cash receipt", CancelRecord("N77", "131221", "H"), {"N77", "20131221", 2}},
      {"any kind but C is a cash receipt", CancelRecord("1", "1312", "c"), {"1", "201312", 2}},
      {"a short date is taken as it is", CancelRecord("1", "13", "B"), {"1", "2013", 2}},
      {"a record ending before F14", Record({"0", "", "", "", "", "A9"}), {"A9", "20", 2}},
      {"a record ending inside F14 without separator",
       Record({"0", "", "", "", "", "A9", "", "", "", "", "", "", "", "", "1312201"}),
       {"A9", "20131220", 2}},
      {"no fields at all", "", {"", "20", 2}},
  };
  for (const Case& c : cases) EXPECT_EQ(ReadCancelRequest(c.record), c.expected) << c.name;
}

class RecordCancellationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetInstallDir("c:\\tavenor");
    std::string error;
    ASSERT_TRUE(fixture::LoadFixture(fixture::DefaultDir(), &error)) << error;
    ASSERT_TRUE(fixture::QueryFixture(
        fixture::DefaultDir(),
        "INSERT INTO PM_PRES.CD_SUNAB (CUSCODE, INDATE, PRESERIAL, ETC_CARD, OTC_CARD, "
        "ETC_PAPER, OTC_PAPER, TEMP_4, TEMP_5, APPR_DATE, PAPPROVAL_NUM) VALUES ('0000000009', "
        "'20131220', 'S1', 1500, 700, 0, 0, 0, 0, '20131220153000', 'A200')",
        &rows_, &error))
        << error;
  }

  // Helvar's log records of the day, as they were written.
  static std::string LogText() {
    const auto dir = platform::MapPath("c:\\tavenor\\Log");
    return dir ? platform::testing::ReadFilesBelow(*dir) : std::string();
  }

  platform::testing::TempPrefix prefix_;
  std::string rows_;
};

TEST_F(RecordCancellationTest, OnlyAnUnreachableDatabaseAsksForARetryAndFailuresAreLogged) {
  struct Case {
    std::string name;
    std::string approval;
    bool unreachable;
    int result;
    std::string logged;  // the record's data, or empty for no record
    std::string row;     // the payment row afterwards: cancel number, paper amounts
  };
  const std::vector<Case> cases = {
      {"recorded", "A200", false, kHandlerDone, "", "A200|1500|700"},
      {"unknown approval", "Z999", false, kHandlerDone, "[ -1003 ]", "NULL|0|0"},
      {"database unreachable", "A200", true, kHandlerRetry, "[ -1001 ]", "NULL|0|0"},
  };
  for (const Case& c : cases) {
    SetUp();
    std::filesystem::remove_all(platform::MapPath("c:\\tavenor\\Log").value());
    if (c.unreachable) testing::SetRegText("Software\\Tavenor", "SqliteDir", "c:\\nowhere");
    CWorkContext context{WorkSettings{}};
    Request request;
    request.code = 851;
    request.data = CancelRecord(c.approval, "131220153000", "C");
    EXPECT_EQ(RecordCancellation(context, request), c.result) << c.name;
    const std::string log = LogText();
    if (c.logged.empty()) {
      EXPECT_EQ(log, "") << c.name;
    } else {
      EXPECT_NE(log.find("[SaveTransactionCancle Error Code] " + c.logged + "\n"),
                std::string::npos)
          << c.name << "\n"
          << log;
    }
    std::string rows, error;
    ASSERT_TRUE(fixture::QueryFixture(
        fixture::DefaultDir(),
        "SELECT PCANCEL_NUM, ETC_PAPER, OTC_PAPER FROM PM_PRES.CD_SUNAB WHERE PRESERIAL = 'S1'",
        &rows, &error))
        << error;
    EXPECT_EQ(rows, c.row) << c.name;
    platform::RegDeleteValue("Software\\Tavenor", "SqliteDir");
  }
}

}  // namespace
}  // namespace helvar
