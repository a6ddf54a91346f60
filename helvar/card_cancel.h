// Cancelling a card payment or a cash receipt at the card network, then recording the
// cancellation in the pharmacy database (requests 860-862); the terminal is told the outcome
// with frame 157.
//
// The exchange with the card network goes through the card-network library (EDICONN), which
// talks to the hub's POS listener at 127.0.0.1:9988. Helvar sees it only through CardNetwork:
//
//   ReadCardTrack  ordinal 4 (host, port, "011", "2", the prompt shown at the terminal), which
//                  is 1 once the card has been read, then ordinal 5, which gives its track data;
//   Exchange       ordinal 1 with the 25 request texts, which is 1 once the request has been
//                  exchanged, then ordinal 2, which fills 30 answer fields of 100 bytes: the
//                  second holds the answer code ("0000" approved), the third the message.
//
// Until a binding of the library is installed (InstallCardNetwork), every exchange fails: the
// terminal is shown the kind's failure message and nothing is recorded.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "helvar/request.h"

namespace helvar {

class CWorkContext;

inline constexpr std::string_view kCardListenerHost = "127.0.0.1";
inline constexpr std::string_view kCardListenerPort = "9988";
inline constexpr size_t kCardRequestTexts = 25;
using CardRequest = std::array<std::string, kCardRequestTexts>;

struct CardNetworkAnswer {
  std::string code;     // "0000" when approved
  std::string message;  // shown at the terminal when not approved
};

class CardNetwork {
 public:
  virtual ~CardNetwork() = default;
  // The card's track data once it has been read at the terminal; nullopt when it was not.
  virtual std::optional<std::string> ReadCardTrack(std::string_view host, std::string_view port,
                                                   std::string_view prompt) = 0;
  // The answer to one request; nullopt when the exchange failed.
  virtual std::optional<CardNetworkAnswer> Exchange(const CardRequest& request) = 0;
};

// The binding 860 uses; nullptr (no library) until one is installed. Not owned.
void InstallCardNetwork(CardNetwork* network);
CardNetwork* InstalledCardNetwork();

// The ordinal 1 request of a cancellation of kind "C", "H" or "B" (others: nullopt).
std::optional<CardRequest> CancelRequestTexts(std::string_view record, std::string_view track);

// Frame 157 carrying `message` cut into display lines of 16 bytes, with its check byte.
std::string TerminalMessageFrame(std::string_view message);

// Codes 860-862.
int CancelAtCardNetwork(CWorkContext& context, const Request& request);

}  // namespace helvar
