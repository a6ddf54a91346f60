// helvar_standin: stands in for Helvar, the tray service program, where the hub needs one. It
// owns the window "Helvar", records every copy-data request as one line, can answer chosen
// requests through the shared block "sharedutilmap", and ends when the event
// "UPDATE_ORDELLA_EVENT" is signalled (as Helvar does) or its window is sent WM_CLOSE.
//
//   helvar_standin [--log <file>] [--reply <code> <status> <text>]...
//     --log     where the request lines go; default <prefix>/run/helvar_standin.log
//     --reply   answer request <code> by writing <text> with status <status> to the block
//
// Lines written to the log:
//   request code=<dwData> wparam=<wParam> payload=<payload as hexadecimal text>
//   reply code=<code> status=<status> length=<bytes>     (or "reply ... dropped: ...")
// Standard output: "ready" once the window exists, "refused" (exit 0) when another process
// holds it, as a second Helvar ends at once.
#include <atomic>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "hub/core/helvar_bridge.h"
#include "platform/prefix.h"
#include "platform/sync.h"
#include "platform/text.h"
#include "platform/window.h"

namespace {

constexpr std::string_view kUpdateEvent = "UPDATE_ORDELLA_EVENT";
constexpr int kEventPollMs = 100;
constexpr int kUsage = 64;

struct Reply {
  int32_t status = 0;
  std::string text;
};

struct Options {
  std::filesystem::path log_file;
  std::map<int64_t, Reply> replies;  // by request code
};

std::optional<int64_t> Number(std::string_view text) {
  int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::optional<Options> ParseOptions(int argc, char** argv) {
  Options options;
  options.log_file = platform::RunDir() / "helvar_standin.log";
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--log" && i + 1 < argc) {
      options.log_file = argv[++i];
    } else if (arg == "--reply" && i + 3 < argc) {
      const std::optional<int64_t> code = Number(argv[i + 1]);
      const std::optional<int64_t> status = Number(argv[i + 2]);
      if (!code || !status || *status <= protocol::kSharedTakenAbove ||
          *status > std::numeric_limits<int32_t>::max()) {
        return std::nullopt;
      }
      options.replies[*code] = Reply{static_cast<int32_t>(*status), argv[i + 3]};
      i += 3;
    } else {
      return std::nullopt;
    }
  }
  return options;
}

class StandIn {
 public:
  explicit StandIn(Options options) : options_(std::move(options)) {}
  ~StandIn() {
    for (std::thread& reply : replies_) reply.join();
  }
  StandIn(const StandIn&) = delete;
  StandIn& operator=(const StandIn&) = delete;

  // Takes a request as Helvar does: recorded at once, answered later on a worker.
  int64_t Handle(const platform::WindowMessage& message) {
    if (message.msg == platform::kWmClose) {
      closed_ = true;
      return 0;
    }
    if (message.msg != platform::kWmCopyData) return 0;
    Record("request code=" + std::to_string(message.copy_data_id) + " wparam=" +
           std::to_string(message.wparam) + " payload=" + platform::ToHex(message.copy_data));
    const auto reply = options_.replies.find(static_cast<int64_t>(message.copy_data_id));
    if (reply != options_.replies.end()) {
      std::lock_guard<std::mutex> lock(replies_mutex_);
      replies_.emplace_back(
          [this, code = reply->first, answer = reply->second] { Answer(code, answer); });
    }
    return 0;
  }

  bool closed() const { return closed_; }

 private:
  void Answer(int64_t code, const Reply& reply) {
    const std::string head =
        "reply code=" + std::to_string(code) + " status=" + std::to_string(reply.status);
    std::unique_ptr<hub::SharedBlock> block = hub::SharedBlock::OpenExisting(hub::LogTarget{});
    if (!block) {
      Record(head + " dropped: no sharedutilmap");
      return;
    }
    if (!block->WriteReply(reply.status, reply.text)) {
      Record(head + " dropped: refused by the block");
      return;
    }
    Record(head + " length=" + std::to_string(reply.text.size()));
  }

  void Record(const std::string& line) {
    std::lock_guard<std::mutex> lock(log_mutex_);
    if (FILE* out = std::fopen(options_.log_file.c_str(), "a")) {
      std::fprintf(out, "%s\n", line.c_str());
      std::fclose(out);
    }
  }

  const Options options_;
  std::atomic<bool> closed_{false};
  std::mutex log_mutex_;
  std::mutex replies_mutex_;
  std::vector<std::thread> replies_;  // GUARDED_BY(replies_mutex_)
};

void Say(const char* line) {
  std::printf("%s\n", line);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  std::optional<Options> options = ParseOptions(argc, argv);
  if (!options) {
    std::fprintf(stderr, "usage: %s [--log <file>] [--reply <code> <status above 100> <text>]...\n",
                 argv[0]);
    return kUsage;
  }
  std::unique_ptr<platform::NamedEvent> update = platform::NamedEvent::CreateOrOpen(kUpdateEvent);
  if (!update) {
    std::fprintf(stderr, "helvar_standin: the event %s cannot be opened\n", kUpdateEvent.data());
    return 1;
  }
  StandIn stand_in(std::move(*options));
  std::unique_ptr<platform::WindowEndpoint> window = platform::WindowEndpoint::Create(
      protocol::kHelvarWindowTitle, "",
      [&](const platform::WindowMessage& message) { return stand_in.Handle(message); });
  if (!window) {
    Say("refused");
    return 0;
  }
  Say("ready");
  while (!stand_in.closed() && !update->Wait(kEventPollMs)) {
  }
  window.reset();
  return 0;
}
