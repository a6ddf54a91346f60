// Ordella_VanExcute: the host program of the hub. It owns the host window that receives the
// hub's notifications and prints each as a line, loads libOrdella_Hub.so and starts the module
// with its window's id, forwards the operator's commands from standard input, and closes the
// module cleanly on "quit", at the end of standard input, on SIGTERM or SIGINT, or when its
// window is sent WM_CLOSE.
//
//   Ordella_VanExcute [--no-stdin]
//     --no-stdin   run as a service: standard input is not read; stop by signal or WM_CLOSE
//
// Exit code 0 after a clean stop; 1 when the module does not start; 2 when the host window
// cannot be created or the hub cannot be loaded; 64 for bad arguments.
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "host/host_console.h"
#include "platform/process.h"
#include "platform/program_options.h"
#include "platform/status.h"
#include "platform/stop_signals.h"
#include "platform/wake_event.h"
#include "platform/window.h"
#include "protocol/host_notification.h"

namespace {

constexpr std::string_view kHostWindowTitle = "Ordella_VanExcute";
constexpr std::string_view kHubLibrary = "Ordella_Hub.dll";
constexpr int kExitClean = 0;
constexpr int kExitNotStarted = 1;
constexpr int kExitNoHub = 2;
constexpr int kExitUsage = 64;

// Lines from the window's thread and the command loop never mix.
void PrintLine(const std::string& text) {
  static std::mutex mutex;
  std::lock_guard<std::mutex> lock(mutex);
  std::fwrite(text.data(), 1, text.size(), stdout);
  if (text.empty() || text.back() != '\n') std::fputc('\n', stdout);
  std::fflush(stdout);
}

template <typename Fn>
Fn Entry(const platform::Library& library, const char* name) {
  return reinterpret_cast<Fn>(library.Symbol(name));
}

std::optional<host::HubEntryPoints> EntryPoints(const platform::Library& hub) {
  host::HubEntryPoints entry;
  entry.create = Entry<decltype(entry.create)>(hub, "CreateClientModule");
  entry.close = Entry<decltype(entry.close)>(hub, "CloseClientModule");
  entry.save = Entry<decltype(entry.save)>(hub, "SaveClientModule");
  entry.massage = Entry<decltype(entry.massage)>(hub, "OrdellaMassage");
  if (!entry.create || !entry.close || !entry.save || !entry.massage) return std::nullopt;
  return entry;
}

// Reads commands until one asks to quit, standard input ends, a stop signal comes or the window
// is asked to close.
void CommandLoop(const host::HubEntryPoints& hub, bool read_stdin, platform::StopSignals& stop,
                 const platform::WakeEvent& close_request) {
  std::string pending;
  for (;;) {
    pollfd watched[3] = {{stop.fd(), POLLIN, 0},
                         {close_request.fd(), POLLIN, 0},
                         {read_stdin ? STDIN_FILENO : -1, POLLIN, 0}};
    if (poll(watched, 3, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (watched[0].revents != 0) {
      PrintLine("signal " + std::to_string(stop.Take()) + ": closing");
      return;
    }
    if (watched[1].revents != 0) {
      PrintLine("window closed: closing");
      return;
    }
    if (watched[2].revents == 0) continue;
    char chunk[4096];
    const ssize_t got = read(STDIN_FILENO, chunk, sizeof chunk);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (got <= 0) {
      PrintLine("end of input: closing");
      return;
    }
    pending.append(chunk, static_cast<size_t>(got));
    for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
      const std::string line = pending.substr(0, end);
      pending.erase(0, end + 1);
      std::string out;
      const host::CommandResult result = host::RunCommand(line, hub, &out);
      if (!out.empty()) PrintLine(out);
      if (result == host::CommandResult::kQuit) return;
    }
  }
}

}  // namespace

constexpr char kUsage[] =
    "usage: Ordella_VanExcute [--no-stdin]\n"
    "       Ordella_VanExcute --help | --version\n"
    "\n"
    "  loads libOrdella_Hub.so, starts the module and prints each host notification as a line;\n"
    "  reads the operator's commands from standard input (\"quit\" stops the module)\n"
    "  --no-stdin   run as a service: standard input is not read; stop by SIGTERM or WM_CLOSE\n";

int main(int argc, char** argv) {
  bool read_stdin = true;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (const std::optional<int> done =
            platform::AnswerHelpOrVersion(arg, "Ordella_VanExcute", kUsage)) {
      return *done;
    }
    if (arg == "--no-stdin") {
      read_stdin = false;
    } else {
      std::fputs(kUsage, stderr);
      return kExitUsage;
    }
  }
  // Blocked before the hub starts any thread, so the signals arrive only through this descriptor.
  const std::unique_ptr<platform::StopSignals> stop = platform::StopSignals::Block();
  if (stop == nullptr) {
    std::fprintf(stderr, "Ordella_VanExcute: stop signals cannot be watched: %s\n",
                 platform::ErrnoText(errno).c_str());
    return kExitNoHub;
  }
  const platform::WakeEvent close_request;  // signalled when the window is asked to close

  std::unique_ptr<platform::WindowEndpoint> window = platform::WindowEndpoint::Create(
      kHostWindowTitle, kHostWindowTitle, [&](const platform::WindowMessage& message) -> int64_t {
        if (message.msg == protocol::kHostNotifyMessage) {
          PrintLine(host::DescribeNotification(message.wparam, message.lparam));
        } else if (message.msg == platform::kWmClose) {
          close_request.Signal();
        }
        return 0;
      });
  if (!window) {
    std::fprintf(stderr, "Ordella_VanExcute: the host window cannot be created\n");
    return kExitNoHub;
  }

  platform::Status error;
  std::unique_ptr<platform::Library> hub = platform::Library::Load(kHubLibrary, &error);
  std::optional<host::HubEntryPoints> entry = hub ? EntryPoints(*hub) : std::nullopt;
  if (!entry) {
    std::fprintf(stderr, "Ordella_VanExcute: the hub cannot be loaded: %s\n",
                 hub ? "an export is missing" : error.message().c_str());
    return kExitNoHub;
  }
  if (entry->create(window->hwnd(), 0) == 0) {
    PrintLine("CreateClientModule failed");
    return kExitNotStarted;
  }
  PrintLine("module started");

  CommandLoop(*entry, read_stdin, *stop, close_request);

  entry->close();
  hub.reset();
  PrintLine("module closed");
  return kExitClean;
}
