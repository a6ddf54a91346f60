// The second process of the platform layer's cross-process tests. It works in the prefix it
// inherits (ORDELLA_PREFIX) and reports on its standard output, one line per event:
//
//   platform_peer window <title> <record-file> [class]
//       opens a window endpoint and prints "ready" (or "refused", exit 2); appends one line per
//       message to <record-file>; a copy-data send returns this process's id; a posted WM_CLOSE
//       closes the endpoint and ends the process (exit 0)
//   platform_peer hold-mutex <name> <seconds>
//       claims the single-instance mutex, prints "held" (or "refused", exit 1), keeps it
//   platform_peer set-event <name>
//       sets the named event
//   platform_peer wait-event <name> <timeout-ms>
//       opens the named event, prints "waiting", exit 0 when it was set in time, else 1
//   platform_peer write-mapping <name> <text>
//       writes <text> at the start of an existing named mapping (exit 1 when there is none)
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "platform/file_mapping.h"
#include "platform/sync.h"
#include "platform/text.h"
#include "platform/window.h"

namespace {

constexpr int kUsage = 64;

void Say(const char* line) {
  std::printf("%s\n", line);
  std::fflush(stdout);
}

void Record(const std::string& file, const std::string& line) {
  if (FILE* out = std::fopen(file.c_str(), "a")) {
    std::fprintf(out, "%s\n", line.c_str());
    std::fclose(out);
  }
}

int RunWindow(const std::string& title, const std::string& record_file, const std::string& cls) {
  std::mutex mutex;
  std::condition_variable closed_signal;
  bool closed = false;
  auto handler = [&](const platform::WindowMessage& message) -> int64_t {
    if (message.msg == platform::kWmCopyData) {
      Record(record_file, "copy " + std::to_string(message.wparam) + " " +
                              std::to_string(message.copy_data_id) + " " +
                              platform::ToHex(message.copy_data));
      return getpid();
    }
    Record(record_file, "post " + std::to_string(message.msg) + " " +
                            std::to_string(message.wparam) + " " + std::to_string(message.lparam));
    if (message.msg == platform::kWmClose) {
      std::lock_guard<std::mutex> lock(mutex);
      closed = true;
      closed_signal.notify_all();
    }
    return 0;
  };
  std::unique_ptr<platform::WindowEndpoint> window =
      platform::WindowEndpoint::Create(title, cls, handler);
  if (!window) {
    Say("refused");
    return 2;
  }
  Say("ready");
  std::unique_lock<std::mutex> lock(mutex);
  closed_signal.wait(lock, [&] { return closed; });
  lock.unlock();
  window.reset();
  return 0;
}

int HoldMutex(const std::string& name, int seconds) {
  std::unique_ptr<platform::NamedMutex> claim = platform::ClaimSingleInstance(name);
  if (!claim) {
    Say("refused");
    return 1;
  }
  Say("held");
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  return 0;
}

int SetEvent(const std::string& name) {
  std::unique_ptr<platform::NamedEvent> event = platform::NamedEvent::CreateOrOpen(name);
  if (!event) return 1;
  event->Set();
  return 0;
}

int WaitEvent(const std::string& name, int timeout_ms) {
  std::unique_ptr<platform::NamedEvent> event = platform::NamedEvent::CreateOrOpen(name);
  if (!event) return 2;
  Say("waiting");
  return event->Wait(timeout_ms) ? 0 : 1;
}

int WriteMapping(const std::string& name, const std::string& text) {
  std::unique_ptr<platform::FileMapping> mapping =
      platform::FileMapping::OpenExisting(name, text.size());
  if (!mapping) return 1;
  std::memcpy(mapping->data(), text.data(), text.size());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return kUsage;
  const std::string command = argv[1];
  const std::string name = argv[2];
  if (command == "window" && (argc == 4 || argc == 5)) {
    return RunWindow(name, argv[3], argc == 5 ? argv[4] : "");
  }
  if (command == "hold-mutex" && argc == 4) return HoldMutex(name, std::atoi(argv[3]));
  if (command == "set-event" && argc == 3) return SetEvent(name);
  if (command == "wait-event" && argc == 4) return WaitEvent(name, std::atoi(argv[3]));
  if (command == "write-mapping" && argc == 4) return WriteMapping(name, argv[3]);
  return kUsage;
}
