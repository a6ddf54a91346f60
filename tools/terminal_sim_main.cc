// terminal_sim: a card terminal on a simulated serial line, driven from standard input.
//
//   terminal_sim [--com N]        (default COM1; the line is named in $ORDELLA_PREFIX)
//   terminal_sim --tcp PORT       a TCP terminal: connects to the hub's TCP terminal port on
//                                 this machine and sends the link check (ENQ ENQ ENQ)
//
// Prints "ready COM<N> <device>" (or "ready TCP <port> <device>") once the line exists, then one
// line per message the hub sends (see Describe in terminal_sim.h); a print message is followed by
// the paper it prints, each line as "  | <line>" (see RenderPrint). Commands, one per line:
//   send <code> [field ...]            a plain frame; "" stands for an empty field
//   sendpacked <level> <code> [field ...]
//   sendcipher <code> [field ...]      enciphered with the configured key
//   sendhex <code> [hexfield ...]      a plain frame whose fields are given as hexadecimal bytes
//                                      (packed barcodes, item records, prescription keys)
//   busy | ack | nak                   the BUSY answer, ACK (0x06), NAK (0x15)
//   answer ack|nak|none                how every later relayed request is answered at once
//                                      (none: by hand, the default)
//   card <data> [image]                play the card side of payments: 011 answered with 012
//                                      carrying <data> ("" none), 041 with 042 and the
//                                      signature ("image": an SM bitmap block too)
//   prints printed|nak|silent|relayed  how each print (151) is answered: ACK then 152, NAK,
//                                      nothing, or as every relayed request (the default)
//   van <hex>                          raw bytes, e.g. "van 1020414243"
//   enq                                the link check again (ENQ ENQ ENQ)
//   lose                               hang the line up (the hub sees its port lost)
//   quit                               (also at the end of input)
// A command that cannot be carried out prints "error <why>".
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/program_options.h"
#include "platform/socket.h"
#include "platform/text.h"
#include "tools/terminal_sim.h"

namespace {

std::mutex g_output;
constexpr std::string_view kPaperMargin = "  | ";

void PrintLine(const std::string& line) {
  std::lock_guard<std::mutex> lock(g_output);
  std::fputs(line.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

std::vector<std::string> Words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string word; in >> word;) words.push_back(word == "\"\"" ? std::string() : word);
  return words;
}

bool ParseNumber(const std::string& text, int* value) {
  char* end = nullptr;
  const long parsed = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || parsed < 0 || parsed > 9999) return false;
  *value = static_cast<int>(parsed);
  return true;
}

// A message as printed: its description, and the paper of a print message.
void PrintMessage(const terminal_sim::Received& message) {
  std::string text = terminal_sim::Describe(message);
  if (const std::optional<std::string> print = terminal_sim::PrintText(message)) {
    std::istringstream paper(terminal_sim::RenderPrint(*print));
    for (std::string line; std::getline(paper, line);) {
      text += "\n";
      text += kPaperMargin;
      text += line;
    }
  }
  PrintLine(text);
}

// Carries out one command; false when the program should end.
bool Run(terminal_sim::TerminalSimulator& terminal, const std::vector<std::string>& words) {
  using terminal_sim::Encoding;
  const std::string& command = words[0];
  if (command == "quit") return false;
  bool sent = false;
  if (command == "send" || command == "sendcipher" || command == "sendpacked" ||
      command == "sendhex") {
    size_t at = 1;
    int level = 6;
    if (command == "sendpacked" && (words.size() < 2 || !ParseNumber(words[at++], &level))) {
      PrintLine("error sendpacked needs a level");
      return true;
    }
    int code = 0;
    if (words.size() <= at || !ParseNumber(words[at], &code)) {
      PrintLine("error " + command + " needs a message code");
      return true;
    }
    std::vector<std::string> fields(words.begin() + static_cast<long>(at) + 1, words.end());
    if (command == "sendhex") {
      for (std::string& field : fields) {
        std::optional<std::string> bytes = platform::FromHex(field);
        if (!bytes) {
          PrintLine("error sendhex needs hexadecimal fields");
          return true;
        }
        field = std::move(*bytes);
      }
    }
    const Encoding encoding = command == "send" || command == "sendhex" ? Encoding::kPlain
                              : command == "sendpacked" ? Encoding::kPacked
                                                        : Encoding::kEnciphered;
    sent = terminal.SendFrame(code, fields, encoding, level);
  } else if (command == "busy") {
    sent = terminal.SendBusy();
  } else if (command == "ack") {
    sent = terminal.SendAck();
  } else if (command == "nak") {
    sent = terminal.SendNak();
  } else if (command == "answer") {
    using Answer = terminal_sim::TerminalSimulator::RelayAnswer;
    const std::string kind = words.size() == 2 ? words[1] : "";
    if (kind != "ack" && kind != "nak" && kind != "none") {
      PrintLine("error answer needs ack, nak or none");
      return true;
    }
    terminal.AnswerRelayedRequests(kind == "ack"   ? Answer::kAck
                                   : kind == "nak" ? Answer::kNak
                                                   : Answer::kNone);
    return true;
  } else if (command == "card") {
    if (words.size() < 2 || words.size() > 3 || (words.size() == 3 && words[2] != "image")) {
      PrintLine("error card needs the card data and optionally image");
      return true;
    }
    terminal.PlayCard({.card_data = words[1], .with_image = words.size() == 3});
    return true;
  } else if (command == "prints") {
    using Print = terminal_sim::TerminalSimulator::PrintAnswer;
    const std::string kind = words.size() == 2 ? words[1] : "";
    if (kind != "printed" && kind != "nak" && kind != "silent" && kind != "relayed") {
      PrintLine("error prints needs printed, nak, silent or relayed");
      return true;
    }
    terminal.AnswerPrints(kind == "printed"  ? Print::kPrinted
                          : kind == "nak"    ? Print::kNak
                          : kind == "silent" ? Print::kSilent
                                             : Print::kRelayed);
    return true;
  } else if (command == "van") {
    const std::optional<std::string> bytes =
        words.size() == 2 ? platform::FromHex(words[1]) : std::nullopt;
    if (!bytes) {
      PrintLine("error van needs hexadecimal bytes");
      return true;
    }
    sent = terminal.Send(*bytes);
  } else if (command == "enq") {
    sent = terminal.SendLinkCheck();
  } else if (command == "lose") {
    terminal.LosePort();
    PrintLine("lost");
    return true;
  } else {
    PrintLine("error unknown command " + command);
    return true;
  }
  if (!sent) PrintLine("error not sent");
  return true;
}

}  // namespace

constexpr char kUsage[] =
    "usage: terminal_sim [--com N | --tcp PORT]\n"
    "       terminal_sim --help | --version\n"
    "\n"
    "  a card terminal on a simulated serial line (default COM1) or on TCP to the hub's TCP\n"
    "  terminal port; driven by commands on standard input: send, sendpacked, sendcipher, busy,\n"
    "  ack, nak, answer, card, prints, van, enq, lose, quit (see the README)\n";

int main(int argc, char** argv) {
  int com = 1;
  int tcp_port = 0;  // 0: a serial terminal
  for (int n = 1; n < argc; ++n) {
    const std::string arg = argv[n];
    if (const std::optional<int> done =
            platform::AnswerHelpOrVersion(arg, "terminal_sim", kUsage)) {
      return *done;
    }
    if (arg == "--com" && n + 1 < argc && ParseNumber(argv[n + 1], &com) && com >= 1) {
      ++n;
    } else if (arg == "--tcp" && n + 1 < argc) {
      const std::optional<uint16_t> port = platform::ParsePort(argv[++n]);
      if (!port) {
        std::fprintf(stderr, "terminal_sim: --tcp needs a port number\n");
        return 2;
      }
      tcp_port = *port;
    } else {
      std::fputs(kUsage, stderr);
      return 2;
    }
  }
  std::string error;
  std::unique_ptr<terminal_sim::TerminalSimulator> terminal =
      tcp_port != 0 ? terminal_sim::TerminalSimulator::ConnectTcp(
                          "127.0.0.1", static_cast<uint16_t>(tcp_port), &error)
                    : terminal_sim::TerminalSimulator::Create(com, &error);
  if (terminal == nullptr) {
    std::fprintf(stderr, "terminal_sim: %s\n", error.c_str());
    return 1;
  }
  PrintLine((tcp_port != 0 ? "ready TCP " + std::to_string(tcp_port)
                           : "ready COM" + std::to_string(com)) +
            " " + terminal->device());

  std::atomic<bool> done{false};
  std::thread printer([&] {
    constexpr int kPollMs = 50;
    while (!done.load()) {
      if (std::optional<terminal_sim::Received> message = terminal->Next(kPollMs)) {
        PrintMessage(*message);
      }
    }
  });
  for (std::string line; std::getline(std::cin, line);) {
    const std::vector<std::string> words = Words(line);
    if (!words.empty() && !Run(*terminal, words)) break;
  }
  done.store(true);
  printer.join();
  // What is still on its way is printed before the program ends.
  while (std::optional<terminal_sim::Received> message =
             terminal->Next(terminal_sim::kQuietMs * 2)) {
    PrintMessage(*message);
  }
  return 0;
}
