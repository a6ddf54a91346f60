// CHelvarApp: Helvar's shell. A background program with a hidden main window titled "Helvar"
// that takes the hub's requests as copy-data messages, a tray icon that blinks every five
// seconds, a timer that retries stored requests, and an orderly end when the event
// "UPDATE_ORDELLA_EVENT" is signalled, the window is sent WM_CLOSE or a stop signal comes.
#pragma once

#include <functional>
#include <string_view>

#include "protocol/helvar_request.h"

namespace helvar {

inline constexpr std::string_view kWindowTitle = protocol::kHelvarWindowTitle;
inline constexpr std::string_view kInstanceMutex = "Helvar";
inline constexpr std::string_view kUpdateEvent = "UPDATE_ORDELLA_EVENT";
inline constexpr std::string_view kDatabaseSyncMutex = "DATABASE SYNC";

struct ShellHooks {
  // A descriptor that turns readable when the operating system asks the program to stop
  // (-1: none); the main loop waits on it.
  int stop_fd = -1;
  // Called once the window exists and requests are taken.
  std::function<void()> ready;
  // Called when another copy already runs (this one then ends with 0).
  std::function<void()> refused;
};

class CHelvarApp {
 public:
  // Runs the program until it is closed. 0 after an orderly end and for a second copy; 1 when
  // the window cannot be created.
  int Run(const ShellHooks& hooks);
};

}  // namespace helvar
