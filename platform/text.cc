#include "platform/text.h"

#include <iconv.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>

namespace platform {
namespace {

// The two-byte Unicode form that matches char16_t in memory.
constexpr const char* kUtf16 = std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE";

// Converts `input` from one encoding to another in a single pass; nullopt on any invalid or
// incomplete sequence or on a character the target cannot hold.
std::optional<std::string> Convert(const char* to, const char* from, const char* input,
                                   size_t length) {
  iconv_t converter = iconv_open(to, from);
  if (converter == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  std::string output(length * 2 + 16, '\0');
  char* in = const_cast<char*>(input);
  size_t in_left = length;
  size_t produced = 0;
  bool ok = true;
  while (true) {
    char* out = output.data() + produced;
    size_t out_left = output.size() - produced;
    // A null input flushes any shift state once all input has been taken.
    size_t result = in_left > 0 ? iconv(converter, &in, &in_left, &out, &out_left)
                                : iconv(converter, nullptr, nullptr, &out, &out_left);
    produced = output.size() - out_left;
    if (result != static_cast<size_t>(-1)) {
      // glibc counts characters it replaced instead of refusing; treat those as failures.
      ok = result == 0;
      if (!ok || in_left == 0) break;
      continue;
    }
    if (errno != E2BIG) {
      ok = false;
      break;
    }
    output.resize(output.size() * 2);
  }
  iconv_close(converter);
  if (!ok) return std::nullopt;
  output.resize(produced);
  return output;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

constexpr char kHexDigits[] = "0123456789ABCDEF";

// A field wider than this is a caller's mistake, not a number to format.
constexpr int kMaxFieldWidth = 1 << 16;

// The bytes of a conversion to UTF-16 as the text they spell.
std::optional<std::u16string> AsUtf16(std::optional<std::string> bytes) {
  if (!bytes) return std::nullopt;
  std::u16string text(bytes->size() / 2, u'\0');
  std::memcpy(text.data(), bytes->data(), text.size() * 2);
  return text;
}

bool IsAscii(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return (c & 0x80) == 0; });
}

}  // namespace

// ASCII reads the same in CP949 and UTF-8: most texts (statements, key paths) need no converter,
// which is set up anew for every text it converts.
std::optional<std::string> Cp949ToUtf8(std::string_view cp949) {
  if (IsAscii(cp949)) return std::string(cp949);
  return Convert("UTF-8", "CP949", cp949.data(), cp949.size());
}

std::optional<std::string> Utf8ToCp949(std::string_view utf8) {
  if (IsAscii(utf8)) return std::string(utf8);
  return Convert("CP949", "UTF-8", utf8.data(), utf8.size());
}

std::optional<std::u16string> Cp949ToUtf16(std::string_view cp949) {
  return AsUtf16(Convert(kUtf16, "CP949", cp949.data(), cp949.size()));
}

std::optional<std::u16string> Utf8ToUtf16(std::string_view utf8) {
  return AsUtf16(Convert(kUtf16, "UTF-8", utf8.data(), utf8.size()));
}

std::optional<std::string> Utf16ToUtf8(std::u16string_view utf16) {
  return Convert("UTF-8", kUtf16, reinterpret_cast<const char*>(utf16.data()), utf16.size() * 2);
}

std::optional<std::string> Utf16ToCp949(std::u16string_view utf16) {
  return Convert("CP949", kUtf16, reinterpret_cast<const char*>(utf16.data()), utf16.size() * 2);
}

std::string_view CutCp949(std::string_view text, size_t max_bytes) {
  size_t end = 0;
  while (end < text.size()) {
    size_t width = IsCp949LeadByte(static_cast<unsigned char>(text[end])) ? 2 : 1;
    // A lead byte without its second byte is dropped too: it would swallow what follows it.
    if (end + width > max_bytes || end + width > text.size()) break;
    end += width;
  }
  return text.substr(0, end);
}

std::string Cp949ForDisplay(std::string_view cp949) {
  if (std::optional<std::string> text = Cp949ToUtf8(cp949)) return *text;
  std::string shown;
  for (const char c : cp949) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F && byte != '\\') {
      shown += c;
    } else {
      shown += "\\x" + ToHex(std::string_view(&c, 1));
    }
  }
  return shown;
}

std::string JsonString(std::string_view utf8) {
  std::string json = "\"";
  for (const char c : utf8) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      json += '\\';
      json += c;
    } else if (byte < 0x20) {
      constexpr char kLowerHex[] = "0123456789abcdef";
      json += "\\u00";
      json += kLowerHex[byte >> 4];
      json += kLowerHex[byte & 0x0F];
    } else {
      json += c;
    }
  }
  return json + "\"";
}

std::string ToHex(std::string_view bytes) {
  std::string hex;
  hex.reserve(bytes.size() * 2);
  for (char c : bytes) {
    auto byte = static_cast<unsigned char>(c);
    hex.push_back(kHexDigits[byte >> 4]);
    hex.push_back(kHexDigits[byte & 0x0F]);
  }
  return hex;
}

std::optional<std::string> FromHex(std::string_view hex) {
  if (hex.size() % 2 != 0) return std::nullopt;
  std::string bytes;
  bytes.reserve(hex.size() / 2);
  for (size_t i = 0; i < hex.size(); i += 2) {
    int high = HexDigit(hex[i]);
    int low = HexDigit(hex[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    bytes.push_back(static_cast<char>(high * 16 + low));
  }
  return bytes;
}

std::optional<std::string> PackDecimal(std::string_view digits) {
  for (char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
  }
  std::string padded = (digits.size() % 2 != 0) ? "0" + std::string(digits) : std::string(digits);
  std::string packed;
  packed.reserve(padded.size() / 2);
  for (size_t i = 0; i < padded.size(); i += 2) {
    packed.push_back(static_cast<char>((padded[i] - '0') * 16 + (padded[i + 1] - '0')));
  }
  return packed;
}

std::optional<std::string> UnpackDecimal(std::string_view packed) {
  std::string digits;
  digits.reserve(packed.size() * 2);
  for (char c : packed) {
    auto byte = static_cast<unsigned char>(c);
    if ((byte >> 4) > 9 || (byte & 0x0F) > 9) return std::nullopt;
    digits.push_back(static_cast<char>('0' + (byte >> 4)));
    digits.push_back(static_cast<char>('0' + (byte & 0x0F)));
  }
  return digits;
}

std::optional<std::string> ZeroPadded(long long value, int width) {
  if (width < 1 || width > kMaxFieldWidth) return std::nullopt;
  // The magnitude as unsigned, so the most negative value has one too.
  unsigned long long magnitude = value < 0 ? 0ULL - static_cast<unsigned long long>(value)
                                           : static_cast<unsigned long long>(value);
  std::string digits = std::to_string(magnitude);
  size_t sign = value < 0 ? 1 : 0;
  auto room = static_cast<size_t>(width);
  if (digits.size() + sign > room) return std::nullopt;
  std::string field(room - digits.size(), '0');
  if (sign != 0) field[0] = '-';
  return field + digits;
}

std::string FixedWidth(std::string_view text, size_t width, char fill) {
  std::string field(CutCp949(text, width));
  field.resize(width, fill);
  return field;
}

bool CopyBounded(char* area, size_t size, std::string_view text) {
  if (area == nullptr || size == 0) return false;
  std::string_view kept = CutCp949(text, size - 1);
  if (!kept.empty()) std::memcpy(area, kept.data(), kept.size());  // an empty view may be null
  area[kept.size()] = '\0';
  return kept.size() == text.size();
}

}  // namespace platform
