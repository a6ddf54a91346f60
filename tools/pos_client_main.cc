// pos_client: the pharmacy program's side of the hub's local ports, from the command line.
//
//   pos_client --port N [--packed LEVEL | --cipher] [--segments K] [--pause MS] [--wait MS]
//              COMMAND [ARGUMENT ...]
//
// Commands:
//   request <code> [field ...]   a POS request: 51 61 63 71 (card), 161 171 181 183 (cash
//                                receipt), 151 (print field 1), 157, 843, or any other code
//   print1 <text>                a raw print text, for the first acknowledgement port
//   print2 <text>                a framed print (the text in field 2), for the second one
//   signature <file>             a signature image frame around the file's bytes (the
//                                compressed image, sign.bmp.cre)
//   raw <text>                   the bytes as they are, no frame
// Fields and texts are UTF-8, sent as CP949; \n \r \t \\ and \xHH stand for their bytes.
// --packed and --cipher encode a request's frame; --segments sends the bytes in K parts --pause
// ms apart (default 200); --wait is how long to wait for the hub to end the connection (default
// 30000 ms).
//
// Prints "sent <n> bytes", then the answer decoded field by field (DescribeAnswer in
// pos_client.h) and "connection closed by the hub" or "connection still open after <ms> ms".
// Exit code 0 when the exchange took place, 1 when it could not, 2 for a wrong command line.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "platform/program_options.h"
#include "tools/pos_client.h"

namespace {

constexpr char kUsage[] =
    "usage: pos_client --port N [--packed LEVEL | --cipher] [--segments K] [--pause MS]\n"
    "                  [--wait MS] request CODE [FIELD...] | print1 TEXT | print2 TEXT |\n"
    "                  signature FILE | raw TEXT\n"
    "       pos_client --help | --version\n";

int Usage() {
  std::fputs(kUsage, stderr);
  return 2;
}

bool ParseNumber(const char* text, long low, long high, long* value) {
  char* end = nullptr;
  const long parsed = std::strtol(text, &end, 10);
  if (*text == '\0' || *end != '\0' || parsed < low || parsed > high) return false;
  *value = parsed;
  return true;
}

std::optional<std::string> Text(const std::string& argument) {
  std::optional<std::string> text = pos_client::TextArgument(argument);
  if (!text) std::fprintf(stderr, "pos_client: not a CP949 text: %s\n", argument.c_str());
  return text;
}

// The bytes a command sends; nullopt (reported) when they cannot be built.
std::optional<std::string> Bytes(const std::vector<std::string>& words,
                                 pos_client::Encoding encoding, int level) {
  const std::string& command = words[0];
  if (command == "request" && words.size() >= 2) {
    long code = 0;
    if (!ParseNumber(words[1].c_str(), 0, 999, &code)) return std::nullopt;
    std::vector<std::string> fields;
    for (size_t n = 2; n < words.size(); ++n) {
      std::optional<std::string> field = Text(words[n]);
      if (!field) return std::nullopt;
      fields.push_back(*field);
    }
    return pos_client::RequestFrame(static_cast<int>(code), fields, encoding, level);
  }
  if (words.size() != 2) return std::nullopt;
  if (command == "signature") {
    std::ifstream file(words[1], std::ios::binary);
    if (!file) return std::nullopt;
    const std::string payload((std::istreambuf_iterator<char>(file)),
                              std::istreambuf_iterator<char>());
    return pos_client::SignatureFrame(payload);
  }
  std::optional<std::string> text = Text(words[1]);
  if (!text) return std::nullopt;
  if (command == "print1" || command == "raw") return text;
  if (command == "print2") return pos_client::FramedPrint(*text);
  return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
  long port = 0;
  long level = 6;
  long segments = 1;
  long pause_ms = 200;
  long wait_ms = 30000;
  pos_client::Encoding encoding = pos_client::Encoding::kPlain;
  int n = 1;
  for (; n < argc && std::string(argv[n]).starts_with("--"); ++n) {
    const std::string option = argv[n];
    if (const std::optional<int> done =
            platform::AnswerHelpOrVersion(option, "pos_client", kUsage)) {
      return *done;
    }
    if (option == "--cipher") {
      encoding = pos_client::Encoding::kEnciphered;
      continue;
    }
    if (n + 1 >= argc) return Usage();
    const char* value = argv[++n];
    bool ok = false;
    if (option == "--port") {
      ok = ParseNumber(value, 1, 65535, &port);
    } else if (option == "--packed") {
      ok = ParseNumber(value, 0, 9, &level);
      encoding = pos_client::Encoding::kPacked;
    } else if (option == "--segments") {
      ok = ParseNumber(value, 1, 40000, &segments);
    } else if (option == "--pause") {
      ok = ParseNumber(value, 0, 60000, &pause_ms);
    } else if (option == "--wait") {
      ok = ParseNumber(value, 0, 600000, &wait_ms);
    }
    if (!ok) return Usage();
  }
  if (port == 0 || n >= argc) return Usage();
  const std::vector<std::string> words(argv + n, argv + argc);
  const std::optional<std::string> bytes = Bytes(words, encoding, static_cast<int>(level));
  if (!bytes) {
    std::fprintf(stderr, "pos_client: cannot build what \"%s\" sends\n", words[0].c_str());
    return Usage();
  }

  constexpr int kConnectLimitMs = 10000;
  std::string error;
  std::unique_ptr<pos_client::Connection> connection =
      pos_client::Connection::Open(static_cast<uint16_t>(port), kConnectLimitMs, &error);
  if (connection == nullptr) {
    std::fprintf(stderr, "pos_client: no connection to port %ld: %s\n", port, error.c_str());
    return 1;
  }
  if (!connection->Send(*bytes, static_cast<int>(segments), static_cast<int>(pause_ms))) {
    std::fprintf(stderr, "pos_client: send failed\n");
    return 1;
  }
  std::printf("sent %zu bytes\n", bytes->size());
  std::string received;
  const bool closed = connection->ReceiveUntilClosed(static_cast<int>(wait_ms), &received);
  std::printf("%s\n", pos_client::DescribeAnswer(pos_client::DecodeAnswer(received)).c_str());
  if (closed) {
    std::printf("connection closed by the hub\n");
  } else {
    std::printf("connection still open after %ld ms\n", wait_ms);
  }
  return 0;
}
