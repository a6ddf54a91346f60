// helvar: the tray service program that does the pharmacy-database work for the hub.
//
//   helvar [--detach]
//     --detach   run in the background, detached from the terminal
//
// Runs until "UPDATE_ORDELLA_EVENT" is signalled, its window is sent WM_CLOSE, or SIGTERM or
// SIGINT comes. Standard output (in the foreground): "Helvar ready" once requests are taken,
// "Helvar already running" when another copy runs (this one then ends with 0).
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <string_view>

#include "helvar/helvar_app.h"

namespace {

constexpr int kUsage = 64;

// SIGTERM and SIGINT as a readable descriptor; blocked before any thread starts, so every
// thread inherits the mask and the signals arrive only here.
int BlockStopSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  if (pthread_sigmask(SIG_BLOCK, &signals, nullptr) != 0) return -1;
  return signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK);
}

void Say(const char* line) {
  std::printf("%s\n", line);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  bool detach = false;
  for (int i = 1; i < argc; ++i) {
    if (std::string_view(argv[i]) == "--detach") {
      detach = true;
    } else {
      std::fprintf(stderr, "usage: %s [--detach]\n", argv[0]);
      return kUsage;
    }
  }
  if (detach && daemon(/*nochdir=*/1, /*noclose=*/0) != 0) {
    std::perror("helvar: detach");
    return 1;
  }
  std::signal(SIGPIPE, SIG_IGN);
  const int signal_fd = BlockStopSignals();
  if (signal_fd < 0) {
    std::perror("helvar: signals");
    return 1;
  }
  helvar::ShellHooks hooks;
  hooks.wait_for_stop = [signal_fd](int timeout_ms) {
    pollfd watched{signal_fd, POLLIN, 0};
    if (poll(&watched, 1, timeout_ms) <= 0) return false;
    signalfd_siginfo info{};
    (void)!read(signal_fd, &info, sizeof info);
    return true;
  };
  hooks.ready = [] { Say("Helvar ready"); };
  hooks.refused = [] { Say("Helvar already running"); };
  const int code = helvar::CHelvarApp().Run(hooks);
  close(signal_fd);
  return code;
}
