#include "retalo/db/export_frame.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>

#include "platform/prefix.h"
#include "platform/registry.h"
#include "platform/testing/temp_prefix.h"
#include "platform/text.h"
#include "retalo/db/sql_fill.h"
#include "retalo/db/sql_texts.h"
#include "retalo/testing/retalo_fixture.h"
#include "tests/fixtures/fixture.h"

namespace retalo {
namespace {

using Fields = std::vector<std::string>;

TEST(SplitParamsTest, SplitsAtTheTwoByteSeparatorOnly) {
  struct Case {
    std::string text;
    Fields fields;
  };
  const std::string sep(kParamSeparator);
  const Case cases[] = {
      {"1" + sep + "0000000001" + sep + "9091", {"1", "0000000001", "9091"}},
      {"a" + sep + sep + "c", {"a", "", "c"}},
      {sep, {"", ""}},
      {"", {""}},
      {"abc" + sep, {"abc", ""}},
      // "각" ends in A2 and the next character begins with D4: not a separator.
      {"\xB0\xA2\xD4\xA1" + sep + "x", {"\xB0\xA2\xD4\xA1", "x"}},
      // A lone lead byte at the end stays in the last field.
      {"x" + sep + "\xB0", {"x", "\xB0"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SplitParams(c.text), c.fields) << platform::ToHex(c.text);
  }
}

// The writer's test set-up: the fixture databases in a temporary prefix, the log read back.
class ExportCallTest : public testing::RetaloTest {
 protected:
  const LogHeader header_ = LogHeader::Form2("SavePresData", Cp949("결제정보"), "C");
};

TEST_P(ExportCallTest, UnreachableDatabaseGivesTheConnectionRecord) {
  MakeDatabaseUnreachable();
  ExportCall call(header_);
  EXPECT_FALSE(call.Open(2, true));
  EXPECT_FALSE(call.db().is_open());
  EXPECT_NE(LogText().find("SavePresData\n결제정보 [C]\n에러 [-1001]\n설명 [위치2 : DB연결실패]\n"),
            std::string::npos)
      << LogText();
}

TEST_P(ExportCallTest, ATransactionIsCommittedOnlyByFinish) {
  enum class Ending { kFailedStep, kEarlyReturn, kFinish };
  struct Case {
    const char* what;
    Ending ending;
    int result;          // what the export returns (0: it returns before the frame does)
    std::string stored;  // the maker's name afterwards
    std::string log;
  };
  const Case cases[] = {
      {"a failed step rolls back and logs its position", Ending::kFailedStep, kDbStepFailed, "",
       "SavePresData\n결제정보 [C]\n에러 [-1002]\n설명 [위치7 : 색인1]\n" + std::string(83, '-') +
           "\n"},
      {"an early return rolls back", Ending::kEarlyReturn, 0, "", ""},
      {"finishing commits and logs nothing", Ending::kFinish, kExportOk, "temp", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SetUp();
    std::filesystem::remove_all(*platform::MapPath("c:\\tavenor\\log"));
    int result = 0;
    {
      ExportCall call(header_);
      ASSERT_TRUE(call.Open(2, true));
      ASSERT_EQ(call.db().ExecuteSql(FillSql(sql::kInsertMaker, {"59999", "temp"}), false), kSqlOk);
      if (c.ending == Ending::kFailedStep) result = call.FailStep(7, 1);
      if (c.ending == Ending::kFinish) result = call.Finish();
    }
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(Query("SELECT SPLNAME FROM PM_DRUG.CD_MAKER WHERE SPLCODE = '59999'"), c.stored);
    EXPECT_EQ(LogText(), c.log);
  }
}

TEST_P(ExportCallTest, DataErrorsAndDisplayRecords) {
  {
    ExportCall call(LogHeader::Form2("HasBarcode", Cp949("바코드"), ""));
    EXPECT_EQ(call.Fail(kDataError, 1, Cp949("바코드번호 오류")), kDataError);
  }
  {
    // The display exports log their failures with code 0.
    ExportCall call(LogHeader::Form2("AddScreenCust", "AddScreenCust", "20240105000001"), false);
    EXPECT_EQ(call.Fail(kDbStepFailed, 4, "SELECT"), kDbStepFailed);
  }
  const std::string rule(83, '-');
  EXPECT_EQ(LogText(),
            "HasBarcode\n바코드 []\n에러 [-1003]\n설명 [위치1 : 바코드번호 오류]\n" + rule +
                "\nAddScreenCust\nAddScreenCust [20240105000001]\n설명 [위치4 : SELECT]\n" + rule +
                "\n");
}

RETALO_ON_EVERY_BACKEND(ExportCallTest);

}  // namespace
}  // namespace retalo
