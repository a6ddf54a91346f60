#include "helvar/card_cancel.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>

#include "companions/util/ordella_util.h"
#include "helvar/cancel_transaction.h"
#include "helvar/helvar_log.h"
#include "helvar/pos_items.h"
#include "helvar/reply_writer.h"
#include "helvar/work_context.h"
#include "protocol/frame.h"
#include "retalo/ordella_retalo.h"
#include "stores/local_stores.h"

namespace helvar {
namespace {

constexpr size_t kCardDataField = 4, kApprovalField = 5, kPrescriptionAmountField = 6,
                 kOtcAmountField = 7, kOtcTaxField = 8, kInstalmentField = 11,
                 kPaymentKindField = 15;

constexpr int kMessageCode = 157;
constexpr int kLineWidth = 16;
constexpr std::string_view kApproved = "0000";
constexpr std::string_view kCardCode = "063";
constexpr std::string_view kCashReceiptCode = "183";

std::atomic<CardNetwork*>& Installed() {
  static std::atomic<CardNetwork*> network{nullptr};
  return network;
}

// What each kind of cancellation shows at the terminal.
struct KindTexts {
  bool card;
  const char* approved;  // nullptr: an empty reply
  const char* failed;
};
std::optional<KindTexts> TextsOf(std::string_view kind) {
  if (kind == "C") return KindTexts{true, nullptr, "   카드  취소    취소 연동 실패 "};
  if (kind == "H" || kind == "B") {
    return KindTexts{false, "   현금영수증    취소 승인 성공 ", "  현금영수증     취소 연동 실패 "};
  }
  return std::nullopt;
}

// The cancellation approved at the network, recorded in the pharmacy database. When the
// database cannot be reached it is stored as a cancellation record (850 of the same terminal),
// so that the retry records it without asking the network a second time.
void RecordApprovedCancellation(const Request& request) {
  const CancelRequest cancel = ReadCancelRequest(request.data);
  const int result =
      MakeCancelTrans(cancel.approval_number.c_str(), cancel.approval_date.c_str(), cancel.kind);
  if (result == kRetaloOk) return;
  WriteLog("SaveTransactionCancle Error Code", "[ " + std::to_string(result) + " ]");
  if (result != kRetaloUnreachable) return;
  const int code = protocol::kHelvarCancel + (request.code - protocol::kHelvarCancelWithMessage);
  PendingRetries().fetch_add(1, std::memory_order_acq_rel);
  if (stores::StoreRequest(code, request.data, request.aux1) != 1) {
    WriteLog("Helvar", "request " + std::to_string(code) + " could not be stored");
  }
}

}  // namespace

void InstallCardNetwork(CardNetwork* network) { Installed().store(network); }
CardNetwork* InstalledCardNetwork() { return Installed().load(); }

std::optional<CardRequest> CancelRequestTexts(std::string_view record, std::string_view track) {
  auto field = [&](size_t index) { return SaleRecordField(record, index); };
  const std::string kind = field(kPaymentKindField);
  const std::optional<KindTexts> texts = TextsOf(kind);
  if (!texts) return std::nullopt;
  CardRequest request;
  request[0] = kCardListenerHost;
  request[1] = kCardListenerPort;
  request[2] = texts->card ? kCardCode : kCashReceiptCode;
  request[3] = field(kPrescriptionAmountField);
  request[4] = field(kOtcAmountField);
  request[5] = field(kOtcTaxField);
  request[6] = texts->card ? field(kInstalmentField) : (kind == "H" ? "01" : "02");
  request[7] = ReadCancelRequest(record).approval_date;
  request[8] = field(kApprovalField);
  if (!texts->card) request[9] = field(kCardDataField);
  if (texts->card) request[12] = track;
  request[24] = "200";
  return request;
}

std::string TerminalMessageFrame(std::string_view message) {
  const std::string source(message);
  std::string lines;
  size_t at = 0;
  std::array<char, kLineWidth + 1> line{};
  while (at < source.size()) {
    const int used = UtilNextLine(kLineWidth, source.c_str() + at, line.data());
    if (used <= 0) break;
    at += static_cast<size_t>(used);
    std::string padded(line.data());
    padded.resize(std::max(padded.size(), static_cast<size_t>(kLineWidth)), ' ');
    lines += padded;
  }
  const std::array<std::string_view, 3> fields = {"", lines, ""};
  const std::optional<std::string> body = protocol::MessageBody(kMessageCode, fields);
  // Frame 157 counts its lines as the guidance print does: lines + 11 with the routing prefix.
  return protocol::BuildFrame(*body, protocol::LengthRule::kGuidanceSheet,
                              protocol::kTerminalShape, lines.size())
      .value_or(std::string());
}

int CancelAtCardNetwork(CWorkContext& /*context*/, const Request& request) {
  const std::string kind = SaleRecordField(request.data, kPaymentKindField);
  const std::optional<KindTexts> texts = TextsOf(kind);
  if (!texts) {
    // A prescription payment ("P") has nothing at the card network; any other kind is unknown.
    if (kind != "P") WriteLog("CancelAtCardNetwork", "unknown payment kind [" + kind + "]");
    WriteReply("", request.code);
    return kHandlerDone;
  }
  CardNetwork* network = InstalledCardNetwork();
  std::optional<CardNetworkAnswer> answer;
  if (network == nullptr) {
    WriteLog("CancelAtCardNetwork", "no card-network library");
  } else {
    std::optional<std::string> track;
    if (texts->card) {
      track = network->ReadCardTrack(kCardListenerHost, kCardListenerPort,
                                     Cp949("TRACK2 정보받기 오늘도 좋은하루!"));
    }
    if (!texts->card || track) {
      answer = network->Exchange(*CancelRequestTexts(request.data, track.value_or("")));
    }
  }
  std::string message;
  if (!answer) {
    message = Cp949(texts->failed);
  } else if (answer->code == kApproved) {
    RecordApprovedCancellation(request);
    if (texts->approved != nullptr) message = Cp949(texts->approved);
  } else {
    message = answer->message;
  }
  WriteReply(message.empty() ? std::string() : TerminalMessageFrame(message), request.code);
  return kHandlerDone;
}

}  // namespace helvar
