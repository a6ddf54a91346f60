#include "companions/tavenorvan/tavenor_van.h"

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "companions/connmap/ordella_connmap.h"
#include "companions/tavenorvan/van_link.h"
#include "platform/socket.h"
#include "platform/wake_event.h"

namespace tavenor_van {
namespace {

constexpr const char* kLocalServer = "127.0.0.1";

// Diagnostics go to standard error: the host program's console.
void Report(int terminal, const std::string& text) {
  std::fprintf(stderr, "TavenorVan terminal %d: %s\n", terminal, text.c_str());
}

// Where the VAN server is: the gateway server's address from the property map (the hub has it
// open), at the VAN port.
struct ServerPlace {
  std::string address;
  uint16_t port = kServerPort;
};

ServerPlace FindServer() {
  ServerPlace place;
  const char* record = GetPropertyMap();
  place.address = record != nullptr ? connmap::ReadText(record, connmap::kServerAddress) : "";
  if (place.address.empty()) place.address = kLocalServer;
  if (const char* moved = std::getenv(kServerPortVariable); moved != nullptr) {
    if (const std::optional<uint16_t> port = platform::ParsePort(moved)) place.port = *port;
  }
  return place;
}

class Session {
 public:
  Session(const VanTerminalPort& terminal, ServerPlace server)
      : terminal_(terminal), server_(std::move(server)) {
    worker_ = std::thread(&Session::Work, this);
  }
  ~Session() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      closing_ = true;
    }
    stop_.Signal();
    queued_.notify_all();
    worker_.join();
  }

  void Take(std::string_view bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    framer_.Feed(bytes);
    while (std::optional<std::string> message = framer_.Next()) {
      outgoing_.push_back(std::move(*message));
      BeginExchange();
    }
    if (framer_.dropped() > dropped_reported_) {
      Report(terminal_.index, std::to_string(framer_.dropped() - dropped_reported_) +
                                  " bytes that begin no VAN message dropped");
      dropped_reported_ = framer_.dropped();
    }
    queued_.notify_all();
  }

  void Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    framer_.Clear();
  }

  int32_t State() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (state_ == kExchanging && reported_ && outgoing_.empty() && !exchanging_) state_ = kIdle;
    if (state_ == kExchanging) reported_ = true;
    return state_;
  }

 private:
  // REQUIRES: mutex_ is held.
  void BeginExchange() {
    if (state_ != kExchanging) reported_ = false;
    state_ = kExchanging;
  }

  void Work() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      queued_.wait(lock, [this] { return closing_ || !outgoing_.empty(); });
      if (closing_) return;
      const std::string message = std::move(outgoing_.front());
      outgoing_.pop_front();
      exchanging_ = true;
      lock.unlock();
      std::string answer;
      if (Exchange(message, &answer) && !stop_.Signalled()) {
        // The session's end waits for this thread, so nothing is written after CloseVanPort.
        if (terminal_.write(terminal_.port, reinterpret_cast<const unsigned char*>(answer.data()),
                            static_cast<int32_t>(answer.size())) !=
            static_cast<int32_t>(answer.size())) {
          Report(terminal_.index, "the VAN answer could not be written to the terminal");
        }
      }
      lock.lock();
      exchanging_ = false;  // the state goes back to idle once it has been looked at
    }
  }

  bool Exchange(const std::string& message, std::string* answer) {
    platform::UniqueFd socket;
    platform::Status status = platform::TcpConnect(
        server_.address, server_.port, platform::Deadline::After(kConnectLimitMs), &socket);
    if (status.ok()) {
      status = platform::SendAll(socket.get(), message, platform::Deadline::After(kConnectLimitMs));
    }
    if (status.ok()) {
      status = ReceiveMessage(socket.get(), platform::Deadline::After(kAnswerLimitMs), answer,
                              &stop_);
    }
    platform::CloseConnection(std::move(socket));
    if (!status.ok() && status.code() != platform::StatusCode::kCancelled) {
      Report(terminal_.index, "VAN server " + server_.address + ":" +
                                  std::to_string(server_.port) + ": " + status.message() +
                                  "; the message is dropped");
    }
    return status.ok();
  }

  const VanTerminalPort terminal_;
  const ServerPlace server_;
  platform::WakeEvent stop_;
  std::mutex mutex_;
  std::condition_variable queued_;
  Framer framer_;                      // GUARDED_BY(mutex_)
  size_t dropped_reported_ = 0;        // GUARDED_BY(mutex_)
  std::deque<std::string> outgoing_;   // GUARDED_BY(mutex_)
  bool exchanging_ = false;            // GUARDED_BY(mutex_)
  int32_t state_ = kIdle;              // GUARDED_BY(mutex_)
  bool reported_ = false;              // GUARDED_BY(mutex_): the current state has been looked at
  bool closing_ = false;               // GUARDED_BY(mutex_)
  std::thread worker_;
};

// The sessions by handle. The map's lock is held only to find, add or remove a session; a
// session is used outside it (shared ownership keeps it alive while a call runs).
struct Sessions {
  std::mutex mutex;
  std::map<int32_t, std::shared_ptr<Session>> by_handle;
  int32_t next = 1;
};
Sessions& AllSessions() {
  static Sessions sessions;
  return sessions;
}

std::shared_ptr<Session> Find(int32_t van) {
  Sessions& sessions = AllSessions();
  std::lock_guard<std::mutex> lock(sessions.mutex);
  const auto found = sessions.by_handle.find(van);
  return found == sessions.by_handle.end() ? nullptr : found->second;
}

}  // namespace
}  // namespace tavenor_van

extern "C" {

int32_t CreateVanModule(void* terminal_port, int32_t /*payment_path*/) {
  using namespace tavenor_van;
  const auto* terminal = static_cast<const VanTerminalPort*>(terminal_port);
  if (terminal == nullptr || terminal->write == nullptr) return 0;
  auto session = std::make_shared<Session>(*terminal, FindServer());
  Sessions& sessions = AllSessions();
  std::lock_guard<std::mutex> lock(sessions.mutex);
  const int32_t handle = sessions.next++;
  sessions.by_handle.emplace(handle, std::move(session));
  return handle;
}

int32_t SendProtocal(int32_t van, const unsigned char* bytes, int32_t count) {
  const std::shared_ptr<tavenor_van::Session> session = tavenor_van::Find(van);
  if (session == nullptr || count < 0 || (bytes == nullptr && count > 0)) return -1;
  session->Take(std::string_view(reinterpret_cast<const char*>(bytes), static_cast<size_t>(count)));
  return count;
}

int32_t SendClearBuffer(int32_t van) {
  const std::shared_ptr<tavenor_van::Session> session = tavenor_van::Find(van);
  if (session == nullptr) return -1;
  session->Clear();
  return 1;
}

int32_t GetVanState(int32_t van) {
  const std::shared_ptr<tavenor_van::Session> session = tavenor_van::Find(van);
  return session == nullptr ? -1 : session->State();
}

int32_t CloseVanPort(int32_t van) {
  std::shared_ptr<tavenor_van::Session> session;
  {
    tavenor_van::Sessions& sessions = tavenor_van::AllSessions();
    std::lock_guard<std::mutex> lock(sessions.mutex);
    const auto found = sessions.by_handle.find(van);
    if (found == sessions.by_handle.end()) return -1;
    session = std::move(found->second);
    sessions.by_handle.erase(found);
  }
  session.reset();  // ends the worker once no other call holds the session
  return 1;
}

}  // extern "C"
