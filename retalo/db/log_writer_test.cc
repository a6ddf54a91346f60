#include "retalo/db/log_writer.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "platform/prefix.h"
#include "platform/registry.h"
#include "platform/testing/support.h"
#include "platform/testing/temp_prefix.h"

namespace retalo {
namespace {

std::tm At(int year, int month, int day, int hour, int minute, int second) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  return t;
}

std::string ReadAll(const std::filesystem::path& path) {
  return platform::testing::ReadFile(path);
}

// UTF-8 lines as the log holds them: CP949 with CR LF line ends.
std::string LogBytes(std::string_view utf8) {
  std::string out;
  for (char c : Cp949(utf8)) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

const std::string kRule(83, '-');

class LogWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(platform::RegSetString("Software\\Tavenor\\Update", "path", "c:\\tavenor"),
              platform::RegStatus::kOk);
  }
  std::filesystem::path DayFile(std::string_view date) {
    return *platform::MapPath("c:\\tavenor\\log\\RetaloLog " + std::string(date) + ".txt");
  }

  platform::testing::TempPrefix prefix_;
  LogClock clock_ = [] { return At(2013, 12, 20, 9, 5, 7); };
};

struct RecordCase {
  const char* what;
  LogHeader header;
  bool indexed;
  int code;
  int position;
  std::string description;  // UTF-8 (plain form)
  int index;                // indexed form
  std::string expected;     // UTF-8, "\n" line ends
};

TEST_F(LogWriterTest, RecordsAreWrittenByteForByte) {
  const std::string sql30 = "SELECT A FROM PM_DRUG..B WHERE";
  const std::string sql29 = "SELECT A FROM PM_DRUG..B WHER";
  ASSERT_EQ(sql30.size(), 30u);
  ASSERT_EQ(sql29.size(), 29u);
  const RecordCase cases[] = {
      {"connection failure of an export, two texts and a switch",
       LogHeader::Form4("SaveSaleData", Cp949("판매정보"), Cp949("1‡‡9091"), Cp949("결제정보"), "C",
                        Cp949("판매가/구입가업데이트"), 1),
       false, -1001, 3, "DB연결실패", 0,
       "09:05:07 SaveSaleData\n판매정보 [1‡‡9091]\n결제정보 [C]\n판매가/구입가업데이트 [1]\n"
       "에러 [-1001]\n설명 [위치3 : DB연결실패]\n" +
           kRule + "\n"},
      {"an SQL text over 29 bytes stands on its own line",
       LogHeader::Form1("CDatabaseUtil::InsertStatement"), false, 0, 1, sql30, 0,
       "09:05:07 CDatabaseUtil::InsertStatement\n설명 [위치1]\n" + sql30 + "\n" + kRule + "\n"},
      {"a 29-byte text stays after the position",
       LogHeader::Form2("CDatabaseUtil::DeleteStatement", "strQuery", sql29), false, 0, 7, sql29, 0,
       "09:05:07 CDatabaseUtil::DeleteStatement\nstrQuery [" + sql29 + "]\n설명 [위치7 : " + sql29 +
           "]\n" + kRule + "\n"},
      {"no description",
       LogHeader::Form3("CSalesChart::SetSalesChartSub", "", "", "iSaleSubIdx", 4), false, 0, 5, "",
       0,
       "09:05:07 CSalesChart::SetSalesChartSub\n []\niSaleSubIdx [4]\n설명 [위치5]\n" + kRule +
           "\n"},
      {"indexed failure of an export", LogHeader::Form2("SavePresData", Cp949("결제정보"), "0"),
       true, -1002, 7, "", 2,
       "09:05:07 SavePresData\n결제정보 [0]\n에러 [-1002]\n설명 [위치7 : 색인2]\n" + kRule + "\n"},
      {"indexed failure of an inner operation",
       LogHeader::Form7("CDatabaseUtil::WorkForBalance", "strAccount", "1100", "iWorkCode", 2,
                        "dDebit", 9091.5, "dCredit", -0.25),
       true, 0, 3, "", 0,
       "09:05:07 CDatabaseUtil::WorkForBalance\nstrAccount [1100]\niWorkCode [2]\n"
       "dDebit [9091.500000]\ndCredit [-0.250000]\n설명 [위치3 : 색인0]\n" +
           kRule + "\n"},
  };
  for (const RecordCase& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove(DayFile("20131220"));
    if (c.indexed) {
      LogIndexedFailure(c.header, c.code, c.position, c.index, clock_);
    } else {
      LogFailure(c.header, c.code, c.position, Cp949(c.description), clock_);
    }
    EXPECT_EQ(ReadAll(DayFile("20131220")), LogBytes(c.expected));
  }
}

TEST_F(LogWriterTest, AppendsWithinADayAndStartsANewFileAfterMidnight) {
  const LogHeader header = LogHeader::Form1("LoadUserList");
  LogFailure(header, -1001, 1, Cp949("DB연결실패"), clock_);
  LogFailure(header, -1002, 2, "", clock_);
  LogFailure(header, -1001, 1, Cp949("DB연결실패"), [] { return At(2013, 12, 21, 0, 0, 1); });

  const std::string first = ReadAll(DayFile("20131220"));
  EXPECT_EQ(first,
            LogBytes("09:05:07 LoadUserList\n에러 [-1001]\n설명 [위치1 : DB연결실패]\n" + kRule +
                     "\n09:05:07 LoadUserList\n에러 [-1002]\n설명 [위치2 : ]\n" + kRule + "\n"));
  EXPECT_EQ(
      ReadAll(DayFile("20131221")),
      LogBytes("00:00:01 LoadUserList\n에러 [-1001]\n설명 [위치1 : DB연결실패]\n" + kRule + "\n"));
}

TEST(LogWriterOffTest, WithoutTheRegistryPathNothingIsWritten) {
  platform::testing::TempPrefix prefix;
  CLogWriter log;
  EXPECT_FALSE(log.opened());
  EXPECT_FALSE(log.WriteHeader(LogHeader::Form1("HasBarcode")));
  LogFailure(LogHeader::Form1("HasBarcode"), -1003, 1, Cp949("바코드번호 오류"));
  for (const auto& entry : std::filesystem::recursive_directory_iterator(prefix.path())) {
    EXPECT_EQ(entry.path().filename().string().find("RetaloLog"), std::string::npos)
        << entry.path();
  }
}

}  // namespace
}  // namespace retalo
