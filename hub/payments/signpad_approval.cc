#include "hub/payments/signpad_approval.h"

#include <array>
#include <cstdio>
#include <optional>

#include "companions/connmap/ordella_connmap.h"
#include "companions/signpad/signpad_protocol.h"
#include "hub/core/module_state.h"
#include "hub/payments/module_request.h"
#include "hub/payments/receipt_fields.h"
#include "platform/text.h"

namespace hub::payments {
namespace {

constexpr const char* kLogTag = "Bin2Hex";
constexpr const char* kKeyIndexTag = "szMasterKeyIndex";
constexpr const char* kWorkingKeyTag = "szWorkingKey";
constexpr const char* kFactoryName = "SignPadCreateInstance";

constexpr int kPayment = 51;
constexpr int kSplitPayment = 61;
constexpr int kCancellation = 71;
constexpr int kSplitCancellation = 63;

// Approve's results: approved, declined, or failed with the record as it stands.
constexpr int kApproved = 1;
constexpr int kDeclined = 0;
constexpr int kFailed = -1;

// The widths answer fields are right-aligned in ("%12s" ...).
constexpr size_t kMessageWidth = 64;
constexpr size_t kNumberWidth = 12;
constexpr size_t kCardNumberWidth = 20;
constexpr size_t kNameWidth = 14;
constexpr size_t kDateTimeChars = 12;  // YYMMDDhhmmss; a zero byte follows
constexpr size_t kDateCut = 2;         // "20251209" is sent and kept as "251209"
constexpr size_t kShortDate = 6;       // a date of six characters is already YYMMDD
constexpr char16_t kRealMode[] = u"REAL";

struct Releaser {
  void operator()(signpad::Object* object) const { object->Release(); }
};
template <typename T>
using Ptr = std::unique_ptr<T, Releaser>;

template <typename T>
Ptr<T> Make(SignPadObjectSource& source) {
  return Ptr<T>(static_cast<T*>(source.Create(T::kIds)));
}

std::optional<std::u16string> Wide(std::string_view cp949) { return platform::Cp949ToUtf16(cp949); }
std::optional<std::string> Narrow(const std::u16string& text) {
  return platform::Utf16ToCp949(text);
}

void WriteLogWithFlag(int flag, const char* tag, std::string_view text) {
  LogTarget target = ModuleLogTarget();
  target.flag = flag;
  WriteFrameLog(target, tag, text);
}

std::string FromThirdCharacter(std::string_view text) {
  return std::string(text.size() > kDateCut ? text.substr(kDateCut) : std::string_view());
}

// A cancelled transaction's date as YYMMDD: an eight-character date from its third character; a
// date of six characters or fewer is taken as it came (cutting it would send another date).
std::string OriginalDate(std::string_view date) {
  return date.size() > kShortDate ? FromThirdCharacter(date) : std::string(date);
}

void Fail(ApprovalRecord& record, std::string_view text) {
  WriteModuleLog(kLogTag, "sign-pad approval failed: " + std::string(text));
  SetModuleFailure(record, text);
}

// Step 1: the terminal's working key. The flag is cleared only by a download that worked, so a
// loop whose first download failed starts over with a first download.
bool DownloadWorkingKey(SignPadObjectSource& objects, SignPadApprovalState& state,
                        std::string_view terminal_id, ApprovalRecord& record) {
  const Ptr<signpad::WorkingKey> key = Make<signpad::WorkingKey>(objects);
  const std::optional<std::u16string> terminal = Wide(terminal_id);
  if (!key || !terminal) {
    Fail(record, kWorkingKeyFailed);
    return false;
  }
  const signpad::Result downloaded = state.first_download
                                         ? key->FirstDownload(kRealMode, terminal->c_str())
                                         : key->LaterDownload(kRealMode, terminal->c_str());
  std::u16string index, working_key;
  if (!signpad::Succeeded(downloaded) || !signpad::Succeeded(key->MasterKeyIndex(&index)) ||
      !signpad::Succeeded(key->WorkingKeyText(&working_key))) {
    Fail(record, kWorkingKeyFailed);
    return false;
  }
  WriteLogWithFlag(1, kKeyIndexTag, Narrow(index).value_or(""));
  WriteLogWithFlag(1, kWorkingKeyTag, Narrow(working_key).value_or(""));
  state.first_download = false;
  return true;
}

struct EncryptedSignature {
  std::string data;
  std::string hash;
};

// Step 2: the image file as signature data and hash code, each cut to the room kept for it.
std::optional<EncryptedSignature> EncryptSignature(SignPadObjectSource& objects,
                                                   const SignatureFiles& files,
                                                   ApprovalRecord& record) {
  const Ptr<signpad::SignEncrypt> sign = Make<signpad::SignEncrypt>(objects);
  if (!sign) {
    Fail(record, kCreateObjectFailed);
    return std::nullopt;
  }
  const std::optional<std::u16string> file = Wide(files.image);
  std::u16string data, hash;
  if (!file || !signpad::Succeeded(sign->Encrypt(file->c_str())) ||
      !signpad::Succeeded(sign->SignData(&data)) || !signpad::Succeeded(sign->HashCode(&hash))) {
    Fail(record, kSignEncryptFailed);
    return std::nullopt;
  }
  const std::optional<std::string> data_text = Narrow(data);
  const std::optional<std::string> hash_text = Narrow(hash);
  if (!data_text || !hash_text) {
    Fail(record, kSignEncryptFailed);
    return std::nullopt;
  }
  return EncryptedSignature{std::string(platform::CutCp949(*data_text, kSignDataRoom)),
                            std::string(platform::CutCp949(*hash_text, kHashCodeRoom))};
}

// Step 3: the request packet of the request's fields.
std::optional<std::u16string> BuildPacket(SignPadObjectSource& objects, int request_code,
                                          const PaymentFields& payment,
                                          const EncryptedSignature& signature,
                                          const SignPadApprovalSettings& settings,
                                          ApprovalRecord& record) {
  const Ptr<signpad::RequestPacket> request = Make<signpad::RequestPacket>(objects);
  if (!request) {
    Fail(record, kCreateObjectFailed);
    return std::nullopt;
  }
  const std::optional<std::u16string> name = Wide(SignPadPacketName(request_code));
  if (!name || !signpad::Succeeded(request->LoadPacketStruct(name->c_str()))) {
    Fail(record, kPacketFailed);
    return std::nullopt;
  }
  for (const SignPadField& field :
       SignPadRequestFields(request_code, payment, signature.data, signature.hash)) {
    const std::optional<std::u16string> field_name = Wide(field.name);
    const std::optional<std::u16string> value = Wide(field.value);
    const bool set =
        field_name && value &&
        signpad::Succeeded(field.data ? request->SetDataField(field_name->c_str(),
                                                              signpad::kHexDataKind, value->c_str())
                                      : request->SetTextField(field_name->c_str(), value->c_str()));
    if (!set) {
      Fail(record, kPacketFailed);
      return std::nullopt;
    }
  }
  WriteLogWithFlag(settings.log_flag, kLogTag, SignPadFiller(payment));
  std::u16string packet;
  if (!signpad::Succeeded(request->Packet(&packet)) || !signpad::Succeeded(request->Finish())) {
    Fail(record, kPacketFailed);
    return std::nullopt;
  }
  return packet;
}

// Step 4: the packet exchanged with the network.
std::optional<std::u16string> Transact(SignPadObjectSource& objects, const std::u16string& packet,
                                       ApprovalRecord& record) {
  const Ptr<signpad::Transaction> transaction = Make<signpad::Transaction>(objects);
  if (!transaction) {
    Fail(record, kCreateObjectFailed);
    return std::nullopt;
  }
  std::u16string answer;
  if (!signpad::Succeeded(transaction->Transact(kRealMode, packet.c_str(), &answer))) {
    Fail(record, kTransactionFailed);
    return std::nullopt;
  }
  return answer;
}

// Step 5: the answer read into the record. A failing operation leaves no text of its own, but
// never a record that reads as approved: its response code becomes "9999".
int ReadAnswer(SignPadObjectSource& objects, int request_code, const std::u16string& answer,
               const PaymentFields& payment, ApprovalRecord& record) {
  const Ptr<signpad::AnswerPacket> packet = Make<signpad::AnswerPacket>(objects);
  if (!packet) {
    Fail(record, kCreateObjectFailed);
    return kFailed;
  }
  const std::optional<std::u16string> name = Wide(SignPadPacketName(request_code));
  const AnswerFieldReader field =
      [&packet](std::string_view field_name) -> std::optional<std::string> {
    const std::optional<std::u16string> wide = Wide(field_name);
    std::u16string value;
    if (!wide || !signpad::Succeeded(packet->GetField(wide->c_str(), &value))) return std::nullopt;
    return Narrow(value);
  };
  auto failed = [&record] {
    WriteModuleLog(kLogTag, "sign-pad answer could not be read");
    SetRecordText(record, kResponseCode, kLocalFailureCode);
    return kFailed;
  };
  if (!name || !signpad::Succeeded(packet->LoadPacketStruct(name->c_str())) ||
      !signpad::Succeeded(packet->SetPacket(answer.c_str()))) {
    return failed();
  }
  const std::optional<std::string> code = field(signpad::kResponseCodeField);
  if (!code) return failed();
  if (*code == signpad::kApprovedCode) {
    return FillApprovedRecord(record, payment.card_data.view(), field) ? kApproved : failed();
  }
  SetRecordText(record, kResponseCode, kLocalFailureCode);
  const std::optional<std::string> message = field(signpad::kResponseMessage1Field);
  if (!message) return failed();
  PutRightAligned(record, kResponseMessage, kMessageWidth, *message);
  const std::optional<std::string> detail = field(signpad::kResponseMessage2Field);
  if (!detail) return failed();
  WriteModuleLog(kLogTag, "declined " + *code + ": " + *detail);
  return kDeclined;
}

int Approve(SignPadObjectSource& objects, SignPadApprovalState& state, int request_code,
            const PaymentFields& payment, const SignPadApprovalSettings& settings,
            ApprovalRecord& record) {
  if (!DownloadWorkingKey(objects, state, payment.terminal_id.view(), record)) return kFailed;
  const std::optional<EncryptedSignature> signature =
      EncryptSignature(objects, settings.files, record);
  if (!signature) return kFailed;
  const std::optional<std::u16string> packet =
      BuildPacket(objects, request_code, payment, *signature, settings, record);
  if (!packet) return kFailed;
  const std::optional<std::u16string> answer = Transact(objects, *packet, record);
  if (!answer) return kFailed;
  return ReadAnswer(objects, request_code, *answer, payment, record);
}

}  // namespace

void* InstalledSignPadObjects::Create(const signpad::ObjectIds& ids) {
  if (library_ == nullptr) {
    platform::Status error;
    library_ = platform::Library::Load(kSignPadObjectsDll, &error);
    if (library_ == nullptr) {
      WriteModuleLog(kLogTag, "sign-pad objects cannot be loaded: " + error.message());
      return nullptr;
    }
  }
  using Factory = signpad::Result (*)(const char*, const char*, void**);
  const auto factory = reinterpret_cast<Factory>(library_->Symbol(kFactoryName));
  if (factory == nullptr) {
    WriteModuleLog(kLogTag, "sign-pad objects lack their factory: " + library_->path());
    return nullptr;
  }
  void* object = nullptr;
  const std::string class_id(ids.class_id);
  const std::string interface_id(ids.interface_id);
  const signpad::Result created = factory(class_id.c_str(), interface_id.c_str(), &object);
  if (!signpad::Succeeded(created) || object == nullptr) {
    std::array<char, 16> code{};
    std::snprintf(code.data(), code.size(), "%08X", static_cast<unsigned>(created));
    WriteModuleLog(kLogTag, "sign-pad object " + class_id + " not created: " + code.data());
    return nullptr;
  }
  return object;
}

SignPadApprovalSettings SignPadApprovalSettingsFrom(const char* property_record) {
  SignPadApprovalSettings settings;
  if (property_record != nullptr) {
    settings.files = SignatureFilesIn(connmap::ReadText(property_record, connmap::kInstallDir));
    settings.log_flag = connmap::ReadInt(property_record, connmap::kLogFlag);
  }
  return settings;
}

std::string_view SignPadPacketName(int request_code) {
  switch (request_code) {
    case kPayment:
    case kSplitPayment:
      return signpad::kPaymentPacket;
    case kCancellation:
    case kSplitCancellation:
      return signpad::kCancellationPacket;
    default:
      return {};
  }
}

std::string SignPadFiller(const PaymentFields& payment) {
  std::array<char, 64> filler{};
  std::snprintf(filler.data(), filler.size(), "TVNR%010lld%010lld%12s%3s",
                AmountValue(payment.amount1.view()), AmountValue(payment.amount2.view()), "",
                std::string(payment.program_code.view()).c_str());
  return filler.data();
}

std::vector<SignPadField> SignPadRequestFields(int request_code, const PaymentFields& payment,
                                               std::string_view sign_data,
                                               std::string_view hash_code) {
  if (SignPadPacketName(request_code).empty()) return {};
  const long long total = AmountValue(payment.amount1.view()) +
                          AmountValue(payment.amount2.view()) + AmountValue(payment.amount3.view());
  std::vector<SignPadField> fields;
  fields.push_back({signpad::kTerminalIdField, std::string(payment.terminal_id.view())});
  if (IsCancellation(request_code)) {
    fields.push_back(
        {signpad::kOriginalApprovalField, std::string(payment.original_approval.view())});
    fields.push_back({signpad::kOriginalDateField, OriginalDate(payment.original_date.view())});
  }
  fields.push_back({signpad::kEntryModeField, std::string(signpad::kEntryModeText)});
  fields.push_back({signpad::kTrackDataField, std::string(payment.card_data.view())});
  fields.push_back({signpad::kInstallmentField, std::string(payment.installment_months.view())});
  fields.push_back({signpad::kAmountField, std::to_string(total)});
  fields.push_back({signpad::kTaxField, std::string(payment.amount3.view())});
  fields.push_back({signpad::kSignDataField, std::string(sign_data), true});
  fields.push_back({signpad::kPadModelField, std::string(signpad::kPadModelText)});
  fields.push_back({signpad::kHashField, std::string(hash_code)});
  fields.push_back({signpad::kFillerField, SignPadFiller(payment)});
  return fields;
}

void PutRightAligned(ApprovalRecord& record, RecordField record_field, size_t width,
                     std::string_view text) {
  std::string aligned(text.size() < width ? width - text.size() : 0, ' ');
  aligned.append(text);
  SetRecordText(record, record_field, platform::CutCp949(aligned, record_field.width));
}

bool FillApprovedRecord(ApprovalRecord& record, std::string_view card_data,
                        const AnswerFieldReader& field) {
  SetRecordText(record, kResponseCode, kApprovedCode);
  const struct {
    std::string_view name;
    RecordField record_field;
    size_t width;
  } before_card[] = {{signpad::kResponseMessage1Field, kResponseMessage, kMessageWidth},
                     {signpad::kManagementNumberField, kTransactionNumber, kNumberWidth}};
  for (const auto& f : before_card) {
    const std::optional<std::string> value = field(f.name);
    if (!value) return false;
    PutRightAligned(record, f.record_field, f.width, *value);
  }
  PutRightAligned(record, kCardNumber, kCardNumberWidth, card_data.substr(0, card_data.find('=')));
  const struct {
    std::string_view name;
    RecordField record_field;
    size_t width;
  } after_card[] = {{signpad::kApprovalNumberField, kApprovalNumber, kNumberWidth},
                    {signpad::kMerchantNumberField, kMerchantNumber, kNumberWidth},
                    {signpad::kIssuerField, kIssuerName, kNameWidth}};
  for (const auto& f : after_card) {
    const std::optional<std::string> value = field(f.name);
    if (!value) return false;
    PutRightAligned(record, f.record_field, f.width, *value);
  }
  const std::optional<std::string> date = field(signpad::kSaleDateField);
  const std::optional<std::string> time = date ? field(signpad::kSaleTimeField) : std::nullopt;
  if (!time) return false;
  const std::string stamp = FromThirdCharacter(*date) + *time;
  SetRecordText(record, kTransactionDateTime, platform::CutCp949(stamp, kDateTimeChars));
  const std::optional<std::string> acquirer = field(signpad::kAcquirerField);
  if (!acquirer) return false;
  PutRightAligned(record, kAcquirerName, kNameWidth, *acquirer);
  return true;
}

ModuleApprovalResult SignPadApproval(SignPadObjectSource& objects, SignPadApprovalState& state,
                                     std::string_view frame, int request_code,
                                     PaymentFields payment,
                                     const SignPadApprovalSettings& settings) {
  ModuleApprovalResult outcome;
  WriteLogWithFlag(1, kLogTag, settings.files.image);
  if (SignPadPacketName(request_code).empty()) {
    StoreSignature(frame, settings.files);
    outcome.result = kNoCardRequest;
    return outcome;
  }
  if (StoreSignature(frame, settings.files) != 1) SetModuleFailure(outcome.record, kSignSaveFailed);
  const int approved = Approve(objects, state, request_code, payment, settings, outcome.record);
  outcome.result = approved == kApproved ? kModuleApproved : kModuleDeclined;
  return outcome;
}

ModuleApprovalResult SignPadPath::Approve(std::string_view frame, int request_code,
                                          const PaymentFields& payment,
                                          const char* property_record) {
  return SignPadApproval(objects_, state_, frame, request_code, payment,
                         SignPadApprovalSettingsFrom(property_record));
}

ModuleApprovalResult SignPadApprovalOnThisLoop(std::string_view frame, int request_code,
                                               const PaymentFields& payment) {
  thread_local SignPadPath path;
  return path.Approve(frame, request_code, payment, PropertyRecord());
}

}  // namespace hub::payments
