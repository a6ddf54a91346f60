#include "hub/payments/module_approval.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "companions/kiccpad/kicc_protocol.h"
#include "hub/payments/module_request.h"
#include "platform/prefix.h"
#include "platform/registry.h"
#include "protocol/testing/gateway_server_sim.h"

namespace hub::payments {
namespace {

constexpr std::string_view kCard37 = "9410123456785678=2512101123456789012";  // 36 + 1 below
constexpr std::string_view kInstallDir = "c:\\tavenor";

PaymentFields Payment(std::string_view amount1, std::string_view amount2,
                      std::string_view amount3) {
  PaymentFields payment;
  payment.amount1.Set(amount1);
  payment.amount2.Set(amount2);
  payment.amount3.Set(amount3);
  payment.installment_months.Set("03");
  payment.terminal_id.Set("1234567");
  payment.program_code.Set("200");
  payment.card_data.Set(std::string(kCard37) + "9");
  return payment;
}

std::string At(const std::string& record, kicc::Field field) {
  return record.substr(field.offset, field.width);
}

// A 042 frame with a "GP" block: the seed, 20 unused bytes, the packed length, the data.
std::string Frame042(std::string_view data, std::string_view packed_length = "") {
  std::string block = "GP" + std::string(32, 'S') + std::string(20, '_');
  if (packed_length.empty()) {
    block +=
        platform::PackDecimal(platform::ZeroPadded(static_cast<long long>(data.size()), 4).value())
            .value();
  } else {
    block += packed_length;
  }
  return "\x02XX0000TRM042\x1c\x1c" + block + std::string(data) + "\x1c\x03";
}

// --- Request record ------------------------------------------------------------------------

TEST(ModuleRequest, SplitPaymentFillsEveryFieldAtItsOffset) {
  const std::optional<std::string> record = BuildModuleRequest(61, Payment("9000", "1000", "1000"));
  ASSERT_TRUE(record);
  ASSERT_EQ(record->size(), 310u);
  EXPECT_EQ(record->substr(0, 18), "D1= 401234567    A");
  EXPECT_EQ(At(*record, kicc::kCardData), std::string(kCard37) + "9");
  EXPECT_EQ(record->substr(55, 4), "    ");
  EXPECT_EQ(At(*record, kicc::kInstallmentMonths), "03");
  EXPECT_EQ(At(*record, kicc::kTotal), "11000    ");
  EXPECT_EQ(record->substr(70, 20), std::string(20, ' '));
  EXPECT_EQ(At(*record, kicc::kOriginalApproval), std::string(12, ' '));
  EXPECT_EQ(At(*record, kicc::kOriginalDate), "      ");
  EXPECT_EQ(At(*record, kicc::kAmount3), "1000     ");
  EXPECT_EQ(record->substr(142, 2), "Y ");
  EXPECT_EQ(At(*record, kicc::kAmountBlock),
            "\r\r200       00000090000000001000" + std::string(28, ' '));
  EXPECT_EQ(record->substr(307), "   ");
  // Nothing but the named fields: every other byte is a space.
  std::string others = *record;
  for (const kicc::Field field :
       {kicc::kRequestKind, kicc::kKindSeparator, kicc::kRecordVersion, kicc::kTerminalId,
        kicc::kEntryMode, kicc::kCardData, kicc::kInstallmentMonths, kicc::kTotal, kicc::kAmount3,
        kicc::kSignatureFlag, kicc::kAmountBlock}) {
    others.replace(field.offset, field.width, field.width, ' ');
  }
  EXPECT_EQ(others, std::string(310, ' '));
}

TEST(ModuleRequest, KindsDatesAndCuts) {
  struct Case {
    int code;
    std::string original_date;
    std::string kind;
    std::string date_field;
    std::string amounts;  // the block's last twenty characters
  };
  const Case cases[] = {
      {71, "20251209", "D4", "251209", std::string(20, '0')},
      {63, "251209", "D4", "251209", "00000090000000001000"},
      {51, "", "D1", "      ", std::string(20, '0')},
      {71, "2512", "D4", "2512  ", std::string(20, '0')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    PaymentFields payment = Payment("9000", "1000", "1000");
    payment.original_date.Set(c.original_date);
    payment.original_approval.Set("123456789");
    payment.card_data.Set(std::string(50, '4'));
    payment.program_code.Set("");
    const std::optional<std::string> record = BuildModuleRequest(c.code, payment);
    ASSERT_TRUE(record);
    EXPECT_EQ(At(*record, kicc::kRequestKind), c.kind);
    EXPECT_EQ(At(*record, kicc::kOriginalDate), c.date_field);
    EXPECT_EQ(At(*record, kicc::kOriginalApproval), "123456789   ");
    EXPECT_EQ(At(*record, kicc::kCardData), std::string(37, '4'));  // cut to its width
    EXPECT_EQ(record->substr(kicc::kAmountBlock.offset, 32), "\r\r000       " + c.amounts);
    EXPECT_EQ(record->size(), 310u);
  }
  EXPECT_FALSE(BuildModuleRequest(161, Payment("9000", "0", "0")));
  EXPECT_FALSE(BuildModuleRequest(52, Payment("9000", "0", "0")));
  // A total that does not fit nine characters is refused, never cut.
  EXPECT_FALSE(BuildModuleRequest(51, Payment("999999999", "1", "0")));
  EXPECT_TRUE(BuildModuleRequest(51, Payment("999999998", "1", "0")));
}

TEST(ModuleRequest, AnswerCodesAndSignatureBlock) {
  EXPECT_EQ(ModuleAnswerCode(51), "052");
  EXPECT_EQ(ModuleAnswerCode(61), "062");
  EXPECT_EQ(ModuleAnswerCode(71), "072");
  EXPECT_EQ(ModuleAnswerCode(63), "064");
  EXPECT_FALSE(ModuleAnswerCode(161));

  EXPECT_EQ(ModuleSignatureLength(0x01, 0x20), 120u);
  EXPECT_EQ(ModuleSignatureLength(0x99, 0x99), 9999u);
  EXPECT_EQ(ModuleSignatureLength(0x12, 0x3A), 123u);  // reading stops at "A"
  EXPECT_EQ(ModuleSignatureLength(0x0A, 0x00), 0u);

  const std::string data = "\x01\x02\x0D\x0A\x00\xFF";
  const std::string frame = Frame042(std::string(data.data(), 6));
  const std::optional<ModuleSignature> found = ModuleSignatureIn(frame);
  ASSERT_TRUE(found);
  EXPECT_EQ(found->seed, std::string(32, 'S'));
  EXPECT_EQ(found->data, std::string(data.data(), 6));
  // No block; a block whose length runs past the frame; a frame ending inside the header.
  EXPECT_FALSE(ModuleSignatureIn("\x02XX0000TRM042\x1c\x03"));
  EXPECT_FALSE(ModuleSignatureIn(Frame042("", std::string("\x99\x99", 2))));
  EXPECT_FALSE(ModuleSignatureIn("\x02...GP" + std::string(40, 'S')));
}

// --- Outcome ------------------------------------------------------------------------------

TEST(ModuleOutcome, ApprovalNeedsResponseCodeZeroAndAnApprovalNumber) {
  struct Case {
    std::string code;
    std::string approval;
    int result;
    std::string code_after;
  };
  const Case cases[] = {
      {"0000", "30012345    ", kModuleApproved, "0000"},
      {"0000", std::string(12, ' '), kModuleDeclined, "9999"},
      {"0000", std::string(12, '\0'), kModuleDeclined, "9999"},
      {"8037", "30012345    ", kModuleDeclined, "8037"},
      {"00 0", "30012345    ", kModuleDeclined, "00 0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code + "/" + c.approval);
    ApprovalRecord record{};
    record.fill(' ');
    std::copy(c.code.begin(), c.code.end(), record.begin() + 8);
    std::copy(c.approval.begin(), c.approval.end(), record.begin() + 44);
    EXPECT_EQ(ApplyModuleOutcome(record), c.result);
    EXPECT_EQ(RecordText(record, kResponseCode), c.code_after);
  }
}

// --- The sequence, with entry points a test controls ---------------------------------------

class FakePad final : public SignPadModule {
 public:
  int set_sign_hex = 1, save_bmp = 1, set_req = 1, send = 1, get_answer = 832;
  ApprovalRecord answer{};
  std::vector<std::string> calls;
  std::string seed, hex, bmp, request, address, port;

  int SetSeed(const char* text) override { return Call("seed", seed, text, 1); }
  int SetSignHexData(const char* text) override { return Call("hex", hex, text, set_sign_hex); }
  int SaveToCatBmp(const char* text) override { return Call("bmp", bmp, text, save_bmp); }
  int SetReqData(const char* text) override { return Call("req", request, text, set_req); }
  int SetKiccIp(const char* text) override { return Call("ip", address, text, 1); }
  int SetKiccPort(const char* text) override { return Call("port", port, text, 1); }
  int SendDSC() override {
    calls.push_back("send");
    return send;
  }
  int GetAnsData(char* buffer) override {
    calls.push_back("answer");
    std::copy(answer.begin(), answer.end(), buffer);
    return get_answer;
  }
  int ConfirmDSC() override {
    calls.push_back("confirm");
    return 1;
  }

 private:
  int Call(const char* name, std::string& kept, const char* text, int result) {
    calls.push_back(name);
    kept = text;
    return result;
  }
};

ModuleApprovalSettings Settings() { return {"127.0.0.1", "15700", SignatureFilesIn(kInstallDir)}; }

ApprovalRecord Approved() {
  ApprovalRecord record{};
  record.fill(' ');
  SetRecordText(record, kResponseCode, "0000");
  SetRecordText(record, kApprovalNumber, "30012345");
  return record;
}

TEST(ModuleApproval, ApprovalPassesSignatureRequestAndServerToTheLibrary) {
  FakePad pad;
  pad.answer = Approved();
  const ModuleApprovalResult outcome =
      ModuleApproval(&pad, Frame042(std::string("\x01\x02\xAB", 3)), 61,
                     Payment("9000", "1000", "1000"), Settings());
  EXPECT_EQ(outcome.result, kModuleApproved);
  EXPECT_EQ(outcome.record, pad.answer);
  EXPECT_EQ(pad.calls, (std::vector<std::string>{"seed", "hex", "bmp", "req", "ip", "port", "send",
                                                 "answer"}));
  EXPECT_EQ(pad.seed, std::string(32, 'S'));
  EXPECT_EQ(pad.hex, "0102AB");
  EXPECT_EQ(pad.bmp, "c:\\tavenor\\Bin\\sign.bmp");
  EXPECT_EQ(pad.request, *BuildModuleRequest(61, Payment("9000", "1000", "1000")));
  EXPECT_EQ(pad.address, "127.0.0.1");
  EXPECT_EQ(pad.port, "15700");
  ConfirmModuleApproval(pad);
  EXPECT_EQ(pad.calls.back(), "confirm");
}

TEST(ModuleApproval, LocalFailuresAnswerNineNineNineNineWithTheirText) {
  struct Case {
    const char* name;
    void (*setup)(FakePad&);
    bool with_block;
    std::string_view text;
    const char* last_call;  // nothing is called after the failing entry point
  };
  const Case cases[] = {
      {"no GP block", [](FakePad&) {}, false, kSignSaveFailed, nullptr},
      {"hex refused", [](FakePad& p) { p.set_sign_hex = -1; }, true, kSignSaveFailed, "hex"},
      {"bitmap failed", [](FakePad& p) { p.save_bmp = -1; }, true, kSignCompressFailed, "bmp"},
      {"record refused", [](FakePad& p) { p.set_req = -1; }, true, kPaymentFailed, "req"},
      {"send 0", [](FakePad& p) { p.send = 0; }, true, kPaymentFailed, "send"},
      {"unreachable", [](FakePad& p) { p.send = -1; }, true, kPaymentFailed, "send"},
      {"no answer", [](FakePad& p) { p.get_answer = -1; }, true, kPaymentFailed, "answer"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakePad pad;
    pad.answer = Approved();
    c.setup(pad);
    const std::string frame =
        c.with_block ? Frame042("\x01\x02") : std::string("\x02XX0000TRM042\x1c\x03");
    // An earlier customer's signature, left from the last approval.
    const auto stale = platform::ResolvePath(Settings().files.compressed).value();
    std::filesystem::create_directories(stale.parent_path());
    std::ofstream(stale) << "earlier signature";
    const ModuleApprovalResult outcome =
        ModuleApproval(&pad, frame, 51, Payment("9000", "0", "0"), Settings());
    EXPECT_FALSE(std::filesystem::exists(stale));
    EXPECT_EQ(outcome.result, kModuleDeclined);
    EXPECT_EQ(RecordText(outcome.record, kResponseCode), "9999");
    EXPECT_EQ(RecordText(outcome.record, kResponseMessage), c.text);
    EXPECT_EQ(RecordText(outcome.record, kApprovalNumber), "");
    if (c.last_call == nullptr) {
      EXPECT_TRUE(pad.calls.empty());
    } else {
      EXPECT_EQ(pad.calls.back(), c.last_call);
    }
  }
}

TEST(ModuleApproval, WithoutACardRequestOnlyTheSignatureIsStored) {
  FakePad pad;
  const ModuleApprovalResult outcome =
      ModuleApproval(&pad, Frame042("\x01\x02"), 0, Payment("", "", ""), Settings());
  EXPECT_EQ(outcome.result, kNoCardRequest);
  EXPECT_EQ(outcome.record, ApprovalRecord{});
  EXPECT_EQ(pad.calls, (std::vector<std::string>{"seed", "hex", "bmp"}));

  // No library: a card request fails, anything else has nothing to store.
  EXPECT_EQ(ModuleApproval(nullptr, Frame042("\x01\x02"), 0, {}, Settings()).result,
            kNoCardRequest);
  const ModuleApprovalResult failed =
      ModuleApproval(nullptr, Frame042("\x01\x02"), 51, Payment("1", "", ""), Settings());
  EXPECT_EQ(failed.result, kModuleDeclined);
  EXPECT_EQ(RecordText(failed.record, kResponseMessage), kPaymentFailed);
}

TEST(ModuleApprovalSettings, VanPortIsARegistrySettingWithTheDefault15700) {
  EXPECT_EQ(ModuleApprovalSettingsFrom(nullptr).van_port, "15700");
  ASSERT_EQ(platform::RegSetString(kicc::kSettingsKey, kicc::kPortValue, "16000"),
            platform::RegStatus::kOk);
  EXPECT_EQ(ModuleApprovalSettingsFrom(nullptr).van_port, "16000");
  ASSERT_EQ(platform::RegSetDword(kicc::kSettingsKey, kicc::kPortValue, 17000),
            platform::RegStatus::kOk);
  EXPECT_EQ(ModuleApprovalSettingsFrom(nullptr).van_port, "17000");
  platform::RegDeleteValue(kicc::kSettingsKey, kicc::kPortValue);
}

// --- The real library against the simulated VAN server --------------------------------------

// The real library with one of its exports hidden.
class LibraryWithout final : public platform::Library {
 public:
  LibraryWithout(const platform::Library& library, std::string_view hidden)
      : library_(library), hidden_(hidden) {}
  void* Symbol(std::string_view name) const override {
    return name == hidden_ ? nullptr : library_.Symbol(name);
  }
  std::string path() const override { return library_.path(); }

 private:
  const platform::Library& library_;
  std::string hidden_;
};

TEST(ModuleApprovalWithLibrary, ALibraryLackingAnEntryPointIsNotBound) {
  platform::Status error;
  const std::unique_ptr<platform::Library> library = platform::Library::Load("KiccPad.DLL", &error);
  ASSERT_NE(library, nullptr) << error.message();
  EXPECT_NE(BindSignPadModule(*library), nullptr);
  for (const char* name : {"epSendDSC", "epSaveScrToBmp"}) {  // called, and only looked up
    EXPECT_EQ(BindSignPadModule(LibraryWithout(*library, name)), nullptr) << name;
  }
  EXPECT_EQ(ConnectSignPadModule(LibraryWithout(*library, "epConnect")), 0);
}

TEST(ModuleApprovalWithLibrary, ApprovesAndDeclinesThroughTheVanServer) {
  platform::Status error;
  const std::unique_ptr<platform::Library> library = platform::Library::Load("KiccPad.DLL", &error);
  ASSERT_NE(library, nullptr) << error.message();
  ASSERT_EQ(ConnectSignPadModule(*library), 1);
  const std::unique_ptr<SignPadModule> pad = BindSignPadModule(*library);
  ASSERT_NE(pad, nullptr);

  struct Case {
    gateway_sim::VanVerdict verdict;
    int result;
    std::string code;
  };
  const Case cases[] = {{gateway_sim::VanVerdict::kApprove, kModuleApproved, "0000"},
                        {gateway_sim::VanVerdict::kDecline, kModuleDeclined, "8037"},
                        {gateway_sim::VanVerdict::kBlankApproval, kModuleDeclined, "9999"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    gateway_sim::Options options;
    options.van_answer.verdict = c.verdict;
    std::string sim_error;
    const auto sim = gateway_sim::GatewayServerSimulator::Start(options, &sim_error);
    ASSERT_NE(sim, nullptr) << sim_error;
    ModuleApprovalSettings settings = Settings();
    settings.van_port = std::to_string(sim->port(gateway_sim::PortKind::kVan));

    // A stroke across the pad.
    const ModuleApprovalResult outcome =
        ModuleApproval(pad.get(), Frame042(std::string("\x00\x00\x7F\x3F", 4)), 51,
                       Payment("9000", "0", "900"), settings);
    EXPECT_EQ(outcome.result, c.result);
    EXPECT_EQ(RecordText(outcome.record, kResponseCode), c.code);
    ASSERT_TRUE(sim->WaitForReceived(1, 10000));
    const std::string sent = sim->Received()[0].bytes;
    EXPECT_EQ(sent.substr(kicc::kHeaderSize, kicc::kRequestRecordSize),
              *BuildModuleRequest(51, Payment("9000", "0", "900")));
    // The image the library saved, and its compressed form for the receipt.
    const auto image = platform::ResolvePath(settings.files.image);
    const auto compressed = platform::ResolvePath(settings.files.compressed);
    ASSERT_TRUE(image && compressed);
    EXPECT_EQ(std::filesystem::file_size(*image), 62u + 16 * 64);
    EXPECT_TRUE(std::filesystem::exists(*compressed));
  }
}

}  // namespace
}  // namespace hub::payments
