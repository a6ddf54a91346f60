#include "hub/payments/cash_receipt.h"

#include <mutex>
#include <utility>
#include <vector>

#include "companions/ediconn/cash_protocol.h"
#include "companions/ediconn/ediconn.h"
#include "hub/core/module_state.h"
#include "hub/core/terminal_loop.h"
#include "hub/payments/print_entries.h"
#include "hub/payments/receipt_fields.h"
#include "hub/payments/receipts.h"
#include "hub/payments/transaction_steps.h"
#include "platform/registry.h"
#include "protocol/frame.h"

namespace hub::payments {
namespace {

constexpr const char* kLogTag = "CashReceipt";

// Request fields.
constexpr size_t kAmount1Field = 1, kAmount2Field = 2, kAmount3Field = 3, kUsageField = 4,
                 kOriginalDateField = 5, kOriginalApprovalField = 6, kIdentificationField = 7,
                 kSecondIdentificationField = 10, kShortProgramCodeField = 11,
                 kLongProgramCodeField = 22;

// Field 4 "01" asks for an income-deduction receipt; any other text for a proof of expense.
constexpr std::string_view kIncomeDeductionSelector = "01";
constexpr std::string_view kIncomeDeduction = "00";
constexpr std::string_view kProofOfExpense = "01";

// The pharmacy programs that print their own cash receipts: the hub answers them at once.
constexpr std::array<int, 4> kProgramsPrintingThemselves = {0, 1, 2, 13};

void Log(const LogTarget& log, const std::string& text) {
  WriteFrameLog(log, kLogTag, text);
}

template <size_t Room>
void Store(SlotText<Room>& slot_text, std::string_view text, const char* what,
           const LogTarget& log) {
  if (!slot_text.Set(text)) {
    Log(log, std::string(what) + " of " + std::to_string(text.size()) + " bytes cut to " +
                 std::to_string(Room));
  }
}

class LibraryCashReceiptNetwork final : public CashReceiptNetwork {
 public:
  LibraryCashReceiptNetwork(EdiCashReceiptFn transact, EdiCashAnswerFn answer)
      : transact_(transact), answer_(answer) {}

  int Transact(const CashCallTexts& t) override {
    return transact_(t[0].c_str(), t[1].c_str(), t[2].c_str(), t[3].c_str(), t[4].c_str(),
                     t[5].c_str(), t[6].c_str(), t[7].c_str(), t[8].c_str(), t[9].c_str(),
                     t[10].c_str(), t[11].c_str(), t[12].c_str(), t[13].c_str(), t[14].c_str());
  }

  CashServerAnswer LastAnswer() override {
    std::array<char, kEdiCodeRoom> code{};
    std::array<char, kEdiMessageRoom> message{};
    std::array<char, kEdiApprovalRoom> approval{};
    answer_(code.data(), message.data(), approval.data());
    // The library terminates each text within its room; the last byte is a zero regardless.
    code.back() = message.back() = approval.back() = '\0';
    return CashServerAnswer{code.data(), message.data(), approval.data()};
  }

 private:
  EdiCashReceiptFn transact_;
  EdiCashAnswerFn answer_;
};

std::string RegistryText(const char* name, std::string_view fallback) {
  platform::RegValue value;
  if (platform::RegGetValue(ediconn::kTavenorKey, name, &value) != platform::RegStatus::kOk) {
    return std::string(fallback);
  }
  if (value.type == platform::RegType::kString && !value.text.empty()) return value.text;
  if (value.type == platform::RegType::kDword) return std::to_string(value.dword);
  return std::string(fallback);
}

bool PrintsItself(int program_index) {
  for (const int index : kProgramsPrintingThemselves) {
    if (index == program_index) return true;
  }
  return false;
}

// Steps 3 and 4: the exchange and the answer. 1 when approved with the printout built in the
// send buffer; 0 otherwise. The answer frame is in the slot's answer area either way.
int Transact(RelaySlot& slot, const CashRequestKind& kind, int request_code, long long total,
             const PharmacySettings& settings, const CashReceiptServices& services) {
  TransactionSent(services.journal, slot);
  const int exchanged = services.network->Transact(
      CashCallTextsFor(kind, slot.payment, total, settings, services.server));
  CashServerAnswer answer;
  if (exchanged < 1) {
    Log(services.log, "request " + std::to_string(request_code) +
                          ": the cash-receipt server was not reached (EDICONN " +
                          std::to_string(exchanged) + ")");
    answer = CashServerAnswer{std::string(kCashServerUnreachableCode),
                              std::string(kCashServerUnreachable), ""};
  } else {
    answer = services.network->LastAnswer();
  }
  slot.answer = CashAnswerFrame(kind.answer_code, slot.payment, total, answer);
  const bool approved = answer.code == ediconn::kApproved;
  if (approved) {
    TransactionApproved(services.journal, slot, answer.approval_number, slot.answer);
  } else {
    TransactionDeclined(services.journal, slot, answer.code, slot.answer);
  }
  if (!approved) return 0;
  if (BuildCashReceipt(slot, answer.approval_number, request_code) != 1) {
    Log(services.log, "request " + std::to_string(request_code) +
                          " approved, but its printout does not fit: answered unprinted");
    return 0;
  }
  return 1;
}

}  // namespace

std::unique_ptr<CashReceiptNetwork> BindCashReceiptNetwork(const platform::Library& library) {
  const auto transact = reinterpret_cast<EdiCashReceiptFn>(library.Symbol("EdiCashReceipt"));
  const auto answer = reinterpret_cast<EdiCashAnswerFn>(library.Symbol("EdiCashAnswer"));
  if (transact == nullptr || answer == nullptr) {
    WriteModuleLog(kLogTag, library.path() + " lacks EdiCashReceipt or EdiCashAnswer");
    return nullptr;
  }
  return std::make_unique<LibraryCashReceiptNetwork>(transact, answer);
}

CashReceiptNetwork* ModuleCashReceiptNetwork() {
  static std::mutex mutex;
  static std::unique_ptr<platform::Library> library;
  static std::unique_ptr<CashReceiptNetwork> network;
  std::lock_guard<std::mutex> lock(mutex);
  if (network != nullptr) return network.get();
  platform::Status error;
  std::unique_ptr<platform::Library> loaded = platform::Library::Load(kEdiconnLibraryName, &error);
  if (loaded == nullptr) {
    WriteModuleLog(kLogTag, std::string(kEdiconnLibraryName) + " not loaded: " + error.message());
    return nullptr;
  }
  network = BindCashReceiptNetwork(*loaded);
  if (network != nullptr) library = std::move(loaded);
  return network.get();
}

CashServer CashServerFromRegistry() {
  return CashServer{
      RegistryText(ediconn::kCashServerAddressValue, ediconn::kDefaultCashServerAddress),
      RegistryText(ediconn::kCashServerPortValue, ediconn::kDefaultCashServerPort)};
}

std::optional<CashRequestKind> CashKindOf(int request_code) {
  switch (request_code) {
    case 161:
      return CashRequestKind{162, ediconn::kApprovalMessageType, false};
    case 181:
      return CashRequestKind{182, ediconn::kApprovalMessageType, true};
    case 171:
      return CashRequestKind{172, ediconn::kCancellationMessageType, false};
    case 183:
      return CashRequestKind{184, ediconn::kCancellationMessageType, true};
    default:
      return std::nullopt;
  }
}

long long StoreCashRequest(RelaySlot& slot, const PosRequest& request,
                           const PharmacySettings& settings, const LogTarget& log) {
  // The request was split into fewer slots than a cash request may carry: split it again.
  const auto fields = protocol::FrameFields<kCashRequestFields>(request.frame);
  PaymentFields& payment = slot.payment;
  Store(payment.amount1, fields[kAmount1Field], "amount 1", log);
  Store(payment.amount2, fields[kAmount2Field], "amount 2", log);
  Store(payment.amount3, fields[kAmount3Field], "amount 3", log);
  payment.cash_usage_code.Set(fields[kUsageField] == kIncomeDeductionSelector ? kIncomeDeduction
                                                                              : kProofOfExpense);
  Store(payment.original_date, fields[kOriginalDateField], "original date", log);
  Store(payment.original_approval, fields[kOriginalApprovalField], "original approval", log);
  const std::string_view identification = fields[kIdentificationField].empty()
                                              ? fields[kSecondIdentificationField]
                                              : fields[kIdentificationField];
  Store(payment.identification, identification, "identification number", log);
  Store(payment.program_code,
        fields[fields.count <= kShortCashRequestFields ? kShortProgramCodeField
                                                       : kLongProgramCodeField],
        "program code", log);
  Store(payment.terminal_id, settings.terminal_id, "terminal identifier", log);
  return AmountValue(payment.amount1.view()) + AmountValue(payment.amount2.view()) +
         AmountValue(payment.amount3.view());
}

CashCallTexts CashCallTextsFor(const CashRequestKind& kind, const PaymentFields& payment,
                               long long total, const PharmacySettings& settings,
                               const CashServer& server) {
  CashCallTexts texts;
  texts[0] = server.address;
  texts[1] = server.port;
  texts[2] = kind.message_type;
  texts[3] = settings.business_number;
  texts[5] = payment.identification.view();
  texts[6] = std::to_string(total);
  texts[7] = payment.amount3.view();
  if (kind.split) {
    texts[9] = payment.amount1.view();
    texts[10] = payment.amount2.view();
  }
  texts[11] = payment.cash_usage_code.view();
  texts[12] = payment.original_approval.view();
  texts[13] = payment.original_date.view();
  texts[14] = payment.program_code.view();
  return texts;
}

std::string CashAnswerFrame(int answer_code, const PaymentFields& payment, long long total,
                            const CashServerAnswer& answer) {
  const std::string total_text = std::to_string(total);
  std::vector<std::string_view> fields = {payment.terminal_id.view(),
                                          answer.code,
                                          answer.message,
                                          "",
                                          payment.identification.view(),
                                          answer.approval_number,
                                          total_text};
  fields.resize(fields.size() + kCashAnswerTrailingFields, "");
  const std::optional<std::string> body = protocol::MessageBody(answer_code, fields);
  // Every text is bounded by its room, so the frame always fits its length field.
  return protocol::BuildFrame(body.value_or(std::string()),
                              protocol::LengthRule::kCashReceiptAnswer,
                              protocol::kCashReceiptAnswerShape)
      .value_or(std::string());
}

CashReceiptServices ModuleCashReceiptServices() {
  CashReceiptServices services;
  services.network = ModuleCashReceiptNetwork();
  services.journal = InstalledPaymentJournal();
  services.server = CashServerFromRegistry();
  services.notify = &PostHostNotification;
  services.clock = &platform::SystemClock();
  services.log = ModuleLogTarget();
  return services;
}

PosRequestResult HandleCashReceipt(RelaySlot& slot, const PosRequest& request,
                                   const PharmacySettings& settings,
                                   const CashReceiptServices& services) {
  const std::optional<CashRequestKind> kind = CashKindOf(request.code);
  if (!kind || services.network == nullptr) {
    Log(services.log, kind ? "no card-network library (EDICONN.DLL): cash receipt refused"
                           : "request " + std::to_string(request.code) + " is no cash receipt");
    return RefuseTakenRequest(slot, request, kRefusedCashNotReady, settings);
  }
  const RelayAnswerer answerer{services.notify, services.clock, services.log};
  const long long total = StoreCashRequest(slot, request, settings, services.log);
  const PosRequestResult given_to_slot{.queued = true, .answer = {}};
  slot.journal_id.store(0, std::memory_order_relaxed);
  const JournalRequest journaled =
      JournalRequestFor(request.code, slot.payment, slot.payment.identification.view());
  if (AnswerRepeatFromJournal(services.journal, slot, journaled, answerer)) return given_to_slot;
  BeginTransaction(services.journal, slot, journaled);

  const int approved = Transact(slot, *kind, request.code, total, settings, services);
  if (approved == 1 && !PrintsItself(settings.program_index)) {
    // The answer waits in the answer area until the terminal reports the print done.
    if (QueuePrintBody(slot, PrintMessageBody(PlacedCashReceipt(slot))) == 1) {
      return given_to_slot;
    }
    Log(services.log, "request " + std::to_string(request.code) +
                          " approved, but its printout was not queued: answered unprinted");
  }
  // Answered here: nothing later completes this request.
  const std::string answer = slot.answer;
  FinishTransaction(services.journal, slot, answer, /*printed=*/false, answerer);
  return given_to_slot;
}

PosRequestResult CashReceiptRequest(RelaySlot& slot, const PosRequest& request,
                                    const PharmacySettings& settings) {
  return HandleCashReceipt(slot, request, settings, ModuleCashReceiptServices());
}

}  // namespace hub::payments
