// Our customer display library. One source serves both display libraries of the counter
// ("RetaloDisplay.dll", the item list, and "Ordella_DisplayM.dll", the pop-up window); the
// build gives each its name (ORDELLA_DISPLAY_NAME). Nothing is drawn: what the display shows
// is kept in <prefix>/run/display-<name>.txt, replaced whole after every change, so that a
// person or a test can read it:
//
//   list: open            (or closed)
//   popup: shown          (or hidden, closed)
//   P|123456|홍길동|0|3500 (one line per customer or item shown, UTF-8)
#include <cstddef>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "companions/display/display_entry.h"
#include "platform/prefix.h"
#include "platform/text.h"

#ifndef ORDELLA_DISPLAY_NAME
#error "ORDELLA_DISPLAY_NAME names the library being built"
#endif

namespace {

constexpr size_t kMaxTextChars = 1024;  // the callers' text buffers hold this many characters

enum class Popup { kClosed, kHidden, kShown };

struct Display {
  std::mutex mutex;
  bool list_open = false;          // GUARDED_BY(mutex)
  Popup popup = Popup::kClosed;    // GUARDED_BY(mutex)
  std::vector<std::string> lines;  // GUARDED_BY(mutex)
};

Display& TheDisplay() {
  static Display display;
  return display;
}

const char* PopupText(Popup popup) {
  switch (popup) {
    case Popup::kShown:
      return "shown";
    case Popup::kHidden:
      return "hidden";
    case Popup::kClosed:
      break;
  }
  return "closed";
}

// Replaces the state file with what the display shows now. REQUIRES: display.mutex is held.
void Save(const Display& display) {
  const std::filesystem::path file =
      platform::RunDir() / (std::string("display-") + ORDELLA_DISPLAY_NAME + ".txt");
  std::filesystem::path temporary = file;
  temporary += ".new";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << "list: " << (display.list_open ? "open" : "closed") << '\n'
        << "popup: " << PopupText(display.popup) << '\n';
    for (const std::string& line : display.lines) out << line << '\n';
    if (!out) return;
  }
  std::error_code ec;
  std::filesystem::rename(temporary, file, ec);
}

// A caller's text as UTF-8 for the state file: at most kMaxTextChars characters, line ends and
// the field separator replaced by spaces. nullopt when missing or not convertible.
std::optional<std::string> Text(const char16_t* text) {
  if (text == nullptr) return std::nullopt;
  size_t length = 0;
  while (length < kMaxTextChars && text[length] != u'\0') ++length;
  std::optional<std::string> cp949 = platform::Utf16ToCp949(std::u16string_view(text, length));
  if (!cp949) return std::nullopt;
  std::optional<std::string> utf8 = platform::Cp949ToUtf8(*cp949);
  if (!utf8) return std::nullopt;
  for (char& c : *utf8) {
    if (c == '\n' || c == '\r' || c == '|') c = ' ';
  }
  return utf8;
}

}  // namespace

extern "C" int Func_RetaloDisplayOpen(void) {
  Display& display = TheDisplay();
  std::lock_guard<std::mutex> lock(display.mutex);
  if (!display.list_open) {
    display.list_open = true;
    display.lines.clear();
    Save(display);
  }
  return 1;
}

extern "C" void Func_RetaloDisplayClose(void) {
  Display& display = TheDisplay();
  std::lock_guard<std::mutex> lock(display.mutex);
  display.list_open = false;
  display.lines.clear();
  Save(display);
}

extern "C" int Func_RetaloDisplayClear(void) {
  Display& display = TheDisplay();
  std::lock_guard<std::mutex> lock(display.mutex);
  if (!display.list_open) return 0;
  display.lines.clear();
  Save(display);
  return 1;
}

extern "C" int Func_RetaloAddItems(const char16_t* kind, const char16_t* code, const char16_t* name,
                                   int first, int second) {
  const std::optional<std::string> kind_text = Text(kind);
  const std::optional<std::string> code_text = Text(code);
  const std::optional<std::string> name_text = Text(name);
  if (!kind_text || !code_text || !name_text) return 0;
  const bool customer = *kind_text == "P";
  if (!customer && *kind_text != "S") return 0;

  Display& display = TheDisplay();
  std::lock_guard<std::mutex> lock(display.mutex);
  if (!display.list_open) return 0;
  // A customer being paid is shown alone; the items of a sale add up below each other.
  if (customer) display.lines.clear();
  display.lines.push_back(*kind_text + '|' + *code_text + '|' + *name_text + '|' +
                          std::to_string(first) + '|' + std::to_string(second));
  Save(display);
  return 1;
}

extern "C" void PopOpen(void) {
  Display& display = TheDisplay();
  std::lock_guard<std::mutex> lock(display.mutex);
  if (display.popup == Popup::kClosed) display.popup = Popup::kHidden;
  Save(display);
}

extern "C" void PopShowWindow(int show) {
  Display& display = TheDisplay();
  std::lock_guard<std::mutex> lock(display.mutex);
  if (display.popup == Popup::kClosed) return;
  display.popup = show != 0 ? Popup::kShown : Popup::kHidden;
  Save(display);
}

extern "C" void PopClose(void) {
  Display& display = TheDisplay();
  std::lock_guard<std::mutex> lock(display.mutex);
  display.popup = Popup::kClosed;
  Save(display);
}
