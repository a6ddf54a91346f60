#include "hub/core/manager_main_thread.h"

#include <chrono>
#include <utility>

#include "companions/connmap/ordella_connmap.h"
#include "hub/core/module_state.h"
#include "hub/core/module_status.h"
#include "hub/core/relay_slot.h"
#include "hub/core/server_relay.h"
#include "hub/core/terminal_loop.h"
#include "hub/core/terminal_port.h"
#include "platform/socket.h"
#include "platform/system_info.h"
#include "protocol/status_board.h"

namespace hub {

using namespace protocol;

namespace {

constexpr const char* kLogTag = "ManagerMainThread";
constexpr std::string_view kListenerOff = "0000";
constexpr int kMaxPortNumber = 65535;
constexpr int kFirstSerialNameWithPrefix = 10;  // "\\.\COM10" on
constexpr int kLoopEndWaitMs = 30000;           // for a terminal loop to end

// Listener slots 3-6, as indexes of the listener array.
constexpr int kPosListenerSlot = 0;
constexpr int kFirstAckListenerSlot = 1;
constexpr int kSecondAckListenerSlot = 2;
constexpr int kTcpTerminalSlot = 3;

std::atomic<OpenPaymentsReport> installed_report{nullptr};

template <typename Fn>
Fn Entry(const platform::Library& library, const char* name) {
  return reinterpret_cast<Fn>(library.Symbol(name));
}

int TerminalCount(const char* record) {
  const int32_t count = connmap::ReadInt(record, connmap::kTerminalCount);
  if (count < 0 || count > CManagerMainThread::kTerminalSlots) {
    WriteModuleLog(kLogTag, "terminal count " + std::to_string(count) + " outside 0-3: " +
                                (count < 0 ? "no terminal" : "three terminals") + " served");
    return count < 0 ? 0 : CManagerMainThread::kTerminalSlots;
  }
  return count;
}

int SlotPortNumber(const char* record, int terminal) {
  return connmap::ReadInt(record, connmap::InSlot(terminal, connmap::kSerialPort));
}

// A terminal port whose loop has been asked to end (the running flag is clear): waits for the
// loop, then closes the port. A loop that does not end keeps its port, which is then left
// allocated rather than pulled from under it.
void StopTerminal(std::unique_ptr<TerminalPort> port) {
  port->WakeLoop();  // it sees the cleared running flag at once
  port->WaitLoopEnd(kLoopEndWaitMs);
  port->Close();
  if (port->LoopRunning()) {
    WriteModuleLog(kLogTag, "terminal loop " + std::to_string(port->index()) +
                                " did not end within 30 s: its port is left to it");
    (void)port.release();
    return;
  }
  port->JoinLoop();
}

}  // namespace

std::string SerialPortName(int port_number) {
  const std::string number = std::to_string(port_number);
  return port_number < kFirstSerialNameWithPrefix ? "COM" + number : "\\\\.\\COM" + number;
}

std::optional<int> ListenerPort(std::string_view text) {
  if (text == kListenerOff) return std::nullopt;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return 0;
    value = value * 10 + (c - '0');
    if (value > kMaxPortNumber) return 0;
  }
  return value;
}

CManagerMainThread::CManagerMainThread(MainThreadOptions options) : options_(std::move(options)) {}

CManagerMainThread::~CManagerMainThread() {
  if (thread_.joinable()) {
    if (thread_.get_id() == std::this_thread::get_id()) {
      thread_.detach();
    } else {
      thread_.join();
    }
  }
}

bool CManagerMainThread::CreateThread() {
  if (thread_.joinable()) return false;
  thread_ = std::thread([this] {
    if (InitInstance()) Run();
    ExitInstance();
    {
      std::lock_guard<std::mutex> lock(thread_mutex_);
      thread_done_ = true;
    }
    thread_ended_.notify_all();
  });
  return true;
}

bool CManagerMainThread::InitInstance() {
  Module().running.store(true, std::memory_order_release);
  StartModuleStatus();
  LoadVanModule();
  CreateRelaySlot();
  // What the last run left open is reported before a repeated request can collect it.
  if (options_.report_open_payments) options_.report_open_payments();
  // The listeners start in this order: the POS request listener, the second acknowledgement
  // listener, then the first.
  StartListener(kPosListenerSlot, connmap::kPosListenerPort, kEventPosListenerFailed,
                options_.pos_request_listener);
  StartListener(kSecondAckListenerSlot, connmap::kSecondAckListenerPort, kEventAckListener2Failed,
                options_.second_ack_listener);
  StartListener(kFirstAckListenerSlot, connmap::kFirstAckListenerPort, kEventAckListener1Failed,
                options_.first_ack_listener);
  const int count = TerminalCount(PropertyRecord());
  for (int terminal = 0; terminal < count && !QuitRequested(); ++terminal) {
    StartTerminal(terminal);
  }
  return true;
}

void InstallOpenPaymentsReport(OpenPaymentsReport report) {
  installed_report.store(report, std::memory_order_release);
}

void ReportOpenPayments() {
  if (const OpenPaymentsReport report = installed_report.load(std::memory_order_acquire)) {
    report();
  }
}

void ReplayKeptFramesWhenDue() {
  KeptFrameReplay& replay = ModuleKeptFrameReplay();
  if (replay.Due()) replay.Replay(ModuleRelayServices());
}

int CManagerMainThread::Run() {
  constexpr auto kReplayLook = std::chrono::seconds(1);
  std::unique_lock<std::mutex> lock(quit_mutex_);
  while (!quit_signal_.wait_for(lock, kReplayLook, [this] { return QuitRequested(); })) {
    PublishModuleHeartbeat(relay_slot_.get());
    if (!options_.replay_kept) continue;
    lock.unlock();
    options_.replay_kept();
    lock.lock();
  }
  return 0;
}

void CManagerMainThread::PostQuit() {
  {
    std::lock_guard<std::mutex> lock(quit_mutex_);
    quit_.store(true, std::memory_order_release);
  }
  quit_signal_.notify_all();
}

bool CManagerMainThread::Pause(int ms) {
  std::unique_lock<std::mutex> lock(quit_mutex_);
  return !quit_signal_.wait_for(lock, std::chrono::milliseconds(ms),
                                [this] { return QuitRequested(); });
}

// A terminal loop needs all five entry points to work with the module: with any missing, the
// module is not used at all (logged, naming them) and the serial loops run without VAN traffic,
// rather than hand the module bytes it is never asked to clear, or hold the hub's traffic back on
// a state nobody can see change. Nothing is reported to the host.
void CManagerMainThread::LoadVanModule() {
  platform::Status error;
  van_library_ = platform::Library::Load(options_.van_library, &error);
  if (!van_library_) {
    WriteModuleLog(kLogTag, "VAN module not loaded: " + error.message());
    return;
  }
  VanEntryPoints van;
  van.CreateVanModule = Entry<VanEntryPoints::CreateVanModuleFn>(*van_library_, "CreateVanModule");
  van.SendProtocal = Entry<VanEntryPoints::SendProtocalFn>(*van_library_, "SendProtocal");
  van.CloseVanPort = Entry<VanEntryPoints::VanHandleFn>(*van_library_, "CloseVanPort");
  van.SendClearBuffer = Entry<VanEntryPoints::VanHandleFn>(*van_library_, "SendClearBuffer");
  van.GetVanState = Entry<VanEntryPoints::VanHandleFn>(*van_library_, "GetVanState");
  std::string missing;
  const std::pair<const char*, bool> entries[] = {
      {"CreateVanModule", van.CreateVanModule != nullptr},
      {"SendProtocal", van.SendProtocal != nullptr},
      {"CloseVanPort", van.CloseVanPort != nullptr},
      {"SendClearBuffer", van.SendClearBuffer != nullptr},
      {"GetVanState", van.GetVanState != nullptr}};
  for (const auto& [name, present] : entries) {
    if (!present) missing += std::string(missing.empty() ? "" : ", ") + name;
  }
  if (!missing.empty()) {
    WriteModuleLog(kLogTag, "VAN module " + van_library_->path() + " lacks " + missing +
                                ": the terminals run without it");
    van_library_.reset();
    return;
  }
  Module().van = van;
}

void CManagerMainThread::CreateRelaySlot() {
  relay_slot_ = std::make_unique<RelaySlot>();
  platform::Status error;
  relay_slot_->sign_pad = platform::Library::Load(kSignPadLibrary, &error);
  if (!relay_slot_->sign_pad)
    WriteModuleLog(kLogTag, "sign-pad library not loaded: " + error.message());
  Module().relay_slot.store(relay_slot_.get(), std::memory_order_release);
}

void CManagerMainThread::StartListener(int slot, connmap::TextField port_text,
                                       uint32_t failure_event, const ListenerStarter& start) {
  const std::string text = connmap::ReadText(PropertyRecord(), port_text);
  const std::optional<int> port = ListenerPort(text);
  if (!port) return;  // switched off
  std::unique_ptr<Worker> listener = *port > 0 && start ? start(*port) : nullptr;
  if (!listener) {
    WriteModuleLog(kLogTag, "listener on port \"" + text + "\" did not start");
    PostHostNotification(failure_event, 0);
    return;
  }
  std::unique_lock<std::mutex> lock(slots_mutex_);
  if (closing_) {
    lock.unlock();
    listener->Stop();
    return;
  }
  listeners_[static_cast<size_t>(slot)] = std::move(listener);
}

void CManagerMainThread::StartTerminal(int terminal) {
  const int port_number = SlotPortNumber(PropertyRecord(), terminal);
  if (terminal == 0 && port_number == 0) {
    StartTcpTerminalLink(terminal);
    return;
  }
  StartSerialTerminal(terminal, port_number);
  const bool another_follows = terminal + 1 < TerminalCount(PropertyRecord());
  if (another_follows) Pause(options_.terminal_pause_ms);
}

void CManagerMainThread::StartTcpTerminalLink(int terminal) {
  const std::string text = connmap::ReadText(PropertyRecord(), connmap::kTcpTerminalPort);
  const int port = ListenerPort(text).value_or(0);
  std::optional<TcpTerminalWorkers> workers;
  if (port > 0 && options_.tcp_terminal) workers = options_.tcp_terminal(port);
  if (!workers || !workers->listener) {
    WriteModuleLog(kLogTag, "TCP terminal listener on port \"" + text + "\" did not start");
    PostHostNotification(kEventTcpListenerFailed, terminal);
    return;
  }
  {
    std::unique_lock<std::mutex> lock(slots_mutex_);
    if (closing_) {
      lock.unlock();
      if (workers->peer_loop) workers->peer_loop->Stop();
      workers->listener->Stop();
      return;
    }
    listeners_[kTcpTerminalSlot] = std::move(workers->listener);
    peer_loop_ = std::move(workers->peer_loop);
    tcp_terminal_write_ = std::move(workers->write);
  }
  NoteTerminalLink(terminal, kBoardLinkTcp, "TCP " + text);
  PostHostNotification(kEventTcpTerminal, 0);
}

void CManagerMainThread::StartSerialTerminal(int terminal, int port_number) {
  auto port = std::make_unique<TerminalPort>(terminal);
  const std::string name = SerialPortName(port_number);
  if (port_number < 1 || !port->Open(name, kBaudRate)) {
    WriteModuleLog(kLogTag, "terminal " + std::to_string(terminal) + ": serial port " + name +
                                " did not open");
    PostHostNotification(kEventSerialPortFailed, terminal);
    return;
  }
  if (!StartTerminalLoop(port.get())) {
    WriteModuleLog(kLogTag, "terminal " + std::to_string(terminal) + ": terminal loop on " + name +
                                " did not start");
    port->Close();
    PostHostNotification(kEventSerialPortFailed, terminal);
    return;
  }
  std::unique_lock<std::mutex> lock(slots_mutex_);
  if (closing_) {
    lock.unlock();
    StopTerminal(std::move(port));
    return;
  }
  terminals_[static_cast<size_t>(terminal)] = std::move(port);
  lock.unlock();
  NoteTerminalLink(terminal, kBoardLinkSerial, name);
}

bool CManagerMainThread::ExitInstance() {
  if (exit_begun_.exchange(true, std::memory_order_acq_rel)) return false;
  PostQuit();  // a start sequence still running stops at its next step
  Module().running.store(false, std::memory_order_release);
  StopTerminals();
  StopWorkers();
  FreeRelaySlot();
  StopModuleStatus();
  Module().van = VanEntryPoints{};
  van_library_.reset();
  CManagerMainThread* self = this;
  Module().main_thread.compare_exchange_strong(self, nullptr, std::memory_order_acq_rel);
  return true;
}

void CManagerMainThread::StopTerminals() {
  std::array<std::unique_ptr<TerminalPort>, kTerminalSlots> terminals;
  {
    std::lock_guard<std::mutex> lock(slots_mutex_);
    closing_ = true;
    terminals = std::move(terminals_);
  }
  for (std::unique_ptr<TerminalPort>& port : terminals) {
    if (port) StopTerminal(std::move(port));
  }
}

void CManagerMainThread::StopWorkers() {
  std::unique_ptr<Worker> peer_loop;
  std::array<std::unique_ptr<Worker>, 4> listeners;
  {
    std::lock_guard<std::mutex> lock(slots_mutex_);
    peer_loop = std::move(peer_loop_);
    listeners = std::move(listeners_);
    tcp_terminal_write_ = nullptr;
  }
  if (peer_loop) peer_loop->Stop();
  for (std::unique_ptr<Worker>& listener : listeners) {  // slot order 3, 4, 5, 6
    if (listener) listener->Stop();
  }
}

void CManagerMainThread::FreeRelaySlot() {
  Module().relay_slot.store(nullptr, std::memory_order_release);
  // A POS client still waiting for the terminal would otherwise wait on a connection nobody
  // owns any more: it sees the connection end.
  if (relay_slot_ != nullptr) {
    const int client = relay_slot_->relay_client.exchange(RelaySlot::kNoClient);
    if (client >= 0) {
      WriteModuleLog(kLogTag, "module stopping: the waiting POS client's connection closed");
      platform::CloseConnection(platform::UniqueFd(client));
    }
  }
  relay_slot_.reset();  // unloads the sign-pad library
}

bool CManagerMainThread::Join(int timeout_ms) {
  if (!thread_.joinable()) return true;
  if (!WaitForEnd(timeout_ms)) return false;
  thread_.join();
  return true;
}

bool CManagerMainThread::WaitForEnd(int timeout_ms) {
  if (!thread_.joinable()) return false;
  std::unique_lock<std::mutex> lock(thread_mutex_);
  if (timeout_ms < 0) {
    thread_ended_.wait(lock, [this] { return thread_done_; });
    return true;
  }
  return thread_ended_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                                [this] { return thread_done_; });
}

void CManagerMainThread::Abandon() {
  if (thread_.joinable()) thread_.detach();
}

int CManagerMainThread::WriteToTerminal(int terminal, std::string_view bytes) {
  if (terminal < 0 || terminal >= kTerminalSlots) {
    WriteModuleLog(kLogTag, "no terminal " + std::to_string(terminal) + ": frame not sent");
    return 0;
  }
  std::lock_guard<std::mutex> lock(slots_mutex_);
  if (terminal == 0 && SlotPortNumber(PropertyRecord(), terminal) == 0) {
    if (!tcp_terminal_write_) {
      WriteModuleLog(kLogTag, "terminal 0 is the TCP terminal, whose listener did not start: "
                              "frame not sent");
      return 0;
    }
    return tcp_terminal_write_(bytes);
  }
  TerminalPort* port = terminals_[static_cast<size_t>(terminal)].get();
  if (port == nullptr) {
    WriteModuleLog(kLogTag, "terminal " + std::to_string(terminal) +
                                " has no open serial port: frame not sent");
    return 0;
  }
  return port->Write(reinterpret_cast<const unsigned char*>(bytes.data()),
                     static_cast<int>(bytes.size()));
}

}  // namespace hub
