// The connection property map's settings file, read from any text onto the defaults.
//
// What must hold: a text that applies, when the record it made can be written, is written as a
// text that applies to the defaults without error and makes the same record, and writing that
// record again gives the same text (what is saved is what is loaded).
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "companions/connmap/ordella_connmap.h"
#include "companions/connmap/settings_file.h"
#include "fuzz/fuzz_support.h"

namespace {

// The bytes of the record that the settings stand for: each text up to its terminating zero,
// each number as stored.
std::string SettingBytes(const std::vector<char>& record) {
  std::string bytes;
  for (const connmap::Setting& setting : connmap::Settings()) {
    const char* field = record.data() + setting.offset;
    if (setting.kind == connmap::SettingKind::kInteger) {
      bytes.append(field, 4);
    } else {
      bytes.append(field, strnlen(field, static_cast<size_t>(setting.room)));
    }
    bytes.push_back('\0');
  }
  return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<char> record(connmap::kPropertyMapSize);
  connmap::ApplyDefaults(record.data());
  std::string error;
  if (!connmap::ApplySettingsText(text, record.data(), &error)) {
    FUZZ_CHECK(!error.empty());
    return 0;
  }
  std::string written;
  if (!connmap::FormatSettingsText(record.data(), &written, &error)) {
    FUZZ_CHECK(!error.empty());
    return 0;
  }
  std::vector<char> read_back(connmap::kPropertyMapSize);
  connmap::ApplyDefaults(read_back.data());
  if (!connmap::ApplySettingsText(written, read_back.data(), &error)) {
    std::fprintf(stderr, "written text does not apply: %s\n", error.c_str());
    FUZZ_CHECK(false);
  }
  FUZZ_CHECK(SettingBytes(read_back) == SettingBytes(record));
  std::string written_again;
  FUZZ_CHECK(connmap::FormatSettingsText(read_back.data(), &written_again, &error));
  FUZZ_CHECK(written_again == written);
  return 0;
}
