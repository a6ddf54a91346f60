// The notification-area icon and message boxes. Nothing is drawn: each call appends a line to
// <prefix>/run/tray.log or <prefix>/run/messagebox.log, and the current tray state is readable.
#pragma once

#include <string>
#include <string_view>

namespace platform {

enum class TrayAction { kAdd, kModify, kDelete };

// Shell_NotifyIcon: records the icon (by resource name) and tooltip of the program's tray icon.
// The tooltip is cut to the 127 bytes of the tip field. kModify with an empty icon or tooltip
// leaves that part as it was (the "icon only" update). Like Shell_NotifyIcon, adding an icon
// that is shown, or changing or deleting one that is not, fails; false also when the
// record could not be written.
bool TrayNotify(TrayAction action, std::string_view icon, std::string_view tooltip);

struct TrayState {
  bool shown = false;
  std::string icon;
  std::string tooltip;
  unsigned changes = 0;  // how many times the icon was added or changed
};
TrayState CurrentTray();

// MessageBox: logged, answered with IDOK (1).
int MessageBox(std::string_view text, std::string_view caption);

}  // namespace platform
