#include "protocol/testing/gateway_server_sim.h"

#include <array>
#include <charconv>
#include <chrono>
#include <ctime>
#include <fstream>
#include <optional>
#include <utility>

#include "companions/kiccpad/kicc_protocol.h"
#include "companions/signpad/signpad_protocol.h"
#include "companions/tavenorvan/van_link.h"
#include "hub/payments/approval_record.h"
#include "platform/clock.h"
#include "platform/registry.h"
#include "platform/socket.h"
#include "platform/text.h"
#include "protocol/card_mask.h"
#include "protocol/frame.h"

namespace gateway_sim {
namespace {

constexpr int kQuietMs = 300;  // a request without its own framing ends after this pause
constexpr size_t kReceiptAcks = 5;
constexpr int kRegistrationAnswerCode = 851;
constexpr size_t kRegistrationVersionField = 10;

// True when `bytes` hold a whole request of the port's framing.
bool Complete(PortKind kind, std::string_view bytes) {
  if (kind == PortKind::kBarcode) return !bytes.empty() && bytes.back() == protocol::kEtx;
  if (kind == PortKind::kRegistration || kind == PortKind::kGuidance) {
    const std::optional<int> length =
        protocol::ReadDecimal(bytes, protocol::kLengthOffset, protocol::kServerLengthDigits);
    return length && bytes.size() >= static_cast<size_t>(*length);
  }
  // A terminal frame: complete once its check byte follows the counted bytes.
  const std::optional<int> length =
      protocol::ReadDecimal(bytes, protocol::kLengthOffset, protocol::kLengthDigits);
  return length && bytes.size() > static_cast<size_t>(*length);
}

bool SendAll(int client, std::string_view bytes) {
  return platform::SendAll(client, bytes, platform::Deadline::Never()).ok();
}

std::string Frame(int code, std::vector<std::string_view> fields) {
  return protocol::BuildMessage(code, fields).value_or(std::string());
}

// The VAN answer record's fixed texts.
constexpr std::string_view kVanApproved = "0000";
constexpr std::string_view kVanVoucher = "0001";
constexpr std::string_view kVanIssuer = "SIM ISSUER";
constexpr std::string_view kVanMerchant = "000123456789012";
constexpr std::string_view kVanAcquirer = "SIM ACQUIRER";
constexpr std::string_view kVanApprovedMessage = "\xC1\xA4\xBB\xF3\xBD\xC2\xC0\xCE";  // "정상승인"

void PutField(std::string& record, hub::payments::RecordField field, std::string_view text) {
  record.replace(field.offset, field.width, platform::FixedWidth(text, field.width));
}

// Now as year, month, day, hour, minute, second, two digits each.
std::string LocalStamp() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  std::array<char, 16> stamp{};
  std::strftime(stamp.data(), stamp.size(), "%Y%m%d%H%M%S", &local);
  return std::string(stamp.data()).substr(2);  // the record has room for two-digit years
}

// The card number of the request's card data (the digits before a track separator), masked as
// a receipt shows it.
std::string AnswerCardNumber(std::string_view card_data) {
  const size_t digits = std::min(card_data.find_first_not_of("0123456789"), card_data.size());
  return protocol::MaskCardData(card_data.substr(0, digits));
}

}  // namespace

std::string_view PortName(PortKind kind) {
  switch (kind) {
    case PortKind::kSale:
      return "sale";
    case PortKind::kRegistration:
      return "registration";
    case PortKind::kPassThrough:
      return "pass";
    case PortKind::kBarcode:
      return "barcode";
    case PortKind::kVan:
      return "van";
    case PortKind::kSignPad:
      return "signpad";
    case PortKind::kGuidance:
      return "guidance";
    case PortKind::kVanLink:
      return "vanlink";
  }
  return "?";
}

bool ParseBehaviour(std::string_view text, PortOptions* options) {
  constexpr std::string_view kSlow = "slow:";
  if (text == "answer") {
    options->behaviour = Behaviour::kAnswer;
  } else if (text == "silent") {
    options->behaviour = Behaviour::kSilent;
  } else if (text == "refuse") {
    options->behaviour = Behaviour::kRefuse;
  } else if (text.starts_with(kSlow)) {
    const std::string_view ms = text.substr(kSlow.size());
    int delay = 0;
    const auto [end, error] = std::from_chars(ms.data(), ms.data() + ms.size(), delay);
    if (ms.empty() || error != std::errc() || end != ms.data() + ms.size() || delay < 0) {
      return false;
    }
    options->behaviour = Behaviour::kSlow;
    options->delay_ms = delay;
  } else {
    return false;
  }
  return true;
}

void StaySilent(int client, const platform::WakeEvent& stopping) {
  std::array<char, 256> ignored;
  size_t got = 0;
  while (platform::ReceiveSome(client, ignored.data(), ignored.size(), platform::Deadline::Never(),
                               &got, &stopping)
             .ok()) {
  }
}

std::string SaleAnswer(int code) { return Frame(code, {"0000"}); }

std::string RegistrationAnswer(std::string_view terminal_version) {
  std::vector<std::string_view> fields(kRegistrationVersionField, "");
  fields[0] = "0000";
  fields[kRegistrationVersionField - 1] = terminal_version;
  return Frame(kRegistrationAnswerCode, fields);
}

std::string PassThroughGreeting() { return "\x02READY\x03"; }

std::string PassThroughAnswer(int code, int which) {
  return Frame(code, {which == 1 ? "ANSWER1" : "ANSWER2"});
}

std::string PassThroughReceiptReply() { return std::string(1, protocol::kAck); }

std::string BarcodeAnswer(std::string_view barcode, const KnownItem* item) {
  // STX, "XX", a six-digit length, "CRE835" and a ten-character business number: the answer
  // code starts at position 25.
  std::string head = std::string(1, protocol::kStx) + "XX000000CRE835" + std::string(10, ' ');
  head += item != nullptr ? kBarcodeKnown : kBarcodeUnknown;
  std::string answer = head;
  const KnownItem none;
  const KnownItem& known = item != nullptr ? *item : none;
  for (std::string_view field :
       {barcode, std::string_view(known.maker), std::string_view(known.product),
        std::string_view(known.purchase_price), std::string_view(known.sale_price)}) {
    answer += protocol::kFs;
    answer += field;
  }
  answer += protocol::kFs;
  answer += protocol::kEtx;
  const std::string length = std::to_string(answer.size());
  answer.replace(3 + 6 - length.size(), length.size(), length);
  return answer;
}

bool ParseVanVerdict(std::string_view text, VanAnswer* answer) {
  if (text == "approve") {
    answer->verdict = VanVerdict::kApprove;
  } else if (text == "decline") {
    answer->verdict = VanVerdict::kDecline;
  } else if (text == "blank") {
    answer->verdict = VanVerdict::kBlankApproval;
  } else {
    return false;
  }
  return true;
}

bool ParseSignPadVerdict(std::string_view text, SignPadAnswer* answer) {
  if (text != "approve" && text != "decline") return false;
  answer->approve = text == "approve";
  return true;
}

std::string VanAnswerRecord(const VanAnswer& answer, std::string_view request_record) {
  using namespace hub::payments;
  static_assert(kApprovalRecordSize == kicc::kAnswerRecordSize);
  std::string record(kicc::kAnswerRecordSize, ' ');
  const std::string stamp = LocalStamp();
  const bool declined = answer.verdict == VanVerdict::kDecline;
  PutField(record, kResponseCode, declined ? answer.decline_code : kVanApproved);
  PutField(record, kVoucherNumber, kVanVoucher);
  PutField(record, kTransactionDateTime, stamp);
  PutField(record, kApprovalNumber,
           answer.verdict == VanVerdict::kApprove ? answer.approval_number : "");
  PutField(record, kIssuerName, kVanIssuer);
  PutField(record, kMerchantNumber, kVanMerchant);
  PutField(record, kAcquirerName, kVanAcquirer);
  PutField(record, kResponseMessage, declined ? answer.decline_message : kVanApprovedMessage);
  PutField(record, kTransactionNumber, stamp);
  PutField(record, kCardNumber, AnswerCardNumber(kicc::FieldOf(request_record, kicc::kCardData)));
  return record;
}

std::unique_ptr<GatewayServerSimulator> GatewayServerSimulator::Start(Options options,
                                                                      std::string* error) {
  std::unique_ptr<GatewayServerSimulator> sim(new GatewayServerSimulator(std::move(options)));
  const std::array<std::pair<PortKind, PortOptions>, std::size(kPortKinds)> ports = {
      std::pair{PortKind::kSale, sim->options_.sale},
      std::pair{PortKind::kRegistration, sim->options_.registration},
      std::pair{PortKind::kPassThrough, sim->options_.pass_through},
      std::pair{PortKind::kBarcode, sim->options_.barcode},
      std::pair{PortKind::kVan, sim->options_.van},
      std::pair{PortKind::kSignPad, sim->options_.signpad},
      std::pair{PortKind::kGuidance, sim->options_.guidance},

std::pair{PortKind::kVanLink, sim->options_.van_link}};
  for (const auto& [kind, port_options] : ports) {
    auto listener = std::make_unique<Listener>();
    listener->kind = kind;
    listener->options = port_options;
    if (!sim->Listen(listener.get(), error)) return nullptr;
    sim->listeners_.push_back(std::move(listener));
  }
  for (auto& listener : sim->listeners_) {
    Listener* served = listener.get();
    served->thread = std::thread([sim = sim.get(), served] { sim->Serve(served); });
  }
  return sim;
}

GatewayServerSimulator::~GatewayServerSimulator() {
  stopping_.Signal();
  for (auto& listener : listeners_) {
    if (listener->socket) listener->socket->Cancel();
  }
  for (auto& listener : listeners_) {
    if (listener->thread.joinable()) listener->thread.join();
  }
}

bool GatewayServerSimulator::Listen(Listener* listener, std::string* error) {
  constexpr int kBacklog = 8;
  const platform::Status listening = platform::TcpListener::Listen(
      options_.address, static_cast<uint16_t>(listener->options.port), kBacklog,
      &listener->socket);
  if (!listening.ok() && error != nullptr) {
    *error = "listening for the " + std::string(PortName(listener->kind)) +
             " port failed: " + listening.message();
  }
  return listening.ok();
}

void GatewayServerSimulator::Serve(Listener* listener) {
  for (;;) {
    platform::UniqueFd client;
    const platform::Status accepted =
        listener->socket->Accept(platform::Deadline::Never(), &client);
    if (accepted.code() == platform::StatusCode::kCancelled) return;
    if (!accepted.ok()) continue;
    if (listener->options.behaviour != Behaviour::kRefuse) Converse(*listener, client.get());
    platform::CloseConnection(std::move(client));
  }
}

void GatewayServerSimulator::Converse(const Listener& listener, int client) {
  if (listener.kind == PortKind::kVan) return ConverseVan(listener, client);
  if (listener.kind == PortKind::kSignPad) return ConverseSignPad(listener, client);
  if (listener.kind == PortKind::kVanLink) return ConverseVanLink(listener, client);
  const PortKind kind = listener.kind;
  const bool silent = listener.options.behaviour == Behaviour::kSilent;
  const int delay = listener.options.behaviour == Behaviour::kSlow ? listener.options.delay_ms : 0;
  std::string request;
  if (kind == PortKind::kPassThrough && !silent &&
      !(Pause(delay) && SendAll(client, PassThroughGreeting()))) {
    return;
  }
  if (!ReadRequest(kind, client, &request)) return;
  const int code = protocol::MessageCode(request).value_or(0);
  const std::string barcode(protocol::SplitFields<2>(request, protocol::kFs)[1]);
  const std::string guidance =
      kind == PortKind::kGuidance ? GuidanceAnswer(options_.guidance_service, request) : "";
  Record(kind, std::move(request));
  if (silent) {
    // Keep the connection open without a word until the client gives up.
    std::string ignored;
    while (ReadRequest(kind, client, &ignored)) {
    }
    return;
  }
  switch (kind) {
    case PortKind::kSale:
      if (Pause(delay)) SendAll(client, SaleAnswer(code));
      break;
    case PortKind::kRegistration:
      if (Pause(delay)) SendAll(client, RegistrationAnswer(options_.terminal_version));
      break;
    case PortKind::kPassThrough: {
      if (!SendAll(client, PassThroughAnswer(code, 1)) || !Pause(kAnswerGapMs) ||
          !SendAll(client, PassThroughAnswer(code, 2))) {
        break;
      }
      std::string receipt;
      if (!ReadRequest(kind, client, &receipt)) break;
      const bool confirmed = receipt == std::string(kReceiptAcks, protocol::kAck);
      Record(kind, std::move(receipt));
      if (confirmed) SendAll(client, PassThroughReceiptReply());
      break;
    }
    case PortKind::kBarcode: {
      const auto item = options_.items.find(barcode);
      if (Pause(delay)) {
        SendAll(client, BarcodeAnswer(barcode, item == options_.items.end() ? nullptr : &item->second));
      }
      break;
    }
    case PortKind::kGuidance:
      if (!Pause(delay)) break;
      // A short answer ends with the connection, before the length it announced.
      SendAll(client, options_.guidance_service.short_answer
                          ? std::string_view(guidance).substr(0, guidance.size() / 2)
                          : std::string_view(guidance));
      break;
    case PortKind::kVan:      // served by ConverseVan
    case PortKind::kSignPad:  // served by ConverseSignPad
    case PortKind::kVanLink:  // served by ConverseVanLink
      break;
  }
}

void GatewayServerSimulator::ConverseVan(const Listener& listener, int client) {
  kicc::Message message;
  if (!kicc::ReceiveMessage(client, platform::Deadline::Never(), &message, &stopping_).ok()) {
    return;
  }
  const kicc::MessageKind kind = message.kind;
  std::string whole = kicc::EncodeMessage(kind, message.payload).value_or(std::string());
  Record(PortKind::kVan, std::move(whole));
  if (!AwaitAnswerTurn(listener, client)) return;
  std::optional<std::string> reply;
  if (kind == kicc::MessageKind::kApprovalRequest) {
    const std::optional<kicc::ApprovalRequest> request =
        kicc::ParseApprovalRequest(message.payload);
    if (!request) return;  // not a request: the connection ends without an answer
    reply = kicc::EncodeMessage(kicc::MessageKind::kApprovalAnswer,
                                VanAnswerRecord(options_.van_answer, request->record));
  } else if (kind == kicc::MessageKind::kConfirmation) {
    reply = kicc::EncodeMessage(kicc::MessageKind::kConfirmationTaken, "");
  }
  if (reply) SendAll(client, *reply);
}

bool GatewayServerSimulator::AwaitAnswerTurn(const Listener& listener, int client) const {
  if (listener.options.behaviour == Behaviour::kSilent) {
    StaySilent(client, stopping_);
    return false;
  }
  return listener.options.behaviour != Behaviour::kSlow || Pause(listener.options.delay_ms);
}

void GatewayServerSimulator::ConverseSignPad(const Listener& listener, int client) {
  signpad::Message message;
  if (!signpad::ReceiveMessage(client, platform::Deadline::Never(), &message, &stopping_).ok()) {
    return;
  }
  Record(PortKind::kSignPad,
         signpad::EncodeMessage(message.kind, message.payload).value_or(std::string()));
  if (!AwaitAnswerTurn(listener, client)) return;
  const std::optional<std::string> reply =
      SignPadReply(static_cast<char>(message.kind), message.payload);
  if (reply) SendAll(client, *reply);
}

std::optional<std::string> GatewayServerSimulator::SignPadReply(char kind,
                                                                std::string_view payload) {
  using signpad::MessageKind;
  const std::string stamp = LocalStamp();  // YYMMDDhhmmss
  if (kind == static_cast<char>(MessageKind::kKeyDownload)) {
    const std::optional<signpad::KeyDownload> request = signpad::ParseKeyDownload(payload);
    if (!request) return std::nullopt;
    if (request->download == signpad::Download::kLater &&
        !signpad_keys_.contains(request->terminal_id)) {
      return signpad::EncodeMessage(MessageKind::kRefusal, "no first download for the terminal");
    }
    // A fresh key for every download, kept as the terminal's current one.
    const std::string serial = std::to_string(++signpad_key_serial_);
    std::string key = platform::ToHex(request->terminal_id + serial);
    key = platform::FixedWidth(key, signpad::kWorkingKeySize, '0');
    signpad_keys_[request->terminal_id] = key;
    const std::optional<std::string> answer =
        signpad::EncodeWorkingKey({"01", "20" + stamp, key});
    return answer ? signpad::EncodeMessage(MessageKind::kWorkingKey, *answer) : std::nullopt;
  }
  if (kind != static_cast<char>(MessageKind::kTransaction) || payload.size() < signpad::kModeSize) {
    return std::nullopt;
  }
  const std::string_view packet = payload.substr(signpad::kModeSize);
  const signpad::PacketStructure* structure =
      signpad::FindRequestStructure(packet.substr(0, signpad::kPacketCodeSize));
  if (structure == nullptr) return std::nullopt;
  const std::optional<signpad::PacketValues> request =
      signpad::DecodePacket(packet, structure->request_code, structure->request);
  if (!request) return std::nullopt;
  const std::string& terminal = request->at(std::string(signpad::kTerminalIdField));
  const std::optional<std::string> packed =
      platform::FromHex(request->at(std::string(signpad::kSignDataField)));
  const std::optional<std::string> signature =
      packed ? signpad::UnpackSignature(*packed) : std::nullopt;
  signpad::PacketValues answer;
  const SignPadAnswer& verdict = options_.signpad_answer;
  auto decline = [&answer](std::string_view code, std::string_view message,
                           std::string_view detail) {
    answer[std::string(signpad::kResponseCodeField)] = code;
    answer[std::string(signpad::kResponseMessage1Field)] = message;
    answer[std::string(signpad::kResponseMessage2Field)] = detail;
  };
  if (!signpad_keys_.contains(terminal)) {
    decline(kSignPadNoWorkingKey, "NO WORKING KEY", "DOWNLOAD THE WORKING KEY FIRST");
  } else if (!signature || signpad::SignatureHash(*signature) !=
                               request->at(std::string(signpad::kHashField))) {
    decline(kSignPadHashMismatch, "SIGNATURE HASH MISMATCH", "SIGN AGAIN");
  } else if (!verdict.approve) {
    decline(verdict.decline_code, verdict.decline_message, verdict.decline_detail);
  } else {
    answer = {{std::string(signpad::kResponseCodeField), std::string(signpad::kApprovedCode)},
              {std::string(signpad::kResponseMessage1Field), std::string(kVanApprovedMessage)},
              {std::string(signpad::kManagementNumberField), stamp},
              {std::string(signpad::kApprovalNumberField), verdict.approval_number},
              {std::string(signpad::kMerchantNumberField), verdict.merchant_number},
              {std::string(signpad::kIssuerField), std::string(kVanIssuer)},
              {std::string(signpad::kSaleDateField), "20" + stamp.substr(0, 6)},
              {std::string(signpad::kSaleTimeField), stamp.substr(6)},
              {std::string(signpad::kAcquirerField), std::string(kVanAcquirer)}};
  }
  const std::optional<std::string> text =
      signpad::EncodePacket(structure->answer_code, structure->answer, answer);
  return text ? signpad::EncodeMessage(MessageKind::kAnswer, *text) : std::nullopt;
}

void GatewayServerSimulator::ConverseVanLink(const Listener& listener, int client) {
  std::string message;
  if (!tavenor_van::ReceiveMessage(client, platform::Deadline::Never(), &message, &stopping_)
           .ok()) {
    return;
  }
  const std::string payload(tavenor_van::PayloadOf(message).value_or(std::string_view()));
  Record(PortKind::kVanLink, std::move(message));
  if (!AwaitAnswerTurn(listener, client)) return;
  const std::optional<std::string> answer =
      tavenor_van::EncodeMessage(std::string(tavenor_van::kSimulatedAnswerPrefix) + payload);
  if (answer) SendAll(client, *answer);
}

bool GatewayServerSimulator::ReadRequest(PortKind kind, int client, std::string* request) const {
  request->clear();
  for (;;) {
    // The first byte may take as long as the client likes; after it, a pause ends the request.
    const platform::Deadline deadline =
        request->empty() ? platform::Deadline::Never() : platform::Deadline::After(kQuietMs);
    std::array<char, 4096> chunk;
    size_t got = 0;
    const platform::Status received =
        platform::ReceiveSome(client, chunk.data(), chunk.size(), deadline, &got, &stopping_);
    if (received.code() == platform::StatusCode::kCancelled) return false;
    if (!received.ok()) return !request->empty();  // quiet, closed or failed
    request->append(chunk.data(), got);
    // A request of the port's framing, or the ACK bytes that confirm an answer.
    const bool acks_only = request->find_first_not_of(protocol::kAck) == std::string::npos;
    if (acks_only ? request->size() >= kReceiptAcks : Complete(kind, *request)) return true;
  }
}

void GatewayServerSimulator::Record(PortKind kind, std::string bytes) {
  ReceivedRequest received{kind, std::move(bytes)};
  if (!options_.record_file.empty()) {
    std::ofstream(options_.record_file, std::ios::app)
        << PortName(kind) << ' ' << platform::ToHex(received.bytes) << '\n';
  }
  if (options_.on_received) options_.on_received(received);
  std::lock_guard<std::mutex> lock(mutex_);
  received_.push_back(std::move(received));
  arrived_.notify_all();
}

bool GatewayServerSimulator::Pause(int ms) const {
  return !platform::SystemClock().SleepUnlessWoken(static_cast<uint32_t>(std::max(ms, 0)),
                                                   stopping_);
}

int GatewayServerSimulator::port(PortKind kind) const {
  for (const auto& listener : listeners_) {
    if (listener->kind == kind) return listener->socket->port();
  }
  return 0;
}

bool GatewayServerSimulator::PointSignPadObjectsHere() const {
  return platform::RegSetDword(signpad::kSettingsKey, signpad::kPortValue,
                               static_cast<uint32_t>(port(PortKind::kSignPad))) ==
         platform::RegStatus::kOk;
}

std::vector<ReceivedRequest> GatewayServerSimulator::Received() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return received_;
}

bool GatewayServerSimulator::WaitForReceived(size_t count, int timeout_ms) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return arrived_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                           [&] { return received_.size() >= count; });
}

}  // namespace gateway_sim
