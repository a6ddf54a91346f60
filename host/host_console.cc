#include "host/host_console.h"

#include <charconv>
#include <optional>
#include <vector>

#include "protocol/host_notification.h"

namespace host {
namespace {

constexpr int32_t kHelvarRequestMassage = 2;

std::string_view Meaning(uint64_t code, int64_t lparam) {
  switch (code) {
    case protocol::kEventFrameOrRelayClosed:
      return "frame dispatched, or relay client closed";
    case protocol::kEventServerConnected:
      return "connected to the gateway server";
    case protocol::kEventServerGreeted:
      return "gateway server greeted";
    case protocol::kEventSignOn:
      return "sign-on received";
    case protocol::kEventRelayRefused:
      return "relayed request refused or not acknowledged";
    case protocol::kEventPosRequest:
      return "POS request relayed";
    case protocol::kEventRelayAcknowledged:
      return "relayed request acknowledged";
    case protocol::kEventBarcodeRebuild:
      return "barcode database rebuild started";
    case protocol::kEventBarcodeTransferEnd:
      return "barcode transfer ended";
    case protocol::kEventTcpTerminal:
      return lparam == 0 ? "TCP terminal listening, connected or checked" : "TCP terminal";
    case protocol::kEventPosListenerFailed:
      return "POS request listener failed to start";
    case protocol::kEventAckListener1Failed:
      return "first acknowledgement listener failed to start";
    case protocol::kEventAckListener2Failed:
      return "second acknowledgement listener failed to start";
    case protocol::kEventTcpListenerFailed:
      return "TCP terminal listener failed to start";
    case protocol::kEventSerialPortFailed:
      return "serial port failed to open";
    case protocol::kEventOpenPayment:
      return "payment journal entry to look at (the terminal value is its id)";
    case protocol::kEventJournalFailed:
      return "payment journal could not be written";
    case protocol::kEventPortLost:
      return "serial port lost";
    default:
      return "VAN state changed";
  }
}

std::vector<std::string_view> Words(std::string_view line) {
  std::vector<std::string_view> words;
  size_t start = 0;
  while ((start = line.find_first_not_of(" \t\r", start)) != std::string_view::npos) {
    const size_t end = line.find_first_of(" \t\r", start);
    words.push_back(line.substr(start, end - start));
    start = end;
  }
  return words;
}

std::optional<int32_t> Number(std::string_view word) {
  int32_t value = 0;
  const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value);
  if (error != std::errc() || end != word.data() + word.size()) return std::nullopt;
  return value;
}

std::string Massage(const HubEntryPoints& hub, int32_t code, int32_t parameter) {
  const int32_t result = hub.massage(code, parameter, 0);
  return "massage code=" + std::to_string(code) + " parameter=" + std::to_string(parameter) +
         " result=" + std::to_string(result) + "\n";
}

}  // namespace

std::string DescribeNotification(uint64_t code, int64_t lparam) {
  return "notify code=" + std::to_string(code) + " terminal=" + std::to_string(lparam) + " " +
         std::string(Meaning(code, lparam));
}

std::string HelpText() {
  return "commands:\n"
         "  send <code> <parameter>  OrdellaMassage(code, parameter): 1 driver setup,\n"
         "                           840/842/843 <terminal> frames to a terminal\n"
         "  helvar <code>            send Helvar request <code> (OrdellaMassage 2)\n"
         "  save                     save the settings (SaveClientModule)\n"
         "  help                     this list\n"
         "  quit                     close the module and end\n";
}

CommandResult RunCommand(std::string_view line, const HubEntryPoints& hub, std::string* out) {
  const std::vector<std::string_view> words = Words(line);
  if (words.empty()) return CommandResult::kContinue;
  const std::string_view verb = words[0];
  if (verb == "quit" || verb == "exit") return CommandResult::kQuit;
  if (verb == "help") {
    *out += HelpText();
  } else if (verb == "save" && words.size() == 1) {
    *out += "save result=" + std::to_string(hub.save()) + "\n";
  } else if (verb == "send" && words.size() == 3) {
    const std::optional<int32_t> code = Number(words[1]);
    const std::optional<int32_t> parameter = Number(words[2]);
    if (code && parameter) {
      *out += Massage(hub, *code, *parameter);
    } else {
      *out += "send: code and parameter must be numbers\n";
    }
  } else if (verb == "helvar" && words.size() == 2) {
    if (const std::optional<int32_t> code = Number(words[1])) {
      *out += Massage(hub, kHelvarRequestMassage, *code);
    } else {
      *out += "helvar: the request code must be a number\n";
    }
  } else {
    *out += "unknown command: " + std::string(line) + " (help lists the commands)\n";
  }
  return CommandResult::kContinue;
}

}  // namespace host
