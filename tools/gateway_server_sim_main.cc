// gateway_server_sim: the gateway server, simulated, as a program.
//
//   gateway_server_sim [--address A] [--sale-port N] [--registration-port N] [--pass-port N]
//                      [--van-port N] [--sale MODE] [--registration MODE] [--pass MODE]
//                      [--van MODE] [--van-answer VERDICT] [--terminal-version TEXT]
//                      [--record FILE] [--signpad-port N] [--signpad MODE]
//                      [--signpad-answer approve|decline]
//                      [--record FILE] [--guidance-port N] [--guidance MODE|short]
//                      [--guide-drug CODE=NAME;EFFECT;PICTOGRAMS]...
//     ports   0 (the default) picks a free port
//     MODE    answer (default), silent, refuse or slow:<ms>
//     VERDICT what the VAN approval port answers: approve (default), decline or blank (response
//             code "0000" without an approval number)
//     --terminal-version   field 10 of the registration answer (default V2501)
//     --record  every request received is appended as "<port> <hex>"
//     --signpad-answer  what the sign-pad network answers a request packet: approve (default)
//                       or decline
//     --guidance short   the guidance answer announces its length but stops half-way
//     --guide-drug       a drug the guidance service knows (UTF-8 texts; pictogram codes
//                        separated by ",", e.g. 645301220=Amoxil;Antibiotic;F01,C16)
//   and the cash-receipt server (protocol/testing/cash_receipt_sim.h):
//                      [--cash-port N] [--cash MODE] [--cash-answer approve|decline]
//
// Standard output: "ports sale=<n> registration=<n> pass=<n> van=<n> signpad=<n> guidance=<n>"
// once listening, then one line "received <port> <hex>" per request; the cash-receipt server's
// port follows as its own line "ports cash=<n>", and each cash-receipt request as
// "received cash <hex>". Ends when its standard input ends.
#include <algorithm>
#include <charconv>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "companions/ediconn/cash_protocol.h"
#include "platform/program_options.h"
#include "platform/text.h"
#include "protocol/frame.h"
#include "protocol/testing/cash_receipt_sim.h"
#include "protocol/testing/gateway_server_sim.h"

namespace {

constexpr int kUsage = 64;

bool ParsePort(std::string_view text, int* port) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *port);
  return error == std::errc() && end == text.data() + text.size() && *port >= 0 && *port <= 65535;
}

// "CODE=NAME;EFFECT;PICTOGRAMS" into the guidance catalogue.
bool ParseGuideDrug(std::string_view text, gateway_sim::GuidanceService* service) {
  const size_t equals = text.find('=');
  const size_t first = text.find(';', equals);
  const size_t second = first == std::string_view::npos ? first : text.find(';', first + 1);
  if (equals == std::string_view::npos || second == std::string_view::npos) return false;
  const std::optional<std::string> name =
      platform::Utf8ToCp949(text.substr(equals + 1, first - equals - 1));
  const std::optional<std::string> effect =
      platform::Utf8ToCp949(text.substr(first + 1, second - first - 1));
  if (!name || !effect) return false;
  std::string codes(text.substr(second + 1));
  const size_t count = codes.empty() ? 0 : std::count(codes.begin(), codes.end(), ',') + 1;
  std::replace(codes.begin(), codes.end(), ',', protocol::kGs);
  const std::string digits = std::to_string(count);
  service->drugs[std::string(text.substr(0, equals))] = {
      *name, *effect, std::string(2 - std::min<size_t>(2, digits.size()), '0') + digits + codes};
  return true;
}

// The cash-receipt server's options; nullopt when `name` is none of them.
std::optional<bool> ParseCashOption(std::string_view name, std::string_view value,
                                    gateway_sim::CashServerOptions* cash) {
  if (name == "--cash-port") return ParsePort(value, &cash->port.port);
  if (name == "--cash") return gateway_sim::ParseBehaviour(value, &cash->port);
  if (name == "--cash-answer") return gateway_sim::ParseCashVerdict(value, &cash->answer);
  return std::nullopt;
}

bool ParseOptions(int argc, char** argv, gateway_sim::Options* options,
                  gateway_sim::CashServerOptions* cash) {
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string_view name = argv[i];
    const std::string_view value = argv[i + 1];
    bool ok = true;
    if (name == "--address") {
      options->address = value;
    } else if (name == "--sale-port") {
      ok = ParsePort(value, &options->sale.port);
    } else if (name == "--registration-port") {
      ok = ParsePort(value, &options->registration.port);
    } else if (name == "--pass-port") {
      ok = ParsePort(value, &options->pass_through.port);
    } else if (name == "--van-port") {
      ok = ParsePort(value, &options->van.port);
    } else if (name == "--van") {
      ok = gateway_sim::ParseBehaviour(value, &options->van);
    } else if (name == "--vanlink-port") {
      ok = ParsePort(value, &options->van_link.port);
    } else if (name == "--vanlink") {
      ok = gateway_sim::ParseBehaviour(value, &options->van_link);
    } else if (name == "--van-answer") {
      ok = gateway_sim::ParseVanVerdict(value, &options->van_answer);
    } else if (name == "--signpad-port") {
      ok = ParsePort(value, &options->signpad.port);
    } else if (name == "--signpad") {
      ok = gateway_sim::ParseBehaviour(value, &options->signpad);
    } else if (name == "--signpad-answer") {
      ok = gateway_sim::ParseSignPadVerdict(value, &options->signpad_answer);
    } else if (name == "--sale") {
      ok = gateway_sim::ParseBehaviour(value, &options->sale);
    } else if (name == "--registration") {
      ok = gateway_sim::ParseBehaviour(value, &options->registration);
    } else if (name == "--pass") {
      ok = gateway_sim::ParseBehaviour(value, &options->pass_through);
    } else if (name == "--terminal-version") {
      options->terminal_version = value;
    } else if (name == "--guidance-port") {
      ok = ParsePort(value, &options->guidance.port);
    } else if (name == "--guidance") {
      options->guidance_service.short_answer = value == "short";
      ok = options->guidance_service.short_answer ||
           gateway_sim::ParseBehaviour(value, &options->guidance);
    } else if (name == "--guide-drug") {
      ok = ParseGuideDrug(value, &options->guidance_service);
    } else if (name == "--record") {
      options->record_file = value;
      cash->record_file = value;
    } else if (const std::optional<bool> parsed = ParseCashOption(name, value, cash)) {
      ok = *parsed;
    } else {
      ok = false;
    }
    if (!ok) return false;
  }
  return argc % 2 == 1;
}

}  // namespace

constexpr char kUsageText[] =
    "usage: gateway_server_sim [--address A] [--sale-port N] [--registration-port N]"
    " [--pass-port N] [--van-port N] [--sale MODE] [--registration MODE]"
    " [--pass MODE] [--van MODE] [--van-answer VERDICT] [--terminal-version TEXT]"
    " [--record FILE] [--signpad-port N] [--signpad MODE]"
    " [--signpad-answer approve|decline] [--cash-port N] [--cash MODE]"
    " [--cash-answer VERDICT] [--guidance-port N] [--guidance MODE|short]"
    " [--guide-drug CODE=NAME;EFFECT;PICTOGRAMS] [--vanlink-port N] [--vanlink MODE]\n"
    "       gateway_server_sim --help | --version\n";

int main(int argc, char** argv) {
  if (argc == 2) {
    if (const std::optional<int> done =
            platform::AnswerHelpOrVersion(argv[1], "gateway_server_sim", kUsageText)) {
      return *done;
    }
  }
  gateway_sim::Options options;
  gateway_sim::CashServerOptions cash_options;
  if (!ParseOptions(argc, argv, &options, &cash_options)) {
    std::cerr << kUsageText;
    return kUsage;
  }
  std::mutex output;
  options.on_received = [&output](const gateway_sim::ReceivedRequest& request) {
    std::lock_guard<std::mutex> lock(output);
    std::cout << "received " << gateway_sim::PortName(request.port) << ' '
              << platform::ToHex(request.bytes) << std::endl;
  };
  std::string error;
  auto sim = gateway_sim::GatewayServerSimulator::Start(options, &error);
  if (sim == nullptr) {
    std::cerr << error << '\n';
    return 1;
  }
  cash_options.on_received = [&output](const std::vector<std::string>& texts) {
    std::lock_guard<std::mutex> lock(output);
    std::cout << "received cash "
              << platform::ToHex(
                     ediconn::EncodeMessage(ediconn::MessageKind::kRequest, texts).value_or(""))
              << std::endl;
  };
  auto cash = gateway_sim::CashReceiptServerSimulator::Start(cash_options, &error);
  if (cash == nullptr) {
    std::cerr << error << '\n';
    return 1;
  }
  {
    std::lock_guard<std::mutex> lock(output);
    std::cout << "ports sale=" << sim->port(gateway_sim::PortKind::kSale)
              << " registration=" << sim->port(gateway_sim::PortKind::kRegistration)
              << " pass=" << sim->port(gateway_sim::PortKind::kPassThrough)
              << " van=" << sim->port(gateway_sim::PortKind::kVan)
              << " signpad=" << sim->port(gateway_sim::PortKind::kSignPad)
              << " guidance=" << sim->port(gateway_sim::PortKind::kGuidance)
              << " vanlink=" << sim->port(gateway_sim::PortKind::kVanLink) << std::endl;
    std::cout << "ports cash=" << cash->port() << std::endl;
  }
  for (std::string line; std::getline(std::cin, line);) {
  }
  return 0;
}
