#include "companions/connmap/settings_file.h"

#include <charconv>
#include <cstdint>
#include <optional>
#include <set>

#include "companions/connmap/ordella_connmap.h"
#include "platform/text.h"

namespace connmap {
namespace {

constexpr int kIntegerSize = 4;
constexpr int kMaxPort = 65535;
constexpr std::string_view kBlanks = " \t";
constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";

Setting Text(std::string key, std::string group, TextField field, std::string default_value,
             SettingKind kind = SettingKind::kText) {
  return {std::move(key),          std::move(group), kind, field.offset, field.room, 0, 0,
          std::move(default_value)};
}

Setting Port(std::string key, std::string group, TextField field, std::string default_value) {
  return Text(std::move(key), std::move(group), field, std::move(default_value),
              SettingKind::kPort);
}

Setting Integer(std::string key, std::string group, IntField field, int min, int max,
                int default_value) {
  return {std::move(key),
          std::move(group),
          SettingKind::kInteger,
          field.offset,
          kIntegerSize,
          min,
          max,
          std::to_string(default_value)};
}

std::vector<Setting> BuildSettings() {
  const std::string server = "Gateway server and remote relay peer";
  const std::string listeners = "Local listeners (\"0000\" = off)";
  const std::string pharmacy = "Pharmacy";
  const std::string terminals = "Terminals and payment";
  const std::string printing = "Printing and diagnostic log";
  std::vector<Setting> settings = {
      Text("server_address", server, kServerAddress, "127.0.0.1"),
      Port("server_port", server, kServerPort, "9100"),
      Text("relay_peer_address", server, kRelayPeerAddress, "0.0.0.0"),
      Port("relay_peer_port", server, kRelayPeerPort, "9101"),
      Port("pos_listener_port", listeners, kPosListenerPort, "0000"),
      Port("first_ack_listener_port", listeners, kFirstAckListenerPort, "0000"),
      Port("second_ack_listener_port", listeners, kSecondAckListenerPort, "0000"),
      Port("tcp_terminal_port", listeners, kTcpTerminalPort, "9102"),
      Text("trade_name", pharmacy, kTradeName, ""),
      Text("telephone", pharmacy, kTelephone, ""),
      Text("area_code", pharmacy, kAreaCode, ""),
      Text("business_number", pharmacy, kBusinessNumber, ""),
      Text("pharmacy_code", pharmacy, kPharmacyCode, ""),
      Integer("program_index", pharmacy, kProgramIndex, 0, 16, 1),
      Text("business_address", pharmacy, kBusinessAddress, ""),
      Text("owner_name", pharmacy, kOwnerName, ""),
      Integer("terminal_count", terminals, kTerminalCount, 0, kMaxTerminals, 1),
      Integer("payment_path", terminals, kPaymentPath, 0, 2, 0),
  };
  for (int i = 0; i < kMaxTerminals; ++i) {
    const std::string prefix = "terminal" + std::to_string(i) + "_";
    const std::string group = "Terminal " + std::to_string(i);
    settings.push_back(Text(prefix + "id", group, InSlot(i, kTerminalId), ""));
    settings.push_back(Text(prefix + "signon_field21", group, InSlot(i, kSignOnField21), ""));
    settings.push_back(Text(prefix + "signon_field19", group, InSlot(i, kSignOnField19), ""));
    settings.push_back(Integer(prefix + "port", group, InSlot(i, kSerialPort), 0, 256, i + 1));
    settings.push_back(Text(prefix + "signon_field11", group, InSlot(i, kSignOnField11), ""));
    settings.push_back(Text(prefix + "signon_field10", group, InSlot(i, kSignOnField10), ""));
  }
  settings.push_back(Integer("second_receipt_copy", printing, kSecondReceiptCopy, 0, 1, 0));
  settings.push_back(Integer("log_flag", printing, kLogFlag, 0, 1, 1));
  settings.push_back(Integer("convert_print_text", printing, kConvertPrintText, 0, 1, 0));
  return settings;
}

std::string_view Trim(std::string_view text) {
  const size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

bool HasControlByte(std::string_view text) {
  for (const char c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return true;
  }
  return false;
}

// The whole text as a decimal number (an optional minus sign, then digits).
std::optional<long long> WholeNumber(std::string_view text) {
  long long value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || text.front() == '+' || error != std::errc() ||
      end != text.data() + text.size()) {
    return std::nullopt;
  }
  return value;
}

// Checks a CP949 `value` for `setting` and stores it in the record; false with *why.
bool StoreValue(const Setting& setting, std::string_view value, char* record, std::string* why) {
  if (setting.kind == SettingKind::kInteger) {
    const std::optional<long long> number = WholeNumber(value);
    if (!number) {
      *why = "\"" + std::string(value) + "\" is not a number";
      return false;
    }
    if (*number < setting.min || *number > setting.max) {
      *why = std::string(value) + " is outside " + std::to_string(setting.min) + "-" +
             std::to_string(setting.max);
      return false;
    }
    WriteInt(record, IntField{setting.offset}, static_cast<int32_t>(*number));
    return true;
  }
  if (setting.kind == SettingKind::kPort) {
    const std::optional<long long> port = WholeNumber(value);
    if (!port || value.front() == '-' || *port > kMaxPort) {
      *why = "\"" + std::string(value) + "\" is not a port number (0-65535)";
      return false;
    }
  }
  if (HasControlByte(value)) {
    *why = "the text holds a control character";
    return false;
  }
  if (value.size() + 1 > static_cast<size_t>(setting.room)) {
    *why = "the text of " + std::to_string(value.size()) + " bytes does not fit its room of " +
           std::to_string(setting.room - 1) + " bytes";
    return false;
  }
  WriteText(record, TextField{setting.offset, setting.room}, value);
  return true;
}

const Setting* FindSetting(std::string_view key) {
  for (const Setting& setting : Settings()) {
    if (EqualIgnoringCase(setting.key, key)) return &setting;
  }
  return nullptr;
}

// The value of a "key = value" line: blanks trimmed, one pair of enclosing quotes dropped.
std::string_view Unquoted(std::string_view value) {
  value = Trim(value);
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

// The value as the file writes it: quoted when blanks at its ends or a leading quote would
// otherwise be lost on reading.
std::string Quoted(const std::string& value) {
  if (!value.empty() &&
      (kBlanks.find(value.front()) != std::string_view::npos ||
       kBlanks.find(value.back()) != std::string_view::npos || value.front() == '"')) {
    return "\"" + value + "\"";
  }
  return value;
}

// The setting's value in `record` as the file writes it (UTF-8); false with *why.
bool FieldText(const Setting& setting, const char* record, std::string* text, std::string* why) {
  if (setting.kind == SettingKind::kInteger) {
    const int32_t value = ReadInt(record, IntField{setting.offset});
    if (value < setting.min || value > setting.max) {
      *why = std::to_string(value) + " is outside " + std::to_string(setting.min) + "-" +
             std::to_string(setting.max);
      return false;
    }
    *text = std::to_string(value);
    return true;
  }
  const std::string value = ReadText(record, TextField{setting.offset, setting.room});
  if (value.size() >= static_cast<size_t>(setting.room)) {
    *why = "the text fills its room without a terminating zero";
    return false;
  }
  if (HasControlByte(value)) {
    *why = "the text holds a control character";
    return false;
  }
  const std::optional<std::string> utf8 = platform::Cp949ToUtf8(value);
  if (!utf8) {
    *why = "the text is not valid CP949";
    return false;
  }
  *text = Quoted(*utf8);
  return true;
}

}  // namespace

const std::vector<Setting>& Settings() {
  static const std::vector<Setting> settings = BuildSettings();
  return settings;
}

void ApplyDefaults(char* record) {
  for (const Setting& setting : Settings()) {
    std::string unused;
    StoreValue(setting, setting.default_value, record, &unused);
  }
}

bool ApplySettingsText(std::string_view text, char* record, std::string* error) {
  if (text.starts_with(kUtf8ByteOrderMark)) text.remove_prefix(kUtf8ByteOrderMark.size());
  std::set<const Setting*> seen;
  int line_number = 0;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    ++line_number;
    const std::string where = "line " + std::to_string(line_number);
    line = Trim(line.ends_with('\r') ? line.substr(0, line.size() - 1) : line);
    if (line.empty() || line.front() == '#' || line.front() == ';') continue;

    const size_t equals = line.find('=');
    if (equals == std::string_view::npos) {
      *error = where + ": \"" + std::string(line) + "\" has no '='";
      return false;
    }
    const std::string_view key = Trim(line.substr(0, equals));
    const Setting* setting = FindSetting(key);
    if (setting == nullptr) {
      *error = where + ": unknown key \"" + std::string(key) + "\"";
      return false;
    }
    const std::string named = where + ", key \"" + setting->key + "\": ";
    if (!seen.insert(setting).second) {
      *error = named + "given twice";
      return false;
    }
    const std::optional<std::string> value =
        platform::Utf8ToCp949(Unquoted(line.substr(equals + 1)));
    if (!value) {
      *error = named + "the value is not UTF-8 text with a CP949 equivalent";
      return false;
    }
    std::string why;
    if (!StoreValue(*setting, *value, record, &why)) {
      *error = named + why;
      return false;
    }
  }
  return true;
}

bool FormatSettingsText(const char* record, std::string* text, std::string* error) {
  std::string out =
      "# Ordella connection settings: one \"key = value\" per line; a line starting with '#'\n"
      "# or ';' is a comment. SETTINGS.md describes every key and its default.\n"
      "# The gateway rewrites this file when it saves its settings; comments are not kept.\n";
  const std::string* group = nullptr;
  for (const Setting& setting : Settings()) {
    if (group == nullptr || *group != setting.group) {
      group = &setting.group;
      out += "\n# " + *group + "\n";
    }
    std::string value;
    std::string why;
    if (!FieldText(setting, record, &value, &why)) {
      *error = "key \"" + setting.key + "\": " + why;
      return false;
    }
    out += setting.key + (value.empty() ? " =\n" : " = " + value + "\n");
  }
  *text = std::move(out);
  return true;
}

}  // namespace connmap
