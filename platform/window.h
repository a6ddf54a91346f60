// Window endpoints: what FindWindow, SendMessage(WM_COPYDATA) and PostMessage give the
// system on Windows. An endpoint is a Unix-domain socket under <prefix>/run/windows, named by
// its title and by its class; messages are handled one at a time, in arrival order, on the
// endpoint's own receiver thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

inline constexpr uint32_t kWmCopyData = 0x004A;

struct WindowMessage {
  uint32_t msg = 0;          // kWmCopyData for a copy-data send, else the posted message
  uint64_t wparam = 0;       // posted: wParam; copy-data: the sender's wParam
  int64_t lparam = 0;        // posted: lParam
  uint64_t copy_data_id = 0; // copy-data: COPYDATASTRUCT.dwData
  std::string copy_data;     // copy-data: the bytes (cbData of them)
};

// The handler's return value is the LRESULT a synchronous send gives back (posts ignore it).
using WindowHandler = std::function<int64_t(const WindowMessage&)>;

// An opaque window handle: the endpoint's socket path.
struct WindowHandle {
  std::string path;
};

class WindowEndpoint {
 public:
  virtual ~WindowEndpoint() = default;  // stops receiving and removes the names
  virtual WindowHandle handle() const = 0;

  // Creates an endpoint reachable by `title` and by `class_name` (either may be empty).
  // A name held by a live endpoint of another owner is refused (nullptr); a stale name left by a
  // dead process is taken over.
  static std::unique_ptr<WindowEndpoint> Create(std::string_view title, std::string_view class_name,
                                                WindowHandler handler);
};

// FindWindow: a live endpoint with that title (or class); nullopt when there is none.
std::optional<WindowHandle> FindWindowByTitle(std::string_view title);
std::optional<WindowHandle> FindWindowByClass(std::string_view class_name);

// SendMessage(WM_COPYDATA): returns once the receiver's handler has returned, with its result in
// *result. False when the window is gone or does not answer within timeout_ms.
bool SendCopyData(const WindowHandle& window, uint64_t wparam, uint64_t copy_data_id,
                  std::string_view bytes, int64_t* result, int timeout_ms = 30000);

// PostMessage: queued for the receiver, does not wait for handling. False when the window is gone.
bool PostWindowMessage(const WindowHandle& window, uint32_t msg, uint64_t wparam, int64_t lparam);

}  // namespace platform
