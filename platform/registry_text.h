// The text form of the registry file, a Windows .reg export:
//
//   Windows Registry Editor Version 5.00
//
//   [HKEY_CURRENT_USER\Software\Tavenor]
//   "path"="c:\\tavenor"
//   "edicode_index"=dword:0000000a
//   @="the default value"
//
// Texts are held in the file's UTF-8. Values of other types ("name"=hex:..., possibly
// continued over several lines) are kept verbatim.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"

namespace platform::reg_text {

struct Value {
  std::string name;  // empty for the default value ("@")
  RegType type = RegType::kString;
  std::string data;  // kString: the text; kOther: everything after '=', line breaks included
  uint32_t dword = 0;
};

struct Key {
  std::string path;  // full path, hive included, spelled as when it was created
  std::vector<Value> values;
};

using Keys = std::vector<Key>;

// Key paths and value names compare without case, as on Windows.
Key* FindKey(Keys& keys, std::string_view path);
Value* FindValue(Key& key, std::string_view name);

// Reads the text of a registry file into `keys` (in file order; a later line for a value
// replaces an earlier one). An empty text holds no keys. On a line that cannot be read,
// returns "line N: why".
std::optional<std::string> Parse(std::string_view content, Keys* keys);

// The file text for `keys`, LF line ends.
std::string Serialize(const Keys& keys);

}  // namespace platform::reg_text
