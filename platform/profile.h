// Private profile (INI) files with GetPrivateProfileString semantics.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

// Reads key `key` of section `section` from the INI file at the Windows path `file`
// (mapped through the prefix). Section and key names compare case-insensitively; the value is
// the text after '=' with surrounding blanks removed and one pair of enclosing quotes dropped.
// A missing file, section or key gives `default_value`. Like GetPrivateProfileString, at most
// size-1 bytes are copied and the copy is always NUL-terminated; returns the bytes copied.
size_t GetPrivateProfileString(std::string_view section, std::string_view key,
                               std::string_view default_value, char* out, size_t size,
                               std::string_view file);

// Convenience form without a size limit.
std::string ReadProfileString(std::string_view section, std::string_view key,
                              std::string_view default_value, std::string_view file);

// GetPrivateProfileInt: the leading decimal number of the value, else default_value.
int GetPrivateProfileInt(std::string_view section, std::string_view key, int default_value,
                         std::string_view file);

}  // namespace platform
