#include "platform/keyboard.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "platform/run_log.h"

namespace platform {
namespace {

constexpr char kKeyboardLog[] = "keyboard.log";

// The X keysym that a Windows virtual-key code stands for; 0 when there is none.
unsigned long KeysymFor(uint8_t vk) {
  if ((vk >= '0' && vk <= '9') || (vk >= 'A' && vk <= 'Z') || vk == ' ') return vk;
  if (vk >= 0x60 && vk <= 0x69) return 0xFFB0UL + (vk - 0x60U);  // numeric keypad 0-9
  if (vk >= 0x70 && vk <= 0x7B) return 0xFFBEUL + (vk - 0x70U);  // F1-F12
  if (vk >= 0x25 && vk <= 0x28) return 0xFF51UL + (vk - 0x25U);  // arrows: left, up, right, down
  switch (vk) {
    case 0x08:
      return 0xFF08;  // backspace
    case 0x09:
      return 0xFF09;  // tab
    case 0x0D:
      return 0xFF0D;  // enter
    case 0x10:
      return 0xFFE1;  // shift
    case 0x11:
      return 0xFFE3;  // control
    case 0x12:
      return 0xFFE9;  // alt
    case 0x1B:
      return 0xFF1B;  // escape
    case 0x2E:
      return 0xFFFF;  // delete
    case 0x6A:
      return 0xFFAA;  // keypad *
    case 0x6B:
      return 0xFFAB;  // keypad +
    case 0x6D:
      return 0xFFAD;  // keypad -
    case 0x6E:
      return 0xFFAE;  // keypad .
    case 0x6F:
      return 0xFFAF;  // keypad /
    case 0xBC:
      return ',';
    case 0xBD:
      return '-';
    case 0xBE:
      return '.';
    default:
      return 0;
  }
}

// XTest, loaded at run time so that a machine without a display needs no X libraries.
class XTest {
 public:
  static const XTest& Get() {
    static const XTest instance;
    return instance;
  }

  bool available() const { return fake_key_ != nullptr; }

  // Sends the events to the display named by $DISPLAY: false when any could not be sent,
  // nullopt when the display cannot be reached.
  std::optional<bool> Send(const std::vector<KeyEvent>& events) const {
    void* display = open_display_(nullptr);
    if (display == nullptr) return std::nullopt;
    bool all_sent = true;
    for (const KeyEvent& event : events) {
      unsigned long keysym = KeysymFor(event.virtual_key);
      unsigned char keycode = keysym != 0 ? keysym_to_keycode_(display, keysym) : 0;
      if (keycode == 0 || fake_key_(display, keycode, event.key_up ? 0 : 1, 0) == 0) {
        all_sent = false;
      }
    }
    flush_(display);
    close_display_(display);
    return all_sent;
  }

 private:
  XTest() {
    void* x11 = dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
    void* xtst = dlopen("libXtst.so.6", RTLD_NOW | RTLD_LOCAL);
    if (x11 == nullptr || xtst == nullptr) return;
    open_display_ = reinterpret_cast<OpenDisplay>(dlsym(x11, "XOpenDisplay"));
    close_display_ = reinterpret_cast<CloseDisplay>(dlsym(x11, "XCloseDisplay"));
    flush_ = reinterpret_cast<CloseDisplay>(dlsym(x11, "XFlush"));
    keysym_to_keycode_ = reinterpret_cast<KeysymToKeycode>(dlsym(x11, "XKeysymToKeycode"));
    auto fake_key = reinterpret_cast<FakeKeyEvent>(dlsym(xtst, "XTestFakeKeyEvent"));
    if (open_display_ && close_display_ && flush_ && keysym_to_keycode_) fake_key_ = fake_key;
    // The libraries stay loaded for the life of the process.
  }

  using OpenDisplay = void* (*)(const char*);
  using CloseDisplay = int (*)(void*);
  using KeysymToKeycode = unsigned char (*)(void*, unsigned long);
  using FakeKeyEvent = int (*)(void*, unsigned int, int, unsigned long);
  OpenDisplay open_display_ = nullptr;
  CloseDisplay close_display_ = nullptr;
  CloseDisplay flush_ = nullptr;
  KeysymToKeycode keysym_to_keycode_ = nullptr;
  FakeKeyEvent fake_key_ = nullptr;
};

bool Record(const std::vector<KeyEvent>& events) {
  bool all_recorded = true;
  for (const KeyEvent& event : events) {
    char line[16];
    std::snprintf(line, sizeof line, "%s 0x%02X", event.key_up ? "up" : "down",
                  static_cast<unsigned>(event.virtual_key));
    all_recorded = AppendRunLog(kKeyboardLog, {line}) && all_recorded;
  }
  return all_recorded;
}

}  // namespace

bool SendKeys(const std::vector<KeyEvent>& events) {
  const char* display = std::getenv("DISPLAY");
  if (display != nullptr && *display != '\0' && XTest::Get().available()) {
    if (std::optional<bool> sent = XTest::Get().Send(events)) return *sent;
  }
  return Record(events);
}

std::vector<KeyEvent> RecordedKeys() {
  std::vector<KeyEvent> events;
  for (const std::vector<std::string>& fields : ReadRunLog(kKeyboardLog)) {
    char direction[8];
    unsigned code = 0;
    char extra = 0;
    if (fields.size() != 1 ||
        std::sscanf(fields[0].c_str(), "%7s 0x%x%c", direction, &code, &extra) != 2 ||
        code > 0xFF) {
      continue;
    }
    std::string_view kind = direction;
    if (kind != "down" && kind != "up") continue;
    events.push_back({static_cast<uint8_t>(code), kind == "up"});
  }
  return events;
}

}  // namespace platform
