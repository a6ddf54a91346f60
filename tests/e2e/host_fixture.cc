#include "tests/e2e/host_fixture.h"

#include <csignal>
#include <fstream>
#include <utility>

#include "hub/core/helvar_bridge.h"
#include "platform/registry.h"
#include "platform/testing/support.h"
#include "platform/window.h"
#include "tests/fixtures/fixture.h"

namespace e2e {

constexpr std::chrono::milliseconds kPatience{kPatienceMs};

void HostTest::SetUp() {
  std::signal(SIGPIPE, SIG_IGN);
  // The hub looks for Helvar's program by name in its program folders.
  fs::create_directories(helvar_dir_);
  fs::create_symlink(bin_ / helvar_program_, helvar_dir_ / "helvar");
}

void HostTest::TearDown() {
  if (host_ != nullptr && host_->pid() > 0) {  // not yet waited for
    host_->WriteLine("quit");
    EXPECT_EQ(host_->Wait(kPatienceMs), 0) << host_->output();
  }
  // A Helvar the hub started lives on its own; make sure it is gone.
  if (auto helvar = platform::FindWindowByTitle(protocol::kHelvarWindowTitle)) {
    platform::PostWindowMessage(*helvar, platform::kWmClose, 0, 0);
    WaitForNoHelvar();
  }
}

void HostTest::LayPharmacy() {
  ASSERT_EQ(platform::RegSetString("Software\\Tavenor\\Update", "path", "c:\\tavenor"),
            platform::RegStatus::kOk);
  ASSERT_EQ(platform::RegSetDword("Software\\Tavenor", "edicode_index", 1),
            platform::RegStatus::kOk);
  std::string error;
  ASSERT_TRUE(fixture::LoadFixture(fixture::DefaultDir(), &error)) << error;
  const fs::path pm2000 = prefix_.path() / "drive_c" / "PM2000V6";
  fs::create_directories(pm2000);
  std::ofstream(pm2000 / "PM2000V6.INI") << "[DATAPATH]\r\nPATH=PHARMSRV\r\n";
}

void HostTest::WriteSettings(const std::string& text) {
  fs::create_directories(install_dir_);
  std::ofstream(install_dir_ / "ordella_connmap.ini") << text;
}

std::unique_ptr<ChildProcess> HostTest::LaunchHost(const std::vector<std::string>& args,
                                                   const std::map<std::string, std::string>& env) {
  std::map<std::string, std::string> all = env;
  all.emplace("ORDELLA_BIN_PATH", helvar_dir_.string());
  return ChildProcess::Start(bin_ / "Ordella_VanExcute", args, all);
}

void HostTest::StartHost(const std::string& settings,
                         const std::map<std::string, std::string>& env) {
  WriteSettings(settings);
  host_ = LaunchHost({}, env);
  ASSERT_NE(host_, nullptr);
  ASSERT_TRUE(host_->ReadLineWith("module started", kPatienceMs)) << host_->output();
}

std::string HostTest::Diagnostics() const {
  const std::string output = host_ != nullptr ? host_->output() : std::string();
  return output + platform::testing::ReadFilesBelow(install_dir_ / "Log");
}

bool HostTest::WaitForText(const fs::path& file, const std::string& text) {
  return platform::testing::Eventually(
      [&] { return platform::testing::ReadFile(file).find(text) != std::string::npos; },
      kPatience);
}

bool HostTest::WaitForNoHelvar() {
  return platform::testing::Eventually(
      [] { return !platform::FindWindowByTitle(protocol::kHelvarWindowTitle); }, kPatience);
}

}  // namespace e2e
