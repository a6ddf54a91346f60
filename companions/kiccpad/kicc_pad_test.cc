// The sign-pad module library against the simulated VAN approval server, and the bitmaps it
// writes read back byte by byte.
#include "companions/kiccpad/kicc_pad.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "companions/kiccpad/kicc_protocol.h"
#include "platform/prefix.h"
#include "platform/registry.h"
#include "platform/socket.h"
#include "platform/testing/support.h"
#include "protocol/testing/gateway_server_sim.h"

namespace {

using gateway_sim::Behaviour;
using gateway_sim::VanVerdict;

constexpr std::string_view kSeed = "0123456789ABCDEF0123456789ABCDEF";
// Pen points: a stroke from (0, 0) to (3, 0), then a dot at (10, 5).
constexpr std::string_view kSignatureHex = "00000300FFFF0A05";

std::string Record() {
  std::string record(kicc::kRequestRecordSize, ' ');
  record.replace(kicc::kRequestKind.offset, 2, "D1");
  record.replace(kicc::kCardData.offset, 16, "9410123456785678");
  return record;
}

std::string Field(std::string_view record, size_t offset, size_t width) {
  return std::string(record.substr(offset, width));
}

class KiccPadTest : public ::testing::Test {
 protected:
  // A short answer time-out set by one test must not hurry a slow server in another.
  void TearDown() override {
    platform::RegDeleteValue(kicc::kSettingsKey, kicc::kAnswerTimeoutValue);
  }

  void Start(Behaviour behaviour, VanVerdict verdict = VanVerdict::kApprove, int delay_ms = 0) {
    gateway_sim::Options options;
    options.van.behaviour = behaviour;
    options.van.delay_ms = delay_ms;
    options.van_answer.verdict = verdict;
    std::string error;
    sim_ = gateway_sim::GatewayServerSimulator::Start(options, &error);
    ASSERT_NE(sim_, nullptr) << error;
    port_ = std::to_string(sim_->port(gateway_sim::PortKind::kVan));
  }

  // The hub's calls of one approval; epSendDSC's result.
  int Send() {
    EXPECT_EQ(epConnect(0, 0), 1);
    EXPECT_EQ(epSetSeed(std::string(kSeed).c_str()), 1);
    EXPECT_EQ(epSetSignHexData(std::string(kSignatureHex).c_str()), 1);
    EXPECT_EQ(epSetReqData(Record().c_str()), 1);
    EXPECT_EQ(epSetKiccIp("127.0.0.1"), 1);
    EXPECT_EQ(epSetKiccPort(port_.c_str()), 1);
    return epSendDSC();
  }

  std::string Answer() {
    std::array<char, kicc::kAnswerRecordSize + 8> buffer{};
    if (epGetAnsData(buffer.data()) != static_cast<int>(kicc::kAnswerRecordSize)) return "";
    return std::string(buffer.data(), kicc::kAnswerRecordSize);
  }

  std::unique_ptr<gateway_sim::GatewayServerSimulator> sim_;
  std::string port_;
};

TEST_F(KiccPadTest, ApprovalCarriesTheRecordSeedAndSignatureAndIsConfirmed) {
  Start(Behaviour::kAnswer);
  ASSERT_EQ(Send(), 1);
  const std::string answer = Answer();
  ASSERT_EQ(answer.size(), kicc::kAnswerRecordSize);
  EXPECT_EQ(Field(answer, 8, 4), "0000");
  EXPECT_EQ(Field(answer, 44, 12), "30012345    ");
  EXPECT_EQ(Field(answer, 336, 20), "941012******5678    ");

  ASSERT_TRUE(sim_->WaitForReceived(1, 10000));
  const std::string request = sim_->Received()[0].bytes;
  ASSERT_GT(request.size(), kicc::kHeaderSize);
  EXPECT_EQ(request[kicc::kMagic.size()], 'Q');
  const std::optional<kicc::ApprovalRequest> parsed =
      kicc::ParseApprovalRequest(std::string_view(request).substr(kicc::kHeaderSize));
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->record, Record());
  EXPECT_EQ(parsed->seed, kSeed);
  EXPECT_EQ(parsed->signature, std::string("\x00\x00\x03\x00\xFF\xFF\x0A\x05", 8));

  EXPECT_EQ(epConfirmDSC(), 1);
  ASSERT_TRUE(sim_->WaitForReceived(2, 10000));
  const std::string confirmation = sim_->Received()[1].bytes;
  EXPECT_EQ(confirmation[kicc::kMagic.size()], 'C');
  EXPECT_EQ(confirmation.substr(kicc::kHeaderSize), answer);
}

// The answers that arrive: the library hands every one over as it came; judging them is the
// hub's part.
TEST_F(KiccPadTest, DeclinesAndBlankApprovalsAreHandedOverUnchanged) {
  struct Case {
    VanVerdict verdict;
    Behaviour behaviour;
    const char* code;
    const char* approval;
    const char* message;
  };
  const Case cases[] = {
      {VanVerdict::kDecline, Behaviour::kAnswer, "8037", "            ", "LIMIT EXCEEDED"},
      {VanVerdict::kBlankApproval, Behaviour::kAnswer, "0000", "            ", nullptr},
      {VanVerdict::kApprove, Behaviour::kSlow, "0000", "30012345    ", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    sim_.reset();
    Start(c.behaviour, c.verdict, 200);
    ASSERT_EQ(Send(), 1);
    const std::string answer = Answer();
    ASSERT_EQ(answer.size(), kicc::kAnswerRecordSize);
    EXPECT_EQ(Field(answer, 8, 4), c.code);
    EXPECT_EQ(Field(answer, 44, 12), c.approval);
    if (c.message != nullptr) {
      EXPECT_TRUE(Field(answer, 135, 64).starts_with(c.message));
    }
  }
}

TEST_F(KiccPadTest, ServersThatDoNotAnswerLeaveNoAnswer) {
  ASSERT_EQ(platform::RegSetDword(kicc::kSettingsKey, kicc::kAnswerTimeoutValue, 300),
            platform::RegStatus::kOk);
  Start(Behaviour::kSilent);
  EXPECT_EQ(Send(), -2);
  EXPECT_EQ(Answer(), "");
  EXPECT_EQ(epConfirmDSC(), 0);  // nothing to confirm

  sim_.reset();
  Start(Behaviour::kRefuse);  // accepts, then closes at once
  EXPECT_EQ(Send(), -2);
  EXPECT_EQ(Answer(), "");

  // Nobody listens at the port any more.
  sim_.reset();
  EXPECT_EQ(Send(), -1);
  EXPECT_EQ(Answer(), "");
}

TEST_F(KiccPadTest, RefusesWhatItCannotSend) {
  EXPECT_EQ(epConnect(-1, 0), -1);
  ASSERT_EQ(epConnect(0, 0), 1);
  EXPECT_EQ(epSendDSC(), 0);  // nothing set
  EXPECT_EQ(epSetReqData(std::string(kicc::kRequestRecordSize - 1, ' ').c_str()), -1);
  EXPECT_EQ(epSetReqData(nullptr), -1);
  EXPECT_EQ(epSetKiccPort("0"), -1);
  EXPECT_EQ(epSetKiccPort("15700x"), -1);
  EXPECT_EQ(epSetKiccIp(""), -1);
  EXPECT_EQ(epSetSignHexData("0A0"), -1);
  EXPECT_EQ(epSetSignHexData("0G"), -1);
  EXPECT_EQ(epSaveToCatBmp("c:\\tavenor\\Bin\\sign.bmp"), -1);  // no signature data yet
}

// --- Bitmaps ------------------------------------------------------------------------------

uint32_t Le(const std::string& bytes, size_t at, int width) {
  uint32_t value = 0;
  for (int i = width - 1; i >= 0; --i) {
    value = (value << 8) | static_cast<unsigned char>(bytes[at + static_cast<size_t>(i)]);
  }
  return value;
}

// A BMP read back as a reader of the format would: the header fields and one pixel.
struct Bitmap {
  std::string bytes;
  uint32_t width() const { return Le(bytes, 18, 4); }
  uint32_t height() const { return Le(bytes, 22, 4); }
  bool Ink(uint32_t x, uint32_t y) const {  // y from the top; palette index 1 is black
    const uint32_t row_bytes = (width() + 31) / 32 * 4;
    const uint32_t row = height() - 1 - y;  // rows are stored bottom-up
    const auto byte = static_cast<unsigned char>(bytes[Le(bytes, 10, 4) + row * row_bytes + x / 8]);
    return (byte >> (7 - x % 8)) & 1;
  }
};

Bitmap Saved(int (*save)(const char*), const std::string& name) {
  EXPECT_EQ(save(name.c_str()), 1);
  return {platform::testing::ReadFile(platform::ResolvePath(name).value())};
}

TEST(KiccPadBitmap, SignatureIsWrittenAsAMonochromeBmp) {
  ASSERT_EQ(epConnect(0, 0), 1);
  ASSERT_EQ(epSetSignHexData(std::string(kSignatureHex).c_str()), 1);
  const Bitmap pad = Saved(epSaveToCatBmp, "c:\\tavenor\\Bin\\sign.bmp");
  ASSERT_EQ(pad.bytes.size(), 62u + 16 * 64);
  EXPECT_EQ(pad.bytes.substr(0, 2), "BM");
  EXPECT_EQ(Le(pad.bytes, 2, 4), pad.bytes.size());
  EXPECT_EQ(Le(pad.bytes, 10, 4), 62u);  // headers and two palette entries
  EXPECT_EQ(Le(pad.bytes, 14, 4), 40u);
  EXPECT_EQ(pad.width(), 128u);
  EXPECT_EQ(pad.height(), 64u);
  EXPECT_EQ(Le(pad.bytes, 26, 2), 1u);           // planes
  EXPECT_EQ(Le(pad.bytes, 28, 2), 1u);           // bits per pixel
  EXPECT_EQ(Le(pad.bytes, 30, 4), 0u);           // uncompressed
  EXPECT_EQ(Le(pad.bytes, 54, 4), 0x00FFFFFFu);  // index 0 white
  EXPECT_EQ(Le(pad.bytes, 58, 4), 0u);           // index 1 black
  for (uint32_t x = 0; x <= 3; ++x) EXPECT_TRUE(pad.Ink(x, 0)) << x;
  EXPECT_FALSE(pad.Ink(4, 0));   // the stroke ends at x 3
  EXPECT_TRUE(pad.Ink(10, 5));   // the dot after the lifted pen
  EXPECT_FALSE(pad.Ink(9, 4));   // no line to the dot
  EXPECT_FALSE(pad.Ink(0, 63));  // the bottom row
  int inked = 0;
  for (uint32_t y = 0; y < 64; ++y) {
    for (uint32_t x = 0; x < 128; ++x) inked += pad.Ink(x, y);
  }
  EXPECT_EQ(inked, 5);

  const Bitmap screen = Saved(epSaveScrToBmp, "c:\\tavenor\\Bin\\screen.bmp");
  ASSERT_EQ(screen.bytes.size(), 62u + 32 * 128);
  EXPECT_EQ(screen.width(), 256u);
  EXPECT_TRUE(screen.Ink(21, 11));  // the dot, twice as large
  EXPECT_FALSE(screen.Ink(22, 12));
}

}  // namespace
