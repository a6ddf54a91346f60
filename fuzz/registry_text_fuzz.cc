// The registry file's text form, read from any text.
//
// What must hold: a text that reads is written back as a text that reads to the same keys and
// values, and writing that again gives the same text (what is saved is what is loaded).
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "platform/registry_text.h"

namespace {

using platform::reg_text::Key;
using platform::reg_text::Keys;
using platform::reg_text::Value;

bool Same(const Value& a, const Value& b) {
  return a.name == b.name && a.type == b.type && a.data == b.data && a.dword == b.dword;
}

bool Same(const Keys& a, const Keys& b) {
  if (a.size() != b.size()) return false;
  for (size_t k = 0; k < a.size(); ++k) {
    if (a[k].path != b[k].path || a[k].values.size() != b[k].values.size()) return false;
    for (size_t v = 0; v < a[k].values.size(); ++v) {
      if (!Same(a[k].values[v], b[k].values[v])) return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view content(reinterpret_cast<const char*>(data), size);
  Keys keys;
  const std::optional<std::string> error = platform::reg_text::Parse(content, &keys);
  if (error) {
    FUZZ_CHECK(!error->empty());
    return 0;
  }
  const std::string written = platform::reg_text::Serialize(keys);
  Keys read_back;
  const std::optional<std::string> again = platform::reg_text::Parse(written, &read_back);
  if (again) std::fprintf(stderr, "written text does not read: %s\n", again->c_str());
  FUZZ_CHECK(!again);
  FUZZ_CHECK(Same(keys, read_back));
  FUZZ_CHECK(platform::reg_text::Serialize(read_back) == written);
  return 0;
}
