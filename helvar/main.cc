// helvar: the tray service program that does the pharmacy-database work for the hub.
//
//   helvar [--detach]
//     --detach   run in the background, detached from the terminal
//
// Runs until "UPDATE_ORDELLA_EVENT" is signalled, its window is sent WM_CLOSE, or SIGTERM or
// SIGINT comes. Standard output (in the foreground): "Helvar ready" once requests are taken,
// "Helvar already running" when another copy runs (this one then ends with 0).
#include <signal.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <string_view>

#include "helvar/helvar_app.h"
#include "platform/program_options.h"
#include "platform/stop_signals.h"

namespace {

constexpr int kUsage = 64;

void Say(const char* line) {
  std::printf("%s\n", line);
  std::fflush(stdout);
}

}  // namespace

constexpr char kUsageText[] =
    "usage: helvar [--detach]\n"
    "       helvar --help | --version\n"
    "\n"
    "  the background service that answers the hub's requests from the pharmacy database and\n"
    "  the local stores; one instance per prefix; ends on SIGTERM, SIGINT or its close request\n"
    "  --detach   leave the terminal and run in the background\n";

int main(int argc, char** argv) {
  bool detach = false;
  for (int i = 1; i < argc; ++i) {
    if (const std::optional<int> done =
            platform::AnswerHelpOrVersion(argv[i], "helvar", kUsageText)) {
      return *done;
    }
    if (std::string_view(argv[i]) == "--detach") {
      detach = true;
    } else {
      std::fputs(kUsageText, stderr);
      return kUsage;
    }
  }
  if (detach && daemon(/*nochdir=*/1, /*noclose=*/0) != 0) {
    std::perror("helvar: detach");
    return 1;
  }
  std::signal(SIGPIPE, SIG_IGN);
  // Blocked before any thread starts, so the signals arrive only through this descriptor.
  const std::unique_ptr<platform::StopSignals> stop = platform::StopSignals::Block();
  if (stop == nullptr) {
    std::perror("helvar: signals");
    return 1;
  }
  helvar::ShellHooks hooks;
  hooks.stop_fd = stop->fd();
  hooks.ready = [] { Say("Helvar ready"); };
  hooks.refused = [] { Say("Helvar already running"); };
  return helvar::CHelvarApp().Run(hooks);
}
