#include "helvar/work_context.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "helvar/helvar_log.h"
#include "helvar/request_worker.h"
#include "platform/prefix.h"
#include "platform/testing/support.h"
#include "platform/testing/temp_prefix.h"
#include "stores/local_stores.h"

namespace helvar {
namespace {

// Which handler served the last request.
std::atomic<int> g_served{0};

template <int kId>
int Mark(CWorkContext&, const Request&) {
  g_served = kId;
  return kHandlerDone;
}

TEST(DispatchTest, ProgramCodesUseThePharmacyProgramAndOthersProgramOne) {
  struct Case {
    int program_index;
    int32_t code;
    int want_result;
    int want_served;
  };
  const std::vector<Case> cases = {
      {2, 301, 1, 21},                   // UBcare's customer list
      {1, 301, 1, 11},                   // PM2000's
      {2, 400, 1, 14},                   // any other code: program index 1
      {1, 9, kDispatchNoHandler, 0},     // no slot
      {40, 301, kDispatchNoHandler, 0},  // index outside the table
      {2, 999, kDispatchNoHandler, 0},
  };
  for (const Case& c : cases) {
    WorkSettings settings;
    settings.program_index = c.program_index;
    CWorkContext context(settings);
    context.SetHandler(1, 301, Mark<11>);
    context.SetHandler(2, 301, Mark<21>);
    context.SetHandler(1, 400, Mark<14>);
    context.SetHandler(2, 400, Mark<24>);
    context.SetHandler(40, 301, Mark<99>);  // outside: ignored
    g_served = 0;
    Request request;
    request.code = c.code;
    EXPECT_EQ(context.Dispatch(request), c.want_result) << c.program_index << "/" << c.code;
    EXPECT_EQ(g_served, c.want_served) << c.program_index << "/" << c.code;
  }
}

// A sale handler over a pharmacy database that may be down: asks for a retry while it is,
// records the sale once it is back.
std::atomic<bool> g_database_down{true};
std::vector<std::string> g_recorded;

int RecordSale(CWorkContext&, const Request& request) {
  if (g_database_down) return kHandlerRetry;
  g_recorded.push_back(request.data);
  return kHandlerDone;
}

class RetryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_database_down = true;
    g_recorded.clear();
    PendingRetries() = 0;
  }

  // One tick of the shell's timer: the retry request through the dispatcher.
  static int Tick() {
    CWorkContext context{WorkSettings{}};
    context.SetHandler(kProgramPm2000, 800, RecordSale);
    context.SetHandler(kProgramPm2000, kRetryCode, RetryStoredRequest);
    Request retry;
    retry.code = kRetryCode;
    return context.Dispatch(retry);
  }

  static int Send(int32_t code, std::string data) {
    CWorkContext context{WorkSettings{}};
    context.SetHandler(kProgramPm2000, 800, RecordSale);
    Request request;
    request.code = code;
    request.data = std::move(data);
    return context.Dispatch(request);
  }

  platform::testing::TempPrefix prefix_;
};

TEST_F(RetryTest, AStoredSaleIsRetriedUntilRecordedExactlyOnce) {
  EXPECT_EQ(Send(800, "sale 'one'"), 0);  // stored for retry
  EXPECT_EQ(Send(800, "sale two"), 0);
  EXPECT_EQ(PendingRetries(), 2);

  EXPECT_EQ(Tick(), 1);
  EXPECT_TRUE(g_recorded.empty());
  EXPECT_EQ(PendingRetries(), 2);  // still both in the store

  g_database_down = false;
  Tick();  // one stored request per tick, oldest first
  EXPECT_EQ(g_recorded, std::vector<std::string>{"sale 'one'"});
  Tick();
  Tick();
  Tick();
  EXPECT_EQ(g_recorded, (std::vector<std::string>{"sale 'one'", "sale two"}));
  EXPECT_EQ(PendingRetries(), 0);
  stores::StoredRequest left;
  int pending = -1;
  EXPECT_EQ(stores::ReadFirstStoredRequest(&left, &pending), 0);
  EXPECT_EQ(pending, 0);
}

TEST_F(RetryTest, ATickWithNothingPendingDoesNotTouchTheStore) {
  ASSERT_EQ(stores::StoreRequest(800, "left by another run", ""), 1);
  g_database_down = false;
  Tick();
  EXPECT_TRUE(g_recorded.empty());
  PendingRetries() = 1;  // as at start
  Tick();
  EXPECT_EQ(g_recorded, std::vector<std::string>{"left by another run"});
}

TEST(RunRequestTest, ACodeWithoutHandlerIsLoggedAsSuchNotAsADatabaseFailure) {
  platform::testing::TempPrefix prefix;
  SetInstallDir("c:\\tavenor");
  Request request;
  request.code = 123;  // no request of that code exists
  RunRequest(request);
  const std::string log =
      platform::testing::ReadFilesBelow(platform::MapPath("c:\\tavenor\\Log").value());
  EXPECT_NE(log.find("request 123 has no handler for program index 1: not served"),
            std::string::npos)
      << log;
  EXPECT_EQ(log.find(Cp949("데이타 베이스 접근에 실패함.")), std::string::npos) << log;
}

TEST(RunRequestTest, CardDataInARequestNeverReachesALog) {
  platform::testing::TempPrefix prefix;
  SetInstallDir("c:\\tavenor");
  // The sale record the hub builds from a terminal's 813: field 7 holds the card number with
  // its track data after "=".
  const std::string card = "9410123456789012";
  const std::string track = "25121010000123";
  std::string record = "0";
  for (int field = 1; field <= 15; ++field) {
    record += '\x1c';
    if (field == 5) record += "30012345";
    if (field == 7) record += card + "=" + track;
    if (field == 14) record += "131220153000";
    if (field == 15) record += "C";
  }
  Request request;
  request.code = 851;  // a cancellation: logged on arrival and on its failure
  request.data = record;
  RunRequest(request);
  std::string logs;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(prefix.path())) {
    if (entry.is_regular_file() && entry.path().extension() != ".db") {
      logs += platform::testing::ReadFile(entry.path());
    }
  }
  ASSERT_NE(logs.find("941012******9012="), std::string::npos) << logs;
  EXPECT_EQ(logs.find(card), std::string::npos) << logs;
  EXPECT_EQ(logs.find(track), std::string::npos) << logs;
  EXPECT_EQ(logs.find("3456789"), std::string::npos) << logs;
}

TEST(RequestLockTest, TheTimerSeesTheLockHeldByAWorker) {
  EXPECT_TRUE(RequestLockFree());
  std::atomic<bool> held{false};
  std::atomic<bool> release{false};
  std::thread worker([&] {
    std::lock_guard<std::mutex> lock(RequestLock());
    held = true;
    while (!release) std::this_thread::yield();
  });
  while (!held) std::this_thread::yield();
  EXPECT_FALSE(RequestLockFree());
  release = true;
  worker.join();
  EXPECT_TRUE(RequestLockFree());
}

}  // namespace
}  // namespace helvar
