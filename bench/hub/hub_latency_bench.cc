// How fast the hub answers: the host program runs in a fresh prefix with one simulated serial
// terminal (a pseudo-terminal), and each figure is timed from outside the host:
//
//   833 in -> answer out   a request the hub answers itself: from the terminal's write of the
//                          frame's last byte to the answer's last byte read on the line
//   frame -> Helvar        from the write of an 820 frame's last byte to its request reaching
//                          the window "Helvar" (this program plays Helvar's window here)
//   block -> terminal      from a reply's status stored in the shared block (as Helvar's writer
//                          stores it) to the reply's last byte read on the line
//   820 -> 821             today's prescriptions through the real Helvar on the embedded
//                          database (the demo fixture), from the last byte in to the last out
//   835 -> item packet     a barcode the demo database knows looked up through the real Helvar,
//                          from the frame's last byte in to the 81-byte item packet's last out
//
// Each is reported as p50 and p99 over --rounds rounds (default 200), the 835 look-up over
// --lookups rounds (default 1000). The hub's and the bridge's part of a round trip through
// Helvar is the sum of the frame -> Helvar and block -> terminal legs, shown against the 835
// (at p99 a sum of two p99s, so an upper bound).
//
//   hub_latency_bench [--rounds N] [--lookups N] [--bin DIR]
//     --bin   the folder of the host, Helvar and the fixture loader (default: this program's), so
//             that another build can be measured the same way
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "hub/core/dispatch.h"
#include "hub/core/helvar_bridge.h"
#include "platform/prefix.h"
#include "platform/registry.h"
#include "platform/serial_port.h"
#include "platform/text.h"
#include "platform/window.h"
#include "protocol/helvar_request.h"
#include "protocol/message_codes.h"
#include "tools/terminal_sim.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kCom = 3;
constexpr int kPatienceMs = 15000;

double MicrosSince(Clock::time_point start) {
  return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

// The value at `share` (0.5 for the median) of sorted `micros`.
double Percentile(const std::vector<double>& micros, double share) {
  const auto rank = static_cast<size_t>(share * static_cast<double>(micros.size()));
  return micros[std::min(micros.size() - 1, rank)];
}

void Report(const char* name, std::vector<double> micros) {
  if (micros.empty()) {
    std::printf("%-24s not measured\n", name);
    return;
  }
  std::sort(micros.begin(), micros.end());
  const auto at = [&](double share) { return Percentile(micros, share); };
  std::printf("%-24s p50 %8.1f us   p99 %8.1f us   (%zu rounds)\n", name, at(0.50), at(0.99),
              micros.size());
}

pid_t Spawn(const fs::path& program, std::vector<std::string> args) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  args.insert(args.begin(), program.string());
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0 ? pid : -1;
}

// The prefix Helvar needs for today's prescriptions: its registry values, the demo database
// and the pharmacy program's settings file.
bool PrepareHelvar(const fs::path& root, const fs::path& bin) {
  if (platform::RegSetString("Software\\Tavenor\\Update", "path", "c:\\tavenor") !=
          platform::RegStatus::kOk ||
      platform::RegSetDword("Software\\Tavenor", "edicode_index", 1) != platform::RegStatus::kOk) {
    return false;
  }
  const pid_t loader = Spawn(bin / "ordella_load_fixture", {});
  int status = 0;
  if (loader < 0 || waitpid(loader, &status, 0) != loader || status != 0) return false;
  const fs::path pm2000 = root / "drive_c" / "PM2000V6";
  fs::create_directories(pm2000);
  std::ofstream(pm2000 / "PM2000V6.INI") << "[DATAPATH]\r\nPATH=PHARMSRV\r\n";
  const fs::path helvar_dir = root / "helvar_bin";
  fs::create_directories(helvar_dir);
  fs::create_symlink(bin / "helvar", helvar_dir / "helvar");
  setenv("ORDELLA_BIN_PATH", helvar_dir.c_str(), 1);
  return true;
}

// The terminal's end of the line, read here without pauses: a message counts as arrived when its
// last byte has been read.
class Line {
 public:
  explicit Line(std::unique_ptr<platform::SerialPort> port) : port_(std::move(port)) {}

  bool Send(std::string_view bytes) {
    return port_->Write(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(),
                        kPatienceMs) == static_cast<long>(bytes.size());
  }

  // Reads until `count` bytes have come (the rest of a read is kept for the next message).
  bool ReadBytes(size_t count) {
    while (pending_.size() < count) {
      if (!ReadSome()) return false;
    }
    pending_.erase(0, count);
    return true;
  }

  // Reads until the 81-byte item packet (STX, then "BDBI") has come whole, dropping what came
  // before it. The packet is read raw: it is not a frame the splitter can take whole.
  bool ReadItemPacket() {
    constexpr size_t kPacketSize = 81;
    for (;;) {
      const size_t mark = pending_.find("BDBI");
      if (mark != std::string::npos && mark >= 1 && pending_.size() >= mark - 1 + kPacketSize) {
        pending_.erase(0, mark - 1 + kPacketSize);
        return true;
      }
      if (!ReadSome()) return false;
    }
  }

  // Reads until a frame with message code `code` has come whole, skipping other messages.
  bool ReadFrame(int code) {
    for (;;) {
      splitter_.Feed(pending_);
      pending_.clear();
      while (std::optional<terminal_sim::Received> message = splitter_.Next(false)) {
        if (message->kind == terminal_sim::Received::Kind::kFrame && message->code == code) {
          return true;
        }
      }
      if (!ReadSome()) return false;
    }
  }

  // Drops whatever arrives until the line has been quiet for `quiet_ms`.
  void Drain(int quiet_ms) {
    while (port_->WaitEvent(quiet_ms) == platform::SerialPort::Event::kReadable) ReadSome();
    pending_.clear();
    splitter_ = terminal_sim::StreamSplitter();
  }

 private:
  bool ReadSome() {
    if (port_->WaitEvent(kPatienceMs) != platform::SerialPort::Event::kReadable) return false;
    unsigned char chunk[4096];
    const long got = port_->Read(chunk, sizeof chunk);
    if (got < 0) return false;
    pending_.append(reinterpret_cast<const char*>(chunk), static_cast<size_t>(got));
    return true;
  }

  std::unique_ptr<platform::SerialPort> port_;
  terminal_sim::StreamSplitter splitter_;
  std::string pending_;
};

// Writes `frame`, then waits for the frame `code`; the microseconds between, or nullopt.
std::optional<double> RoundTrip(Line& line, const std::string& frame, int code) {
  const Clock::time_point start = Clock::now();
  if (!line.Send(frame) || !line.ReadFrame(code)) return std::nullopt;
  return MicrosSince(start);
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = 200;
  int lookups = 1000;
  fs::path bin = platform::ProgramDir();
  bool usage_ok = argc % 2 == 1;
  for (int n = 1; usage_ok && n + 1 < argc; n += 2) {
    const std::string option = argv[n];
    if (option == "--rounds") {
      rounds = std::atoi(argv[n + 1]);
    } else if (option == "--lookups") {
      lookups = std::atoi(argv[n + 1]);
    } else if (option == "--bin") {
      bin = argv[n + 1];
    } else {
      usage_ok = false;
    }
  }
  if (!usage_ok || rounds <= 0 || lookups <= 0) {
    std::fprintf(stderr, "usage: hub_latency_bench [--rounds N] [--lookups N] [--bin DIR]\n");
    return 2;
  }
  signal(SIGPIPE, SIG_IGN);
  char root_template[] = "/tmp/ordella-latency-XXXXXX";
  if (mkdtemp(root_template) == nullptr) return 1;
  const fs::path root = root_template;
  setenv("ORDELLA_PREFIX", root.c_str(), 1);
  const bool helvar_ready = PrepareHelvar(root, bin);
  if (!helvar_ready) std::fprintf(stderr, "hub_latency_bench: Helvar's database not prepared\n");

  std::unique_ptr<platform::SerialPort> peer = platform::SerialPort::OpenPeer(kCom);
  fs::create_directories(root / "drive_c" / "tavenor");
  std::ofstream(root / "drive_c" / "tavenor" / "ordella_connmap.ini")
      << "terminal_count = 1\nterminal0_port = " << kCom << "\n";
  const pid_t host = Spawn(bin / "Ordella_VanExcute", {"--no-stdin"});
  if (peer == nullptr || host < 0) {
    std::fprintf(stderr, "hub_latency_bench: the host or its terminal did not start\n");
    return 1;
  }
  Line terminal(std::move(peer));
  // The greeting says the loop runs; it comes after 2.5 s of silence.
  if (!terminal.ReadFrame(841)) {
    std::fprintf(stderr, "hub_latency_bench: no greeting from the hub\n");
    kill(host, SIGTERM);
    waitpid(host, nullptr, 0);
    return 1;
  }

  const std::string sample = terminal_sim::TerminalFrame(protocol::kMsgSampleGuidance, {}).value();
  const std::string prescriptions =
      terminal_sim::TerminalFrame(protocol::kMsgPrescriptions, {}).value();
  const std::string reply = terminal_sim::TerminalFrame(821, {"00"}).value();

  terminal.Drain(100);
  const size_t sheet_size = hub::SampleGuidanceSheet().size();  // the answer, a raw print frame
  std::vector<double> answered;
  for (int n = 0; n < rounds; ++n) {
    const Clock::time_point start = Clock::now();
    if (!terminal.Send(sample) || !terminal.ReadBytes(sheet_size)) break;
    answered.push_back(MicrosSince(start));
  }

  // Helvar's window played here: the time a request reaches it.
  std::vector<double> to_helvar;
  std::vector<double> from_block;
  {
    std::atomic<int> requests{0};
    std::unique_ptr<platform::WindowEndpoint> window = platform::WindowEndpoint::Create(
        protocol::kHelvarWindowTitle, "", [&](const platform::WindowMessage& message) -> int64_t {
          if (message.msg == platform::kWmCopyData) requests.fetch_add(1);
          return 0;
        });
    std::unique_ptr<hub::SharedBlock> block = hub::SharedBlock::Open(hub::LogTarget{});
    for (int n = 0; window != nullptr && n < rounds; ++n) {
      const int before = requests.load();
      const Clock::time_point start = Clock::now();
      if (!terminal.Send(prescriptions)) break;
      while (requests.load() == before && MicrosSince(start) < kPatienceMs * 1000.0) {
        std::this_thread::yield();
      }
      if (requests.load() == before) break;
      to_helvar.push_back(MicrosSince(start));
    }
    for (int n = 0; block != nullptr && n < rounds; ++n) {
      const Clock::time_point start = Clock::now();
      if (!block->WriteReply(protocol::kHelvarPrescriptions, reply)) break;
      if (!terminal.ReadFrame(821)) break;
      from_block.push_back(MicrosSince(start));
    }
  }

  // The real Helvar, started by the hub for the first request once the window above is gone.
  std::vector<double> through_helvar;
  if (helvar_ready && RoundTrip(terminal, prescriptions, 821)) {
    for (int n = 0; n < rounds; ++n) {
      const std::optional<double> micros = RoundTrip(terminal, prescriptions, 821);
      if (!micros) break;
      through_helvar.push_back(*micros);
    }
  }

  // A barcode the demo database knows (8801234567890), packed two digits to a byte
  // behind 0xFF fill as the terminal sends it; Helvar answers it without the gateway.
  std::vector<double> looked_up;
  if (helvar_ready) {
    const std::string barcode = "8801234567890";
    const std::string packed =
        platform::FromHex(std::string(30 - barcode.size(), 'F') + barcode).value();
    const std::string lookup =
        terminal_sim::TerminalFrame(protocol::kMsgBarcodeLookup, {packed}).value();
    terminal.Drain(100);
    // The first look-up is a warm-up and is not counted.
    if (terminal.Send(lookup) && terminal.ReadItemPacket()) {
      for (int n = 0; n < lookups; ++n) {
        const Clock::time_point start = Clock::now();
        if (!terminal.Send(lookup) || !terminal.ReadItemPacket()) break;
        looked_up.push_back(MicrosSince(start));
      }
    }
  }

  kill(host, SIGTERM);
  waitpid(host, nullptr, 0);
  if (const std::optional<platform::WindowHandle> helvar =
          platform::FindWindowByTitle(protocol::kHelvarWindowTitle)) {
    platform::PostWindowMessage(*helvar, platform::kWmClose, 0, 0);
  }

  Report("833 in -> answer out", answered);
  Report("frame -> Helvar request", to_helvar);
  Report("block -> terminal", from_block);
  Report("820 -> 821 (Helvar, db)", through_helvar);
  Report("835 -> item packet", looked_up);
  if (!looked_up.empty() && !to_helvar.empty() && !from_block.empty()) {
    // Report sorted its own copies.
    std::sort(looked_up.begin(), looked_up.end());
    std::sort(to_helvar.begin(), to_helvar.end());
    std::sort(from_block.begin(), from_block.end());
    for (const double share : {0.50, 0.99}) {
      const double hub_part = Percentile(to_helvar, share) + Percentile(from_block, share);
      const double whole = Percentile(looked_up, share);
      std::printf("hub + bridge, p%.0f         %8.1f us of the 835's %.1f us (%.0f%%)\n",
                  share * 100, hub_part, whole, 100.0 * hub_part / whole);
    }
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // Helvar closes its database
  std::error_code ignored;
  fs::remove_all(root, ignored);
  return 0;
}
