// The set-up the end-to-end tests of the host program share: a temporary prefix, a program
// folder where the hub finds Helvar's program by name (the real Helvar or its stand-in), the
// hub's settings file, the host started with that folder on its program path, and at the end
// the host stopped and any Helvar the hub started closed.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/testing/child_process.h"
#include "platform/testing/temp_prefix.h"

namespace e2e {

namespace fs = std::filesystem;
using platform::testing::ChildProcess;

// How long a test waits for another process; far longer than anything takes when it works.
inline constexpr int kPatienceMs = 30000;

class HostTest : public ::testing::Test {
 protected:
  // `helvar_program`: the program of the build's bin/ that plays Helvar.
  explicit HostTest(std::string helvar_program = "helvar_standin")
      : helvar_program_(std::move(helvar_program)) {}

  // Ignores SIGPIPE (a child that ends must not end the test) and places Helvar's program.
  void SetUp() override;
  // Quits the host started by StartHost (unless a test has waited for its end), then closes a
  // Helvar the hub started.
  void TearDown() override;

  // Writes the hub's settings file (ordella_connmap.ini in the install directory).
  void WriteSettings(const std::string& text);
  // The pharmacy Helvar serves: the install directory and program index in the registry, the
  // demo pharmacy database, and the pharmacy program's settings file naming its server.
  void LayPharmacy();
  // Starts the host program with Helvar's folder on its program path; nullptr when it cannot.
  std::unique_ptr<ChildProcess> LaunchHost(const std::vector<std::string>& args = {},
                                           const std::map<std::string, std::string>& env = {});
  // Writes `settings`, starts host_ and returns once its module has started.
  void StartHost(const std::string& settings, const std::map<std::string, std::string>& env = {});

  // The host's output and the hub's diagnostic log, for failure messages.
  std::string Diagnostics() const;
  // True once `file` holds `text`, within the patience.
  static bool WaitForText(const fs::path& file, const std::string& text);
  // True once no Helvar window is left, within the patience.
  static bool WaitForNoHelvar();

  platform::testing::TempPrefix prefix_;
  const fs::path bin_ = platform::testing::BuildDir() / "bin";
  const fs::path install_dir_ = prefix_.path() / "drive_c" / "tavenor";
  const fs::path helvar_dir_ = prefix_.path() / "helvar_bin";
  // What Helvar's stand-in records of the requests it takes.
  const fs::path helvar_log_ = prefix_.path() / "run" / "helvar_standin.log";
  std::unique_ptr<ChildProcess> host_;

 private:
  std::string helvar_program_;
};

}  // namespace e2e
