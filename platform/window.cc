#include "platform/window.h"

#include <limits.h>
#include <poll.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <mutex>
#include <random>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "platform/local_socket.h"
#include "platform/named_object.h"
#include "platform/prefix.h"
#include "platform/socket.h"
#include "platform/text.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

// The folder under <prefix>/run, and the kinds of file in it: one socket per endpoint, and a
// symlink per name pointing at the socket. Names are CP949 bytes, written as hexadecimal text.
constexpr std::string_view kWindowKind = "windows";
constexpr std::string_view kEndpointPrefix = "ep-";
constexpr std::string_view kTitlePrefix = "title-";
constexpr std::string_view kClassPrefix = "class-";
// The 32-bit window id (what an HWND is to a 32-bit caller): "hwnd-<hex of the decimal id>".
constexpr std::string_view kHwndPrefix = "hwnd-";
constexpr int kHwndAttempts = 64;

// One message per connection: a request header, `length` copy-data bytes, then the receiver's
// reply. Numbers are little-endian.
constexpr uint32_t kMagic = 0x5744524F;  // "ORDW"
constexpr size_t kRequestHeaderSize = 4 /*magic*/ + 4 /*kind*/ + 4 /*msg*/ + 8 /*wparam*/ +
                                      8 /*lparam*/ + 8 /*copy_data_id*/ + 4 /*length*/;
constexpr size_t kReplySize = 4 /*status*/ + 8 /*result*/;
enum class Kind : uint32_t { kSend = 1, kPost = 2 };
enum class ReplyStatus : uint32_t { kRefused = 0, kHandled = 1, kQueued = 2 };
using RequestHeader = std::array<unsigned char, kRequestHeaderSize>;
using Reply = std::array<unsigned char, kReplySize>;

// Limits that keep a bad or flooding sender from exhausting the receiver.
constexpr size_t kMaxCopyData = kMaxCopyDataBytes;
constexpr size_t kMaxQueuedMessages = 10000;  // the length of a Windows message queue
constexpr size_t kMaxQueuedBytes = size_t{64} << 20;
constexpr int kReceiveTimeoutMs = 2000;  // for one whole incoming message
constexpr int kPostTimeoutMs = 5000;     // until a post is queued at the receiver
constexpr int kListenBacklog = 128;

void PutLe(unsigned char* at, uint64_t value, size_t width) {
  for (size_t i = 0; i < width; ++i) at[i] = static_cast<unsigned char>(value >> (8 * i));
}

uint64_t GetLe(const unsigned char* at, size_t width) {
  uint64_t value = 0;
  for (size_t i = width; i > 0; --i) value = (value << 8) | at[i - 1];
  return value;
}

struct Request {
  Kind kind = Kind::kSend;
  WindowMessage message;
  size_t length = 0;
};

RequestHeader EncodeRequest(const Request& request) {
  RequestHeader header{};
  PutLe(&header[0], kMagic, 4);
  PutLe(&header[4], static_cast<uint32_t>(request.kind), 4);
  PutLe(&header[8], request.message.msg, 4);
  PutLe(&header[12], request.message.wparam, 8);
  PutLe(&header[20], static_cast<uint64_t>(request.message.lparam), 8);
  PutLe(&header[28], request.message.copy_data_id, 8);
  PutLe(&header[36], request.length, 4);
  return header;
}

// nullopt for anything but a well-formed send (at most kMaxCopyData bytes) or a post (none).
std::optional<Request> DecodeRequest(const RequestHeader& header) {
  if (GetLe(&header[0], 4) != kMagic) return std::nullopt;
  Request request;
  const uint64_t kind = GetLe(&header[4], 4);
  request.message.msg = static_cast<uint32_t>(GetLe(&header[8], 4));
  request.message.wparam = GetLe(&header[12], 8);
  request.message.lparam = static_cast<int64_t>(GetLe(&header[20], 8));
  request.message.copy_data_id = GetLe(&header[28], 8);
  request.length = static_cast<size_t>(GetLe(&header[36], 4));
  if (kind == static_cast<uint32_t>(Kind::kSend)) {
    if (request.message.msg != kWmCopyData || request.length > kMaxCopyData) return std::nullopt;
    request.kind = Kind::kSend;
  } else if (kind == static_cast<uint32_t>(Kind::kPost)) {
    if (request.length != 0) return std::nullopt;
    request.kind = Kind::kPost;
  } else {
    return std::nullopt;
  }
  return request;
}

// The bytes of a header or reply, as the socket calls take them.
template <size_t N>
std::string_view Bytes(const std::array<unsigned char, N>& bytes) {
  return std::string_view(reinterpret_cast<const char*>(bytes.data()), N);
}

Reply EncodeReply(ReplyStatus status, int64_t result) {
  Reply reply{};
  PutLe(&reply[0], static_cast<uint32_t>(status), 4);
  PutLe(&reply[4], static_cast<uint64_t>(result), 8);
  return reply;
}

void SendReply(int fd, ReplyStatus status, int64_t result) {
  Reply reply = EncodeReply(status, result);
  SendAll(fd, Bytes(reply), Deadline::After(kReceiveTimeoutMs));
}

// "title-<hex>" / "class-<hex>"; nullopt for an empty name or one too long for a file name.
std::optional<std::string> EntryName(std::string_view prefix, std::string_view name) {
  if (name.empty()) return std::nullopt;
  std::string entry = std::string(prefix) + ToHex(name);
  if (entry.size() > NAME_MAX) return std::nullopt;
  return entry;
}

// The live endpoint a name entry points at.
std::optional<WindowHandle> Lookup(std::string_view prefix, std::string_view name) {
  std::optional<std::string> entry = EntryName(prefix, name);
  if (!entry) return std::nullopt;
  fs::path dir = RunDirPath() / kWindowKind;  // a look-up creates nothing
  std::error_code error;
  fs::path target = fs::read_symlink(dir / *entry, error);
  if (error || !target.has_filename()) return std::nullopt;
  fs::path socket = dir / target.filename();
  if (!internal::IsListening(socket)) return std::nullopt;
  return WindowHandle{socket.string()};
}

// Points the name entry at our socket. A name held by a live endpoint is refused; one left by
// an endpoint that is gone is taken over, and the dead socket removed.
// REQUIRES: the folder's DirectoryLock is held.
bool ClaimName(const fs::path& dir, const std::string& entry, const std::string& socket_name) {
  std::error_code error;
  fs::path target = fs::read_symlink(dir / entry, error);
  if (!error && target.has_filename()) {
    fs::path holder = dir / target.filename();
    if (internal::IsListening(holder)) return false;
    if (target.filename().string().starts_with(kEndpointPrefix)) fs::remove(holder, error);
  }
  fs::remove(dir / entry, error);
  fs::create_symlink(socket_name, dir / entry, error);
  return !error;
}

// Removes the name entry when it still points at our socket.
// REQUIRES: the folder's DirectoryLock is held.
void ReleaseName(const fs::path& dir, const std::string& entry, const std::string& socket_name) {
  std::error_code error;
  fs::path target = fs::read_symlink(dir / entry, error);
  if (!error && target == socket_name) fs::remove(dir / entry, error);
}

class PosixWindowEndpoint;
// The endpoint whose handler runs on this thread, so that a send to itself is a direct call (as
// SendMessage to a window of the calling thread is on Windows) rather than a deadlock.
thread_local const PosixWindowEndpoint* t_dispatching = nullptr;

class PosixWindowEndpoint final : public WindowEndpoint {
 public:
  PosixWindowEndpoint(fs::path dir, std::string socket_name, WindowHandler handler)
      : dir_(std::move(dir)),
        socket_name_(std::move(socket_name)),
        socket_path_(dir_ / socket_name_),
        handler_(std::move(handler)) {}

  // Stops taking messages, refuses every send still queued, and removes the names. The message
  // being handled, if any, is finished first.
  // REQUIRES: not called from the endpoint's own handler.
  ~PosixWindowEndpoint() override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    queued_.notify_all();
    wake_.Signal();
    {
      internal::DirectoryLock names(dir_);
      for (const std::string& entry : names_) ReleaseName(dir_, entry, socket_name_);
    }
    if (listener_.valid()) unlink(socket_path_.c_str());
    if (acceptor_.joinable()) acceptor_.join();
    if (dispatcher_.joinable()) dispatcher_.join();
    listener_.reset();
    for (Pending& pending : queue_) {
      if (pending.reply_to.valid()) SendReply(pending.reply_to.get(), ReplyStatus::kRefused, 0);
    }
  }

  WindowHandle handle() const override { return WindowHandle{socket_path_.string()}; }
  uint32_t hwnd() const override { return hwnd_; }

  // Listens, claims the names and starts the receiver. False when any step fails.
  bool Start(const std::vector<std::string>& entries) {
    if (!wake_.valid()) return false;
    listener_ = internal::ListenAt(socket_path_, kListenBacklog);
    if (!listener_.valid()) return false;
    {
      internal::DirectoryLock names(dir_);
      if (!names.held()) return false;
      for (const std::string& entry : entries) {
        if (!ClaimName(dir_, entry, socket_name_)) return false;
        names_.push_back(entry);
      }
      if (!ClaimHwnd()) return false;
    }
    acceptor_ = std::thread([this] { AcceptLoop(); });
    dispatcher_ = std::thread([this] { DispatchLoop(); });
    return true;
  }

  // The handler's result; nullopt when it threw.
  std::optional<int64_t> Call(const WindowMessage& message) const {
    try {
      return handler_(message);
    } catch (...) {
      return std::nullopt;
    }
  }

 private:
  struct Pending {
    WindowMessage message;
    UniqueFd reply_to;  // the sender of a send, waiting for the result; invalid for a post
  };

  void AcceptLoop() {
    for (;;) {
      pollfd watched[2] = {{listener_.get(), POLLIN, 0}, {wake_.fd(), POLLIN, 0}};
      if (poll(watched, 2, -1) < 0) {
        if (errno == EINTR) continue;
        return;
      }
      if (watched[1].revents != 0) return;
      if (UniqueFd connection = internal::AcceptFrom(listener_.get()); connection.valid()) {
        Receive(std::move(connection));
      } else if (errno == EMFILE || errno == ENFILE) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
    }
  }

  // Reads one message and queues it. A connection that closes without a message is a liveness
  // probe (FindWindow); one that stalls is dropped at the time-out.
  void Receive(UniqueFd connection) {
    const Deadline deadline = Deadline::After(kReceiveTimeoutMs);
    RequestHeader header;
    if (!ReceiveExactly(connection.get(), header.data(), header.size(), deadline, &wake_).ok()) {
      return;
    }
    std::optional<Request> request = DecodeRequest(header);
    if (!request) {
      SendReply(connection.get(), ReplyStatus::kRefused, 0);
      return;
    }
    std::string& bytes = request->message.copy_data;
    bytes.resize(request->length);
    if (!ReceiveExactly(connection.get(), bytes.data(), bytes.size(), deadline, &wake_).ok()) {
      return;
    }
    const bool post = request->kind == Kind::kPost;
    bool queued = false;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!stopping_ && queue_.size() < kMaxQueuedMessages &&
          queued_bytes_ + bytes.size() <= kMaxQueuedBytes) {
        queued_bytes_ += bytes.size();
        queue_.push_back(
            Pending{std::move(request->message), post ? UniqueFd() : std::move(connection)});
        queued = true;
      }
    }
    if (!queued) {
      SendReply(connection.get(), ReplyStatus::kRefused, 0);
      return;
    }
    queued_.notify_one();
    if (post) SendReply(connection.get(), ReplyStatus::kQueued, 0);
  }

  void DispatchLoop() {
    t_dispatching = this;
    for (;;) {
      Pending next;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        queued_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (stopping_) return;
        next = std::move(queue_.front());
        queue_.pop_front();
        queued_bytes_ -= next.message.copy_data.size();
      }
      std::optional<int64_t> result = Call(next.message);
      if (next.reply_to.valid()) {
        SendReply(next.reply_to.get(), result ? ReplyStatus::kHandled : ReplyStatus::kRefused,
                  result.value_or(0));
      }
    }
  }

  // Claims a free 32-bit id, drawn at random so that ids of ended endpoints are not soon reused.
  // REQUIRES: the folder's DirectoryLock is held.
  bool ClaimHwnd() {
    thread_local std::mt19937 generator{std::random_device{}()};
    std::uniform_int_distribution<uint32_t> ids(1, 0x7FFFFFFF);
    for (int attempt = 0; attempt < kHwndAttempts; ++attempt) {
      const uint32_t id = ids(generator);
      std::optional<std::string> entry = EntryName(kHwndPrefix, std::to_string(id));
      if (entry && ClaimName(dir_, *entry, socket_name_)) {
        names_.push_back(std::move(*entry));
        hwnd_ = id;
        return true;
      }
    }
    return false;
  }

  const fs::path dir_;
  const std::string socket_name_;
  const fs::path socket_path_;
  const WindowHandler handler_;
  std::vector<std::string> names_;  // the name entries claimed
  uint32_t hwnd_ = 0;
  UniqueFd listener_;
  WakeEvent wake_;  // signalled once the endpoint stops

  std::mutex mutex_;
  std::condition_variable queued_;
  std::deque<Pending> queue_;  // GUARDED_BY(mutex_)
  size_t queued_bytes_ = 0;    // GUARDED_BY(mutex_)
  bool stopping_ = false;      // GUARDED_BY(mutex_)

  std::thread acceptor_;    // accepts connections and queues their messages in arrival order
  std::thread dispatcher_;  // runs the handler, one message at a time
};

// One message to the endpoint at `path`; the receiver's reply status and result.
std::optional<std::pair<ReplyStatus, int64_t>> Exchange(const std::string& path, const Request& request,
                                                   std::string_view bytes, int timeout_ms) {
  if (path.empty()) return std::nullopt;
  const Deadline deadline = Deadline::After(timeout_ms);
  UniqueFd connection = internal::ConnectTo(path, deadline);
  if (!connection.valid()) return std::nullopt;
  RequestHeader header = EncodeRequest(request);
  Reply reply;
  if (!SendAll(connection.get(), Bytes(header), deadline).ok() ||
      !SendAll(connection.get(), bytes, deadline).ok() ||
      !ReceiveExactly(connection.get(), reply.data(), reply.size(), deadline).ok()) {
    return std::nullopt;
  }
  return std::make_pair(static_cast<ReplyStatus>(GetLe(&reply[0], 4)),
                        static_cast<int64_t>(GetLe(&reply[4], 8)));
}

std::atomic<uint64_t> g_endpoint_count{0};

}  // namespace

std::unique_ptr<WindowEndpoint> WindowEndpoint::Create(std::string_view title,
                                                       std::string_view class_name,
                                                       WindowHandler handler) {
  if (!handler) return nullptr;
  std::vector<std::string> entries;
  for (auto [prefix, name] :
       {std::pair{kTitlePrefix, title}, std::pair{kClassPrefix, class_name}}) {
    if (name.empty()) continue;
    std::optional<std::string> entry = EntryName(prefix, name);
    if (!entry) return nullptr;
    entries.push_back(std::move(*entry));
  }
  std::optional<fs::path> dir = internal::ObjectDir(kWindowKind);
  if (!dir) return nullptr;
  std::string socket_name = std::string(kEndpointPrefix) + std::to_string(getpid()) + "-" +
                            std::to_string(g_endpoint_count.fetch_add(1) + 1);
  auto endpoint =
      std::make_unique<PosixWindowEndpoint>(*dir, std::move(socket_name), std::move(handler));
  if (!endpoint->Start(entries)) return nullptr;
  return endpoint;
}

std::optional<WindowHandle> FindWindowByTitle(std::string_view title) {
  return Lookup(kTitlePrefix, title);
}

std::optional<WindowHandle> FindWindowByClass(std::string_view class_name) {
  return Lookup(kClassPrefix, class_name);
}

std::optional<WindowHandle> WindowFromHwnd(uint32_t hwnd) {
  if (hwnd == 0) return std::nullopt;
  return Lookup(kHwndPrefix, std::to_string(hwnd));
}

bool SendCopyData(const WindowHandle& window, uint64_t wparam, uint64_t copy_data_id,
                  std::string_view bytes, int64_t* result, int timeout_ms) {
  if (bytes.size() > kMaxCopyData) return false;
  Request request;
  request.kind = Kind::kSend;
  request.message.msg = kWmCopyData;
  request.message.wparam = wparam;
  request.message.copy_data_id = copy_data_id;
  request.length = bytes.size();
  std::optional<int64_t> value;
  if (t_dispatching != nullptr && t_dispatching->handle().path == window.path) {
    request.message.copy_data = std::string(bytes);
    value = t_dispatching->Call(request.message);
  } else if (auto reply = Exchange(window.path, request, bytes, timeout_ms);
             reply && reply->first == ReplyStatus::kHandled) {
    value = reply->second;
  }
  if (!value) return false;
  if (result != nullptr) *result = *value;
  return true;
}

bool PostWindowMessage(const WindowHandle& window, uint32_t msg, uint64_t wparam, int64_t lparam) {
  if (msg == kWmCopyData) return false;  // copy-data is sent, never posted (as on Windows)
  Request request;
  request.kind = Kind::kPost;
  request.message.msg = msg;
  request.message.wparam = wparam;
  request.message.lparam = lparam;
  auto reply = Exchange(window.path, request, {}, kPostTimeoutMs);
  return reply && reply->first == ReplyStatus::kQueued;
}

}  // namespace platform
