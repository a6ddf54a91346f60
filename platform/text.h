// CP949 text helpers. Texts are CP949 byte strings everywhere, exactly as on the wire; these
// convert at the edges that need Unicode (MultiByteToWideChar/WideCharToMultiByte on Windows)
// and build the fixed-width fields of messages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// CP949 <-> UTF-8 and UTF-16 through iconv. nullopt when the input is not valid in its encoding
// or has no equivalent in the other one.
std::optional<std::string> Cp949ToUtf8(std::string_view cp949);
std::optional<std::string> Utf8ToCp949(std::string_view utf8);
std::optional<std::u16string> Cp949ToUtf16(std::string_view cp949);
std::optional<std::string> Utf16ToCp949(std::u16string_view utf16);
// UTF-8 <-> UTF-16, for the Unicode edges that take any character (a database server's wire).
std::optional<std::u16string> Utf8ToUtf16(std::string_view utf8);
std::optional<std::string> Utf16ToUtf8(std::u16string_view utf16);

// True when `byte` opens a two-byte CP949 character (0x81-0xFE).
constexpr bool IsCp949LeadByte(unsigned char byte) { return byte >= 0x81 && byte <= 0xFE; }

// The longest prefix of `text` of at most max_bytes bytes that does not end inside a two-byte
// character.
std::string_view CutCp949(std::string_view text, size_t max_bytes);

// A CP949 text for a person's terminal or a report: UTF-8, or, when the bytes are not CP949
// text, printable ASCII kept and every other byte (and the backslash) written as \xHH.
std::string Cp949ForDisplay(std::string_view cp949);
// A UTF-8 text as a JSON string, quotes included: '"' and '\' escaped, control bytes as
// \u00xx (lower-case digits).
std::string JsonString(std::string_view utf8);

// Upper-case hexadecimal text, two characters per byte, high half first ("\x1C\xA2" -> "1CA2").
std::string ToHex(std::string_view bytes);
// The bytes of a hexadecimal text (either case); nullopt for an odd length or a non-hex character.
std::optional<std::string> FromHex(std::string_view hex);

// Packed decimal (BCD): each byte holds two decimal digits, high half first; an odd digit count
// is padded with a leading zero. nullopt when `digits` holds anything but 0-9.
std::optional<std::string> PackDecimal(std::string_view digits);
// The digits of packed decimal bytes; nullopt when a half-byte is above 9.
std::optional<std::string> UnpackDecimal(std::string_view packed);

// A decimal number zero-padded to `width` ("%0*lld"). nullopt when it does not fit the width
// (a field never silently loses digits). Negative numbers keep their sign inside the width.
std::optional<std::string> ZeroPadded(long long value, int width);

// `text` padded with `fill` on the right, or cut (never inside a two-byte character) to exactly
// `width` bytes; a cut two-byte character leaves a fill byte in its place.
std::string FixedWidth(std::string_view text, size_t width, char fill = ' ');

// Copies `text` into a fixed area of `size` bytes, NUL-terminated, cut so that no two-byte
// character is split. Returns false when the text had to be cut.
bool CopyBounded(char* area, size_t size, std::string_view text);

}  // namespace platform
