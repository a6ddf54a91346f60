// What idle serial terminals cost: the host program with the hub runs in a fresh prefix, once
// with no terminal and once with three simulated terminals that stay silent after their
// greeting, for a fixed time each; the CPU time the host process used (user + system, from
// /proc/<pid>/stat) is reported as a share of one core, and the difference per terminal.
//
//   idle_terminals_bench [--seconds N]     (default 10 per run)
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/prefix.h"
#include "tools/terminal_sim.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr int kTerminals = 3;
constexpr int kFirstCom = 3;
// Time for the start sequence (1.5 s between terminals) and the greetings (2.5 s of silence).
constexpr int kSettleMs = 7000;

// utime + stime of a process, in clock ticks; nullopt when it cannot be read.
std::optional<long long> CpuTicks(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const size_t name_end = stat.rfind(')');
  if (name_end == std::string::npos) return std::nullopt;
  std::istringstream fields(stat.substr(name_end + 2));
  std::string field;
  long long utime = 0;
  long long stime = 0;
  // After the name: state is field 3; utime and stime are fields 14 and 15.
  for (int n = 3; n <= 15 && fields >> field; ++n) {
    if (n == 14) utime = std::stoll(field);
    if (n == 15) stime = std::stoll(field);
  }
  if (!fields) return std::nullopt;
  return utime + stime;
}

// The host's CPU use, in percent of one core, over `seconds` once it has settled; nullopt when
// the host does not run.
std::optional<double> MeasureHost(const fs::path& host, int terminal_count, int seconds) {
  char root_template[] = "/tmp/ordella-bench-XXXXXX";
  if (mkdtemp(root_template) == nullptr) return std::nullopt;
  const fs::path root = root_template;
  setenv("ORDELLA_PREFIX", root.c_str(), 1);

  std::vector<std::unique_ptr<terminal_sim::TerminalSimulator>> terminals;
  std::string settings = "terminal_count = " + std::to_string(terminal_count) + "\n";
  for (int n = 0; n < terminal_count; ++n) {
    terminals.push_back(terminal_sim::TerminalSimulator::Create(kFirstCom + n));
    if (terminals.back() == nullptr) return std::nullopt;
    settings += "terminal" + std::to_string(n) + "_port = " + std::to_string(kFirstCom + n) + "\n";
  }
  fs::create_directories(root / "drive_c" / "tavenor");
  std::ofstream(root / "drive_c" / "tavenor" / "ordella_connmap.ini") << settings;

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  std::string program = host.string();
  std::string service = "--no-stdin";
  char* argv[] = {program.data(), service.data(), nullptr};
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return std::nullopt;

  std::this_thread::sleep_for(std::chrono::milliseconds(kSettleMs));
  const std::optional<long long> before = CpuTicks(pid);
  const auto started = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  const std::optional<long long> after = CpuTicks(pid);
  const double elapsed =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
  terminals.clear();
  std::error_code ignored;
  fs::remove_all(root, ignored);
  if (!before || !after) return std::nullopt;
  const double ticks_per_second = static_cast<double>(sysconf(_SC_CLK_TCK));
  return 100.0 * static_cast<double>(*after - *before) / ticks_per_second / elapsed;
}

}  // namespace

int main(int argc, char** argv) {
  int seconds = 10;
  if (argc == 3 && std::string(argv[1]) == "--seconds") seconds = std::atoi(argv[2]);
  if (seconds <= 0) {
    std::fprintf(stderr, "usage: idle_terminals_bench [--seconds N]\n");
    return 2;
  }
  const fs::path host = platform::ProgramDir() / "Ordella_VanExcute";
  const std::optional<double> without = MeasureHost(host, 0, seconds);
  const std::optional<double> with = MeasureHost(host, kTerminals, seconds);
  if (!without || !with) {
    std::fprintf(stderr, "idle_terminals_bench: the host did not run (%s)\n", host.c_str());
    return 1;
  }
  std::printf("host, no terminal:         %6.2f %% of one core\n", *without);
  std::printf("host, %d idle terminals:    %6.2f %% of one core\n", kTerminals, *with);
  std::printf("per idle serial terminal:  %6.2f %% of one core\n", (*with - *without) / kTerminals);
  return 0;
}
