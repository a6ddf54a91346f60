// What the fuzz targets share: a check that stops the run with the input kept, a private prefix
// for the code that reads files below it, and a reader that splits one input into parts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

// A property that must hold for every input: when it does not, libFuzzer keeps the input as a
// crash file (abort), and the message says which property failed.
#define FUZZ_CHECK(condition)                                                              \
  do {                                                                                     \
    if (!(condition)) {                                                                    \
      std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                        \
    }                                                                                      \
  } while (false)

namespace fuzzing {

// Points ORDELLA_PREFIX at a fresh temporary directory (once per process), so that what the code
// under test reads or writes below the prefix never touches the machine's own.
void UsePrivatePrefix();
// A file's path below the private prefix, for a target that lays its input into a file.
std::string PrefixPath(std::string_view relative);

// Takes an input apart from its front: a few bytes to choose by, the rest as data.
class Input {
 public:
  Input(const uint8_t* data, size_t size)
      : rest_(reinterpret_cast<const char*>(data), size) {}

  // The next byte (0 once the input is used up).
  uint8_t Byte() {
    if (rest_.empty()) return 0;
    const auto byte = static_cast<uint8_t>(rest_.front());
    rest_.remove_prefix(1);
    return byte;
  }
  // Up to `size` next bytes.
  std::string_view Take(size_t size) {
    const std::string_view taken = rest_.substr(0, size);
    rest_.remove_prefix(taken.size());
    return taken;
  }
  // The text up to the next `separator` (dropped) or the end.
  std::string_view TakeUntil(char separator) {
    const size_t end = rest_.find(separator);
    const std::string_view taken = rest_.substr(0, end);
    rest_.remove_prefix(end == std::string_view::npos ? rest_.size() : end + 1);
    return taken;
  }
  std::string_view Rest() const { return rest_; }
  bool empty() const { return rest_.empty(); }

 private:
  std::string_view rest_;
};

}  // namespace fuzzing
