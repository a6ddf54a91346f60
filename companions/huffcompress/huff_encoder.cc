#include "companions/huffcompress/huff_encoder.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <queue>
#include <utility>
#include <vector>

#include "companions/huffcompress/huff_format.h"

namespace huffcompress {
namespace {

using Frequencies = std::array<uint64_t, kSymbolCount>;
using CodeLengths = std::array<int, kSymbolCount>;  // 0: the symbol does not occur

void AppendHeader(char method, size_t length, std::string* out) {
  out->append(kMagic);
  out->push_back(method);
  for (int shift = 24; shift >= 0; shift -= 8) {
    out->push_back(static_cast<char>((length >> shift) & 0xFF));
  }
}

std::string Stored(std::string_view plain) {
  std::string out;
  out.reserve(kStoredHeaderSize + plain.size());
  AppendHeader(kMethodStored, plain.size(), &out);
  out.append(plain);
  return out;
}

// Huffman code lengths of the frequencies (each symbol that occurs gets at least 1).
CodeLengths HuffmanLengths(const Frequencies& frequency) {
  struct Node {
    int parent = -1;
  };
  std::vector<Node> nodes;
  using Entry = std::pair<uint64_t, int>;  // weight, node; ties go to the lower node number
  std::priority_queue<Entry, std::vector<Entry>, std::greater<>> queue;
  std::array<int, kSymbolCount> leaf{};
  leaf.fill(-1);
  for (size_t symbol = 0; symbol < kSymbolCount; ++symbol) {
    if (frequency[symbol] == 0) continue;
    leaf[symbol] = static_cast<int>(nodes.size());
    queue.emplace(frequency[symbol], leaf[symbol]);
    nodes.push_back({});
  }
  while (queue.size() > 1) {
    const Entry a = queue.top();
    queue.pop();
    const Entry b = queue.top();
    queue.pop();
    const int parent = static_cast<int>(nodes.size());
    nodes.push_back({});
    nodes[a.second].parent = parent;
    nodes[b.second].parent = parent;
    queue.emplace(a.first + b.first, parent);
  }
  CodeLengths lengths{};
  for (size_t symbol = 0; symbol < kSymbolCount; ++symbol) {
    if (leaf[symbol] < 0) continue;
    int depth = 0;
    for (int node = leaf[symbol]; nodes[node].parent >= 0; node = nodes[node].parent) ++depth;
    lengths[symbol] = std::max(depth, 1);  // a lone symbol still needs one bit
  }
  return lengths;
}

// Lengths that fit kMaxCodeLength: skewed frequencies are flattened (halved, keeping every
// occurring symbol) until the tree is shallow enough. Costs a little compression on inputs that
// need it, which a signature image never does.
CodeLengths LimitedLengths(Frequencies frequency) {
  while (true) {
    const CodeLengths lengths = HuffmanLengths(frequency);
    if (*std::max_element(lengths.begin(), lengths.end()) <= kMaxCodeLength) return lengths;
    for (uint64_t& f : frequency) {
      if (f != 0) f = std::max<uint64_t>(1, f / 2);
    }
  }
}

class BitWriter {
 public:
  explicit BitWriter(std::string* out) : out_(out) {}
  void Write(uint32_t code, int length) {
    for (int bit = length - 1; bit >= 0; --bit) {
      pending_ = static_cast<uint8_t>((pending_ << 1) | ((code >> bit) & 1));
      if (++filled_ == 8) Flush();
    }
  }
  void Finish() {
    if (filled_ == 0) return;
    pending_ = static_cast<uint8_t>(pending_ << (8 - filled_));
    Flush();
  }

 private:
  void Flush() {
    out_->push_back(static_cast<char>(pending_));
    pending_ = 0;
    filled_ = 0;
  }
  std::string* out_;
  uint8_t pending_ = 0;
  int filled_ = 0;
};

}  // namespace

std::string Compress(std::string_view plain) {
  if (plain.empty()) return Stored(plain);
  Frequencies frequency{};
  for (char c : plain) ++frequency[static_cast<unsigned char>(c)];
  const CodeLengths lengths = LimitedLengths(frequency);

  // Canonical order: shorter codes first, then by symbol value.
  std::vector<int> order;
  LengthCounts count{};
  uint64_t bits = 0;
  for (size_t symbol = 0; symbol < kSymbolCount; ++symbol) {
    if (lengths[symbol] == 0) continue;
    order.push_back(static_cast<int>(symbol));
    ++count[lengths[symbol]];
    bits += frequency[symbol] * static_cast<uint64_t>(lengths[symbol]);
  }
  std::stable_sort(order.begin(), order.end(),
                   [&](int a, int b) { return lengths[a] < lengths[b]; });

  const uint64_t huffman_size = kSymbolsOffset + order.size() + (bits + 7) / 8;
  // A count byte holds at most 255: only a flat spread over all 256 byte values reaches 256,
  // and that never beats the stored form anyway.
  const bool counts_fit =
      std::all_of(count.begin(), count.end(), [](uint16_t c) { return c < 256; });
  if (!counts_fit || huffman_size >= kStoredHeaderSize + plain.size()) return Stored(plain);

  std::array<uint32_t, kSymbolCount> code{};
  uint32_t next = 0;
  int previous_length = 0;
  for (int symbol : order) {
    next <<= (lengths[symbol] - previous_length);
    previous_length = lengths[symbol];
    code[symbol] = next++;
  }

  std::string out;
  out.reserve(huffman_size);
  AppendHeader(kMethodHuffman, plain.size(), &out);
  for (int l = 1; l <= kMaxCodeLength; ++l) out.push_back(static_cast<char>(count[l]));
  for (int symbol : order) out.push_back(static_cast<char>(symbol));
  BitWriter writer(&out);
  for (char c : plain) {
    const auto symbol = static_cast<unsigned char>(c);
    writer.Write(code[symbol], lengths[symbol]);
  }
  writer.Finish();
  return out;
}

}  // namespace huffcompress
