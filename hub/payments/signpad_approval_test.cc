#include "hub/payments/signpad_approval.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "companions/connmap/ordella_connmap.h"
#include "companions/signpad/signpad_protocol.h"
#include "hub/payments/test_support.h"
#include "platform/prefix.h"
#include "platform/registry.h"
#include "platform/testing/support.h"
#include "protocol/testing/gateway_server_sim.h"

namespace hub::payments {
namespace {

using testing::Cp;
namespace sp = signpad;

constexpr std::string_view kInstallDir = "c:\\tavenor";
const std::string kImage = std::string("BM\x0D\x0A\x00\x01\xFF", 7) + "pen strokes";

PaymentFields Payment(std::string_view amount1, std::string_view amount2,
                      std::string_view amount3) {
  PaymentFields payment = testing::Amounts(amount1, amount2, amount3);
  payment.installment_months.Set("03");
  payment.terminal_id.Set("1234567");
  payment.program_code.Set("200");
  payment.card_data.Set("1234567890123456=25121011234567890");
  return payment;
}

// A 042 frame with an "SM" block holding `image`.
std::string Frame042(std::string_view image) {
  return "\x02XX0000TRM042\x1c\x1cSM" +
         platform::ZeroPadded(static_cast<long long>(image.size()), 4).value() +
         std::string(image) + "\x1c\x03";
}
const std::string kNoBlockFrame = "\x02XX0000TRM042\x1c\x1c\x1c\x03";

SignPadApprovalSettings Settings() { return {SignatureFilesIn(kInstallDir), 0}; }

std::string Raw(const ApprovalRecord& record, RecordField field) {
  return std::string(reinterpret_cast<const char*>(record.data() + field.offset), field.width);
}

// --- Request fields ------------------------------------------------------------------------

TEST(SignPadRequest, FieldsOfASplitPaymentInTheirOrder) {
  const std::vector<SignPadField> fields =
      SignPadRequestFields(61, Payment("9000", "1000", "1000"), "0A0B", "HASH");
  const std::vector<std::pair<std::string_view, std::string>> expected = {
      {sp::kTerminalIdField, "1234567"},
      {sp::kEntryModeField, "00"},
      {sp::kTrackDataField, "1234567890123456=25121011234567890"},
      {sp::kInstallmentField, "03"},
      {sp::kAmountField, "11000"},
      {sp::kTaxField, "1000"},
      {sp::kSignDataField, "0A0B"},
      {sp::kPadModelField, "D131"},
      {sp::kHashField, "HASH"},
      {sp::kFillerField, "TVNR00000090000000001000            200"}};
  ASSERT_EQ(fields.size(), expected.size());
  for (size_t i = 0; i < fields.size(); ++i) {
    EXPECT_EQ(fields[i].name, expected[i].first) << i;
    EXPECT_EQ(fields[i].value, expected[i].second) << i;
    EXPECT_EQ(fields[i].data, fields[i].name == sp::kSignDataField) << i;
  }
  EXPECT_EQ(fields.back().value.size(), 39u);
  EXPECT_EQ(SignPadPacketName(51), sp::kPaymentPacket);
  EXPECT_EQ(SignPadPacketName(61), sp::kPaymentPacket);
  EXPECT_TRUE(SignPadRequestFields(161, Payment("1", "", ""), "", "").empty());
}

TEST(SignPadRequest, CancellationsCarryTheOriginalTransaction) {
  struct Case {
    int code;
    std::string date;
    std::string date_field;
  };
  const Case cases[] = {{63, "20251209", "251209"}, {71, "251209", "251209"}, {71, "", ""}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.date);
    PaymentFields payment = Payment("5000", "", "500");
    payment.original_date.Set(c.date);
    payment.original_approval.Set("30012345");
    payment.program_code.Set("");
    const std::vector<SignPadField> fields = SignPadRequestFields(c.code, payment, "", "");
    ASSERT_EQ(fields.size(), 12u);
    EXPECT_EQ(fields[1].name, sp::kOriginalApprovalField);
    EXPECT_EQ(fields[1].value, "30012345");
    EXPECT_EQ(fields[2].name, sp::kOriginalDateField);
    EXPECT_EQ(fields[2].value, c.date_field);
    EXPECT_EQ(fields[3].name, sp::kEntryModeField);
    EXPECT_EQ(fields[7].value, "500");
    EXPECT_EQ(fields.back().value, "TVNR00000050000000000000               ");
    EXPECT_EQ(SignPadPacketName(c.code), sp::kCancellationPacket);
  }
}

// --- Answer into the record ------------------------------------------------------------------

TEST(SignPadAnswer, ApprovedFieldsAreRightAlignedIntoTheRecord) {
  const std::map<std::string_view, std::string> answer = {
      {sp::kResponseMessage1Field, Cp("정상승인")},
      {sp::kManagementNumberField, "251209143005"},
      {sp::kApprovalNumberField, "30012345"},
      {sp::kMerchantNumberField, "123456789"},
      {sp::kIssuerField, "ISSUER"},
      {sp::kSaleDateField, "20251209"},
      {sp::kSaleTimeField, "143005"},
      {sp::kAcquirerField, std::string(20, 'A')}};
  ApprovalRecord record{};
  ASSERT_TRUE(FillApprovedRecord(
      record, "1234567890123456=2512101123",
      [&](std::string_view name) -> std::optional<std::string> { return answer.at(name); }));
  EXPECT_EQ(Raw(record, kResponseCode), "0000");
  EXPECT_EQ(Raw(record, kResponseMessage), std::string(56, ' ') + Cp("정상승인"));
  EXPECT_EQ(Raw(record, kTransactionNumber), "251209143005");
  EXPECT_EQ(Raw(record, kCardNumber), "    1234567890123456");
  EXPECT_EQ(Raw(record, kApprovalNumber), "    30012345");
  EXPECT_EQ(Raw(record, kMerchantNumber), std::string("   123456789\0\0\0", 15));
  EXPECT_EQ(Raw(record, kIssuerName), "        ISSUER");
  EXPECT_EQ(Raw(record, kTransactionDateTime), std::string("251209143005\0", 13));
  EXPECT_EQ(Raw(record, kAcquirerName), std::string(14, 'A'));   // cut to its width
  EXPECT_EQ(Raw(record, kVoucherNumber), std::string(4, '\0'));  // not given by the network

  // A field that cannot be read stops the filling where it is.
  ApprovalRecord partial{};
  EXPECT_FALSE(
      FillApprovedRecord(partial, "1234", [&](std::string_view name) -> std::optional<std::string> {
        if (name == sp::kMerchantNumberField) return std::nullopt;
        return answer.at(name);
      }));
  EXPECT_EQ(Raw(partial, kApprovalNumber), "    30012345");
  EXPECT_EQ(Raw(partial, kMerchantNumber), std::string(15, '\0'));
}

// --- The sequence, with objects a test controls ----------------------------------------------

// Objects that record every operation ("create WorkingKey", "FirstDownload" ...) and fail the
// ones named in `failing`; the answer packet gives `answer`'s fields.
class FakeObjects final : public SignPadObjectSource {
 public:
  std::set<std::string> failing;
  std::map<std::string, std::string> answer = {
      {std::string(sp::kResponseCodeField), "00"},
      {std::string(sp::kResponseMessage1Field), "OK"},
      {std::string(sp::kResponseMessage2Field), "DETAIL"},
      {std::string(sp::kManagementNumberField), "251209143005"},
      {std::string(sp::kApprovalNumberField), "30012345"},
      {std::string(sp::kMerchantNumberField), "123456789"},
      {std::string(sp::kIssuerField), "ISSUER"},
      {std::string(sp::kSaleDateField), "20251209"},
      {std::string(sp::kSaleTimeField), "143005"},
      {std::string(sp::kAcquirerField), "ACQUIRER"}};
  std::vector<std::string> calls;
  std::vector<std::pair<std::string, std::string>> fields_set;  // CP949 name, value
  std::string packet_name;
  int live = 0;  // objects not yet released

  sp::Result Op(const std::string& name) {
    calls.push_back(name);
    return failing.contains(name) ? sp::kFailed : sp::kOk;
  }
  static std::string Cp949(const char16_t* text) { return platform::Utf16ToCp949(text).value(); }

  void* Create(const sp::ObjectIds& ids) override;

  // Each fake object, released by deleting it as its own final class.
  template <typename Base, typename Self>
  struct Fake : Base {
    explicit Fake(FakeObjects* o) : objects(o) {}
    void Release() override {
      --objects->live;
      delete static_cast<Self*>(this);
    }
    FakeObjects* objects;

   protected:
    ~Fake() = default;
  };
  struct Key final : Fake<sp::WorkingKey, Key> {
    using Fake::Fake;
    sp::Result LaterDownload(const char16_t*, const char16_t*) override {
      return objects->Op("LaterDownload");
    }
    sp::Result DownloadTime(std::u16string*) override { return objects->Op("DownloadTime"); }
    sp::Result WorkingKeyText(std::u16string* key) override {
      *key = u"00112233445566778899AABBCCDDEEFF";
      return objects->Op("WorkingKeyText");
    }
    sp::Result MasterKeyIndex(std::u16string* index) override {
      *index = u"01";
      return objects->Op("MasterKeyIndex");
    }
    sp::Result FirstDownload(const char16_t* mode, const char16_t* terminal) override {
      EXPECT_EQ(std::u16string(mode), u"REAL");
      EXPECT_EQ(std::u16string(terminal), u"1234567");
      return objects->Op("FirstDownload");
    }
  };
  struct Sign final : Fake<sp::SignEncrypt, Sign> {
    using Fake::Fake;
    sp::Result Encrypt(const char16_t* file) override {
      EXPECT_EQ(Cp949(file), "c:\\tavenor\\Bin\\sign.bmp");
      // As the real object: the image file must be there.
      const auto path = platform::ResolvePath(Cp949(file));
      if (!path || !std::filesystem::exists(*path)) return sp::kFailed;
      return objects->Op("Encrypt");
    }
    sp::Result SignData(std::u16string* data) override {
      *data = u"0A0B";
      return objects->Op("SignData");
    }
    sp::Result HashCode(std::u16string* hash) override {
      *hash = u"HASH";
      return objects->Op("HashCode");
    }
  };
  struct Request final : Fake<sp::RequestPacket, Request> {
    using Fake::Fake;
    sp::Result Finish() override { return objects->Op("Finish"); }
    sp::Result LoadPacketStruct(const char16_t* name) override {
      objects->packet_name = Cp949(name);
      return objects->Op("LoadPacketStruct");
    }
    sp::Result SetTextField(const char16_t* name, const char16_t* value) override {
      objects->fields_set.emplace_back(Cp949(name), Cp949(value));
      return objects->Op("SetTextField");
    }
    sp::Result Packet(std::u16string* packet) override {
      *packet = u"PACKET";
      return objects->Op("Packet");
    }
    sp::Result GetField(const char16_t*, std::u16string*) override {
      return objects->Op("GetField");
    }
    sp::Result ClearFields() override { return objects->Op("ClearFields"); }
    sp::Result SetDataField(const char16_t* name, int32_t kind, const char16_t* value) override {
      EXPECT_EQ(kind, sp::kHexDataKind);
      objects->fields_set.emplace_back(Cp949(name), Cp949(value));
      return objects->Op("SetDataField");
    }
  };
  struct Exchange final : Fake<sp::Transaction, Exchange> {
    using Fake::Fake;
    sp::Result Transact(const char16_t* mode, const char16_t* packet,
                        std::u16string* answer) override {
      EXPECT_EQ(std::u16string(mode), u"REAL");
      EXPECT_EQ(std::u16string(packet), u"PACKET");
      *answer = u"ANSWER";
      return objects->Op("Transact");
    }
  };
  struct Answer final : Fake<sp::AnswerPacket, Answer> {
    using Fake::Fake;
    sp::Result Finish() override { return objects->Op("AnswerFinish"); }
    sp::Result LoadPacketStruct(const char16_t*) override { return objects->Op("AnswerLoad"); }
    sp::Result FieldCount(int32_t*) override { return objects->Op("FieldCount"); }
    sp::Result GetField(const char16_t* name, std::u16string* value) override {
      const auto found = objects->answer.find(Cp949(name));
      if (found == objects->answer.end()) return sp::kFailed;
      *value = platform::Cp949ToUtf16(found->second).value();
      return objects->Op("GetField " + platform::Cp949ToUtf8(Cp949(name)).value());
    }
    sp::Result SetPacket(const char16_t* packet) override {
      EXPECT_EQ(std::u16string(packet), u"ANSWER");
      return objects->Op("SetPacket");
    }
  };
};

void* FakeObjects::Create(const sp::ObjectIds& ids) {
  const std::pair<std::string_view, const char*> names[] = {
      {sp::WorkingKey::kIds.class_id, "WorkingKey"},
      {sp::SignEncrypt::kIds.class_id, "SignEncrypt"},
      {sp::RequestPacket::kIds.class_id, "RequestPacket"},
      {sp::Transaction::kIds.class_id, "Transaction"},
      {sp::AnswerPacket::kIds.class_id, "AnswerPacket"}};
  std::string name;
  for (const auto& [id, object] : names) {
    if (id == ids.class_id) name = object;
  }
  if (Op("create " + name) != sp::kOk) return nullptr;
  ++live;
  if (name == "WorkingKey") return static_cast<sp::WorkingKey*>(new Key(this));
  if (name == "SignEncrypt") return static_cast<sp::SignEncrypt*>(new Sign(this));
  if (name == "RequestPacket") return static_cast<sp::RequestPacket*>(new Request(this));
  if (name == "Transaction") return static_cast<sp::Transaction*>(new Exchange(this));
  return static_cast<sp::AnswerPacket*>(new Answer(this));
}

TEST(SignPadApproval, ApprovalRunsTheObjectsInOrderAndFillsTheRecord) {
  FakeObjects objects;
  SignPadApprovalState state;
  const ModuleApprovalResult outcome = SignPadApproval(objects, state, Frame042(kImage), 61,
                                                       Payment("9000", "1000", "1000"), Settings());
  EXPECT_EQ(outcome.result, kModuleApproved);
  EXPECT_EQ(RecordText(outcome.record, kResponseCode), "0000");
  EXPECT_EQ(RecordText(outcome.record, kApprovalNumber), "    30012345");
  EXPECT_EQ(RecordText(outcome.record, kCardNumber), "    1234567890123456");
  const std::vector<std::string> expected = {
      "create WorkingKey",    "FirstDownload",   "MasterKeyIndex", "WorkingKeyText",
      "create SignEncrypt",   "Encrypt",         "SignData",       "HashCode",
      "create RequestPacket", "LoadPacketStruct"};
  ASSERT_GE(objects.calls.size(), expected.size());
  EXPECT_EQ(std::vector<std::string>(objects.calls.begin(), objects.calls.begin() + 10), expected);
  EXPECT_EQ(objects.packet_name, sp::kPaymentPacket);
  ASSERT_EQ(objects.fields_set.size(), 10u);
  EXPECT_EQ(objects.fields_set[6],
            (std::pair<std::string, std::string>(sp::kSignDataField, "0A0B")));
  EXPECT_EQ(objects.fields_set[8], (std::pair<std::string, std::string>(sp::kHashField, "HASH")));
  EXPECT_EQ(objects.live, 0);  // every object released
  // The image the terminal sent is the file the objects read.
  EXPECT_EQ(platform::testing::ReadFile(*platform::ResolvePath(Settings().files.image)), kImage);
  EXPECT_FALSE(state.first_download);
}

TEST(SignPadApproval, TheLoopsFirstApprovalDownloadsFirstAndLaterOnesLater) {
  FakeObjects objects;
  SignPadApprovalState state;
  objects.failing = {"FirstDownload"};
  SignPadApproval(objects, state, Frame042(kImage), 51, Payment("1000", "", ""), Settings());
  EXPECT_TRUE(state.first_download);  // a failed first download is tried again
  objects.failing.clear();
  for (const char* download : {"FirstDownload", "LaterDownload", "LaterDownload"}) {
    objects.calls.clear();
    EXPECT_EQ(
        SignPadApproval(objects, state, Frame042(kImage), 51, Payment("1000", "", ""), Settings())
            .result,
        kModuleApproved);
    EXPECT_EQ(objects.calls[1], download);
  }
  // Another terminal loop has its own state, and downloads first.
  SignPadApprovalState other;
  objects.calls.clear();
  SignPadApproval(objects, other, Frame042(kImage), 51, Payment("1000", "", ""), Settings());
  EXPECT_EQ(objects.calls[1], "FirstDownload");
}

TEST(SignPadApproval, EveryFailingStepAnswersNineNineNineNineWithItsText) {
  struct Case {
    std::string failing;
    std::string_view text;  // the response message
    std::string last_call;  // nothing runs after the failing step
  };
  const Case cases[] = {
      {"create WorkingKey", kWorkingKeyFailed, "create WorkingKey"},
      {"FirstDownload", kWorkingKeyFailed, "FirstDownload"},
      {"MasterKeyIndex", kWorkingKeyFailed, "MasterKeyIndex"},
      {"WorkingKeyText", kWorkingKeyFailed, "WorkingKeyText"},
      {"create SignEncrypt", kCreateObjectFailed, "create SignEncrypt"},
      {"Encrypt", kSignEncryptFailed, "Encrypt"},
      {"SignData", kSignEncryptFailed, "SignData"},
      {"HashCode", kSignEncryptFailed, "HashCode"},
      {"create RequestPacket", kCreateObjectFailed, "create RequestPacket"},
      {"LoadPacketStruct", kPacketFailed, "LoadPacketStruct"},
      {"SetTextField", kPacketFailed, "SetTextField"},
      {"SetDataField", kPacketFailed, "SetDataField"},
      {"Packet", kPacketFailed, "Packet"},
      {"Finish", kPacketFailed, "Finish"},
      {"create Transaction", kCreateObjectFailed, "create Transaction"},
      {"Transact", kTransactionFailed, "Transact"},
      {"create AnswerPacket", kCreateObjectFailed, "create AnswerPacket"},
      // The answer's own failures add no text, but the record never reads as approved.
      {"AnswerLoad", "", "AnswerLoad"},
      {"SetPacket", "", "SetPacket"},
      {"GetField 응답코드", "", "GetField 응답코드"},
      {"GetField 승인번호", "", "GetField 승인번호"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.failing);
    FakeObjects objects;
    objects.failing = {c.failing};
    SignPadApprovalState state;
    const ModuleApprovalResult outcome = SignPadApproval(objects, state, Frame042(kImage), 71,
                                                         Payment("1000", "", "100"), Settings());
    EXPECT_EQ(outcome.result, kModuleDeclined);
    EXPECT_EQ(RecordText(outcome.record, kResponseCode), "9999");
    if (!c.text.empty()) {
      EXPECT_EQ(RecordText(outcome.record, kResponseMessage), c.text);
    }
    EXPECT_EQ(objects.calls.back(), c.last_call);
    EXPECT_EQ(objects.live, 0);
  }
}

TEST(SignPadApproval, DeclinesAnswerNineNineNineNineWithTheNetworksMessage) {
  FakeObjects objects;
  objects.answer[std::string(sp::kResponseCodeField)] = "05";
  objects.answer[std::string(sp::kResponseMessage1Field)] = Cp("한도초과");
  SignPadApprovalState state;
  const ModuleApprovalResult outcome =
      SignPadApproval(objects, state, Frame042(kImage), 51, Payment("1000", "", ""), Settings());
  EXPECT_EQ(outcome.result, kModuleDeclined);
  EXPECT_EQ(RecordText(outcome.record, kResponseCode), "9999");
  EXPECT_EQ(RecordText(outcome.record, kResponseMessage), std::string(56, ' ') + Cp("한도초과"));
  EXPECT_EQ(RecordText(outcome.record, kApprovalNumber), "");
}

TEST(SignPadApproval, SignatureAloneWithoutACardRequestAndNoBlockFailsTheEncryption) {
  FakeObjects objects;
  SignPadApprovalState state;
  const ModuleApprovalResult stored =
      SignPadApproval(objects, state, Frame042(kImage), 0, Payment("", "", ""), Settings());
  EXPECT_EQ(stored.result, kNoCardRequest);
  EXPECT_EQ(stored.record, ApprovalRecord{});
  EXPECT_TRUE(objects.calls.empty());
  const auto image = *platform::ResolvePath(Settings().files.image);
  EXPECT_EQ(platform::testing::ReadFile(image), kImage);
  EXPECT_TRUE(state.first_download);

  // No "SM" block: the earlier customer's image is gone, so the objects have nothing to send.
  const ModuleApprovalResult failed =
      SignPadApproval(objects, state, kNoBlockFrame, 51, Payment("1000", "", ""), Settings());
  EXPECT_FALSE(std::filesystem::exists(image));
  EXPECT_EQ(failed.result, kModuleDeclined);
  EXPECT_EQ(RecordText(failed.record, kResponseCode), "9999");
  EXPECT_EQ(RecordText(failed.record, kResponseMessage), kSignEncryptFailed);

  // A later failure's text takes the place of the signature's.
  FakeObjects no_key;
  no_key.failing = {"create WorkingKey"};
  const ModuleApprovalResult no_key_outcome =
      SignPadApproval(no_key, state, kNoBlockFrame, 51, Payment("1000", "", ""), Settings());
  EXPECT_EQ(RecordText(no_key_outcome.record, kResponseMessage), kWorkingKeyFailed);
}

// --- The objects of libSignPadObjects.so against the simulated network ------------------------

class SignPadPathTest : public ::testing::Test {
 protected:
  // A property map holding the install directory.
  SignPadPathTest() : property_record_(connmap::kPropertyMapSize, '\0') {
    std::copy(kInstallDir.begin(), kInstallDir.end(), property_record_.begin());
  }
  void TearDown() override {
    platform::RegDeleteValue(sp::kSettingsKey, sp::kPortValue);
    platform::RegDeleteValue(sp::kSettingsKey, sp::kAnswerTimeoutValue);
  }
  void Start(gateway_sim::Behaviour behaviour, bool approve, int delay_ms) {
    gateway_sim::Options options;
    options.signpad.behaviour = behaviour;
    options.signpad.delay_ms = delay_ms;
    options.signpad_answer.approve = approve;
    std::string error;
    sim_ = gateway_sim::GatewayServerSimulator::Start(options, &error);
    ASSERT_NE(sim_, nullptr) << error;
    ASSERT_TRUE(sim_->PointSignPadObjectsHere());
  }
  std::unique_ptr<gateway_sim::GatewayServerSimulator> sim_;
  std::vector<char> property_record_;
};

TEST_F(SignPadPathTest, ApprovesDeclinesAndFailsThroughTheNetwork) {
  ASSERT_EQ(platform::RegSetDword(sp::kSettingsKey, sp::kAnswerTimeoutValue, 1000),
            platform::RegStatus::kOk);
  using gateway_sim::Behaviour;
  struct Case {
    const char* name;
    Behaviour behaviour;
    bool approve;
    int delay_ms;
    int result;
    std::string_view message;  // empty: not checked
  };
  const std::string declined = std::string(56, ' ') + "\xC7\xD1\xB5\xB5\xC3\xCA\xB0\xFA";
  const Case cases[] = {
      {"approve", Behaviour::kAnswer, true, 0, kModuleApproved, ""},
      {"decline", Behaviour::kAnswer, false, 0, kModuleDeclined, declined},
      {"slow", Behaviour::kSlow, true, 100, kModuleApproved, ""},
      {"too slow", Behaviour::kSlow, true, 5000, kModuleDeclined, kWorkingKeyFailed},
      {"silent", Behaviour::kSilent, true, 0, kModuleDeclined, kWorkingKeyFailed},
      {"refuse", Behaviour::kRefuse, true, 0, kModuleDeclined, kWorkingKeyFailed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim_.reset();
    Start(c.behaviour, c.approve, c.delay_ms);
    SignPadPath path;  // a terminal loop's path, as it starts
    const ModuleApprovalResult outcome =
        path.Approve(Frame042(kImage), 51, Payment("9000", "", "900"), property_record_.data());
    EXPECT_EQ(outcome.result, c.result);
    EXPECT_EQ(RecordText(outcome.record, kResponseCode),
              c.result == kModuleApproved ? "0000" : "9999");
    if (!c.message.empty()) {
      EXPECT_EQ(RecordText(outcome.record, kResponseMessage), c.message);
    }
    if (c.result == kModuleApproved) {
      EXPECT_EQ(RecordText(outcome.record, kApprovalNumber), "    30012345");
      EXPECT_EQ(RecordText(outcome.record, kCardNumber), "    1234567890123456");
      // The loop's second approval takes the later download, which the network only grants
      // after the first.
      EXPECT_EQ(
          path.Approve(Frame042(kImage), 71, Payment("9000", "", "900"), property_record_.data())
              .result,
          kModuleApproved);
      const auto received = sim_->Received();
      ASSERT_EQ(received.size(), 4u);
      EXPECT_EQ(received[0].bytes.substr(sp::kHeaderSize, 5), "REALF");
      EXPECT_EQ(received[2].bytes.substr(sp::kHeaderSize, 5), "REALL");
      EXPECT_EQ(received[3].bytes.substr(sp::kHeaderSize, 8), "REAL0420");
    }
  }
}

}  // namespace
}  // namespace hub::payments
