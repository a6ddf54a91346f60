// The settings file of the connection property map: one "key = value" line per field of the
// record, UTF-8 text; SETTINGS.md documents every key and its default.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace connmap {

enum class SettingKind {
  kText,     // any text that fits its room
  kPort,     // a TCP port as a decimal text, 0-65535 ("0000" = off)
  kInteger,  // a 32-bit integer within [min, max]
};

struct Setting {
  std::string key;
  std::string group;  // the comment line the file groups it under
  SettingKind kind;
  int offset;
  int room;  // texts: bytes up to the next field, terminating zero included
  int min;   // integers
  int max;
  std::string default_value;  // as the file writes it
};

// Every setting, in the order of the record and of the file.
const std::vector<Setting>& Settings();

// Writes every setting's default into `record` (kPropertyMapSize bytes).
void ApplyDefaults(char* record);

// Applies the file's `text` on top of what `record` holds. On the first bad line, returns
// false with *error naming the line and the key; `record` may then be partly changed.
bool ApplySettingsText(std::string_view text, char* record, std::string* error);

// The file's text for every setting of `record`. False with *error naming the key when a
// field cannot be written faithfully (no terminating zero in its room, a control character,
// a text without a UTF-8 equivalent, or a number out of its range).
bool FormatSettingsText(const char* record, std::string* text, std::string* error);

}  // namespace connmap
