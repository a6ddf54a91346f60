#include "hub/payments/module_approval.h"

#include <array>
#include <filesystem>
#include <optional>
#include <system_error>

#include "companions/connmap/ordella_connmap.h"
#include "companions/kiccpad/kicc_protocol.h"
#include "hub/core/module_state.h"
#include "hub/payments/module_request.h"
#include "hub/payments/receipt_fields.h"
#include "platform/prefix.h"
#include "platform/registry.h"
#include "platform/shell_ui.h"
#include "platform/text.h"

namespace hub::payments {
namespace {

constexpr const char* kLogTag = "KiccPosModule";
constexpr const char* kRequestLogTag = "KiccPosModuleTransaction";
constexpr int kEntryFailed = -1;
// What epGetAnsData may write beyond the record is kept inside the buffer.
constexpr size_t kAnswerBufferSize = 1024;

// The fourteen entry points: the ones an approval calls, then the ones only looked up.
constexpr std::array<const char*, 14> kEntryPoints = {
    "epConnect",     "epDisConnect",     "epSetReqData",   "epGetAnsData",  "epConfirmDSC",
    "epSetKiccIp",   "epSetKiccPort",    "epSendDSC",      "epSetSeed",     "epSaveToBmp",
    "epSetSignData", "epSetSignHexData", "epSaveToCatBmp", "epSaveScrToBmp"};

using TextFn = int (*)(const char*);
using BufferFn = int (*)(char*);
using VoidFn = int (*)();

class LibrarySignPad final : public SignPadModule {
 public:
  explicit LibrarySignPad(const platform::Library& library)
      : set_seed_(Entry<TextFn>(library, "epSetSeed")),
        set_sign_hex_data_(Entry<TextFn>(library, "epSetSignHexData")),
        save_to_cat_bmp_(Entry<TextFn>(library, "epSaveToCatBmp")),
        set_req_data_(Entry<TextFn>(library, "epSetReqData")),
        set_kicc_ip_(Entry<TextFn>(library, "epSetKiccIp")),
        set_kicc_port_(Entry<TextFn>(library, "epSetKiccPort")),
        send_dsc_(Entry<VoidFn>(library, "epSendDSC")),
        get_ans_data_(Entry<BufferFn>(library, "epGetAnsData")),
        confirm_dsc_(Entry<VoidFn>(library, "epConfirmDSC")) {}

  int SetSeed(const char* seed) override { return set_seed_(seed); }
  int SetSignHexData(const char* hex) override { return set_sign_hex_data_(hex); }
  int SaveToCatBmp(const char* file_name) override { return save_to_cat_bmp_(file_name); }
  int SetReqData(const char* record) override { return set_req_data_(record); }
  int SetKiccIp(const char* address) override { return set_kicc_ip_(address); }
  int SetKiccPort(const char* port) override { return set_kicc_port_(port); }
  int SendDSC() override { return send_dsc_(); }
  int GetAnsData(char* answer) override { return get_ans_data_(answer); }
  int ConfirmDSC() override { return confirm_dsc_(); }

 private:
  template <typename Fn>
  static Fn Entry(const platform::Library& library, const char* name) {
    return reinterpret_cast<Fn>(library.Symbol(name));
  }

  TextFn set_seed_;
  TextFn set_sign_hex_data_;
  TextFn save_to_cat_bmp_;
  TextFn set_req_data_;
  TextFn set_kicc_ip_;
  TextFn set_kicc_port_;
  VoidFn send_dsc_;
  BufferFn get_ans_data_;
  VoidFn confirm_dsc_;
};

void Remove(const std::string& windows_path) {
  const std::optional<std::filesystem::path> path = platform::ResolvePath(windows_path);
  std::error_code ignored;
  if (path) std::filesystem::remove(*path, ignored);
}

// A text of spaces and zero bytes only.
bool Blank(std::string_view field) {
  return field.find_first_not_of(std::string_view(" \0", 2)) == std::string_view::npos;
}

std::string_view RawField(const ApprovalRecord& record, RecordField field) {
  return std::string_view(reinterpret_cast<const char*>(record.data() + field.offset), field.width);
}

// Steps 2 and 3: the signature handed to the library and saved as the image file, which is then
// compressed. The failure's text, or nullopt. Both files of the previous signature are removed
// first, so that a frame without a usable block never leaves an earlier customer's signature to
// be printed with a later receipt.
std::optional<std::string_view> StoreModuleSignature(SignPadModule& pad, std::string_view frame,
                                                     const SignatureFiles& files) {
  Remove(files.compressed);
  Remove(files.image);
  const std::optional<ModuleSignature> signature = ModuleSignatureIn(frame);
  if (!signature) {
    WriteModuleLog(kLogTag, "no usable GP signature block in the terminal's frame");
    return kSignSaveFailed;
  }
  pad.SetSeed(std::string(signature->seed).c_str());
  if (pad.SetSignHexData(platform::ToHex(signature->data).c_str()) == kEntryFailed) {
    return kSignSaveFailed;
  }
  if (pad.SaveToCatBmp(files.image.c_str()) == kEntryFailed) return kSignCompressFailed;
  CompressSignature(files);  // a missing compressed file only leaves the signature off the paper
  return std::nullopt;
}

// Step 4: the request exchanged through the library; the answer record, or the failure's text.
std::optional<std::string_view> ExchangeRequest(SignPadModule& pad, int request_code,
                                                const PaymentFields& payment,
                                                const ModuleApprovalSettings& settings,
                                                ApprovalRecord& record) {
  const std::optional<std::string> request = BuildModuleRequest(request_code, payment);
  if (!request) {
    WriteModuleLog(kLogTag, "total too large for the request record: not sent");
    return kPaymentFailed;
  }
  LogTarget always = ModuleLogTarget();
  always.flag = 1;
  WriteFrameLog(always, kRequestLogTag, kicc::FieldOf(*request, kicc::kOriginalDate));

  std::array<char, kicc::kRequestAreaSize> area{};  // zeroed: the record ends with a zero byte
  std::copy(request->begin(), request->end(), area.begin());
  if (pad.SetReqData(area.data()) == kEntryFailed) return kPaymentFailed;
  pad.SetKiccIp(settings.van_address.c_str());
  pad.SetKiccPort(settings.van_port.c_str());
  const int sent = pad.SendDSC();
  if (sent <= 0) {
    WriteModuleLog(kLogTag,
                   "approval request not exchanged with the VAN server: " + std::to_string(sent));
    return kPaymentFailed;
  }
  std::array<char, kAnswerBufferSize> answer{};
  if (pad.GetAnsData(answer.data()) == kEntryFailed) return kPaymentFailed;
  std::copy_n(answer.begin(), kApprovalRecordSize, record.begin());
  return std::nullopt;
}

}  // namespace

std::unique_ptr<SignPadModule> BindSignPadModule(const platform::Library& library) {
  for (const char* name : kEntryPoints) {
    if (library.Symbol(name) == nullptr) {
      WriteModuleLog(kLogTag,
                     std::string("sign-pad library lacks ") + name + ": " + library.path());
      return nullptr;
    }
  }
  return std::make_unique<LibrarySignPad>(library);
}

int ConnectSignPadModule(const platform::Library& library) {
  const auto connect = reinterpret_cast<int (*)(int, int)>(library.Symbol("epConnect"));
  if (connect != nullptr && connect(0, 0) != kEntryFailed) return 1;
  WriteModuleLog(kLogTag, "sign-pad library cannot work: " + library.path());
  platform::MessageBox(kSignPadOpenFailed, "");
  return 0;
}

ModuleApprovalSettings ModuleApprovalSettingsFrom(const char* property_record) {
  ModuleApprovalSettings settings;
  settings.van_port = kicc::kDefaultVanPort;
  platform::RegValue port;
  if (platform::RegGetValue(kicc::kSettingsKey, kicc::kPortValue, &port) ==
      platform::RegStatus::kOk) {
    if (port.type == platform::RegType::kString) settings.van_port = port.text;
    if (port.type == platform::RegType::kDword) settings.van_port = std::to_string(port.dword);
  }
  if (property_record != nullptr) {
    settings.van_address = VanServerAddress(property_record);
    settings.files = SignatureFilesIn(connmap::ReadText(property_record, connmap::kInstallDir));
  }
  return settings;
}

int ApplyModuleOutcome(ApprovalRecord& record) {
  const std::string code = Without(RecordText(record, kResponseCode), " ");
  if (code != kApprovedCode) return kModuleDeclined;
  if (Blank(RawField(record, kApprovalNumber))) {
    WriteModuleLog(kLogTag, "approved without an approval number: answered as a failure");
    SetRecordText(record, kResponseCode, kLocalFailureCode);
    return kModuleDeclined;
  }
  return kModuleApproved;
}

void SetModuleFailure(ApprovalRecord& record, std::string_view text) {
  SetRecordText(record, kResponseCode, kLocalFailureCode);
  SetRecordText(record, kResponseMessage, text);
}

ModuleApprovalResult ModuleApproval(SignPadModule* pad, std::string_view frame, int request_code,
                                    PaymentFields payment, const ModuleApprovalSettings& settings) {
  ModuleApprovalResult outcome;
  const bool card_request = ModuleAnswerCode(request_code).has_value();
  if (pad == nullptr) {
    WriteModuleLog(kLogTag, "no sign-pad library: the approval cannot run");
    if (!card_request) {
      outcome.result = kNoCardRequest;
      return outcome;
    }
    SetModuleFailure(outcome.record, kPaymentFailed);
    return outcome;
  }
  std::optional<std::string_view> failure = StoreModuleSignature(*pad, frame, settings.files);
  if (!card_request) {
    outcome.result = kNoCardRequest;
    return outcome;
  }
  if (!failure) failure = ExchangeRequest(*pad, request_code, payment, settings, outcome.record);
  if (failure) {
    WriteModuleLog(kLogTag, "approval failed: " + std::string(*failure));
    SetModuleFailure(outcome.record, *failure);
    return outcome;
  }
  outcome.result = ApplyModuleOutcome(outcome.record);
  if (outcome.result != kModuleApproved) {
    WriteModuleLog(kLogTag, "not approved: response code " +
                                std::string(RecordText(outcome.record, kResponseCode)));
  }
  return outcome;
}

void ConfirmModuleApproval(SignPadModule& pad) { pad.ConfirmDSC(); }

}  // namespace hub::payments
