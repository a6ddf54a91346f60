// The customer display requests from the hub: 951 shows the customers the terminal lists, 950
// clears the display; both only while the customer display flag is set.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "helvar/customer_list.h"
#include "helvar/helvar_log.h"
#include "helvar/pos_sale.h"
#include "helvar/test_support.h"
#include "helvar/work_context.h"
#include "platform/clock.h"
#include "platform/prefix.h"
#include "platform/testing/support.h"
#include "platform/testing/temp_prefix.h"
#include "platform/text.h"
#include "retalo/ordella_retalo.h"
#include "tests/fixtures/fixture.h"

namespace helvar {
namespace {

std::string TodaySerial(int n) {
  return platform::SystemClock().LocalDate() + "00000" + std::to_string(n);
}

// The payload the hub sends: the count digit, then each customer record's packed key as
// hexadecimal text (20 characters, the serial in the last 14).
std::string Payload(char count, const std::vector<std::string>& serials) {
  std::string payload(1, count);
  for (const std::string& serial : serials) {
    payload += platform::ToHex(PackDigits(RightAligned(serial, 20, '0')));
  }
  return payload;
}

class DisplayRequestsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetInstallDir("c:\\tavenor");
    testing::SetRegText("Software\\Tavenor\\Update", "path", "c:\\tavenor");
    std::string error;
    ASSERT_TRUE(fixture::LoadFixture(fixture::DefaultDir(), &error)) << error;
    testing::SetRegInt("pharmscreen", 1);
    ASSERT_EQ(OpenScreen(), 1);
  }
  void TearDown() override { CloseScreen(); }

  static int Run(Handler handler, int32_t code, std::string data) {
    CWorkContext context{WorkSettings{}};
    Request request;
    request.code = code;
    request.data = std::move(data);
    return handler(context, request);
  }
  static std::string Shown(const std::string& library) {
    return platform::testing::ReadFile(platform::RunDir() / ("display-" + library + ".txt"));
  }

  platform::testing::TempPrefix prefix_;
};

TEST_F(DisplayRequestsTest, ShowsTheListedCustomersInTurnAndClears) {
  const std::string open = "list: open\npopup: closed\n";
  struct Case {
    std::string name;
    std::string payload;
    std::string list;  // the last customer shown stays on the display
  };
  const Case cases[] = {
      {"two customers", Payload('2', {TodaySerial(1), TodaySerial(2)}),
       open + "P|920315|김영희|0|4200\n"},
      {"the first of two", Payload('1', {TodaySerial(1), TodaySerial(2)}),
       open + "P|800101|홍길동|0|3500\n"},
      {"fewer records than counted", Payload('3', {TodaySerial(2), TodaySerial(1)}),
       open + "P|800101|홍길동|0|3500\n"},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(Run(ClearCustomerDisplay, protocol::kHelvarClearDisplay, ""), 1);
    EXPECT_EQ(Shown("Ordella_DisplayM"), "list: closed\npopup: shown\n") << c.name;
    EXPECT_EQ(Shown("RetaloDisplay"), open) << c.name;
    EXPECT_EQ(Run(ShowDisplayCustomers, protocol::kHelvarDisplayCustomers, c.payload), 1);
    EXPECT_EQ(Shown("RetaloDisplay"), c.list) << c.name;
    EXPECT_EQ(Shown("Ordella_DisplayM"), "list: closed\npopup: hidden\n") << c.name;
  }
}

TEST_F(DisplayRequestsTest, NothingChangesWithoutTheFlagOrWithoutCustomers) {
  ASSERT_EQ(Run(ClearCustomerDisplay, protocol::kHelvarClearDisplay, ""), 1);
  const std::string list = Shown("RetaloDisplay");
  const std::string popup = Shown("Ordella_DisplayM");
  for (const std::string& payload : {std::string(), std::string("0"), std::string("x123")}) {
    EXPECT_EQ(Run(ShowDisplayCustomers, protocol::kHelvarDisplayCustomers, payload), 1);
  }
  testing::SetRegInt("pharmscreen", 0);
  EXPECT_EQ(
      Run(ShowDisplayCustomers, protocol::kHelvarDisplayCustomers, Payload('1', {TodaySerial(1)})),
      1);
  EXPECT_EQ(Run(ClearCustomerDisplay, protocol::kHelvarClearDisplay, ""), 1);
  EXPECT_EQ(Shown("RetaloDisplay"), list);
  EXPECT_EQ(Shown("Ordella_DisplayM"), popup);
}

}  // namespace
}  // namespace helvar
