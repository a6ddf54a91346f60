#include "platform/testing/temp_prefix.h"

#include <cstdlib>
#include <stdexcept>
#include <system_error>

#include "platform/testing/support.h"

namespace platform::testing {

TempPrefix::TempPrefix() {
  std::string pattern = (std::filesystem::temp_directory_path() / "ordella-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
  if (const char* old = std::getenv("ORDELLA_PREFIX")) {
    previous_ = old;
    had_previous_ = true;
  }
  setenv("ORDELLA_PREFIX", path_.c_str(), 1);
}

TempPrefix::~TempPrefix() {
  if (had_previous_) {
    setenv("ORDELLA_PREFIX", previous_.c_str(), 1);
  } else {
    unsetenv("ORDELLA_PREFIX");
  }
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::filesystem::path BuildDir() {
  if (const char* dir = std::getenv("ORDELLA_BUILD_DIR")) return dir;
  return std::filesystem::current_path().parent_path();
}

std::string ReadFilesBelow(const std::filesystem::path& dir) {
  std::string all;
  std::error_code error;
  if (!std::filesystem::exists(dir, error)) return all;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir, error)) {
    if (!entry.is_regular_file()) continue;
    all += ReadFile(entry.path());
  }
  return all;
}

}  // namespace platform::testing
