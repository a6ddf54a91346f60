#include "fuzz/fuzz_support.h"

#include <cstdlib>
#include <filesystem>

namespace fuzzing {
namespace {

std::string& PrefixDir() {
  static std::string dir;
  return dir;
}

}  // namespace

void UsePrivatePrefix() {
  std::string& dir = PrefixDir();
  if (!dir.empty()) return;
  std::string pattern = (std::filesystem::temp_directory_path() / "ordella-fuzz-XXXXXX").string();
  FUZZ_CHECK(mkdtemp(pattern.data()) != nullptr);
  dir = pattern;
  std::atexit([] {
    std::error_code ignored;
    std::filesystem::remove_all(PrefixDir(), ignored);
  });
  setenv("ORDELLA_PREFIX", dir.c_str(), 1);
}

std::string PrefixPath(std::string_view relative) {
  UsePrivatePrefix();
  return (std::filesystem::path(PrefixDir()) / relative).string();
}

}  // namespace fuzzing
