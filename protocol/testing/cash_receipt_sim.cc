#include "protocol/testing/cash_receipt_sim.h"

#include <array>
#include <chrono>
#include <fstream>

#include "companions/ediconn/cash_protocol.h"
#include "platform/clock.h"
#include "platform/text.h"

namespace gateway_sim {
namespace {

constexpr std::string_view kApprovedMessage = "\xC1\xA4\xBB\xF3\xBD\xC2\xC0\xCE";  // "정상승인"

}  // namespace

bool ParseCashVerdict(std::string_view text, CashAnswer* answer) {
  if (text == "approve") {
    answer->verdict = CashVerdict::kApprove;
  } else if (text == "decline") {
    answer->verdict = CashVerdict::kDecline;
  } else {
    return false;
  }
  return true;
}

std::vector<std::string> CashAnswerTexts(const CashAnswer& answer) {
  if (answer.verdict == CashVerdict::kApprove) {
    return {std::string(ediconn::kApproved), std::string(kApprovedMessage),
            answer.approval_number};
  }
  return {answer.decline_code, answer.decline_message, ""};
}

std::unique_ptr<CashReceiptServerSimulator> CashReceiptServerSimulator::Start(
    CashServerOptions options, std::string* error) {
  constexpr int kBacklog = 8;
  std::unique_ptr<CashReceiptServerSimulator> sim(
      new CashReceiptServerSimulator(std::move(options)));
  const platform::Status listening = platform::TcpListener::Listen(
      sim->options_.address, static_cast<uint16_t>(sim->options_.port.port), kBacklog,
      &sim->listener_);
  if (!listening.ok()) {
    if (error != nullptr) *error = "listening for the cash port failed: " + listening.message();
    return nullptr;
  }
  sim->thread_ = std::thread([served = sim.get()] { served->Serve(); });
  return sim;
}

CashReceiptServerSimulator::~CashReceiptServerSimulator() {
  stopping_.Signal();
  if (listener_) listener_->Cancel();
  if (thread_.joinable()) thread_.join();
}

void CashReceiptServerSimulator::Serve() {
  for (;;) {
    platform::UniqueFd client;
    const platform::Status accepted = listener_->Accept(platform::Deadline::Never(), &client);
    if (accepted.code() == platform::StatusCode::kCancelled) return;
    if (!accepted.ok()) continue;
    if (options_.port.behaviour != Behaviour::kRefuse) Converse(client.get());
    platform::CloseConnection(std::move(client));
  }
}

void CashReceiptServerSimulator::Converse(int client) {
  ediconn::Message request;
  if (!ediconn::ReceiveMessage(client, platform::Deadline::Never(), &request, &stopping_).ok() ||
      request.kind != ediconn::MessageKind::kRequest) {
    return;  // not a request: the connection ends without an answer
  }
  if (!options_.record_file.empty()) {
    const std::string bytes =
        ediconn::EncodeMessage(request.kind, request.texts).value_or(std::string());
    std::ofstream(options_.record_file, std::ios::app) << "cash " << platform::ToHex(bytes) << '\n';
  }
  if (options_.on_received) options_.on_received(request.texts);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    received_.push_back(request.texts);
    arrived_.notify_all();
  }
  if (options_.port.behaviour == Behaviour::kSilent) return StaySilent(client, stopping_);
  if (options_.port.behaviour == Behaviour::kSlow && !Pause(options_.port.delay_ms)) return;
  const std::optional<std::string> answer =
      ediconn::EncodeMessage(ediconn::MessageKind::kAnswer, CashAnswerTexts(options_.answer));
  if (answer) {
    (void)platform::SendAll(client, *answer, platform::Deadline::After(5000));
  }
}

bool CashReceiptServerSimulator::Pause(int ms) const {
  return !platform::SystemClock().SleepUnlessWoken(static_cast<uint32_t>(std::max(ms, 0)),
                                                   stopping_);
}

std::vector<std::vector<std::string>> CashReceiptServerSimulator::Received() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return received_;
}

bool CashReceiptServerSimulator::WaitForReceived(size_t count, int timeout_ms) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return arrived_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                           [&] { return received_.size() >= count; });
}

}  // namespace gateway_sim
