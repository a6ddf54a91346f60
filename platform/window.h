// Window endpoints: what FindWindow, SendMessage(WM_COPYDATA) and PostMessage give the
// system on Windows. An endpoint is a Unix-domain socket under <prefix>/run/windows, named by
// its title and by its class; messages are handled one at a time, in arrival order, on the
// endpoint's own handler thread.
//
// Names are compared as exact bytes (CP949 texts) of at most 124 bytes. Unlike Windows, a class
// name, like a title, is held by one live endpoint at a time. A send carries at most
// kMaxCopyDataBytes; a receiver queues at most 10,000 messages, and refuses more.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// The window messages the processes send each other.
inline constexpr uint32_t kWmClose = 0x0010;
inline constexpr uint32_t kWmCopyData = 0x004A;
inline constexpr uint32_t kWmCommand = 0x0111;
inline constexpr size_t kMaxCopyDataBytes = size_t{1} << 20;

struct WindowMessage {
  uint32_t msg = 0;           // kWmCopyData for a copy-data send, else the posted message
  uint64_t wparam = 0;        // posted: wParam; copy-data: the sender's wParam
  int64_t lparam = 0;         // posted: lParam
  uint64_t copy_data_id = 0;  // copy-data: COPYDATASTRUCT.dwData
  std::string copy_data;      // copy-data: the bytes (cbData of them)
};

// The handler's return value is the LRESULT a synchronous send gives back (posts ignore it).
using WindowHandler = std::function<int64_t(const WindowMessage&)>;

// An opaque window handle: the endpoint's socket path. Like an HWND it names one endpoint: once
// that endpoint is gone the handle stays dead, even when a new one takes the same title.
struct WindowHandle {
  std::string path;
};

class WindowEndpoint {
 public:
  // Stops receiving and removes the names; the message being handled is finished, sends still
  // queued fail (their senders get false) and queued posts are dropped.
  // REQUIRES: not called from the endpoint's own handler.
  virtual ~WindowEndpoint() = default;
  virtual WindowHandle handle() const = 0;
  // The endpoint's 32-bit window id, never 0, unique among live endpoints of the prefix: what
  // a caller that passes windows as 32-bit values (an HWND) hands on. WindowFromHwnd turns it
  // back into the handle, in any process.
  virtual uint32_t hwnd() const = 0;

  // Creates an endpoint reachable by `title` and by `class_name` (either may be empty).
  // A name held by a live endpoint is refused (nullptr); a stale name left by a dead process is
  // taken over. nullptr also without a handler or for a name too long. The handler runs on the
  // endpoint's thread; a handler that throws makes the send fail.
  static std::unique_ptr<WindowEndpoint> Create(std::string_view title, std::string_view class_name,
                                                WindowHandler handler);
};

// FindWindow: a live endpoint with that title (or class); nullopt when there is none.
std::optional<WindowHandle> FindWindowByTitle(std::string_view title);
std::optional<WindowHandle> FindWindowByClass(std::string_view class_name);

// The live endpoint with that 32-bit window id; nullopt when there is none (0, or ended).
std::optional<WindowHandle> WindowFromHwnd(uint32_t hwnd);

// SendMessage(WM_COPYDATA): returns once the receiver's handler has returned, with its result in
// *result (when not null). False when the window is gone, does not answer within timeout_ms
// (negative: no limit), or the bytes exceed kMaxCopyDataBytes. Sent from the window's own
// handler, the handler is called directly, as on Windows.
bool SendCopyData(const WindowHandle& window, uint64_t wparam, uint64_t copy_data_id,
                  std::string_view bytes, int64_t* result, int timeout_ms = 30000);

// PostMessage: returns once the message is queued at the receiver, without waiting for its
// handling. False when the window is gone or its queue is full; kWmCopyData cannot be posted.
bool PostWindowMessage(const WindowHandle& window, uint32_t msg, uint64_t wparam, int64_t lparam);

}  // namespace platform
