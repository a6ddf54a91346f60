// How fast the terminal-side frame assembler takes a terminal's byte stream, read one byte at a
// time (the worst a serial link can deliver) and in 4 KiB reads (a busy link or the TCP
// terminal).
#include <benchmark/benchmark.h>

#include <string>
#include <string_view>
#include <vector>

#include "hub/core/frame_assembler.h"
#include "protocol/frame.h"

namespace {

// A terminal's traffic: sales, barcode reads and enciphered answers, with VAN bytes between.
std::string TerminalTraffic() {
  const std::vector<std::string_view> sale = {"0000",
                                              "20240101123045",
                                              "8801234567890\x1d"
                                              "2",
                                              "00015000",
                                              "",
                                              "PM2000 counter sale"};
  const std::vector<std::string_view> barcode = {"8801234567890", "1"};
  std::string enciphered = protocol::BuildMessage(42, sale).value();
  enciphered[protocol::kCipherFlagOffset] = protocol::kCipheredFlag;
  enciphered[protocol::kBodyOffset + 1] = protocol::kStx;  // binary bodies hold every byte value

  std::string stream;
  while (stream.size() < (1u << 20)) {
    stream += protocol::BuildMessage(812, sale).value();
    stream += protocol::BuildMessage(838, barcode).value();
    stream += "\x10\x31van bytes\x10\x03";
    stream += enciphered;
  }
  return stream;
}

void BM_AssemblerFeed(benchmark::State& state) {
  const std::string stream = TerminalTraffic();
  const size_t read_size = static_cast<size_t>(state.range(0));
  hub::FrameAssembler assembler;
  hub::FrameAssembler::Output out;
  size_t frames = 0;
  for (auto _ : state) {
    for (size_t at = 0; at < stream.size(); at += read_size) {
      assembler.Feed(std::string_view(stream).substr(at, read_size), &out);
      frames += out.frames.size();
      benchmark::DoNotOptimize(out.other_bytes.data());
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * stream.size()));
  state.counters["frames/s"] =
      benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_AssemblerFeed)->Arg(1)->Arg(4096);

}  // namespace
