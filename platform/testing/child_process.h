// For tests that need a second process: one of our programs run as a child process, with its
// standard input and output (standard error joined to it) on pipes. Children inherit the test's
// prefix through ORDELLA_PREFIX. Every wait has a time-out, and a child
// still running when the object goes is killed and reaped, so a hang cannot take the suite
// down or leave a process behind.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/testing/temp_prefix.h"

extern char** environ;

namespace platform::testing {

class ChildProcess {
 public:
  // Starts `program` with `args`; `env` entries are added to (or replace) the test's own
  // environment. nullptr when it cannot be started.
  static std::unique_ptr<ChildProcess> Start(const std::filesystem::path& program,
                                             const std::vector<std::string>& args,
                                             const std::map<std::string, std::string>& env = {}) {
    int in[2];
    int out[2];
    if (pipe2(in, O_CLOEXEC) != 0) return nullptr;
    if (pipe2(out, O_CLOEXEC) != 0) {
      close(in[0]);
      close(in[1]);
      return nullptr;
    }
    std::vector<std::string> texts = {program.string()};
    texts.insert(texts.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& text : texts) argv.push_back(text.data());
    argv.push_back(nullptr);
    std::vector<std::string> env_texts;
    for (char** entry = environ; *entry != nullptr; ++entry) {
      const std::string_view text = *entry;
      if (!env.contains(std::string(text.substr(0, text.find('='))))) env_texts.emplace_back(text);
    }
    for (const auto& [name, value] : env) env_texts.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (std::string& text : env_texts) envp.push_back(text.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDERR_FILENO);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    if (rc != 0) {
      close(in[1]);
      close(out[0]);
      return nullptr;
    }
    return std::unique_ptr<ChildProcess>(new ChildProcess(pid, in[1], out[0]));
  }

  ~ChildProcess() {
    Kill();
    CloseInput();
    close(out_);
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t pid() const { return pid_; }

  bool WriteLine(std::string_view line) {
    const std::string text = std::string(line) + "\n";
    return in_ >= 0 && write(in_, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  }

  // Ends the child's standard input.
  void CloseInput() {
    if (in_ >= 0) close(in_);
    in_ = -1;
  }

  // Reads lines until one contains `wanted`, and returns it; nullopt at the end of the output or
  // when none comes within timeout_ms. Every line read is kept in output().
  std::optional<std::string> ReadLineWith(std::string_view wanted, int timeout_ms = 30000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
      for (size_t end; (end = buffered_.find('\n')) != std::string::npos;) {
        std::string line = buffered_.substr(0, end);
        buffered_.erase(0, end + 1);
        output_ += line + "\n";
        if (line.find(wanted) != std::string::npos) return line;
      }
      const auto left =
          std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      pollfd watched{out_, POLLIN, 0};
      if (left.count() <= 0 || poll(&watched, 1, static_cast<int>(left.count())) <= 0) {
        return std::nullopt;
      }
      char chunk[1024];
      const ssize_t got = read(out_, chunk, sizeof chunk);
      if (got <= 0) return std::nullopt;
      buffered_.append(chunk, static_cast<size_t>(got));
    }
  }

  // The next line, whatever it holds.
  std::optional<std::string> ReadLine(int timeout_ms = 30000) {
    return ReadLineWith("", timeout_ms);
  }

  // Everything read so far, for failure messages.
  const std::string& output() const { return output_; }

  void Signal(int signal_number) {
    if (pid_ > 0) kill(pid_, signal_number);
  }

  // The exit code once the child ends within timeout_ms; -1 when a signal ended it; nullopt
  // when it is still running then (it is then killed).
  std::optional<int> Wait(int timeout_ms = 30000) {
    if (pid_ <= 0) return std::nullopt;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    int status = 0;
    while (waitpid(pid_, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() >= deadline) {
        Kill();
        return std::nullopt;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  void Kill() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  ChildProcess(pid_t pid, int in, int out) : pid_(pid), in_(in), out_(out) {}

  pid_t pid_;
  int in_;
  int out_;
  std::string buffered_;
  std::string output_;
};

// platform_peer, the second process of the platform's own cross-process tests.
inline std::unique_ptr<ChildProcess> StartPeer(const std::vector<std::string>& args) {
  return ChildProcess::Start(BuildDir() / "bin" / "platform_peer", args);
}

// A command of ours run to its end: its exit code (nullopt when it did not start or end) and
// everything it wrote to standard output and error.
struct CommandRun {
  std::optional<int> exit_code;
  std::string output;
};
inline CommandRun RunCommand(const std::string& program, const std::vector<std::string>& args) {
  const std::unique_ptr<ChildProcess> child =
      ChildProcess::Start(BuildDir() / "bin" / program, args);
  if (child == nullptr) return {std::nullopt, "not started"};
  while (child->ReadLine()) {
  }
  CommandRun run;
  run.exit_code = child->Wait();
  run.output = child->output();
  return run;
}

}  // namespace platform::testing
