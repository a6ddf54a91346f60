// A TCP peer for tests that stand in for a server the code under test connects to: it takes one
// receive per connection, records it, answers with a fixed text and closes.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/socket.h"
#include "platform/testing/support.h"

namespace platform::testing {

class AnsweringPeer {
 public:
  explicit AnsweringPeer(std::string answer) : answer_(std::move(answer)) {
    if (!TcpListener::Listen("127.0.0.1", 0, 16, &listener_).ok()) return;
    thread_ = std::thread([this] { Serve(); });
  }
  ~AnsweringPeer() {
    if (listener_ != nullptr) listener_->Cancel();
    if (thread_.joinable()) thread_.join();
  }
  AnsweringPeer(const AnsweringPeer&) = delete;
  AnsweringPeer& operator=(const AnsweringPeer&) = delete;

  bool ok() const { return listener_ != nullptr; }
  uint16_t port() const { return listener_ != nullptr ? listener_->port() : 0; }

  // What the peer took so far, once at least `count` connections have delivered (or the
  // patience has passed).
  std::vector<std::string> AwaitReceived(size_t count) {
    Eventually([&] {
      std::lock_guard<std::mutex> lock(mutex_);
      return received_.size() >= count;
    });
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
  }

 private:
  void Serve() {
    for (;;) {
      UniqueFd connection;
      if (!listener_->Accept(Deadline::Never(), &connection).ok()) return;
      char chunk[8192];
      size_t count = 0;
      if (ReceiveSome(connection.get(), chunk, sizeof(chunk), Deadline::After(kPatience), &count)
              .ok()) {
        {
          std::lock_guard<std::mutex> lock(mutex_);
          received_.emplace_back(chunk, count);
        }
        (void)SendAll(connection.get(), answer_, Deadline::After(kPatience));
      }
      CloseConnection(std::move(connection));
    }
  }

  const std::string answer_;
  std::unique_ptr<TcpListener> listener_;
  std::mutex mutex_;
  std::vector<std::string> received_;  // GUARDED_BY(mutex_)
  std::thread thread_;
};

}  // namespace platform::testing
