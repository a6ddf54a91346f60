#include "hub/core/server_relay.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/clock.h"
#include "platform/socket.h"
#include "platform/testing/temp_prefix.h"
#include "platform/text.h"
#include "protocol/frame.h"
#include "protocol/testing/gateway_server_sim.h"
#include "stores/local_stores.h"

namespace hub {

using namespace protocol;

namespace {

using gateway_sim::Behaviour;
using gateway_sim::GatewayServerSimulator;
using gateway_sim::PortKind;
using ::testing::ElementsAre;

constexpr char kFsText[] = "\x1C";
constexpr char kGsText[] = "\x1D";

// A terminal's sale message: `fields` are message fields 1 on, joined by FS as they are, so a
// field may carry raw bytes (even FS) exactly as the terminal sends them.
std::string SaleFrame(int code, const std::vector<std::string>& fields) {
  std::vector<std::string_view> views(fields.begin(), fields.end());
  return BuildMessage(code, views).value();
}

// Message fields 1-20 of a sale with `prescriptions` (field 6) and `items` (field 20).
std::vector<std::string> SaleFields(std::string answer, std::string count,
                                    std::string prescriptions, std::string item_count,
                                    std::string items) {
  std::vector<std::string> fields = {"01",         std::move(answer), "T1",
                                     "0000012000", std::move(count),  std::move(prescriptions)};
  for (int n = 7; n <= 18; ++n) fields.push_back("f" + std::to_string(n));
  fields.push_back(std::move(item_count));
  fields.push_back(std::move(items));
  return fields;
}

// n items of 27 bytes, each followed by GS; item k is filled with byte 'a' + k, and its middle
// byte is FS, which the record must carry like any other byte.
std::string Items(int n) {
  std::string items;
  for (int k = 0; k < n; ++k) {
    std::string item(27, static_cast<char>('a' + k));
    item[13] = '\x1C';
    items += item + kGsText;
  }
  return items;
}

std::vector<std::string> RecordFields(const std::string& record) {
  std::vector<std::string> fields;
  for (std::string_view view : SplitFields<32>(record, '\x1C').slot) fields.emplace_back(view);
  fields.resize(SplitFields<32>(record, '\x1C').count);
  return fields;
}

TEST(SaleRecordTest, PrescriptionBytesHoldingFsDoNotShiftTheLaterFields) {
  // Two prescription records of 10 bytes; both hold FS.
  const std::string block = std::string(
                                "P1\x1C"
                                "3456789") +
                            "P2345678\x1C"
                            "9";
  const std::string frame = SaleFrame(812, SaleFields("0000", "2", block, "3", Items(3)));
  const std::optional<std::string> record = BuildSaleRecord(frame);
  ASSERT_TRUE(record.has_value());

  const std::vector<std::string> fields = RecordFields(*record);
  ASSERT_GE(fields.size(), 3u);
  EXPECT_EQ(fields[0], "2");
  EXPECT_EQ(fields[1], platform::ToHex(block));
  EXPECT_EQ(fields[1].size(), 40u);
  std::string items;
  for (int k = 0; k < 3; ++k) items += platform::ToHex(Items(3).substr(28 * k, 27)) + kGsText;
  EXPECT_EQ(fields[2], items);
  EXPECT_EQ(fields[2].size(), 3u * 55u);
  std::vector<std::string> rest(fields.begin() + 3, fields.end());
  EXPECT_THAT(rest, ElementsAre("0000012000", "f7", "f8", "f9", "f10", "f11", "f12", "f13", "f14",
                                "f15", "f16", "f17", "f18"));
}

TEST(SaleRecordTest, WithoutPrescriptionsTheRecordEndsWithOneMoreFs) {
  const std::string frame = SaleFrame(812, SaleFields("0000", "0", "ignored", "1", Items(1)));
  const std::optional<std::string> record = BuildSaleRecord(frame);
  ASSERT_TRUE(record.has_value());
  const std::string item = platform::ToHex(Items(1).substr(0, 27)) + kGsText;
  EXPECT_EQ(*record, std::string("0") + kFsText + kFsText + item + kFsText + "0000012000" +
                         kFsText +
                         "f7\x1C"
                         "f8\x1C"
                         "f9\x1C"
                         "f10\x1C"
                         "f11\x1C"
                         "f12\x1C"
                         "f13\x1C"
                         "f14\x1C"
                         "f15\x1C"
                         "f16\x1C"
                         "f17\x1C"
                         "f18" +
                         kFsText);
}

TEST(SaleRecordTest, MissingFieldsReadAsEmpty) {
  // Only fields 1-4: no counts, so no prescriptions and no items.
  const std::string frame = SaleFrame(812, {"01", "0000", "T1", "5000"});
  EXPECT_EQ(BuildSaleRecord(frame), std::string("0\x1C\x1C\x1C"
                                                "5000") +
                                        std::string(12, '\x1C') + kFsText);
}

TEST(SaleRecordTest, CountsBeyondTheBytesPresentAreRefused) {
  struct Case {
    const char* name;
    std::vector<std::string> fields;
  };
  const std::vector<Case> cases = {
      {"99 prescriptions, more than the frame holds",
       SaleFields("0000", "99", std::string(20, 'p'), "0", "")},
      {"prescription count without field 6", {"01", "0000", "T1", "5000", "1"}},
      {"four items, three present", SaleFields("0000", "0", "", "4", Items(3))},
      {"last item one byte short", SaleFields("0000", "0", "", "2", Items(2).substr(0, 28 + 26))},
      {"huge item count", SaleFields("0000", "0", "", "99999999999", Items(1))},
  };
  for (const Case& c : cases) {
    std::string refusal;
    EXPECT_EQ(BuildSaleRecord(SaleFrame(812, c.fields), &refusal), std::nullopt) << c.name;
    EXPECT_THAT(refusal, ::testing::HasSubstr("exceeds the bytes present")) << c.name;
  }
}

// A TCP port on which nothing listens.
std::string ClosedPort() {
  std::unique_ptr<platform::TcpListener> probe;
  EXPECT_TRUE(platform::TcpListener::Listen("127.0.0.1", 0, 1, &probe).ok());
  return probe ? std::to_string(probe->port()) : "1";
}

std::unique_ptr<GatewayServerSimulator> StartServer(Behaviour behaviour, int delay_ms = 0) {
  gateway_sim::Options options;
  options.sale.behaviour = behaviour;
  options.sale.delay_ms = delay_ms;
  std::string error;
  auto sim = GatewayServerSimulator::Start(options, &error);
  EXPECT_NE(sim, nullptr) << error;
  return sim;
}

TEST(ExchangeTest, ServerBehavioursGiveTheirCodes) {
  struct Case {
    const char* name;
    Behaviour behaviour;
    int delay_ms;
    int expected;  // 1: the answer's byte count
    int32_t last_error;
  };
  const std::vector<Case> cases = {
      {"answering", Behaviour::kAnswer, 0, 1, 0},
      {"slow but within the limit", Behaviour::kSlow, 300, 1, 0},
      {"silent", Behaviour::kSilent, 0, kSocketTimedOut, kSocketTimedOut},
      // Closed without a word: nothing was received, and the record says why.
      {"refusing", Behaviour::kRefuse, 0, 0, kSocketPeerClosed},
  };
  const std::string request = SaleFrame(812, SaleFields("0000", "0", "", "0", ""));
  for (const Case& c : cases) {
    auto sim = StartServer(c.behaviour, c.delay_ms);
    ServerConnection connection;
    std::string answer;
    const int got = Exchange(std::to_string(sim->port(PortKind::kSale)), &connection, request,
                             "127.0.0.1", &answer, 8000, std::chrono::milliseconds(2000));
    if (c.expected == 1) {
      EXPECT_EQ(got, static_cast<int>(gateway_sim::SaleAnswer(812).size())) << c.name;
      EXPECT_EQ(answer, gateway_sim::SaleAnswer(812)) << c.name;
    } else {
      EXPECT_EQ(got, c.expected) << c.name;
    }
    EXPECT_EQ(connection.last_error(), c.last_error) << c.name;
    EXPECT_FALSE(connection.open()) << c.name;
  }
}

TEST(ExchangeTest, AnAnswerIsCutToTheDestinationButCountedWhole) {
  auto sim = StartServer(Behaviour::kAnswer);
  ServerConnection connection;
  std::string answer;
  const int got =
      Exchange(std::to_string(sim->port(PortKind::kSale)), &connection, SaleFrame(813, {"x"}),
               "127.0.0.1", &answer, 5, std::chrono::milliseconds(2000));
  EXPECT_EQ(got, static_cast<int>(gateway_sim::SaleAnswer(813).size()));
  EXPECT_EQ(answer, gateway_sim::SaleAnswer(813).substr(0, 5));
}

TEST(ExchangeTest, FailedConnectsReturnZeroWithTheConnectCode) {
  const std::vector<std::pair<std::string, std::string>> targets = {{ClosedPort(), "127.0.0.1"},
                                                                    {"15041", "not an address"},
                                                                    {"0", "127.0.0.1"},
                                                                    {"port", "127.0.0.1"}};
  for (const auto& [port, address] : targets) {
    ServerConnection connection;
    EXPECT_EQ(
        Exchange(port, &connection, "x", address, nullptr, 0, std::chrono::milliseconds(1000)), 0)
        << port << " " << address;
    EXPECT_EQ(connection.last_error(), kSocketConnectFailed) << port << " " << address;
  }
}

TEST(TimedReceiveTest, ReportsTimeOutAndClose) {
  auto sim = StartServer(Behaviour::kSilent);
  ServerConnection silent;
  ASSERT_EQ(silent.Connect(std::to_string(sim->port(PortKind::kSale)), "127.0.0.1"), 1);
  EXPECT_EQ(silent.TimedReceive(nullptr, std::chrono::milliseconds(200)), 0);
  EXPECT_EQ(silent.last_error(), kSocketTimedOut);

  auto refusing = StartServer(Behaviour::kRefuse);
  ServerConnection closed;
  ASSERT_EQ(closed.Connect(std::to_string(refusing->port(PortKind::kSale)), "127.0.0.1"), 1);
  EXPECT_EQ(closed.TimedReceive(nullptr, std::chrono::milliseconds(2000)), 0);
  EXPECT_EQ(closed.last_error(), kSocketPeerClosed);
}

// The sale relay against the simulated server, with Helvar and the store recorded.
class SaleRelayTest : public ::testing::Test {
 protected:
  RelayServices Services(const GatewayServerSimulator& sim) {
    RelayServices services;
    services.server = {"127.0.0.1", std::to_string(sim.port(PortKind::kSale))};
    services.limit = std::chrono::milliseconds(500);
    services.send_helvar = [this](int32_t code, std::string_view payload) {
      helvar_.emplace_back(code, std::string(payload));
      return 1;
    };
    services.store_frame = &stores::StoreUndeliveredFrame;
    return services;
  }

  platform::testing::TempPrefix prefix_;
  std::vector<std::pair<int32_t, std::string>> helvar_;
};

TEST_F(SaleRelayTest, RelaysStoresAndRecordsByMessageAndAnswerCode) {
  struct Case {
    const char* name;
    int code;
    int32_t base;
    bool store;
    Behaviour server;
    const char* answer;
    bool helvar;  // Helvar is asked to record it
    bool kept;    // kept in RETALO_812
  };
  const std::vector<Case> cases = {
      {"sale delivered", 812, kSaleBase, false, Behaviour::kAnswer, "0000", true, false},
      {"declined sale delivered", 812, kSaleBase, false, Behaviour::kAnswer, "0001", false, false},
      {"sale, server silent", 812, kSaleBase, false, Behaviour::kSilent, "0000", true, false},
      {"cancellation, server closing", 813, kCancelBase, false, Behaviour::kRefuse, "0000", true,
       false},
      {"cancellation with message delivered", 883, kCancelWithMessageBase, true, Behaviour::kAnswer,
       "0000", true, false},
      {"cancellation with message, server silent", 883, kCancelWithMessageBase, true,
       Behaviour::kSilent, "0000", true, true},
      {"declined cancellation with message, server closing", 883, kCancelWithMessageBase, true,
       Behaviour::kRefuse, "0001", false, true},
  };
  for (const Case& c : cases) {
    helvar_.clear();
    const size_t kept_before = stores::ReadUndeliveredFrames().size();
    auto sim = StartServer(c.server);
    std::string frame = SaleFrame(c.code, SaleFields(c.answer, "0", "", "0", ""));
    std::string forwarded = frame;
    forwarded[2] = 'C';

    RelaySale(&frame, 2, c.base, c.store, Services(*sim));
    EXPECT_EQ(frame, forwarded) << c.name;
    if (c.server != Behaviour::kRefuse) {
      ASSERT_TRUE(sim->WaitForReceived(1, 5000)) << c.name;
      EXPECT_EQ(sim->Received()[0].bytes, forwarded) << c.name;
    }
    if (c.helvar) {
      ASSERT_EQ(helvar_.size(), 1u) << c.name;
      EXPECT_EQ(helvar_[0].first, c.base + 2) << c.name;
      EXPECT_EQ(helvar_[0].second, BuildSaleRecord(forwarded).value()) << c.name;
    } else {
      EXPECT_TRUE(helvar_.empty()) << c.name;
    }
    const std::vector<std::string> kept = stores::ReadUndeliveredFrames();
    ASSERT_EQ(kept.size(), kept_before + (c.kept ? 1 : 0)) << c.name;
    if (c.kept) {
      EXPECT_EQ(kept.back(), forwarded) << c.name;
    }
  }
}

TEST_F(SaleRelayTest, AnUnwritableStoreDoesNotStopTheRelay) {
  auto sim = StartServer(Behaviour::kRefuse);
  RelayServices services = Services(*sim);
  services.store_frame = [](std::string_view) { return 0; };
  std::string frame = SaleFrame(883, SaleFields("0000", "0", "", "0", ""));
  EXPECT_EQ(RelaySale(&frame, 0, kCancelWithMessageBase, true, services), 1);
  ASSERT_EQ(helvar_.size(), 1u);
  EXPECT_EQ(helvar_[0].first, kCancelWithMessageBase);
}

// The replay of the frames kept in RETALO_812, against the simulated server, on a manual clock.
class KeptFrameReplayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const std::string& frame : kept_) ASSERT_EQ(stores::StoreUndeliveredFrame(frame), 1);
  }

  std::unique_ptr<GatewayServerSimulator> Start(Behaviour behaviour,
                                                std::function<void()> on_received = nullptr) {
    gateway_sim::Options options;
    options.sale.behaviour = behaviour;
    if (on_received) {
      options.on_received = [on_received](const gateway_sim::ReceivedRequest&) { on_received(); };
    }
    std::string error;
    auto sim = GatewayServerSimulator::Start(options, &error);
    EXPECT_NE(sim, nullptr) << error;
    return sim;
  }

  RelayServices Services(const GatewayServerSimulator& sim) {
    RelayServices services;
    services.server = {"127.0.0.1", std::to_string(sim.port(PortKind::kSale))};
    services.limit = std::chrono::milliseconds(500);
    services.send_helvar = [](int32_t, std::string_view) { return 1; };
    services.store_frame = &stores::StoreUndeliveredFrame;
    services.read_kept = &stores::ReadUndeliveredFramesWithIds;
    services.delete_kept = &stores::DeleteUndeliveredFrame;
    services.replay = &replay_;
    services.log = log_;
    return services;
  }

  std::vector<std::string> ReceivedBytes(const GatewayServerSimulator& sim) {
    std::vector<std::string> bytes;
    for (const gateway_sim::ReceivedRequest& request : sim.Received()) {
      bytes.push_back(request.bytes);
    }
    return bytes;
  }

  static std::string Kept(const char* sale) {
    std::string frame = SaleFrame(883, SaleFields("0000", "0", "", "0", sale));
    frame[2] = 'C';
    return frame;
  }

  platform::testing::TempPrefix prefix_;
  const LogTarget log_{(prefix_.path() / "log").string(), 1};
  platform::ManualClock clock_;
  KeptFrameReplay replay_{clock_};
  const std::vector<std::string> kept_ = {Kept("first"), Kept("second")};
};

TEST_F(KeptFrameReplayTest, AnAnsweredExchangeSendsTheKeptFramesOldestFirstAndDeletesThem) {
  auto sim = Start(Behaviour::kAnswer);
  std::string live = SaleFrame(812, SaleFields("0000", "0", "", "0", ""));
  RelaySale(&live, 1, kSaleBase, false, Services(*sim));
  EXPECT_THAT(ReceivedBytes(*sim), ElementsAre(live, kept_[0], kept_[1]));
  EXPECT_TRUE(stores::ReadUndeliveredFrames().empty());
}

TEST_F(KeptFrameReplayTest, FramesTheServerDoesNotTakeStayKeptAndAreLogged) {
  for (Behaviour behaviour : {Behaviour::kRefuse, Behaviour::kSilent}) {
    auto sim = Start(behaviour);
    EXPECT_EQ(replay_.Replay(Services(*sim)), 0);
    EXPECT_EQ(stores::ReadUndeliveredFrames(), kept_);
    // A silent server heard the oldest, and the replay stopped there.
    if (behaviour == Behaviour::kSilent) {
      EXPECT_THAT(ReceivedBytes(*sim), ElementsAre(kept_[0]));
    }
  }
  const std::string logs = platform::testing::ReadFilesBelow(log_.directory);
  EXPECT_THAT(logs, ::testing::HasSubstr("not taken by 127.0.0.1"));
  EXPECT_THAT(logs, ::testing::HasSubstr("2 kept frames wait"));
}

TEST_F(KeptFrameReplayTest, TheTimedTryComesOnceAMinute) {
  auto sim = Start(Behaviour::kAnswer);
  const RelayServices services = Services(*sim);
  clock_.Advance(KeptFrameReplay::kIntervalMs - 1);
  EXPECT_EQ(replay_.ReplayIfDue(services), 0);
  EXPECT_TRUE(sim->Received().empty());
  EXPECT_EQ(stores::ReadUndeliveredFrames(), kept_);

  clock_.Advance(1);
  EXPECT_EQ(replay_.ReplayIfDue(services), 2);
  EXPECT_THAT(ReceivedBytes(*sim), ElementsAre(kept_[0], kept_[1]));
  EXPECT_TRUE(stores::ReadUndeliveredFrames().empty());

  // Kept anew: the next try waits for the next minute.
  ASSERT_EQ(stores::StoreUndeliveredFrame(kept_[0]), 1);
  clock_.Advance(KeptFrameReplay::kIntervalMs - 1);
  EXPECT_EQ(replay_.ReplayIfDue(services), 0);
  EXPECT_EQ(sim->Received().size(), 2u);
  clock_.Advance(1);
  EXPECT_EQ(replay_.ReplayIfDue(services), 1);
  EXPECT_TRUE(stores::ReadUndeliveredFrames().empty());
}

TEST_F(KeptFrameReplayTest, ARowThatCannotBeDeletedIsSentOnceAndNoSecondReplayRunsMeanwhile) {
  // A replay started (on the server's thread) while one runs: how many, and what they sent.
  std::atomic<int> nested_starts{0};
  std::atomic<int> nested_taken{0};
  std::atomic<RelayServices*> services_seen{nullptr};
  auto sim = Start(Behaviour::kAnswer, [&] {
    if (RelayServices* seen = services_seen.load(); seen != nullptr) {
      nested_starts.fetch_add(1);
      nested_taken.fetch_add(replay_.Replay(*seen));
    }
  });
  RelayServices services = Services(*sim);
  std::vector<int64_t> deletes;
  services.delete_kept = [&deletes](int64_t seq) {
    deletes.push_back(seq);
    return 0;
  };
  services_seen = &services;
  EXPECT_EQ(replay_.Replay(services), 2);
  EXPECT_THAT(ReceivedBytes(*sim), ElementsAre(kept_[0], kept_[1]));
  EXPECT_EQ(deletes.size(), 2u);
  EXPECT_EQ(nested_starts.load(), 2);
  EXPECT_EQ(nested_taken.load(), 0);
  EXPECT_EQ(stores::ReadUndeliveredFrames(), kept_);
  EXPECT_THAT(platform::testing::ReadFilesBelow(log_.directory),
              ::testing::HasSubstr("delivered but not deleted"));
}

}  // namespace
}  // namespace hub
