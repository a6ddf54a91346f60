// The card-network library binding: EDICONN.DLL (companions/ediconn) loaded by name, with the
// four entry points the cancellations at the card network use, as the CardNetwork they call
// (card_cancel.h):
//
//   ReadCardTrack  EdiReadCard (ordinal 4) with host, port, "011", "2" and the prompt; when it
//                  gives 1, EdiCardTrack (ordinal 5) gives the track data;
//   Exchange       EdiPosRequest (ordinal 1) with the 25 request texts; when it gives 1,
//                  EdiPosAnswer (ordinal 2) fills the 30 answer fields, of which the second is
//                  the answer code and the third the message.
//
// The library keeps its answers per calling thread, so each request's calls run on the worker
// that serves the request. Any other result is logged (tag "CardNetwork") and is no answer.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "companions/ediconn/ediconn.h"
#include "helvar/card_cancel.h"
#include "platform/process.h"

namespace helvar {

class CEdiconnBinding final : public CardNetwork {
 public:
  // Loads the library and looks its entry points up; nullptr (logged) when it cannot be loaded
  // or lacks one of them.
  static std::unique_ptr<CEdiconnBinding> Load();

  std::optional<std::string> ReadCardTrack(std::string_view host, std::string_view port,
                                           std::string_view prompt) override;
  std::optional<CardNetworkAnswer> Exchange(const CardRequest& request) override;

 private:
  CEdiconnBinding() = default;

  std::unique_ptr<platform::Library> library_;
  EdiReadCardFn read_card_ = nullptr;
  EdiCardTrackFn card_track_ = nullptr;
  EdiPosRequestFn pos_request_ = nullptr;
  EdiPosAnswerFn pos_answer_ = nullptr;
};

}  // namespace helvar
