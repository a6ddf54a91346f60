// INI (private profile) reading on any file, section and key.
//
// Input: the section name up to the first LF, the key up to the next, one byte for the size of
// the caller's buffer, then the file's text.
//
// What must hold: the copy never passes the caller's buffer and is always terminated; the count
// returned is what was copied, the start of what the unbounded read gives, cut short by at most
// the first byte of a two-byte character.
#include <algorithm>
#include <cstdint>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "platform/prefix.h"
#include "platform/profile.h"

namespace {

constexpr std::string_view kFile = "C:\\Tavenor\\fuzz.ini";
constexpr char kGuard = '\x7f';

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzing::UsePrivatePrefix();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzing::Input input(data, size);
  const std::string section(input.TakeUntil('\n'));
  const std::string key(input.TakeUntil('\n'));
  const size_t room = input.Byte() % 64;
  const std::string_view content = input.Rest();

  const std::optional<std::filesystem::path> path = platform::MapPath(kFile);
  FUZZ_CHECK(path.has_value());
  std::filesystem::create_directories(path->parent_path());
  {
    std::ofstream file(*path, std::ios::binary | std::ios::trunc);
    file.write(content.data(), static_cast<std::streamsize>(content.size()));
  }

  const std::string value = platform::ReadProfileString(section, key, "default", kFile);

  std::vector<char> out(room + 1, kGuard);  // one byte past the room, to catch a write there
  const size_t copied =
      platform::GetPrivateProfileString(section, key, "default", out.data(), room, kFile);
  FUZZ_CHECK(out[room] == kGuard);
  if (room == 0) {
    FUZZ_CHECK(copied == 0);
    return 0;
  }
  const size_t fits = std::min(value.size(), room - 1);
  FUZZ_CHECK(copied <= fits && copied + 1 >= fits);
  FUZZ_CHECK(out[copied] == '\0');
  FUZZ_CHECK(std::string_view(out.data(), copied) == std::string_view(value).substr(0, copied));
  (void)platform::GetPrivateProfileInt(section, key, -1, kFile);
  return 0;
}
