#include "hub/core/pos_request.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "companions/seed/seed_cipher.h"
#include "companions/util/frame_packing.h"
#include "protocol/frame.h"
#include "hub/core/pos_services.h"
#include "platform/testing/temp_prefix.h"

namespace hub {

using namespace protocol;
namespace {

constexpr int kClient = 42;

std::string Request(int code, const std::vector<std::string_view>& fields) {
  return BuildMessage(code, fields).value();
}

// A frame made readable: FS as |, and the routing prefix and check byte left out.
std::string Readable(std::string_view frame) {
  std::string text(FrameContent(frame));
  for (char& c : text) {
    if (c == kFs) c = '|';
    if (c == kStx) c = '^';
  }
  return text;
}

class PosRequestTest : public ::testing::Test {
 protected:
  PosRequestTest() { settings_.terminal_id = "T0001"; }
  // The module's services, installed as the module installs them (hub/CMakeLists.txt).
  void SetUp() override { ASSERT_NE(services_.print_pos_request, nullptr); }

  std::string Queued() const {
    const auto count = static_cast<size_t>(slot_->byte_count.load());
    return std::string(reinterpret_cast<const char*>(slot_->send_buffer.data()), count);
  }

  platform::testing::TempPrefix prefix_;  // the cipher key is read from its registry
  std::unique_ptr<RelaySlot> slot_ = std::make_unique<RelaySlot>();
  PharmacySettings settings_;
  PosServices services_ = InstalledPosServices();
};

TEST_F(PosRequestTest, EachCodeBecomesItsTerminalFrameOrARefusal) {
  struct Case {
    int code;
    std::vector<std::string_view> fields;
    const char* queued;   // the frame for the terminal, or null
    const char* refusal;  // the answer to the client, or null
  };
  const Case cases[] = {
      {151, {"bill\n", "ignored"}, "^TavenorGatewayXX0028TRM151|||PRINTbill\n\n", nullptr},
      {157, {"a", "b", "shown", "4", "5"}, "^TavenorGatewayXX0026TRM157|||shown|4|5", nullptr},
      {157, {"", "", "shown"}, "^TavenorGatewayXX0024TRM157|||shown||", nullptr},
      {843, {"", "", "00", "01", "02"}, "^TavenorGatewayXX0025TRM843|||00|01|02", nullptr},
      {912, {"one", "two", "three"}, "^TavenorGatewayXX0023TRM912||one|two", nullptr},
      {161, {"x"}, nullptr, "^XX0048TRM162|T0001|9999|CASH RECEIPT NOT READY"},
      {183, {"x"}, nullptr, "^XX0048TRM184|T0001|9999|CASH RECEIPT NOT READY"},
      {51, {"x"}, "^TavenorGatewayXX0017TRM011|||", nullptr},  // card data asked for
      {63, {"x"}, "^TavenorGatewayXX0017TRM011|||", nullptr},  // card data asked for
      {71, {"x"}, "^TavenorGatewayXX0017TRM011|||", nullptr},  // card data asked for
  };
  // The cash receipt handler talks to the card-network library; its own tests drive it.
  PosServices services = services_;
  services.cash_receipt = nullptr;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    slot_ = std::make_unique<RelaySlot>();
    const PosRequestResult result =
        HandlePosRequest(*slot_, Request(c.code, c.fields), kClient, settings_, services);
    if (c.queued != nullptr) {
      EXPECT_TRUE(result.queued);
      EXPECT_TRUE(result.answer.empty());
      EXPECT_EQ(Readable(Queued()), c.queued);
      EXPECT_EQ(slot_->send_state.load(), RelaySlot::kWaiting);
      EXPECT_EQ(slot_->relay_client.load(), kClient);
      EXPECT_EQ(slot_->pending_request_code.load(), c.code);
    } else {
      EXPECT_FALSE(result.queued);
      EXPECT_EQ(Readable(result.answer), c.refusal);
      EXPECT_EQ(result.answer.back(),
                CheckByte(std::string_view(result.answer).substr(1, result.answer.size() - 2)));
      EXPECT_EQ(slot_->send_state.load(), RelaySlot::kIdle);
      EXPECT_EQ(slot_->relay_client.load(), RelaySlot::kNoClient);
    }
  }
}

TEST_F(PosRequestTest, ARequestWhoseServiceTheModuleLacksIsRefusedAndTheSlotStaysIdle) {
  const PosServices none;
  const struct {
    int code;
    const char* refusal;
  } cases[] = {
      {151, "^XX0044TRM152|T0001|9999|REQUEST NOT SERVED"},
      {157, "^XX0044TRM158|T0001|9999|REQUEST NOT SERVED"},
      {843, "^XX0044TRM844|T0001|9999|REQUEST NOT SERVED"},
      {912, "^XX0044TRM913|T0001|9999|REQUEST NOT SERVED"},
      {171, "^XX0048TRM172|T0001|9999|CASH RECEIPT NOT READY"},
      {61, "^XX0048TRM062|T0001|9999|CARD PAYMENT NOT READY"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    slot_ = std::make_unique<RelaySlot>();
    const PosRequestResult result =
        HandlePosRequest(*slot_, Request(c.code, {"x", "y", "z"}), kClient, settings_, none);
    EXPECT_FALSE(result.queued);
    EXPECT_EQ(Readable(result.answer), c.refusal);
    EXPECT_EQ(slot_->send_state.load(), RelaySlot::kIdle);
    EXPECT_EQ(slot_->byte_count.load(), 0);
    EXPECT_EQ(slot_->relay_client.load(), RelaySlot::kNoClient);
    EXPECT_EQ(slot_->pending_request_code.load(), 0);
  }
}

TEST_F(PosRequestTest, PackedAndEncipheredRequestsAreDecodedFirst) {
  const std::string plain = Request(843, {"", "", "10", "20", "30"});
  const std::string forms[] = {
      frame_packing::PackFrame(plain, 6).value(),
      seed::EncipherFrame(plain, seed::ConfiguredSeedKey().value(),
                          seed::CipherLengthField::kPosClient)
          .value(),
  };
  for (const std::string& frame : forms) {
    slot_ = std::make_unique<RelaySlot>();
    ASSERT_TRUE(HandlePosRequest(*slot_, frame, kClient, settings_, services_).queued);
    EXPECT_EQ(Readable(Queued()), "^TavenorGatewayXX0025TRM843|||10|20|30");
  }
}

TEST_F(PosRequestTest, APendingRequestIsNeverOverwritten) {
  ASSERT_TRUE(
      HandlePosRequest(*slot_, Request(151, {"first"}), kClient, settings_, services_).queued);
  const std::string first = Queued();
  slot_->send_state.store(RelaySlot::kSent);  // terminal 0's loop has sent it

  for (const std::string& second : {Request(843, {"", "", "1"}), Request(51, {"1000"}),
                                    std::string("\x02"
                                                "BMPP15000001x")}) {
    const bool signature = second[1] == 'B';
    const PosRequestResult result =
        signature ? HandleSignatureFrame(*slot_, second, kClient + 1, settings_)
                  : HandlePosRequest(*slot_, second, kClient + 1, settings_, services_);
    EXPECT_FALSE(result.queued);
    EXPECT_NE(Readable(result.answer).find("|9999|REQUEST PENDING"), std::string::npos)
        << Readable(result.answer);
    EXPECT_EQ(Queued(), first);
    EXPECT_EQ(slot_->relay_client.load(), kClient);
    EXPECT_EQ(slot_->pending_request_code.load(), 151);
    EXPECT_EQ(slot_->send_state.load(), RelaySlot::kSent);
  }
}

TEST_F(PosRequestTest, UnreadableAndOversizedRequestsAreRefused) {
  // Packed, but what follows the code is no packed body.
  PosRequestResult result =
      HandlePosRequest(*slot_, "\x02X60020TRM843garbage\x03", kClient, settings_, services_);
  EXPECT_FALSE(result.queued);
  EXPECT_EQ(Readable(result.answer), "^XX0046TRM844|T0001|9999|REQUEST NOT READABLE");

  result = HandlePosRequest(*slot_, "\x02XX0020TRMabc\x03", kClient, settings_, services_);
  EXPECT_EQ(Readable(result.answer), "^XX0046TRM000|T0001|9999|REQUEST NOT READABLE");

  // A bill whose print message would not fit a frame's four-digit length field.
  const std::string bill(9980, 'b');
  result = HandlePosRequest(*slot_, Request(151, {bill}), kClient, settings_, services_);
  EXPECT_FALSE(result.queued);
  EXPECT_EQ(slot_->send_state.load(), RelaySlot::kIdle);
  EXPECT_EQ(slot_->relay_client.load(), RelaySlot::kNoClient);
}

TEST_F(PosRequestTest, ASignatureFrameGoesToTheTerminalUnchanged) {
  const std::string frame = std::string(
                                "\x02"
                                "BMPP15000004") +
                            "\x0a\x0d\x03\x02" + "\x03";
  ASSERT_TRUE(HandleSignatureFrame(*slot_, frame, kClient, settings_).queued);
  EXPECT_EQ(Queued(), frame);
  EXPECT_EQ(slot_->relay_client.load(), kClient);
  EXPECT_EQ(slot_->send_state.load(), RelaySlot::kWaiting);
}

}  // namespace
}  // namespace hub
