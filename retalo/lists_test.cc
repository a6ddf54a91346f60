#include "retalo/lists.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "retalo/database_util.h"
#include "retalo/db/export_frame.h"
#include "retalo/ordella_retalo.h"
#include "retalo/testing/retalo_fixture.h"

namespace retalo {
namespace {

using testing::Utf8;

using ListExport = int (*)(char*, int);

struct Export {
  const char* name;
  ListExport call;
  size_t fields_per_row;
};
const Export kExports[] = {
    {"LoadUserList", LoadUserList, 5},
    {"LoadSellerList", LoadSellerList, 4},
    {"LoadDatabase", LoadDatabase, 8},
};

class ListsTest : public testing::RetaloTest {
 protected:
  static constexpr int kListSize = 64 * 1024;

  struct Answer {
    int rc;
    std::string text;  // up to the terminating zero, UTF-8; the first four bytes if there is none
  };
  static Answer Call(ListExport list, int size = kListSize) {
    std::vector<char> buffer(kListSize, 'x');
    const int rc = list(buffer.data(), size);
    const auto end = std::find(buffer.begin(), buffer.end(), '\0');
    return {rc, Utf8(std::string(buffer.begin(), end == buffer.end() ? buffer.begin() + 4 : end))};
  }

  // The rows of a list text, each row's fields joined by '|', sorted.
  static std::vector<std::string> Rows(const std::string& text, size_t fields_per_row) {
    std::vector<std::string> rows;
    std::string row;
    size_t fields = 0;
    for (char c : text) {
      row += c;
      if (c == '|' && ++fields == fields_per_row) {
        rows.push_back(row);
        row.clear();
        fields = 0;
      }
    }
    EXPECT_EQ(row, "") << "an unfinished row";
    std::sort(rows.begin(), rows.end());
    return rows;
  }
};

TEST_P(ListsTest, UserListHoldsTodaysUnpaidPrescriptionsNewestFirst) {
  const std::string today = TodayText();
  const Answer answer = Call(LoadUserList);
  EXPECT_EQ(answer.rc, 2);
  EXPECT_EQ(answer.text, today + "000002|김영희|9203152345678|4200|01012345678|" + today +
                             "000001|홍길동|8001011234567|3500||");
}

TEST_P(ListsTest, PaidAndInactiveCustomersAreLeftOut) {
  const std::string today = TodayText();
  Query("UPDATE PM_PRES.CD_SUNAB SET APPR_GUBUN = '1' WHERE PRESERIAL = '" + today + "000002'");
  Query("UPDATE PM_BASE.CD_PERSON SET CUSACT = '0' WHERE CUSCODE = '0000000001'");
  const Answer answer = Call(LoadUserList);
  EXPECT_EQ(answer.rc, 0);
  EXPECT_EQ(answer.text, "xxxx");
}

TEST_P(ListsTest, SellerListHoldsTheCurrentStaff) {
  const Answer answer = Call(LoadSellerList);
  EXPECT_EQ(answer.rc, 2);
  EXPECT_EQ(answer.text, "김약사|20150301|7501011234567|100|이직원|20180701|9001012345678|0|");
}

TEST_P(ListsTest, CatalogueGivesWholeNumbersForPricesAndStock) {
  const Answer answer = Call(LoadDatabase);
  EXPECT_EQ(answer.rc, 4);
  EXPECT_EQ(Rows(answer.text, 8),
            (std::vector<std::string>{
                "08801234567890|박카스디|동아제약|1|병|1000|600|15|",
                "8806420300034|Kim's 밴드|한독|1|박스|1500|900|0|",
                "8806430100011|타이레놀정500mg|한국얀센|10|박스|3000|2000|120|",
                "8806470200028|베아제정|대웅제약|10|박스|4000|2500|40|",
            }));
}

TEST_P(ListsTest, EmptyDatabasesGiveNoRowsAndLeaveTheBufferAlone) {
  std::string error;
  ASSERT_TRUE(fixture::LoadSchemaOnly(fixture::DefaultDir(), &error)) << error;
  for (const Export& e : kExports) {
    const Answer answer = Call(e.call);
    EXPECT_EQ(answer.rc, 0) << e.name;
    EXPECT_EQ(answer.text, "xxxx") << e.name;
  }
  EXPECT_EQ(LogText(), "");
}

TEST_P(ListsTest, ARowsTextThatDoesNotFitIsRefused) {
  for (const Export& e : kExports) {
    std::filesystem::remove_all(platform::MapPath("c:\\tavenor\\log").value());
    const Answer whole = Call(e.call);
    ASSERT_GT(whole.rc, 0) << e.name;
    // The text needs its bytes and a terminating zero.
    const int needed = static_cast<int>(testing::Cp(whole.text).size() + 1);
    EXPECT_EQ(Call(e.call, needed).rc, whole.rc) << e.name;
    const Answer refused = Call(e.call, needed - 1);
    EXPECT_EQ(refused.rc, kDataError) << e.name;
    EXPECT_EQ(refused.text, "xxxx") << e.name;
    EXPECT_EQ(Call(e.call, 0).rc, kDataError) << e.name;
    EXPECT_EQ(e.call(nullptr, kListSize), kDataError) << e.name;
    const std::string record =
        std::string(e.name) + "\n에러 [-1003]\n설명 [위치3 : 응답버퍼 크기 부족]\n" + Rule();
    EXPECT_EQ(LogText(), record + record + record) << e.name;
  }
}

TEST_P(ListsTest, DatabaseFailuresAreLogged) {
  Query("DROP TABLE PM_BASE.APT_SAWON");
  EXPECT_EQ(Call(LoadSellerList).rc, kDbStepFailed);
  MakeDatabaseUnreachable();
  EXPECT_EQ(Call(LoadUserList).rc, kDbConnectFailed);
  EXPECT_EQ(LogText(), "LoadSellerList\n에러 [-1002]\n설명 [위치2 : 색인0]\n" + Rule() +
                           "LoadUserList\n에러 [-1001]\n설명 [위치1 : DB연결실패]\n" + Rule());
}

RETALO_ON_EVERY_BACKEND(ListsTest);

}  // namespace
}  // namespace retalo
