#include "helvar/helvar_app.h"

#include <poll.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <memory>
#include <thread>

#include "companions/util/ordella_util.h"
#include "helvar/card_network_binding.h"
#include "helvar/helvar_log.h"
#include "helvar/request_intake.h"
#include "helvar/request_worker.h"
#include "helvar/work_context.h"
#include "platform/address_wait.h"
#include "platform/shell_ui.h"
#include "platform/sync.h"
#include "platform/wake_event.h"
#include "platform/window.h"
#include "retalo/ordella_retalo.h"

namespace helvar {
namespace {

using Clock = std::chrono::steady_clock;

constexpr uint64_t kHideButton = 1007;
constexpr std::string_view kPm2000MainClass = "TfrmPMMain6";
constexpr uint32_t kPm2000HideMessage = 31895;
constexpr uint64_t kPm2000HideWparam = 300;
constexpr int64_t kPm2000HideLparam = 207;

constexpr std::string_view kDialogClass = "#32770";
constexpr std::string_view kIconMain = "128";
constexpr std::string_view kIconBlink = "129";
constexpr int kInstallDirRoom = 1024;
constexpr auto kHideTimer = std::chrono::milliseconds(1000);   // timer 999, once
constexpr auto kBlinkTimer = std::chrono::milliseconds(5000);  // timer 0
constexpr int kWorkerPatienceMs = 15000;

std::string ReadInstallDir() {
  std::array<char, kInstallDirRoom> buffer{};
  UtilRegReadText("Software\\Tavenor\\Update", "path", buffer.data(),
                  static_cast<int>(buffer.size()));
  return std::string(buffer.data(), strnlen(buffer.data(), buffer.size()));
}

// The main window's state: what the window's thread, the watcher and the main loop share.
class CHelvarDlg {
 public:
  int64_t OnMessage(const platform::WindowMessage& message) {
    switch (message.msg) {
      case platform::kWmCopyData:
        // The request goes to a worker; the window never waits for a handler.
        CGuideUpdateThread::Start(TakeCopyData(message.copy_data_id, message.copy_data));
        return 0;
      case platform::kWmClose:
        close_requested_.store(true, std::memory_order_release);
        close_wake_.Signal();
        return 0;
      case platform::kWmCommand:
        if ((message.wparam & 0xFFFF) == kHideButton) HidePm2000();
        return 0;
      default:
        return 0;
    }
  }

  bool close_requested() const { return close_requested_.load(std::memory_order_acquire); }
  // Signalled with the close request: the main loop waits on it.
  const platform::WakeEvent& close_wake() const { return close_wake_; }

  // Timer 0: the icon alternates between 128 and 129; stored requests are retried when some
  // wait and no request is being served.
  void OnBlinkTimer(bool tray_shown) {
    const int was = blink_;
    blink_ ^= 1;
    if (tray_shown)
      platform::TrayNotify(platform::TrayAction::kModify, was == 1 ? kIconBlink : kIconMain, "");
    if (PendingRetries().load(std::memory_order_acquire) != 0 && RequestLockFree()) {
      Request retry;
      retry.code = kRetryCode;
      CGuideUpdateThread::Start(std::move(retry));
    }
  }

 private:
  static void HidePm2000() {
    if (auto pm2000 = platform::FindWindowByClass(kPm2000MainClass)) {
      platform::PostWindowMessage(*pm2000, kPm2000HideMessage, kPm2000HideWparam,
                                  kPm2000HideLparam);
    }
  }

  std::atomic<bool> close_requested_{false};
  platform::WakeEvent close_wake_;
  int blink_ = 0;  // the main loop's only
};

// Waits for "UPDATE_ORDELLA_EVENT" and then closes the window, or ends quietly when the
// program ends first (the destructor's stop word wakes it).
class UpdateWatcher {
 public:
  UpdateWatcher(platform::NamedEvent* event, platform::WindowHandle window)
      : thread_([this, event, window = std::move(window)] {
          while (!Stopped()) {
            if (event == nullptr) {
              platform::WaitOnAddress(&stop_, 0, -1);
            } else if (event->WaitUnlessStopped(-1, &stop_)) {
              platform::PostWindowMessage(window, platform::kWmClose, 0, 0);
              return;
            }
          }
        }) {}
  ~UpdateWatcher() {
    std::atomic_ref<uint32_t>(stop_).store(1, std::memory_order_release);
    platform::WakeByAddressAll(&stop_);
    thread_.join();
  }
  UpdateWatcher(const UpdateWatcher&) = delete;
  UpdateWatcher& operator=(const UpdateWatcher&) = delete;

 private:
  bool Stopped() { return std::atomic_ref<uint32_t>(stop_).load(std::memory_order_acquire) != 0; }

  alignas(std::atomic_ref<uint32_t>::required_alignment) uint32_t stop_ = 0;
  std::thread thread_;
};

// Waits until `close` is signalled, `stop_fd` turns readable or `until` comes. True when the
// system asked the program to stop.
bool WaitForCloseOrStop(const platform::WakeEvent& close, int stop_fd, Clock::time_point until) {
  std::array<pollfd, 2> watched{pollfd{close.fd(), POLLIN, 0}, pollfd{stop_fd, POLLIN, 0}};
  for (;;) {
    int timeout_ms = -1;
    if (until != Clock::time_point::max()) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now()).count();
      timeout_ms = static_cast<int>(std::clamp<int64_t>(left, 0, INT_MAX));
    }
    const int ready = poll(watched.data(), stop_fd >= 0 ? 2 : 1, timeout_ms);
    if (ready < 0 && errno == EINTR) continue;
    return ready > 0 && stop_fd >= 0 && (watched[1].revents & POLLIN) != 0;
  }
}

}  // namespace

int CHelvarApp::Run(const ShellHooks& hooks) {
  std::unique_ptr<platform::NamedEvent> update = platform::NamedEvent::CreateOrOpen(kUpdateEvent);
  std::unique_ptr<platform::NamedMutex> instance = platform::ClaimSingleInstance(kInstanceMutex);
  if (instance == nullptr) {
    if (hooks.refused) hooks.refused();
    return 0;
  }
  SetInstallDir(ReadInstallDir());
  // The card-network library of the cancellations at the card network (860-862); without it
  // they fail and the terminal is told so.
  std::unique_ptr<CEdiconnBinding> card_network = CEdiconnBinding::Load();
  InstallCardNetwork(card_network.get());
  if (update == nullptr) WriteLog("Helvar", "UPDATE_ORDELLA_EVENT cannot be opened");

  CHelvarDlg dialog;
  std::unique_ptr<platform::WindowEndpoint> window = platform::WindowEndpoint::Create(
      kWindowTitle, kDialogClass,
      [&dialog](const platform::WindowMessage& message) { return dialog.OnMessage(message); });
  if (window == nullptr) {
    WriteLog("Helvar", "the window \"Helvar\" cannot be created");
    return 1;
  }
  std::unique_ptr<platform::NamedMutex> database_sync =
      platform::NamedMutex::Open(kDatabaseSyncMutex);
  const bool tray_shown =
      platform::TrayNotify(platform::TrayAction::kAdd, kIconMain, Cp949("Ordella게이트웨이"));
  const bool display = UtilRegReadInt("Software\\Tavenor", "pharmscreen") == 1;
  if (display) OpenScreen();
  // Requests stored by an earlier run are looked at on the first tick, not only after the next
  // request is stored.
  PendingRetries().store(1, std::memory_order_release);

  {
    UpdateWatcher watcher(update.get(), window->handle());
    if (hooks.ready) hooks.ready();
    const Clock::time_point start = Clock::now();
    Clock::time_point hide_at = start + kHideTimer;
    bool hide_pending = true;
    Clock::time_point blink_at = start + kBlinkTimer;
    bool blink_running = true;
    while (!dialog.close_requested()) {
      // Sleeps until the window is closed, the system asks the program to stop, or a timer
      // is due.
      Clock::time_point next = blink_running ? blink_at : Clock::time_point::max();
      if (hide_pending) next = std::min(next, hide_at);
      if (WaitForCloseOrStop(dialog.close_wake(), hooks.stop_fd, next)) break;
      const Clock::time_point now = Clock::now();
      if (hide_pending && now >= hide_at) {
        hide_pending = false;  // the window stays hidden; the display is cleared once
        if (display) ClearScreen();
      }
      if (blink_running && now >= blink_at) {
        blink_at += kBlinkTimer;
        try {
          dialog.OnBlinkTimer(tray_shown);
        } catch (...) {
          WriteLog("Helvar", "timer 0 failed: blinking and retries stop");
          blink_running = false;
        }
      }
    }
  }
  // Orderly end: no more requests, then the workers still running are let finish (bounded).
  window.reset();
  database_sync.reset();
  if (tray_shown) platform::TrayNotify(platform::TrayAction::kDelete, "", "");
  if (CGuideUpdateThread::WaitForAll(kWorkerPatienceMs)) {
    InstallCardNetwork(nullptr);
  } else {
    WriteLog("Helvar", "a request was still running at the end");
    (void)card_network.release();  // the request may still be calling the library
  }
  if (display) CloseScreen();
  return 0;
}

}  // namespace helvar
