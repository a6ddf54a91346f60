#include "retalo/customer_display.h"

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "companions/display/display_entry.h"
#include "platform/text.h"
#include "retalo/db/export_frame.h"
#include "retalo/db/log_writer.h"
#include "retalo/db/sql_fill.h"
#include "retalo/db/sql_texts.h"
#include "retalo/goods_catalogue.h"
#include "retalo/ordella_retalo.h"

namespace retalo {
namespace {

constexpr std::string_view kDisplayDll = "RetaloDisplay.dll";
constexpr std::string_view kPopupDll = "Ordella_DisplayM.dll";
constexpr size_t kTextChars = 1024;         // the display's text buffers, terminator included
constexpr size_t kCustomerNumberChars = 6;  // the display shows the birth date part only
constexpr size_t kMaxGoodsTokens = 10;      // of a goods text, only the first item is shown

// Log positions of OpenScreen: a library that cannot be loaded; the next one: an entry point
// that it lacks.
constexpr int kDisplayNotLoaded = 1;
constexpr int kPopupNotLoaded = 3;

struct DisplayLibrary {
  std::unique_ptr<platform::Library> library;
  decltype(&Func_RetaloDisplayOpen) open = nullptr;
  decltype(&Func_RetaloDisplayClose) close = nullptr;
  decltype(&Func_RetaloDisplayClear) clear = nullptr;
  decltype(&Func_RetaloAddItems) add_items = nullptr;
};

struct PopupLibrary {
  std::unique_ptr<platform::Library> library;
  decltype(&PopOpen) open = nullptr;
  decltype(&PopShowWindow) show = nullptr;
  decltype(&PopClose) close = nullptr;
};

struct Screen {
  std::mutex mutex;
  DisplayLibraryLoader loader;            // GUARDED_BY(mutex)
  std::optional<DisplayLibrary> display;  // GUARDED_BY(mutex)
  std::optional<PopupLibrary> popup;      // GUARDED_BY(mutex)

  bool is_open() const { return display.has_value() && popup.has_value(); }
};

Screen& TheScreen() {
  static Screen screen;
  return screen;
}

void LogOpenFailure(std::string_view dll_name, int position, std::string_view description) {
  LogFailure(LogHeader::Form2("OpenScreen", "DLL", dll_name), 0, position, description);
}

std::unique_ptr<platform::Library> Load(const DisplayLibraryLoader& loader,
                                        std::string_view dll_name, int position) {
  std::unique_ptr<platform::Library> library =
      loader ? loader(dll_name) : platform::Library::Load(dll_name);
  if (!library) LogOpenFailure(dll_name, position, Cp949("라이브러리 로드 실패"));
  return library;
}

// Looks every entry point up; the first missing one is logged and fails the library.
class EntryFinder {
 public:
  EntryFinder(const platform::Library& library, std::string_view dll_name, int position)
      : library_(library), dll_name_(dll_name), position_(position) {}

  template <typename Fn>
  EntryFinder& Find(const char* name, Fn* entry) {
    if (!complete_) return *this;
    *entry = reinterpret_cast<Fn>(library_.Symbol(name));
    if (*entry == nullptr) {
      complete_ = false;
      LogOpenFailure(dll_name_, position_, name);
    }
    return *this;
  }
  bool complete() const { return complete_; }

 private:
  const platform::Library& library_;
  std::string_view dll_name_;
  int position_;
  bool complete_ = true;
};

// Loads `dll_name` and looks its entry points up with `find_all`; nullopt when the library is
// missing (logged at `position`) or lacks an entry point (logged at `position` + 1).
template <typename Entries, typename FindAll>
std::optional<Entries> LoadEntries(const DisplayLibraryLoader& loader, std::string_view dll_name,
                                   int position, FindAll find_all) {
  Entries entries;
  entries.library = Load(loader, dll_name, position);
  if (!entries.library) return std::nullopt;
  EntryFinder finder(*entries.library, dll_name, position + 1);
  find_all(finder, entries);
  if (!finder.complete()) return std::nullopt;
  return entries;
}

std::optional<DisplayLibrary> LoadDisplay(const DisplayLibraryLoader& loader) {
  return LoadEntries<DisplayLibrary>(loader, kDisplayDll, kDisplayNotLoaded,
                                     [](EntryFinder& finder, DisplayLibrary& display) {
                                       finder.Find("Func_RetaloDisplayOpen", &display.open)
                                           .Find("Func_RetaloDisplayClose", &display.close)
                                           .Find("Func_RetaloDisplayClear", &display.clear)
                                           .Find("Func_RetaloAddItems", &display.add_items);
                                     });
}

std::optional<PopupLibrary> LoadPopup(const DisplayLibraryLoader& loader) {
  return LoadEntries<PopupLibrary>(loader, kPopupDll, kPopupNotLoaded,
                                   [](EntryFinder& finder, PopupLibrary& popup) {
                                     finder.Find("PopOpen", &popup.open)
                                         .Find("PopShowWindow", &popup.show)
                                         .Find("PopClose", &popup.close);
                                   });
}

// The goods text as the display reads it: each byte of the separator ("‡", A2 D4) delimits on
// its own and a run of delimiters counts as one, so empty fields vanish. At most `max_tokens`
// are read.
std::vector<std::string> DisplayTokens(std::string_view text, size_t max_tokens) {
  constexpr std::string_view kDelimiters = kParamSeparator;
  std::vector<std::string> tokens;
  size_t at = text.find_first_not_of(kDelimiters);
  while (at != std::string_view::npos && tokens.size() < max_tokens) {
    const size_t end = std::min(text.find_first_of(kDelimiters, at), text.size());
    tokens.emplace_back(text.substr(at, end - at));
    at = text.find_first_not_of(kDelimiters, end);
  }
  return tokens;
}

// A database text as the display takes it: UTF-16, at most `max_chars` characters.
std::u16string Wide(std::string_view cp949, size_t max_chars = kTextChars - 1) {
  std::u16string text = platform::Cp949ToUtf16(cp949).value_or(std::u16string());
  if (text.size() > max_chars) text.resize(max_chars);
  return text;
}

}  // namespace

void SetDisplayLibraryLoader(DisplayLibraryLoader loader) {
  Screen& screen = TheScreen();
  std::lock_guard<std::mutex> lock(screen.mutex);
  screen.loader = std::move(loader);
}

}  // namespace retalo

using retalo::TheScreen;

extern "C" int OpenScreen(void) {
  retalo::Screen& screen = TheScreen();
  std::lock_guard<std::mutex> lock(screen.mutex);
  if (screen.is_open()) return 1;
  // A library that failed earlier is tried again: the display counts as open only with both.
  if (!screen.display) {
    screen.display = retalo::LoadDisplay(screen.loader);
    if (!screen.display) return 0;
  }
  screen.popup = retalo::LoadPopup(screen.loader);
  if (!screen.popup) return 0;
  screen.popup->open();
  return screen.display->open();
}

extern "C" int CloseScreen(void) {
  retalo::Screen& screen = TheScreen();
  std::lock_guard<std::mutex> lock(screen.mutex);
  if (!screen.is_open()) return 0;
  screen.popup->close();
  screen.display->close();
  screen.popup.reset();
  screen.display.reset();
  return 1;
}

extern "C" int ClearScreen(void) {
  retalo::Screen& screen = TheScreen();
  std::lock_guard<std::mutex> lock(screen.mutex);
  if (!screen.is_open()) return 0;
  screen.popup->show(1);
  return screen.display->clear();
}

extern "C" int AddScreenCust(const char* serial) {
  retalo::Screen& screen = TheScreen();
  std::lock_guard<std::mutex> lock(screen.mutex);
  if (!screen.is_open()) return 0;
  screen.popup->show(0);

  const std::string text = serial != nullptr ? serial : "";
  retalo::ExportCall call(retalo::LogHeader::Form2("AddScreenCust", "AddScreenCust", text), false);
  if (!call.Open(2)) return retalo::kDbConnectFailed;
  retalo::CAdoConnection& db = call.db();
  const std::string sql = retalo::FillSql(retalo::sql::kSelectDisplayCustomer, {text});
  const int rc = db.ExecuteSql(sql, true);
  if (rc == retalo::kSqlFailed) return call.Fail(retalo::kDbStepFailed, 4, sql);
  if (rc == retalo::kSqlNoRows) return call.Finish(0);
  db.ClearFieldError();
  const std::u16string name = retalo::Wide(db.GetFieldTextAt(1));
  const std::u16string number = retalo::Wide(db.GetFieldTextAt(2), retalo::kCustomerNumberChars);
  const int price = std::atoi(db.GetFieldTextAt(3).c_str());
  db.CloseRecordset();
  if (db.field_error()) return call.Fail(retalo::kDbStepFailed, 4, sql);
  return call.Finish(screen.display->add_items(u"P", number.c_str(), name.c_str(), 0, price));
}

extern "C" int AddScreenItem(const char* goods) {
  retalo::Screen& screen = TheScreen();
  std::lock_guard<std::mutex> lock(screen.mutex);
  if (!screen.is_open()) return 0;
  screen.popup->show(0);

  // The goods text of a sale: count, then barcode, sale price (A), purchase price (B), ...
  const std::vector<std::string> fields =
      retalo::DisplayTokens(goods != nullptr ? goods : "", retalo::kMaxGoodsTokens);
  auto field = [&fields](size_t at) { return at < fields.size() ? fields[at] : std::string(); };
  const std::string barcode = field(1);
  const int sale_price = std::atoi(field(2).c_str());
  const int purchase_price = std::atoi(field(3).c_str());

  retalo::ExportCall call(retalo::LogHeader::Form2("AddScreenItem", "AddScreenItem", barcode),
                          false);
  if (!call.Open(2)) return retalo::kDbConnectFailed;
  const retalo::BarcodeMatch match = retalo::NormalizeBarcode(barcode);
  if (!match.valid()) {
    retalo::LogFailure(retalo::LogHeader::Form2("HasBarcode", "szBarcode", barcode), 0, 3,
                       retalo::Cp949("바코드번호 오류"));
    return retalo::kDataError;
  }
  retalo::CAdoConnection& db = call.db();
  std::string sql;
  const int rc = retalo::LookUpBarcode(db, match, &sql);
  if (rc == retalo::kSqlFailed) return call.Fail(retalo::kDbStepFailed, 4, sql);
  if (rc == retalo::kSqlNoRows) return call.Finish(0);
  db.ClearFieldError();
  const std::u16string code = retalo::Wide(db.GetFieldText("BARCODE"));
  const std::u16string name = retalo::Wide(db.GetFieldText("ETCNAME"));
  db.CloseRecordset();
  if (db.field_error()) return call.Fail(retalo::kDbStepFailed, 4, sql);
  return call.Finish(
      screen.display->add_items(u"S", code.c_str(), name.c_str(), purchase_price, sale_price));
}
