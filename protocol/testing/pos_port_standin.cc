#include "protocol/testing/pos_port_standin.h"

#include <array>

#include "protocol/frame.h"

namespace gateway_sim {

std::unique_ptr<PosPortStandIn> PosPortStandIn::Start(std::string* error) {
  std::unique_ptr<PosPortStandIn> standin(new PosPortStandIn());
  const platform::Status listening =
      platform::TcpListener::Listen("127.0.0.1", 0, 4, &standin->listener_);
  if (!listening.ok()) {
    if (error != nullptr) *error = "listening for the POS port failed: " + listening.message();
    return nullptr;
  }
  standin->thread_ = std::thread([served = standin.get()] { served->Serve(); });
  return standin;
}

PosPortStandIn::~PosPortStandIn() {
  stopping_.Signal();
  if (listener_) listener_->Cancel();
  if (thread_.joinable()) thread_.join();
}

void PosPortStandIn::SetAnswer(std::string answer) {
  std::lock_guard<std::mutex> lock(mutex_);
  answer_ = std::move(answer);
}

std::vector<std::string> PosPortStandIn::Received() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return received_;
}

void PosPortStandIn::Serve() {
  for (;;) {
    platform::UniqueFd client;
    const platform::Status accepted = listener_->Accept(platform::Deadline::Never(), &client);
    if (accepted.code() == platform::StatusCode::kCancelled) return;
    if (!accepted.ok()) continue;
    // A gateway frame is whole once its length field is no more than the bytes held.
    std::string frame;
    platform::Status status;
    while (status.ok()) {
      const std::optional<int> length = protocol::ReadLengthField(frame);
      if (length && frame.size() >= static_cast<size_t>(*length)) break;
      std::array<char, 4096> chunk;
      size_t got = 0;
      status = platform::ReceiveSome(client.get(), chunk.data(), chunk.size(),
                                     platform::Deadline::Never(), &got, &stopping_);
      frame.append(chunk.data(), got);
    }
    std::string answer;
    if (status.ok()) {
      std::lock_guard<std::mutex> lock(mutex_);
      received_.push_back(frame);
      answer = answer_;
    }
    if (!answer.empty()) {
      (void)platform::SendAll(client.get(), answer, platform::Deadline::After(5000));
    }
    platform::CloseConnection(std::move(client));
  }
}

}  // namespace gateway_sim
