// Keyboard input synthesis (keybd_event/SendInput). With no display the keystrokes go to a
// recorder, <prefix>/run/keyboard.log, one line per event, that tests read back.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

struct KeyEvent {
  uint8_t virtual_key = 0;  // Windows virtual-key code (VK_RETURN = 0x0D, 'A' = 0x41, ...)
  bool key_up = false;

  bool operator==(const KeyEvent&) const = default;
};

// Sends the events in order. True when every event was delivered or recorded.
bool SendKeys(const std::vector<KeyEvent>& events);

// The recorder's events in the order they were sent (for tests and diagnostics).
std::vector<KeyEvent> RecordedKeys();

}  // namespace platform
