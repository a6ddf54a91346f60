// A temporary prefix for one test: sets ORDELLA_PREFIX to a fresh directory for the test's
// life and removes the directory afterwards, so tests never share registry, mappings or windows.
#pragma once

#include <filesystem>
#include <string>

namespace platform::testing {

class TempPrefix {
 public:
  TempPrefix();
  ~TempPrefix();
  TempPrefix(const TempPrefix&) = delete;
  TempPrefix& operator=(const TempPrefix&) = delete;

  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
  std::string previous_;
  bool had_previous_ = false;
};

// The build tree (ORDELLA_BUILD_DIR, set by CTest), for tests that start our programs.
std::filesystem::path BuildDir();

// Every file below `dir` (the diagnostic logs, say), as one text; empty when there is none.
std::string ReadFilesBelow(const std::filesystem::path& dir);

}  // namespace platform::testing
