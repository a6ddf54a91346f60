#include "hub/core/sign_on.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "companions/connmap/ordella_connmap.h"
#include "hub/core/dispatch.h"
#include "protocol/frame.h"
#include "hub/core/test_support.h"
#include "platform/testing/temp_prefix.h"
#include "protocol/testing/gateway_server_sim.h"

namespace hub {

using namespace protocol;
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Pair;

constexpr int kTerminal = 1;

TerminalSlotTexts Slot() {
  TerminalSlotTexts slot;
  slot.terminal_id = "T0001";
  slot.field21 = "F21";
  slot.field11 = "F11";
  slot.field10 = "V2501";
  slot.serial_port = 3;
  return slot;
}

RegistrationSettings Settings() {
  RegistrationSettings settings;
  settings.business_number = "1234567890";
  settings.pharmacy_code = "12345";
  settings.program_index = 1;
  settings.payment_path = 2;
  settings.adapter_address = "001A2B3C4D5E";
  settings.host_version = "1.2.0.3";
  return settings;
}

TEST(RegistrationTest, CarriesThePharmacyTheTerminalAndThisInstallation) {
  const std::string expected = std::string("\x02XX000159TRM851") + "1234567890" +
                               std::string(68, ' ') +
                               "\x1C"
                               "001A2B3C4D5E\x1C\x1C\x1C\x1C"
                               "12345\x1CT0001\x1C"
                               "F11\x1CV2501\x1C"
                               "1.2.0.3\x1C"
                               "0\x1C"
                               "0\x1C"
                               "200\x1C"
                               "61\x1C"
                               "C03\x1C"
                               "F21\x03";
  EXPECT_EQ(BuildRegistration(Slot(), Settings()), expected);
}

TEST(RegistrationTest, FieldsFollowTheSettings) {
  struct Case {
    const char* name;
    std::function<void(TerminalSlotTexts&, RegistrationSettings&)> change;
    size_t field;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"serial port 3", [](auto& t, auto&) { t.serial_port = 3; }, kRegPortText, "C03"},
      {"serial port 12", [](auto& t, auto&) { t.serial_port = 12; }, kRegPortText, "C12"},
      {"serial port 123", [](auto& t, auto&) { t.serial_port = 123; }, kRegPortText, "C123"},
      {"TCP terminal", [](auto& t, auto&) { t.serial_port = 0; }, kRegPortText, "L00"},
      {"program 0", [](auto&, auto& s) { s.program_index = 0; }, kRegProgramCode, "200"},
      {"program 2", [](auto&, auto& s) { s.program_index = 2; }, kRegProgramCode, "202"},
      {"program 10", [](auto&, auto& s) { s.program_index = 10; }, kRegProgramCode, ""},
      {"program 16", [](auto&, auto& s) { s.program_index = 16; }, kRegProgramCode, "222"},
      {"program 17", [](auto&, auto& s) { s.program_index = 17; }, kRegProgramCode, ""},
      {"program -1", [](auto&, auto& s) { s.program_index = -1; }, kRegProgramCode, ""},
      {"payment path 0", [](auto&, auto& s) { s.payment_path = 0; }, kRegModuleKind, "03"},
      {"payment path 1", [](auto&, auto& s) { s.payment_path = 1; }, kRegModuleKind, "03"},
      {"payment path 2", [](auto&, auto& s) { s.payment_path = 2; }, kRegModuleKind, "61"},
      {"payment path 3", [](auto&, auto& s) { s.payment_path = 3; }, kRegModuleKind, ""},
  };
  for (const Case& c : cases) {
    TerminalSlotTexts slot = Slot();
    RegistrationSettings settings = Settings();
    c.change(slot, settings);
    const std::optional<std::string> message = BuildRegistration(slot, settings);
    ASSERT_TRUE(message) << c.name;
    EXPECT_EQ(FrameFields<kRegistrationFields + 1>(*message)[c.field], c.expected) << c.name;
    EXPECT_EQ(ReadDecimal(*message, kLengthOffset, kServerLengthDigits),
              static_cast<int>(message->size()))
        << c.name;
  }
}

TEST(RegistrationTest, BusinessNumberIsRightAlignedInBytes15To24) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"1234567890", "1234567890"},
      {"123456789", " 123456789"},
      {"12-34", "     12-34"},
      {"", "          "},
  };
  for (const auto& [number, bytes] : cases) {
    RegistrationSettings settings = Settings();
    settings.business_number = number;
    const std::string message = BuildRegistration(Slot(), settings).value();
    EXPECT_EQ(message.substr(15, 10), bytes) << number;
    EXPECT_EQ(message.substr(25, 68), std::string(68, ' ')) << number;
    EXPECT_EQ(message[93], kFs) << number;
  }
  // A longer number widens the field and moves the rest.
  RegistrationSettings settings = Settings();
  settings.business_number = "12345678901";
  const std::string message = BuildRegistration(Slot(), settings).value();
  EXPECT_EQ(message.substr(15, 11), "12345678901");
  EXPECT_EQ(message[94], kFs);
}

TEST(RegistrationTest, AdapterAddressAndHostVersionTexts) {
  EXPECT_EQ(AdapterAddressText(std::array<uint8_t, 6>{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0xFE}),
            "001A2B3C4DFE");
  EXPECT_EQ(AdapterAddressText(std::nullopt), "");
  const std::vector<std::pair<std::optional<std::string>, std::string>> versions = {
      {"1.2.3.4", "1.2.3.4"},  {"1.2.0.0", "1.2"},     {"0.0.0.7", "0.0.0.7"},
      {"0.0.0.0", ""},         {"1.2", "1.2"},         {"65535.0.0.1", "65535.0.0.1"},
      {"65536.0.0.0", ""},     {"1.2.3.4.5", ""},      {"1..2.3", ""},
      {"garbage", ""},         {"", ""},               {std::nullopt, ""},
  };
  for (const auto& [file_version, text] : versions) {
    EXPECT_EQ(HostVersionText(file_version), text) << file_version.value_or("(none)");
  }
}

TEST(SignOnAnswerTest, OnlyATerminalBehindTheServerGetsTheAnswer) {
  const auto answer = [](std::string_view version) {
    return gateway_sim::RegistrationAnswer(version);
  };
  struct Case {
    std::string terminal;
    std::string answer;
    bool behind;
  };
  const std::vector<Case> cases = {
      {"V2501", answer("V2503"), true},
      {"V2503", answer("V2503"), false},
      {"V2504", answer("V2503"), false},
      {"V1901", answer("V2503"), false},  // the terminal's text has no "25"
      {"V2501", answer("V1903"), false},  // nor has the server's
      {"", answer("V2503"), false},
      {"V2501", "garbage", false},
      {"V2501", "", false},
      {"V2501", "\x1C\x1C\x1C\x1C\x1C\x1C\x1C\x1C\x1C\x1C V2599", true},  // field 10, unframed
      {"V2501", "\x1C\x1C\x1C\x1C\x1C\x1C\x1C\x1C\x1C V2599", false},     // field 9
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TerminalIsBehind(c.terminal, c.answer), c.behind) << c.terminal << " " << c.answer;
  }
  const std::string frame = SignOnAnswerFrame();
  EXPECT_TRUE(HasRoutingPrefix(frame));
  EXPECT_EQ(MessageCode(frame), 840);
  EXPECT_EQ(ReadLengthField(frame), 35);
  EXPECT_EQ(FrameFields<30>(frame).count, 22u);
}

// A terminal's 842 with fields 1-21: field n holds "f<n>", field 10 the terminal's version.
std::string SignOnFrame(std::string field10 = "V2501", size_t count = 21,
                        std::string field19 = "f19") {
  std::vector<std::string> fields;
  for (size_t n = 1; n <= count; ++n) fields.push_back("f" + std::to_string(n));
  if (count >= 10) fields[9] = std::move(field10);
  if (count >= 19) fields[18] = std::move(field19);
  std::vector<std::string_view> views(fields.begin(), fields.end());
  return BuildMessage(842, views).value();
}

// The sign-on through the dispatcher, with the gateway server simulated and everything else
// recorded.
class SignOnTest : public ::testing::Test {
 protected:
  SignOnTest() {
    context_.index = kTerminal;
    context_.log = LogTarget{(prefix_.path() / "log").string(), 1};
    dispatch_.send_helvar = [this](int32_t code, std::string_view payload) {
      helvar_.emplace_back(code, std::string(payload));
      return 1;
    };
    dispatch_.notify = [this](uint32_t event, int64_t lparam) {
      notifications_.emplace_back(event, lparam);
    };
    dispatch_.send_to_terminal = [this](TerminalContext&, std::string_view bytes) {
      terminal_.emplace_back(bytes);
      return static_cast<int>(bytes.size());
    };
    char* record = record_.data();
    connmap::WriteText(record, connmap::kBusinessNumber, "1234567890");
    connmap::WriteText(record, connmap::kPharmacyCode, "12345");
    connmap::WriteInt(record, connmap::kProgramIndex, 1);
    connmap::WriteInt(record, connmap::kPaymentPath, 2);
    connmap::WriteText(record, connmap::InSlot(kTerminal, connmap::kTerminalId), "T0001");
    connmap::WriteInt(record, connmap::InSlot(kTerminal, connmap::kSerialPort), 3);
    SignOnServices& sign_on = dispatch_.sign_on;
    sign_on.property_record = record;
    sign_on.limit = std::chrono::milliseconds(2000);
    sign_on.auto_data_sync = [this](int terminal) {
      synced_.push_back(terminal);
      return sync_due_;
    };
    sign_on.adapter_address = [] {
      return std::optional(std::array<uint8_t, 6>{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E});
    };
    sign_on.host_file_version = [] { return std::optional<std::string>("1.2.0.3"); };
  }

  void StartServer(gateway_sim::Behaviour behaviour, std::string version = "V2503") {
    gateway_sim::Options options;
    options.registration.behaviour = behaviour;
    options.terminal_version = std::move(version);
    std::string error;
    sim_ = gateway_sim::GatewayServerSimulator::Start(options, &error);
    ASSERT_NE(sim_, nullptr) << error;
    dispatch_.sign_on.registration = {
        "127.0.0.1", std::to_string(sim_->port(gateway_sim::PortKind::kRegistration))};
  }

  int Run(std::string frame) {
    record_message_.frame = std::move(frame);
    return Dispatch(context_, record_message_, dispatch_);
  }

  std::string SlotText(connmap::TextField field) {
    return connmap::ReadText(record_.data(), connmap::InSlot(kTerminal, field));
  }
  std::string Log() { return testing::ReadFilesBelow(prefix_.path() / "log"); }

  platform::testing::TempPrefix prefix_;
  std::vector<char> record_ = std::vector<char>(connmap::kPropertyMapSize, '\0');
  TerminalContext context_;
  MessageRecord record_message_;
  DispatchServices dispatch_;
  std::unique_ptr<gateway_sim::GatewayServerSimulator> sim_;
  int sync_due_ = 0;
  std::vector<int> synced_;
  std::vector<std::pair<int32_t, std::string>> helvar_;
  std::vector<testing::Notification> notifications_;
  std::vector<std::string> terminal_;
};

TEST_F(SignOnTest, ATerminalBehindTheServerIsRegisteredAndAnswered840) {
  StartServer(gateway_sim::Behaviour::kAnswer, "V2503");
  sync_due_ = 1;
  context_.barcode_chunk = 5;
  EXPECT_EQ(Run(SignOnFrame("V2501")), kDispatchDone);

  EXPECT_THAT(notifications_, ElementsAre(Pair(kEventFrameOrRelayClosed, kTerminal),
                                          Pair(kEventSignOn, kTerminal),
                                          Pair(kEventBarcodeRebuild, kTerminal)));
  EXPECT_THAT(synced_, ElementsAre(kTerminal));
  EXPECT_THAT(helvar_, ElementsAre(Pair(701, "")));
  EXPECT_EQ(context_.barcode_chunk, 0);
  EXPECT_EQ(SlotText(connmap::kSignOnField10), "V2501");
  EXPECT_EQ(SlotText(connmap::kSignOnField11), "f11");
  EXPECT_EQ(SlotText(connmap::kSignOnField19), "f19");
  EXPECT_EQ(SlotText(connmap::kSignOnField21), "f21");

  TerminalSlotTexts slot = Slot();
  slot.field11 = "f11";
  slot.field21 = "f21";
  const std::vector<gateway_sim::ReceivedRequest> received = sim_->Received();
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].port, gateway_sim::PortKind::kRegistration);
  EXPECT_EQ(received[0].bytes, BuildRegistration(slot, Settings()));
  EXPECT_THAT(terminal_, ElementsAre(SignOnAnswerFrame()));
}

TEST_F(SignOnTest, NoAnswerOrNoNewerVersionSendsNothingAndKeepsTheSlotTexts) {
  struct Case {
    const char* name;
    gateway_sim::Behaviour behaviour;
    std::string version;
    bool taken;  // the server read the registration
  };
  const std::vector<Case> cases = {
      {"same version", gateway_sim::Behaviour::kAnswer, "V2501", true},
      {"answer without 25", gateway_sim::Behaviour::kAnswer, "garbage", true},
      {"server closes", gateway_sim::Behaviour::kRefuse, "V2503", false},
      {"server silent", gateway_sim::Behaviour::kSilent, "V2503", true},
  };
  for (const Case& c : cases) {
    StartServer(c.behaviour, c.version);
    dispatch_.sign_on.limit = std::chrono::milliseconds(300);
    notifications_.clear();
    EXPECT_EQ(Run(SignOnFrame("V2501")), kDispatchDone) << c.name;
    if (c.taken) {
      EXPECT_TRUE(sim_->WaitForReceived(1, 5000)) << c.name;
    }
    EXPECT_TRUE(terminal_.empty()) << c.name;
    EXPECT_EQ(SlotText(connmap::kSignOnField10), "V2501") << c.name;
    EXPECT_EQ(SlotText(connmap::kSignOnField21), "f21") << c.name;
    // The day's sync was not due: the registration still ran, nothing more was asked.
    EXPECT_THAT(notifications_, ElementsAre(Pair(kEventFrameOrRelayClosed, kTerminal),
                                            Pair(kEventSignOn, kTerminal)))
        << c.name;
    EXPECT_TRUE(helvar_.empty()) << c.name;
    sim_.reset();
  }
  // Nobody listening at all.
  dispatch_.sign_on.registration.port = "1";
  EXPECT_EQ(Run(SignOnFrame("V2501")), kDispatchDone);
  EXPECT_TRUE(terminal_.empty());
  EXPECT_THAT(Log(), HasSubstr("registration not answered"));
}

TEST_F(SignOnTest, ShortAndOverLongFieldsAreKeptWithinTheSlotsRooms) {
  StartServer(gateway_sim::Behaviour::kAnswer, "V2503");
  const std::string long_version = "V2501" + std::string(30, '9');
  EXPECT_EQ(Run(SignOnFrame(long_version, 21, std::string(40, 'x'))), kDispatchDone);
  EXPECT_EQ(SlotText(connmap::kSignOnField10), long_version.substr(0, 19));
  EXPECT_EQ(SlotText(connmap::kSignOnField19), std::string(27, 'x'));
  EXPECT_EQ(SlotText(connmap::kSignOnField21), "f21");
  EXPECT_THAT(Log(), HasSubstr("842 field 10 cut"));
  EXPECT_THAT(Log(), HasSubstr("842 field 19 cut"));
  EXPECT_TRUE(terminal_.empty());  // 2501999... is not below 2503

  // Fields the terminal left out are kept empty; the registration still runs.
  EXPECT_EQ(Run(SignOnFrame("V2501", 11)), kDispatchDone);
  EXPECT_EQ(SlotText(connmap::kSignOnField10), "V2501");
  EXPECT_EQ(SlotText(connmap::kSignOnField11), "f11");
  EXPECT_EQ(SlotText(connmap::kSignOnField19), "");
  EXPECT_EQ(SlotText(connmap::kSignOnField21), "");
  EXPECT_THAT(Log(), HasSubstr("842 with 11 fields"));
  ASSERT_TRUE(sim_->WaitForReceived(2, 5000));
  EXPECT_THAT(terminal_, ElementsAre(SignOnAnswerFrame()));
}

TEST_F(SignOnTest, WithoutAPropertyMapTheSignOnIsRefused) {
  dispatch_.sign_on.property_record = nullptr;
  EXPECT_EQ(Run(SignOnFrame()), kDispatchDone);
  EXPECT_TRUE(synced_.empty());
  EXPECT_TRUE(terminal_.empty());
  EXPECT_THAT(Log(), HasSubstr("sign-on refused"));
}

}  // namespace
}  // namespace hub
