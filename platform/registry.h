// The current user's registry, kept as <prefix>/registry.reg in the text form of a
// Windows .reg export:
//
//   Windows Registry Editor Version 5.00
//
//   [HKEY_CURRENT_USER\Software\Tavenor]
//   "path"="c:\\tavenor"
//   "edicode_index"=dword:00000001
//
// Key paths given to these functions are below HKEY_CURRENT_USER ("Software\Tavenor");
// key names compare case-insensitively, as Windows does. Texts are CP949 bytes in memory and
// UTF-8 in the file. Every call sees the last complete version: a read keeps the parsed file
// while the file stays the same version (a stat tells) and otherwise reads it under the file
// lock; a change takes the lock and replaces the file atomically, so several processes may
// read and write at once and a writer never loses another key's values.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// kOther: a value of another type in a hand-written file ("name"=hex:..., hex(2):...); it is
// kept verbatim when the file is rewritten and can be replaced, but not read as text.
enum class RegType { kString, kDword, kOther };

struct RegValue {
  RegType type = RegType::kString;
  std::string text;    // kString: the text (CP949 bytes); kOther: the data as written
  uint32_t dword = 0;  // kDword: the number
};

enum class RegStatus {
  kOk,
  kNotFound,         // key or value missing
  kCorrupt,          // the file could not be parsed; see RegLastError()
  kIoError,          // the file could not be read, locked or replaced
  kInvalidArgument,  // a key path, name or text the file cannot hold (empty key component,
                     // line break, NUL, bytes that are not CP949)
};

// Creates the key (and its parents) when missing. kOk when the key exists afterwards.
// Setting a value creates its key likewise. A file that cannot be parsed is never rewritten:
// every change then fails with kCorrupt, so none of its other values is lost.
RegStatus RegCreateKey(std::string_view key);
bool RegKeyExists(std::string_view key);

RegStatus RegGetValue(std::string_view key, std::string_view name, RegValue* out);
RegStatus RegSetString(std::string_view key, std::string_view name, std::string_view text);
RegStatus RegSetDword(std::string_view key, std::string_view name, uint32_t value);
RegStatus RegDeleteValue(std::string_view key, std::string_view name);

// A description of the last failure on this thread; for kCorrupt it names the file and line.
std::string RegLastError();

}  // namespace platform
