#include "platform/stop_signals.h"

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace platform {

std::unique_ptr<StopSignals> StopSignals::Block() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  if (pthread_sigmask(SIG_BLOCK, &signals, nullptr) != 0) return nullptr;
  const int fd = signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK);
  if (fd < 0) return nullptr;
  return std::unique_ptr<StopSignals>(new StopSignals(fd));
}

StopSignals::~StopSignals() { close(fd_); }

int StopSignals::Take() {
  signalfd_siginfo info{};
  if (read(fd_, &info, sizeof info) != static_cast<ssize_t>(sizeof info)) return 0;
  return static_cast<int>(info.ssi_signo);
}

bool StopSignals::Wait(int timeout_ms) {
  pollfd watched{fd_, POLLIN, 0};
  if (poll(&watched, 1, timeout_ms) <= 0) return false;
  return Take() != 0;
}

}  // namespace platform
