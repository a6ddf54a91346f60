// The gateway server's guidance service, simulated: it answers a guidance request
// (protocol/guidance_sheet.h) with each drug's name, effect text and pictogram field from its
// catalogue; a drug it does not know gets empty texts and no pictograms.
#pragma once

#include <map>
#include <string>
#include <string_view>

namespace gateway_sim {

// What the service knows of a drug (texts as the server sends them, CP949).
struct GuideDrug {
  std::string name;
  std::string effect;
  std::string pictograms;  // a two-digit count and the codes separated by GS, e.g. "02F01<GS>C16"
};

struct GuidanceService {
  std::map<std::string, GuideDrug> drugs;  // by drug code
  std::string answer_code = "0000";        // anything else refuses the request
  // The answer announces its whole length, but only its first half is sent before the
  // connection is closed.
  bool short_answer = false;
};

// The answer to `request`.
std::string GuidanceAnswer(const GuidanceService& service, std::string_view request);

}  // namespace gateway_sim
