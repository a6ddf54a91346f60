// libUpharmMD.so: the UBcare program's customers and prescriptions, served from the data file
// described in README.md.
#include "companions/upharm/upharm_md.h"

#include <atomic>
#include <fstream>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/prefix.h"
#include "platform/run_log.h"
#include "platform/text.h"

namespace {

constexpr std::string_view kDataFile = "C:\\UBcare\\UpharmMD.txt";
constexpr char kFs = '\x1C';
constexpr int kFirstDrugItem = 11;

struct Customer {
  std::string visit_date;  // YYYY-MM-DD
  std::string serial;
  std::string name;  // CP949
  std::string resident_number;
  std::string birth_date;
  std::string sex;  // CP949
};

struct Drug {
  std::string serial;
  std::string code;
  std::string direction;  // CP949
};

struct Store {
  bool open = false;
  std::vector<Customer> customers;
  std::vector<Drug> drugs;
  std::vector<size_t> selected;        // indices into customers
  std::vector<std::string> pst_items;  // items of the selected prescription
};

std::mutex g_mutex;
Store g_store;  // GUARDED_BY(g_mutex)
std::atomic<bool> g_log{false};

void Log(std::string_view what) {
  if (g_log.load(std::memory_order_acquire)) {
    platform::AppendRunLog("upharm_md.log", {platform::RunLogTimeStamp(), std::string(what)});
  }
}

std::vector<std::string> SplitBar(std::string_view line) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    const size_t bar = line.find('|', start);
    fields.emplace_back(line.substr(start, bar == std::string_view::npos ? bar : bar - start));
    if (bar == std::string_view::npos) return fields;
    start = bar + 1;
  }
}

// Reads the data file; nullopt when it is missing or a line cannot be read.
std::optional<Store> ReadStore() {
  const std::optional<std::filesystem::path> path = platform::MapPath(kDataFile);
  if (!path) return std::nullopt;
  std::ifstream in(*path);
  if (!in) return std::nullopt;
  Store store;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line.front() == '#') continue;
    const std::optional<std::string> text = platform::Utf8ToCp949(line);
    if (!text) return std::nullopt;
    std::vector<std::string> f = SplitBar(*text);
    if (f[0] == "CUST" && f.size() == 7) {
      store.customers.push_back(Customer{f[1], f[2], f[3], f[4], f[5], f[6]});
    } else if (f[0] == "DRUG" && f.size() == 4) {
      store.drugs.push_back(Drug{f[1], f[2], f[3]});
    } else {
      return std::nullopt;
    }
  }
  store.open = true;
  return store;
}

int Write(std::string_view text, char* buffer) {
  if (buffer == nullptr) return 0;
  platform::CopyBounded(buffer, kUpharmDataSize, text);
  return 1;
}

}  // namespace

extern "C" {

int UpharmSetLog(int on) {
  g_log.store(on != 0, std::memory_order_release);
  return 1;
}

int UpharmOpen(int /*mode*/) {
  std::optional<Store> store = ReadStore();
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!store) {
    g_store = Store{};
    Log("UpharmOpen: the data file is missing or damaged");
    return 0;
  }
  g_store = std::move(*store);
  Log("UpharmOpen: " + std::to_string(g_store.customers.size()) + " customers");
  return 1;
}

int UpharmClose(void) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_store = Store{};
  return 1;
}

int UpharmGetCustList(const char* from_date, const char* to_date) {
  if (from_date == nullptr || to_date == nullptr) return 0;
  const std::string_view from = from_date;
  const std::string_view to = to_date;
  std::lock_guard<std::mutex> lock(g_mutex);
  g_store.selected.clear();
  if (!g_store.open) return 0;
  for (size_t i = 0; i < g_store.customers.size(); ++i) {
    const std::string& date = g_store.customers[i].visit_date;
    if (date >= from && date <= to) g_store.selected.push_back(i);
  }
  return g_store.selected.empty() ? 0 : 1;
}

int UpharmArrCustList(int index) {
  std::lock_guard<std::mutex> lock(g_mutex);
  return index >= 0 && static_cast<size_t>(index) < g_store.selected.size() ? 1 : 0;
}

int UpharmGetCustData(int index, char* buffer) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (index < 0 || static_cast<size_t>(index) >= g_store.selected.size()) return 0;
  const Customer& c = g_store.customers[g_store.selected[static_cast<size_t>(index)]];
  return Write(c.name + kFs + c.resident_number + kFs + c.serial + kFs, buffer);
}

int UpharmGetPst(const char* key) {
  if (key == nullptr) return 0;
  std::lock_guard<std::mutex> lock(g_mutex);
  g_store.pst_items.clear();
  for (const Customer& c : g_store.customers) {
    if (c.serial != key) continue;
    std::vector<std::string> items = {c.serial,     c.visit_date, c.resident_number, "", c.name,
                                      c.birth_date, c.sex};
    items.resize(kFirstDrugItem);
    for (const Drug& drug : g_store.drugs) {
      if (drug.serial == c.serial) items.push_back(drug.code + kFs + drug.direction);
    }
    items[3] = std::to_string(items.size() - kFirstDrugItem);
    g_store.pst_items = std::move(items);
    return 1;
  }
  return 0;
}

int UpharmArrPstData(int index) {
  std::lock_guard<std::mutex> lock(g_mutex);
  return index >= 0 && static_cast<size_t>(index) < g_store.pst_items.size() ? 1 : 0;
}

int UpharmGetPstData(int index, char* buffer) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (index < 0 || static_cast<size_t>(index) >= g_store.pst_items.size()) return 0;
  return Write(g_store.pst_items[static_cast<size_t>(index)], buffer);
}

}  // extern "C"
