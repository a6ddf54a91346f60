#include "hub/payments/card_payment.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "hub/core/module_state.h"
#include "hub/payments/receipt_fields.h"
#include "hub/payments/module_request.h"
#include "hub/payments/receipts.h"
#include "hub/payments/signature.h"
#include "protocol/frame.h"
#include "protocol/message_codes.h"

namespace hub::payments {

using namespace protocol;
namespace {

constexpr const char* kLogTag = "CardPayment";

constexpr std::array<int, 4> kCardCodes = {51, 61, 63, 71};
constexpr std::array<int, 4> kCashCodes = {161, 171, 181, 183};

constexpr int kAskCardDataCode = 11;
constexpr int kAskTotalCode = 41;

// Program codes by pharmacy program index 0-16.
constexpr std::array<std::string_view, 17> kProgramCodes = {
    "200", "200", "202", "206", "210", "203", "215", "201", "213",
    "209", "",    "217", "",    "204", "220", "",    "222"};

// Request fields and where they go.
constexpr size_t kAmount1Field = 1;
constexpr size_t kAmount2Field = 2;
constexpr size_t kAmount3Field = 3;
constexpr size_t kInstallmentField = 4;
constexpr size_t kOriginalDateField = 5;
constexpr size_t kOriginalApprovalField = 6;
constexpr size_t kCardDataField = 10;
// 012: the card data.
constexpr size_t kTerminalCardDataField = 3;

constexpr size_t kInstallmentWidth = 2;

std::atomic<SignPadObjectsApprovalFn> installed_sign_pad_objects{nullptr};

template <size_t N>
bool IsOneOf(int code, const std::array<int, N>& codes) {
  return std::find(codes.begin(), codes.end(), code) != codes.end();
}

std::string Trimmed(std::string_view text) {
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  const size_t last = text.find_last_not_of(' ');
  return std::string(text.substr(first, last - first + 1));
}

// The installment months right-aligned in two characters with zero fill; nullopt when longer.
std::optional<std::string> InstallmentMonths(std::string_view months) {
  if (months.size() > kInstallmentWidth) return std::nullopt;
  return std::string(kInstallmentWidth - months.size(), '0') + std::string(months);
}

// The frame in the send buffer, handed to terminal 0 (send state 1). False when it does not fit.
bool QueueForTerminal(RelaySlot& slot, std::string_view frame) {
  if (frame.empty() || frame.size() > slot.send_buffer.size()) return false;
  std::memcpy(slot.send_buffer.data(), frame.data(), frame.size());
  slot.byte_count.store(static_cast<int32_t>(frame.size()), std::memory_order_relaxed);
  slot.MarkQueued();
  return true;
}

// Stores the request's fields; the name of the first field too long for its room, or nullopt.
std::optional<std::string_view> StoreRequestFields(PaymentFields& payment,
                                                   const PosRequest& request,
                                                   const PharmacySettings& settings) {
  const auto& f = request.fields;
  if (!payment.amount1.Set(f[kAmount1Field])) return "amount 1";
  if (!payment.amount2.Set(f[kAmount2Field])) return "amount 2";
  if (!payment.amount3.Set(f[kAmount3Field])) return "amount 3";
  const std::optional<std::string> months = InstallmentMonths(f[kInstallmentField]);
  if (!months || !payment.installment_months.Set(*months)) return "installment months";
  if (!payment.original_date.Set(f[kOriginalDateField])) return "original date";
  if (!payment.original_approval.Set(f[kOriginalApprovalField])) return "original approval";
  if (!payment.card_data.Set(f[kCardDataField])) return "card data";
  if (!payment.terminal_id.Set(settings.terminal_id)) return "terminal identifier";
  if (settings.program_index < 0 ||
      static_cast<size_t>(settings.program_index) >= kProgramCodes.size()) {
    WriteModuleLog(kLogTag, "pharmacy program index " + std::to_string(settings.program_index) +
                                " has no program code: sent without one");
  }
  payment.program_code.Set(ProgramCode(settings.program_index));
  return std::nullopt;
}

// The module path's approver: the loop's library bound for this approval.
CardApprover ModuleApprover(platform::Library* sign_pad, ModuleApprovalSettings settings) {
  std::shared_ptr<SignPadModule> pad;
  if (sign_pad != nullptr) pad = BindSignPadModule(*sign_pad);
  CardApprover approver;
  approver.approve = [pad, settings = std::move(settings)](
                         std::string_view frame, int request_code, const PaymentFields& payment) {
    return ModuleApproval(pad.get(), frame, request_code, payment, settings);
  };
  if (pad != nullptr) approver.confirm = [pad] { ConfirmModuleApproval(*pad); };
  return approver;
}

// An approval that cannot run: a card request fails with "9999", anything else has no card
// request to fail.
CardApprover FailingApprover(std::string reason) {
  CardApprover approver;
  approver.approve = [reason = std::move(reason)](std::string_view, int request_code,
                                                  const PaymentFields&) {
    ModuleApprovalResult outcome;
    if (!IsCardRequest(request_code)) {
      outcome.result = kNoCardRequest;
      return outcome;
    }
    WriteModuleLog(kLogTag, reason);
    SetModuleFailure(outcome.record, kPaymentFailed);
    return outcome;
  };
  return approver;
}

// The pending request the terminal's answer belongs to: a card or cash request while the slot is
// busy with it (after a refused print the slot is idle and its code stale); 0 when none.
int PendingPayment(const RelaySlot& slot) {
  if (slot.send_state.load(std::memory_order_acquire) == RelaySlot::kIdle) return 0;
  const int code = slot.pending_request_code.load(std::memory_order_relaxed);
  return IsPaymentRequest(code) ? code : 0;
}

// 012 for a pending request: the card data, then the total.
void TakeCardData(const PaymentStep& step, std::string_view frame) {
  RelaySlot& slot = *step.slot;
  const std::string_view card_data = FrameFields<kTerminalCardDataField + 1>(frame)[kTerminalCardDataField];
  if (!slot.payment.card_data.Set(card_data)) {
    WriteModuleLog(kLogTag, "card data from the terminal longer than its room: request refused");
    const int code = slot.pending_request_code.load(std::memory_order_relaxed);
    const std::string refusal = RefusalFrame(code, kRefusedFieldTooLong, step.settings);
    TransactionDeclined(step.journal, slot, kRefusalResponseCode, refusal);
    FinishTransaction(step.journal, slot, refusal, false, step.answerer);
    return;
  }
  QueueForTerminal(slot, CardTerminalFrame(slot.payment));
}

// 152 for a pending request: the merchant copy, or the answer.
void Printed(const PaymentStep& step) {
  RelaySlot& slot = *step.slot;
  if (slot.merchant_copy_pending.load(std::memory_order_relaxed)) {
    platform::Clock& clock = step.answerer.clock ? *step.answerer.clock : platform::SystemClock();
    clock.Sleep(kMerchantCopyPauseMs);
    slot.merchant_copy_pending.store(false, std::memory_order_relaxed);
    QueueForTerminal(slot, slot.merchant_copy.view());
    return;
  }
  const std::string answer = slot.answer;
  FinishTransaction(step.journal, slot, answer, !answer.empty(), step.answerer);
}

}  // namespace

bool IsCardRequest(int request_code) { return IsOneOf(request_code, kCardCodes); }

bool IsPaymentRequest(int request_code) {
  return IsCardRequest(request_code) || IsOneOf(request_code, kCashCodes);
}

std::string_view ProgramCode(int program_index) {
  if (program_index < 0 || static_cast<size_t>(program_index) >= kProgramCodes.size()) return {};
  return kProgramCodes[static_cast<size_t>(program_index)];
}

long long PaymentTotal(const PaymentFields& payment) {
  return AmountValue(payment.amount1.view()) + AmountValue(payment.amount2.view()) +
         AmountValue(payment.amount3.view());
}

std::string CardTerminalFrame(const PaymentFields& payment) {
  const std::string total = std::to_string(PaymentTotal(payment));
  const bool card_known = payment.card_data.view().size() > kCardDataKnownAbove;
  const std::array<std::string_view, 3> fields = {"", card_known ? std::string_view(total) : "",
                                                  ""};
  const std::optional<std::string> body =
      MessageBody(card_known ? kAskTotalCode : kAskCardDataCode, fields);
  return BuildFrame(body.value(), LengthRule::kNormal, kTerminalShape).value_or(std::string());
}

std::string PaymentAnswerFrame(int request_code, std::string_view terminal_id,
                               const ApprovalRecord& record, long long total) {
  const std::optional<std::string_view> answer_code = ModuleAnswerCode(request_code);
  if (!answer_code) return {};
  const std::string total_text = std::to_string(total);
  const std::array<std::string, 10> taken = {
      std::string(terminal_id),
      Trimmed(RecordText(record, kResponseCode)),
      Trimmed(RecordText(record, kResponseMessage)),
      Trimmed(RecordText(record, kTransactionNumber)),
      Trimmed(RecordText(record, kCardNumber)),
      Trimmed(RecordText(record, kApprovalNumber)),
      total_text,
      Trimmed(RecordText(record, kMerchantNumber)),
      Trimmed(RecordText(record, kIssuerName)),
      Trimmed(RecordText(record, kAcquirerName))};
  std::vector<std::string_view> fields(taken.begin(), taken.end());
  fields.resize(fields.size() + kAnswerTrailingFields);
  std::string body(*answer_code);
  for (std::string_view field : fields) {
    body.push_back(kFs);
    body.append(field);
  }
  return BuildFrame(body, LengthRule::kPaymentAnswer, kPaymentAnswerShape).value_or(std::string());
}

CardRequestServices CardRequestServices::ForModule() {
  return CardRequestServices{.journal = InstalledPaymentJournal(),
                             .answerer = RelayAnswerer::ForModule()};
}

PosRequestResult TakeCardRequest(RelaySlot& slot, const PosRequest& request,
                                 const PharmacySettings& settings,
                                 const CardRequestServices& services) {
  if (const std::optional<std::string_view> too_long =
          StoreRequestFields(slot.payment, request, settings)) {
    WriteModuleLog(kLogTag, "request " + std::to_string(request.code) + ": " +
                                std::string(*too_long) + " longer than its room");
    return RefuseTakenRequest(slot, request, kRefusedFieldTooLong, settings);
  }
  const JournalRequest journal_request =
      JournalRequestFor(request.code, slot.payment, slot.payment.card_data.view());
  if (AnswerRepeatFromJournal(services.journal, slot, journal_request, services.answerer)) {
    return PosRequestResult{.queued = true, .answer = {}};
  }
  const std::string frame = CardTerminalFrame(slot.payment);
  if (frame.empty()) return RefuseTakenRequest(slot, request, kRefusedTooLong, settings);
  BeginTransaction(services.journal, slot, journal_request);
  QueueForTerminal(slot, frame);
  return PosRequestResult{.queued = true, .answer = {}};
}

PosRequestResult CardRequest(RelaySlot& slot, const PosRequest& request,
                             const PharmacySettings& settings) {
  return TakeCardRequest(slot, request, settings, CardRequestServices::ForModule());
}

void InstallSignPadObjectsApproval(SignPadObjectsApprovalFn approval) {
  installed_sign_pad_objects.store(approval, std::memory_order_release);
}

SignPadObjectsApprovalFn InstalledSignPadObjectsApproval() {
  return installed_sign_pad_objects.load(std::memory_order_acquire);
}

CardApprover ApproverForPath(const PharmacySettings& settings, platform::Library* sign_pad,
                             const ModuleApprovalSettings& module_settings) {
  if (settings.payment_path == 0 || settings.payment_path == 1) {
    return ModuleApprover(sign_pad, module_settings);
  }
  if (settings.payment_path == kSignPadObjectsPath) {
    const SignPadObjectsApprovalFn objects = InstalledSignPadObjectsApproval();
    if (objects == nullptr) return FailingApprover("no approval for payment path 2");
    CardApprover approver;
    approver.approve = [objects, settings](std::string_view frame, int request_code,
                                           const PaymentFields& payment) {
      return objects(frame, request_code, payment, settings);
    };
    return approver;
  }
  return FailingApprover("payment path " + std::to_string(settings.payment_path) +
                         " is none of 0, 1 and 2: no approval");
}

int TerminalAnswer(const PaymentStep& step, std::string_view frame) {
  RelaySlot& slot = *step.slot;
  const int code = MessageCode(frame).value_or(0);
  slot.last_terminal_code.store(code, std::memory_order_relaxed);
  if (PendingPayment(slot) != 0) {
    switch (code) {
      case kMsgCardData:
        TakeCardData(step, frame);
        return 0;
      case kMsgSignature:
        return 1;
      case kMsgPrinted:
        Printed(step);
        return 0;
      default:
        return 0;
    }
  }
  switch (code) {
    case kMsgCardData:
      step.answerer.Answer(slot, frame);
      return 0;
    case kMsgSignature:
      return 1;
    case kMsgPrinted:
    case kMsgPaymentAnswer844:
      step.answerer.Answer(slot, {});
      return 0;
    default:
      return 0;
  }
}

void ApprovalStep(const PaymentStep& step, std::string_view frame, const CardApprover& approver) {
  RelaySlot& slot = *step.slot;
  const int pending = PendingPayment(slot);
  const int request_code = IsCardRequest(pending) ? pending : 0;
  if (request_code != 0) TransactionSent(step.journal, slot);
  const PaymentFields payment = slot.payment;
  const ModuleApprovalResult outcome = approver.approve(frame, request_code, payment);
  if (request_code == 0 || outcome.result == kNoCardRequest) {
    // Only the signature was stored: the terminal's frame goes back as it came.
    step.answerer.Answer(slot, frame);
    return;
  }
  const std::string answer = PaymentAnswerFrame(request_code, payment.terminal_id.view(),
                                                outcome.record, PaymentTotal(payment));
  slot.answer = answer;
  if (outcome.result != kModuleApproved) {
    TransactionDeclined(step.journal, slot, Trimmed(RecordText(outcome.record, kResponseCode)),
                        answer);
    FinishTransaction(step.journal, slot, answer, false, step.answerer);
    return;
  }
  TransactionApproved(step.journal, slot, Trimmed(RecordText(outcome.record, kApprovalNumber)),
                      answer);
  const int built = BuildCardReceipt(slot, outcome.record, step.settings);
  if (approver.confirm) approver.confirm();
  if (built != 1) {
    WriteModuleLog(kLogTag, "approved, but the card receipt could not be built: answered unprinted");
    FinishTransaction(step.journal, slot, answer, false, step.answerer);
    return;
  }
  slot.merchant_copy_pending.store(step.settings.second_copy, std::memory_order_relaxed);
  QueueForTerminal(slot, slot.customer_copy.view());
}

void HandlePaymentFrame(TerminalContext& context, MessageRecord& record) {
  const std::atomic<RelaySlot*>& slots =
      context.relay_slot != nullptr ? *context.relay_slot : Module().relay_slot;
  RelaySlot* slot = slots.load(std::memory_order_acquire);
  if (slot == nullptr) {
    WriteFrameLog(context.log, kLogTag, "no relay slot: payment frame dropped " + record.frame);
    return;
  }
  PaymentStep step;
  step.slot = slot;
  step.journal = InstalledPaymentJournal();
  step.answerer.notify = context.notify ? context.notify : &PostHostNotification;
  step.answerer.clock = context.clock != nullptr ? context.clock : &platform::SystemClock();
  step.answerer.log = context.log;
  const char* property_record = PropertyRecord();
  step.settings = PharmacySettingsFrom(property_record);
  if (TerminalAnswer(step, record.frame) != 1) return;
  ApprovalStep(step, record.frame,
               ApproverForPath(step.settings, context.sign_pad,
                               ModuleApprovalSettingsFrom(property_record)));
}

}  // namespace hub::payments
