#include "platform/registry_text.h"

#include <cctype>
#include <cstdio>

#include "platform/prefix.h"

namespace platform::reg_text {
namespace {

constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kDwordPrefix = "dword:";

bool SameName(std::string_view a, std::string_view b) { return NamesEqualIgnoringCase(a, b); }

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// The structure of UTF-8: a lead byte and the continuation bytes it announces.
bool IsValidUtf8(std::string_view text) {
  for (size_t i = 0; i < text.size();) {
    auto byte = static_cast<unsigned char>(text[i]);
    size_t length = byte < 0x80           ? 1
                    : (byte >> 5) == 0x06 ? 2
                    : (byte >> 4) == 0x0E ? 3
                    : (byte >> 3) == 0x1E ? 4
                                          : 0;
    if (length == 0 || i + length > text.size()) return false;
    for (size_t k = 1; k < length; ++k) {
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
    }
    i += length;
  }
  return true;
}

// Reads a quoted text starting at text[0] == '"', undoing the \\ and \" escapes. On success
// `text` is left after the closing quote.
std::optional<std::string> TakeQuoted(std::string_view& text) {
  if (text.empty() || text.front() != '"') return std::nullopt;
  std::string out;
  for (size_t i = 1; i < text.size(); ++i) {
    char c = text[i];
    if (c == '"') {
      text.remove_prefix(i + 1);
      return out;
    }
    if (c == '\\') {
      if (i + 1 >= text.size() || (text[i + 1] != '\\' && text[i + 1] != '"')) {
        return std::nullopt;
      }
      c = text[++i];
    }
    out.push_back(c);
  }
  return std::nullopt;
}

std::string Quoted(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') out.push_back('\\');
    out.push_back(c);
  }
  out.push_back('"');
  return out;
}

// "hex:01,02", "hex(2):41,00,..." with the continuation lines of a long value.
bool IsOtherTypeData(std::string_view data) {
  if (!data.starts_with("hex")) return false;
  data.remove_prefix(3);
  if (data.starts_with("(")) {
    size_t close = data.find(')');
    if (close == std::string_view::npos || close == 1) return false;
    for (char c : data.substr(1, close - 1)) {
      if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    }
    data.remove_prefix(close + 1);
  }
  if (!data.starts_with(":")) return false;
  for (char c : data.substr(1)) {
    if (!std::isxdigit(static_cast<unsigned char>(c)) && c != ',' && c != '\\' && c != '\n' &&
        !IsBlank(c)) {
      return false;
    }
  }
  return true;
}

std::optional<uint32_t> ParseDword(std::string_view digits) {
  if (digits.empty() || digits.size() > 8) return std::nullopt;
  uint32_t number = 0;
  for (char c : digits) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
    int digit = std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : (c | 0x20) - 'a' + 10;
    number = number * 16 + static_cast<uint32_t>(digit);
  }
  return number;
}

// The text of the file split into lines, CR LF or LF ended.
std::vector<std::string_view> Lines(std::string_view content) {
  std::vector<std::string_view> lines;
  while (!content.empty()) {
    size_t end = content.find('\n');
    std::string_view line = content.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    if (end == std::string_view::npos) break;
    content.remove_prefix(end + 1);
  }
  return lines;
}

// Reads `line`; a hex value may continue on the following lines, and `index` then moves to
// its last line.
std::optional<Value> ParseValue(std::string_view line, const std::vector<std::string_view>& lines,
                                size_t& index) {
  Value value;
  if (line.starts_with("@")) {
    line.remove_prefix(1);
  } else {
    std::optional<std::string> name = TakeQuoted(line);
    if (!name || name->empty()) return std::nullopt;
    value.name = std::move(*name);
  }
  line = Trim(line);
  if (!line.starts_with("=")) return std::nullopt;
  line = Trim(line.substr(1));
  if (line.starts_with("\"")) {
    std::optional<std::string> text = TakeQuoted(line);
    if (!text || !Trim(line).empty()) return std::nullopt;
    value.data = std::move(*text);
    return value;
  }
  if (line.size() >= kDwordPrefix.size() &&
      NamesEqualIgnoringCase(line.substr(0, kDwordPrefix.size()), kDwordPrefix)) {
    std::optional<uint32_t> number = ParseDword(line.substr(kDwordPrefix.size()));
    if (!number) return std::nullopt;
    value.type = RegType::kDword;
    value.dword = *number;
    return value;
  }
  std::string data(line);
  while (!data.empty() && data.back() == '\\' && index + 1 < lines.size()) {
    data.push_back('\n');
    data += lines[++index];
  }
  // A continuation with no line left to continue on is a cut-off file. Kept, it would take in
  // whatever a rewrite puts after it: the blank line after the key, and the value would grow.
  if (!data.empty() && data.back() == '\\') return std::nullopt;
  if (!IsOtherTypeData(data) || !IsValidUtf8(data)) return std::nullopt;
  value.type = RegType::kOther;
  value.data = std::move(data);
  return value;
}

std::string LineError(size_t line, const std::string& why) {
  return "line " + std::to_string(line) + ": " + why;
}

}  // namespace

Key* FindKey(Keys& keys, std::string_view path) {
  for (Key& key : keys) {
    if (SameName(key.path, path)) return &key;
  }
  return nullptr;
}

Value* FindValue(Key& key, std::string_view name) {
  for (Value& value : key.values) {
    if (SameName(value.name, name)) return &value;
  }
  return nullptr;
}

std::optional<std::string> Parse(std::string_view content, Keys* keys) {
  if (content.starts_with(kUtf8Bom)) content.remove_prefix(kUtf8Bom.size());
  std::vector<std::string_view> lines = Lines(content);
  if (lines.empty()) return std::nullopt;  // an empty file holds no keys
  if (Trim(lines[0]) != kHeader) {
    return LineError(1, "the first line is not \"" + std::string(kHeader) + "\"");
  }
  Key* current = nullptr;
  for (size_t index = 1; index < lines.size(); ++index) {
    size_t number = index + 1;
    std::string_view line = Trim(lines[index]);
    if (!IsValidUtf8(line)) return LineError(number, "the line is not UTF-8 text");
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      if (line.size() < 3 || line.back() != ']' || line[1] == '-') {
        return LineError(number, "a key line must be [path]");
      }
      std::string path(line.substr(1, line.size() - 2));
      current = FindKey(*keys, path);
      if (current == nullptr) current = &keys->emplace_back(Key{std::move(path), {}});
      continue;
    }
    if (current == nullptr) return LineError(number, "a value stands before any key");
    std::optional<Value> value = ParseValue(line, lines, index);
    if (!value) return LineError(number, "the value line cannot be read");
    // A later line for the same name replaces the earlier one, as an import would.
    if (Value* existing = FindValue(*current, value->name)) {
      *existing = std::move(*value);
    } else {
      current->values.push_back(std::move(*value));
    }
  }
  return std::nullopt;
}

std::string Serialize(const Keys& keys) {
  std::string out(kHeader);
  out += "\n\n";
  for (const Key& key : keys) {
    out += "[" + key.path + "]\n";
    for (const Value& value : key.values) {
      out += value.name.empty() ? std::string("@") : Quoted(value.name);
      out.push_back('=');
      switch (value.type) {
        case RegType::kString:
          out += Quoted(value.data);
          break;
        case RegType::kDword: {
          char number[16];
          std::snprintf(number, sizeof number, "%08x", value.dword);
          out += std::string(kDwordPrefix) + number;
          break;
        }
        case RegType::kOther:
          out += value.data;
          break;
      }
      out.push_back('\n');
    }
    out.push_back('\n');
  }
  return out;
}

}  // namespace platform::reg_text
