// The sign-pad objects against the simulated sign-pad network: working keys, a request packet
// approved and declined, the packet checks, and a network that refuses, is silent or is slow.
#include "companions/signpad/signpad_objects.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>

#include "companions/signpad/signpad_protocol.h"
#include "platform/prefix.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "protocol/testing/gateway_server_sim.h"

namespace signpad {
namespace {

using gateway_sim::Behaviour;

struct Releaser {
  void operator()(Object* object) const { object->Release(); }
};
template <typename T>
using Ptr = std::unique_ptr<T, Releaser>;

template <typename T>
Ptr<T> Create() {
  void* object = nullptr;
  const std::string class_id(T::kIds.class_id);
  const std::string interface_id(T::kIds.interface_id);
  if (SignPadCreateInstance(class_id.c_str(), interface_id.c_str(), &object) != kOk) return nullptr;
  return Ptr<T>(static_cast<T*>(object));
}

std::u16string U(std::string_view cp949) { return platform::Cp949ToUtf16(cp949).value(); }
std::string Cp(const std::u16string& text) { return platform::Utf16ToCp949(text).value(); }

constexpr char kImageName[] = "c:\\tavenor\\Bin\\sign.bmp";
const std::string kImage = std::string("BM\x0D\x0A\x00\xFF", 6) + "signature";

class SignPadObjectsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto image = platform::ResolvePath(kImageName).value();
    std::filesystem::create_directories(image.parent_path());
    std::ofstream(image, std::ios::binary) << kImage;
  }
  void TearDown() override {
    platform::RegDeleteValue(kSettingsKey, kAnswerTimeoutValue);
    platform::RegDeleteValue(kSettingsKey, kPortValue);
  }

  void Start(Behaviour behaviour = Behaviour::kAnswer, bool approve = true, int delay_ms = 0) {
    gateway_sim::Options options;
    options.signpad.behaviour = behaviour;
    options.signpad.delay_ms = delay_ms;
    options.signpad_answer.approve = approve;
    std::string error;
    sim_ = gateway_sim::GatewayServerSimulator::Start(options, &error);
    ASSERT_NE(sim_, nullptr) << error;
    ASSERT_TRUE(sim_->PointSignPadObjectsHere());
  }

  static Result FirstDownload(std::u16string_view terminal) {
    const Ptr<WorkingKey> key = Create<WorkingKey>();
    return key->FirstDownload(kRealMode.data(), std::u16string(terminal).c_str());
  }

  // A payment packet of `terminal` with the signature and hash code of the image file, or with
  // `hash` in place of the hash code.
  static std::u16string PaymentPacket(std::u16string_view terminal, std::string hash = "") {
    const Ptr<SignEncrypt> sign = Create<SignEncrypt>();
    std::u16string data, hash_code;
    EXPECT_EQ(sign->Encrypt(U(kImageName).c_str()), kOk);
    EXPECT_EQ(sign->SignData(&data), kOk);
    EXPECT_EQ(sign->HashCode(&hash_code), kOk);
    if (!hash.empty()) hash_code = U(hash);
    const Ptr<RequestPacket> request = Create<RequestPacket>();
    EXPECT_EQ(request->LoadPacketStruct(U(kPaymentPacket).c_str()), kOk);
    const std::pair<std::string_view, std::u16string> texts[] = {
        {kTerminalIdField, std::u16string(terminal)},
        {kEntryModeField, u"00"},
        {kTrackDataField, u"9410123456785678=2512"},
        {kInstallmentField, u"00"},
        {kAmountField, u"11000"},
        {kTaxField, u"1000"},
        {kPadModelField, u"D131"},
        {kHashField, hash_code},
        {kFillerField, u"TVNR"}};
    for (const auto& [name, value] : texts) {
      EXPECT_EQ(request->SetTextField(U(name).c_str(), value.c_str()), kOk);
    }
    EXPECT_EQ(request->SetDataField(U(kSignDataField).c_str(), kHexDataKind, data.c_str()), kOk);
    std::u16string packet;
    EXPECT_EQ(request->Packet(&packet), kOk);
    return packet;
  }

  // The answer packet's field, read through the answer-packet object.
  static std::string AnswerField(const std::u16string& answer, std::string_view field) {
    const Ptr<AnswerPacket> packet = Create<AnswerPacket>();
    EXPECT_EQ(packet->LoadPacketStruct(U(kPaymentPacket).c_str()), kOk);
    EXPECT_EQ(packet->SetPacket(answer.c_str()), kOk);
    std::u16string value;
    EXPECT_EQ(packet->GetField(U(field).c_str(), &value), kOk);
    return Cp(value);
  }

  std::unique_ptr<gateway_sim::GatewayServerSimulator> sim_;
};

TEST(SignPadFactory, CreatesTheFiveObjectsByTheirIdentifiers) {
  EXPECT_NE(Create<WorkingKey>(), nullptr);
  EXPECT_NE(Create<SignEncrypt>(), nullptr);
  EXPECT_NE(Create<RequestPacket>(), nullptr);
  EXPECT_NE(Create<Transaction>(), nullptr);
  EXPECT_NE(Create<AnswerPacket>(), nullptr);
  void* object = nullptr;
  EXPECT_EQ(SignPadCreateInstance("{7f0a2957-b164-44e4-a418-2f77752c2823}",
                                  "{91daae32-00aa-42a7-bcca-57398eadc53e}", &object),
            kOk);  // identifiers compare without regard to case
  static_cast<WorkingKey*>(object)->Release();
  EXPECT_EQ(SignPadCreateInstance("{7F0A2957-B164-44E4-A418-2F77752C2823}",
                                  "{1EA4383A-C4C8-4ADF-8D09-A9AABCBF0296}", &object),
            kNoInterface);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(SignPadCreateInstance("{00000000-0000-0000-0000-000000000000}",
                                  "{91DAAE32-00AA-42A7-BCCA-57398EADC53E}", &object),
            kClassNotRegistered);
  EXPECT_EQ(SignPadCreateInstance(nullptr, "x", &object), kInvalidArgument);
}

TEST_F(SignPadObjectsTest, WorkingKeysFirstThenLater) {
  Start();
  const Ptr<WorkingKey> key = Create<WorkingKey>();
  std::u16string first, later, index, time;
  EXPECT_EQ(key->WorkingKeyText(&first), kFailed);  // nothing downloaded yet
  // The network refuses a later download for a terminal that never had its first.
  EXPECT_EQ(key->LaterDownload(u"REAL", u"1234567"), kFailed);
  ASSERT_EQ(key->FirstDownload(u"REAL", u"1234567"), kOk);
  ASSERT_EQ(key->WorkingKeyText(&first), kOk);
  ASSERT_EQ(key->MasterKeyIndex(&index), kOk);
  ASSERT_EQ(key->DownloadTime(&time), kOk);
  EXPECT_EQ(first.size(), kWorkingKeySize);
  EXPECT_EQ(index, u"01");
  EXPECT_EQ(time.size(), kDownloadTimeSize);
  ASSERT_EQ(key->LaterDownload(u"REAL", u"1234567"), kOk);
  ASSERT_EQ(key->WorkingKeyText(&later), kOk);
  EXPECT_NE(later, first);  // every download issues a fresh key
  EXPECT_EQ(key->FirstDownload(u"LIVE", u"1234567"), kInvalidArgument);
  EXPECT_EQ(key->FirstDownload(u"REAL", u""), kInvalidArgument);

  const auto received = sim_->Received();
  ASSERT_EQ(received.size(), 3u);
  EXPECT_EQ(received[0].bytes.substr(kHeaderSize), "REALL1234567");
  EXPECT_EQ(received[1].bytes.substr(kHeaderSize), "REALF1234567");
}

TEST_F(SignPadObjectsTest, RequestPacketApprovedAndDeclined) {
  struct Case {
    bool approve;
    std::string hash;  // empty: the image's own
    std::string code;
    std::string message;
  };
  const Case cases[] = {
      {true, "", "00", "\xC1\xA4\xBB\xF3\xBD\xC2\xC0\xCE"},   // "정상승인"
      {false, "", "05", "\xC7\xD1\xB5\xB5\xC3\xCA\xB0\xFA"},  // "한도초과"
      {true, "00000000", "H1", "SIGNATURE HASH MISMATCH"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    sim_.reset();
    Start(Behaviour::kAnswer, c.approve);
    ASSERT_EQ(FirstDownload(u"1234567"), kOk);
    const std::u16string packet = PaymentPacket(u"1234567", c.hash);
    const Ptr<Transaction> transaction = Create<Transaction>();
    std::u16string answer;
    ASSERT_EQ(transaction->Transact(u"REAL", packet.c_str(), &answer), kOk);
    EXPECT_EQ(AnswerField(answer, kResponseCodeField), c.code);
    EXPECT_EQ(AnswerField(answer, kResponseMessage1Field), c.message);
    if (c.code == "00") {
      EXPECT_EQ(AnswerField(answer, kApprovalNumberField), "30012345");
      EXPECT_EQ(AnswerField(answer, kMerchantNumberField), "123456789");
      EXPECT_EQ(AnswerField(answer, kSaleDateField).size(), 8u);
      EXPECT_EQ(AnswerField(answer, kSaleTimeField).size(), 6u);
    }
    // What went over the wire: the mode, then the packet with the signature data.
    ASSERT_TRUE(sim_->WaitForReceived(2, 10000));
    const std::string sent = sim_->Received()[1].bytes.substr(kHeaderSize);
    EXPECT_EQ(sent.substr(0, 8), "REAL0200");
    const std::string data = platform::ToHex(PackSignature(kImage).value());
    EXPECT_NE(
        sent.find(platform::ZeroPadded(static_cast<long long>(data.size()), 4).value() + data),
        std::string::npos);
  }
  // A terminal without a working key is declined by the network.
  const Ptr<Transaction> transaction = Create<Transaction>();
  std::u16string answer;
  ASSERT_EQ(transaction->Transact(u"REAL", PaymentPacket(u"7654321").c_str(), &answer), kOk);
  EXPECT_EQ(AnswerField(answer, kResponseCodeField), "K1");
}

TEST_F(SignPadObjectsTest, PacketObjectsRefuseWhatTheStructureDoesNotHave) {
  const Ptr<RequestPacket> request = Create<RequestPacket>();
  std::u16string packet;
  EXPECT_EQ(request->Packet(&packet), kFailed);  // no structure yet
  EXPECT_EQ(request->LoadPacketStruct(u"UNKNOWN"), kFailed);
  ASSERT_EQ(request->LoadPacketStruct(U(kCancellationPacket).c_str()), kOk);
  EXPECT_EQ(request->SetTextField(u"NO SUCH FIELD", u"1"), kFailed);
  EXPECT_EQ(request->SetTextField(U(kSignDataField).c_str(), u"00"), kFailed);  // a data field
  EXPECT_EQ(request->SetDataField(U(kSignDataField).c_str(), 3, u"00"), kInvalidArgument);
  EXPECT_EQ(request->SetDataField(U(kSignDataField).c_str(), kHexDataKind, u"0G"), kFailed);
  EXPECT_EQ(request->SetDataField(U(kTaxField).c_str(), kHexDataKind, u"00"), kFailed);
  EXPECT_EQ(request->SetTextField(U(kOriginalDateField).c_str(), u"251209"), kOk);
  std::u16string value;
  ASSERT_EQ(request->GetField(U(kOriginalDateField).c_str(), &value), kOk);
  EXPECT_EQ(value, u"251209");
  ASSERT_EQ(request->Packet(&packet), kOk);
  EXPECT_EQ(packet.substr(0, 4), u"0420");
  EXPECT_EQ(request->SetTextField(U(kTaxField).c_str(), std::u16string(10000, u'1').c_str()),
            kFailed);
  ASSERT_EQ(request->ClearFields(), kOk);
  ASSERT_EQ(request->GetField(U(kOriginalDateField).c_str(), &value), kOk);
  EXPECT_EQ(value, u"");
  ASSERT_EQ(request->Finish(), kOk);
  EXPECT_EQ(request->Packet(&packet), kFailed);

  const Ptr<AnswerPacket> answer = Create<AnswerPacket>();
  int32_t count = 0;
  EXPECT_EQ(answer->SetPacket(u"0210"), kFailed);  // no structure yet
  ASSERT_EQ(answer->LoadPacketStruct(U(kPaymentPacket).c_str()), kOk);
  ASSERT_EQ(answer->FieldCount(&count), kOk);
  EXPECT_EQ(count, 10);
  EXPECT_EQ(answer->GetField(U(kResponseCodeField).c_str(), &value), kFailed);  // no packet
  EXPECT_EQ(answer->SetPacket(u"0210"), kFailed);                               // fields missing
  EXPECT_EQ(answer->SetPacket(packet.c_str()), kFailed);  // a request, not an answer

  const Ptr<SignEncrypt> sign = Create<SignEncrypt>();
  EXPECT_EQ(sign->Encrypt(u"c:\\tavenor\\Bin\\missing.bmp"), kFailed);
  EXPECT_EQ(sign->SignData(&value), kFailed);
  // The largest image the terminal sends fits when it compresses as images do; one that does not
  // compress into the room of the signature data, or a larger one, is refused.
  std::string noise(kMaxImageBytes, '\0');
  std::mt19937 random(7);
  for (char& c : noise) c = static_cast<char>(random());
  const std::pair<std::string, Result> images[] = {{std::string(kMaxImageBytes, 'x'), kOk},
                                                   {std::string(kMaxImageBytes + 1, 'x'), kFailed},
                                                   {noise, kFailed}};
  const auto large = platform::ResolvePath("c:\\tavenor\\Bin\\large.bmp").value();
  for (const auto& [image, result] : images) {
    std::ofstream(large, std::ios::binary | std::ios::trunc) << image;
    EXPECT_EQ(sign->Encrypt(u"c:\\tavenor\\Bin\\large.bmp"), result) << image.size();
  }
  ASSERT_EQ(sign->Encrypt(U(kImageName).c_str()), kOk);
  ASSERT_EQ(sign->SignData(&value), kOk);
  EXPECT_EQ(UnpackSignature(platform::FromHex(Cp(value)).value()), kImage);
  ASSERT_EQ(sign->HashCode(&value), kOk);
  EXPECT_EQ(Cp(value), SignatureHash(kImage));
}

TEST_F(SignPadObjectsTest, ANetworkThatDoesNotAnswerInTimeFailsTheOperation) {
  ASSERT_EQ(platform::RegSetDword(kSettingsKey, kAnswerTimeoutValue, 1000),
            platform::RegStatus::kOk);
  struct Case {
    Behaviour behaviour;
    int delay_ms;
    Result result;
  };
  const Case cases[] = {
      {Behaviour::kSilent, 0, kFailed},
      {Behaviour::kRefuse, 0, kFailed},
      {Behaviour::kSlow, 5000, kFailed},  // later than the answer time-out
      {Behaviour::kSlow, 100, kOk},       // slow, but within it
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.behaviour));
    sim_.reset();
    Start(c.behaviour, true, c.delay_ms);
    const Ptr<WorkingKey> key = Create<WorkingKey>();
    EXPECT_EQ(key->FirstDownload(u"REAL", u"1234567"), c.result);
    const Ptr<Transaction> transaction = Create<Transaction>();
    std::u16string answer;
    EXPECT_EQ(transaction->Transact(u"REAL", PaymentPacket(u"1234567").c_str(), &answer), c.result);
  }
  // Nobody listens at the port any more.
  sim_.reset();
  EXPECT_EQ(FirstDownload(u"1234567"), kFailed);
}

}  // namespace
}  // namespace signpad
