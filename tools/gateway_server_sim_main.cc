// gateway_server_sim: the gateway server, simulated, as a program.
//
//   gateway_server_sim [--address A] [--sale-port N] [--registration-port N] [--pass-port N]
//                      [--van-port N] [--sale MODE] [--registration MODE] [--pass MODE]
//                      [--van MODE] [--van-answer VERDICT] [--terminal-version TEXT]
//                      [--record FILE]
//     ports   0 (the default) picks a free port
//     MODE    answer (default), silent, refuse or slow:<ms>
//     VERDICT what the VAN approval port answers: approve (default), decline or blank (response
//             code "0000" without an approval number)
//     --terminal-version   field 10 of the registration answer (default V2501)
//     --record  every request received is appended as "<port> <hex>"
//
// Standard output: "ports sale=<n> registration=<n> pass=<n> van=<n>" once listening, then one line
// "received <port> <hex>" per request. Ends when its standard input ends.
#include <charconv>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/text.h"
#include "protocol/testing/gateway_server_sim.h"

namespace {

constexpr int kUsage = 64;

bool ParsePort(std::string_view text, int* port) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *port);
  return error == std::errc() && end == text.data() + text.size() && *port >= 0 && *port <= 65535;
}

bool ParseOptions(int argc, char** argv, gateway_sim::Options* options) {
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
    } else if (name == "--sale") {
      ok = gateway_sim::ParseBehaviour(value, &options->sale);
    } else if (name == "--registration") {
      ok = gateway_sim::ParseBehaviour(value, &options->registration);
    } else if (name == "--pass") {
      ok = gateway_sim::ParseBehaviour(value, &options->pass_through);
    } else if (name == "--terminal-version") {
      options->terminal_version = value;
    } else if (name == "--record") {
      options->record_file = value;
    } else {
      ok = false;
    }
    if (!ok) return false;
  }
  return argc % 2 == 1;
}

}  // namespace

int main(int argc, char** argv) {
  gateway_sim::Options options;
  if (!ParseOptions(argc, argv, &options)) {
    std::cerr << "usage: gateway_server_sim [--address A] [--sale-port N] [--registration-port N]"
                 " [--pass-port N] [--van-port N] [--sale MODE] [--registration MODE]"
                 " [--pass MODE] [--van MODE] [--van-answer VERDICT] [--terminal-version TEXT]"
                 " [--vanlink-port N] [--vanlink MODE] [--record FILE]\n";
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
  {
    std::lock_guard<std::mutex> lock(output);
    std::cout << "ports sale=" << sim->port(gateway_sim::PortKind::kSale)
              << " registration=" << sim->port(gateway_sim::PortKind::kRegistration)
              << " pass=" << sim->port(gateway_sim::PortKind::kPassThrough)
              << " van=" << sim->port(gateway_sim::PortKind::kVan)
              << " vanlink=" << sim->port(gateway_sim::PortKind::kVanLink) << std::endl;
  }
  for (std::string line; std::getline(std::cin, line);) {
  }
  return 0;
}
