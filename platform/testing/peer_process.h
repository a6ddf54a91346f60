// The second process of a cross-process test: <build>/bin/platform_peer started with
// posix_spawn, sharing the test's prefix through the inherited ORDELLA_PREFIX. Its standard
// output comes back through a pipe (the peer reports "ready"-style lines there). Every wait has
// a time-out, and a peer still running when the object goes is killed and reaped, so a hang
// cannot take the suite down or leave a child behind.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/testing/temp_prefix.h"

extern char** environ;

namespace platform::testing {

class PeerProcess {
 public:
  // Starts platform_peer with `args`; nullptr when it cannot be started.
  static std::unique_ptr<PeerProcess> Start(const std::vector<std::string>& args) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return nullptr;
    const std::string program = (BuildDir() / "bin" / "platform_peer").string();
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (rc != 0) {
      close(out[0]);
      return nullptr;
    }
    return std::unique_ptr<PeerProcess>(new PeerProcess(pid, out[0]));
  }

  ~PeerProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    close(out_);
  }
  PeerProcess(const PeerProcess&) = delete;
  PeerProcess& operator=(const PeerProcess&) = delete;

  pid_t pid() const { return pid_; }

  // The next line the peer printed (without its line end); nullopt at end of output or when
  // none comes within timeout_ms.
  std::optional<std::string> ReadLine(int timeout_ms = 10000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
      if (size_t end = buffered_.find('\n'); end != std::string::npos) {
        std::string line = buffered_.substr(0, end);
        buffered_.erase(0, end + 1);
        return line;
      }
      const auto left =
          std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      pollfd watched{out_, POLLIN, 0};
      if (left.count() <= 0 || poll(&watched, 1, static_cast<int>(left.count())) <= 0) {
        return std::nullopt;
      }
      char chunk[256];
      ssize_t got = read(out_, chunk, sizeof(chunk));
      if (got <= 0) return std::nullopt;
      buffered_.append(chunk, static_cast<size_t>(got));
    }
  }

  // The peer's exit code once it ends within timeout_ms; -1 when a signal ended it. nullopt
  // when it is still running then (it is then killed).
  std::optional<int> Wait(int timeout_ms = 10000) {
    if (pid_ <= 0) return std::nullopt;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    int status = 0;
    while (waitpid(pid_, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() >= deadline) {
        Kill();
        return std::nullopt;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  // Ends the peer at once, as a crash would, and reaps it.
  void Kill() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  PeerProcess(pid_t pid, int out) : pid_(pid), out_(out) {}

  pid_t pid_;
  int out_;
  std::string buffered_;
};

}  // namespace platform::testing
