#include "hub/core/module_entry.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "companions/connmap/ordella_connmap.h"
#include "hub/core/module_state.h"
#include "hub/core/test_support.h"
#include "platform/sync.h"
#include "platform/testing/temp_prefix.h"
#include "platform/window.h"

namespace hub {

using namespace protocol;

namespace {

namespace fs = std::filesystem;
using testing::Notification;

// The frame with its check byte: the exclusive-or of the bytes after STX through ETX, bit 0x20
// set.
std::string WithCheckByte(std::string frame) {
  unsigned char check = 0;
  for (size_t i = 1; i < frame.size(); ++i) check ^= static_cast<unsigned char>(frame[i]);
  frame.push_back(static_cast<char>(check | 0x20));
  return frame;
}

TEST(HostRequestFrameTest, FramesCarryTheRoutingPrefixAndBodyLengthPlus25) {
  std::array<char, connmap::kPropertyMapSize> record{};
  connmap::WriteText(record.data(), connmap::kServerAddress, "203.0.113.10");
  connmap::WriteText(record.data(), connmap::kBusinessNumber, "1234567890");
  connmap::WriteText(record.data(), connmap::kAreaCode, "02");
  connmap::WriteText(record.data(), connmap::kPharmacyCode, "P12345");
  connmap::WriteText(record.data(), connmap::kTelephone, "5551234");
  connmap::WriteText(record.data(), connmap::InSlot(0, connmap::kTerminalId), "T0000");
  connmap::WriteText(record.data(), connmap::InSlot(1, connmap::kTerminalId), "T0001");

  struct Case {
    int32_t code;
    int32_t terminal;
    std::string frame;  // without the check byte
  };
  const std::vector<Case> cases = {
      {840, 0, "\x02TavenorGatewayXX0049TRM840" + std::string(21, '\x1C') + "\x03"},
      {843, 2,
       "\x02TavenorGatewayXX0039TRM843\x1C\x1C\x1C"
       "00\x1C"
       "00\x1C"
       "00\x03"},
      {842, 1,
       "\x02TavenorGatewayXX0114TRM842\x1C"
       "1403\x1C"
       "203.0.113.10/4100\x1C"
       "203.0.113.10/15000\x1C\x1C"
       "1234567890\x1C"
       "02\x1C"
       "T0001\x1C"
       "P12345\x1C"
       "5551234\x1C\x1C\x1C"
       "7394\x1C\x03"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    const std::optional<std::string> frame =
        BuildHostRequestFrame(c.code, c.terminal, record.data());
    ASSERT_TRUE(frame);
    EXPECT_EQ(*frame, WithCheckByte(c.frame));
  }
}

TEST(HostRequestFrameTest, OtherCodesAndTerminalsAreRefused) {
  std::array<char, connmap::kPropertyMapSize> record{};
  const std::vector<std::pair<int32_t, int32_t>> refused = {
      {841, 0}, {1, 0}, {840, 3}, {842, -1}, {843, 1 << 20}};
  for (const auto& [code, terminal] : refused) {
    EXPECT_FALSE(BuildHostRequestFrame(code, terminal, record.data())) << code << " " << terminal;
  }
}

class ModuleEntryTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(host_.ok()); }

  // The settings file in the default install directory (c:\tavenor).
  void WriteSettings(const std::string& text) {
    fs::create_directories(install_dir_);
    std::ofstream(install_dir_ / "ordella_connmap.ini") << text;
  }

  platform::testing::TempPrefix prefix_;
  fs::path install_dir_ = prefix_.path() / "drive_c" / "tavenor";
  testing::TestHostWindow host_;
};

TEST_F(ModuleEntryTest, ModuleStartsReportsToTheHostAndStopsCleanly) {
  WriteSettings("terminal_count = 1\nterminal0_port = 40\n");  // COM40 does not exist
  std::unique_ptr<platform::NamedEvent> update =
      platform::NamedEvent::CreateOrOpen(kUpdateEventName);
  ASSERT_NE(update, nullptr);

  ASSERT_EQ(CreateClientModule(host_.hwnd(), 0), 1);
  ASSERT_TRUE(host_.WaitFor(1));
  EXPECT_EQ(host_.Notifications(), (std::vector<Notification>{{kEventSerialPortFailed, 0}}));
  EXPECT_EQ(CreateClientModule(host_.hwnd(), 0), 0) << "the module already runs";

  EXPECT_EQ(OrdellaMassage(843, 0, 0), 0);
  EXPECT_EQ(OrdellaMassage(12345, 0, 0), 0);
  EXPECT_EQ(SaveClientModule(), 1);
  EXPECT_TRUE(fs::exists(install_dir_ / "ordella_connmap.ini"));
  EXPECT_FALSE(update->IsSet());

  CloseClientModule();
  EXPECT_TRUE(update->IsSet()) << "Helvar is told to close";
  EXPECT_EQ(Module().main_thread.load(), nullptr);
  EXPECT_FALSE(Module().running.load());
  EXPECT_EQ(Module().property_map, nullptr);
  EXPECT_NE(testing::ReadFilesBelow(install_dir_ / "Log").find("has no open serial port"),
            std::string::npos);

  // The host may start the module again after closing it.
  update->Reset();
  ASSERT_EQ(CreateClientModule(host_.hwnd(), 0), 1);
  CloseClientModule();
  EXPECT_EQ(Module().main_thread.load(), nullptr);
}

TEST_F(ModuleEntryTest, SettingsThatCannotBeReadStartNothing) {
  WriteSettings("no_such_setting = 1\n");
  EXPECT_EQ(CreateClientModule(host_.hwnd(), 0), 0);
  EXPECT_EQ(Module().main_thread.load(), nullptr);
  EXPECT_EQ(Module().property_map, nullptr);
  EXPECT_EQ(host_.Notifications(), std::vector<Notification>{});
  CloseClientModule();  // harmless without a running module
}

TEST_F(ModuleEntryTest, HelvarRequestFromTheHostGoesOutWithoutPayload) {
  std::mutex mutex;
  std::vector<platform::WindowMessage> requests;
  auto helvar = platform::WindowEndpoint::Create("Helvar", "", [&](const auto& message) {
    std::lock_guard<std::mutex> lock(mutex);
    requests.push_back(message);
    return int64_t{0};
  });
  ASSERT_NE(helvar, nullptr);
  EXPECT_EQ(OrdellaMassage(2, 300, 0), 1);
  std::lock_guard<std::mutex> lock(mutex);
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].wparam, 300u);
  EXPECT_EQ(requests[0].copy_data_id, 300u);
  EXPECT_EQ(requests[0].copy_data, "");
}

}  // namespace
}  // namespace hub
