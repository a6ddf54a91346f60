#include "protocol/testing/guidance_service.h"

#include <vector>

#include "protocol/frame.h"
#include "protocol/guidance_sheet.h"

namespace gateway_sim {
namespace {

namespace guide = protocol::guidance;

constexpr size_t kRequestHead = 12;  // STX "XX" length "CRE" before the body
constexpr size_t kBusinessNumber = 10;

}  // namespace

std::string GuidanceAnswer(const GuidanceService& service, std::string_view request) {
  const protocol::Fields<guide::kRequestDirectionsField + 1> in =
      protocol::SplitFields<guide::kRequestDirectionsField + 1>(protocol::FrameContent(request),
                                                                protocol::kFs);
  // Each drug code is followed by GS.
  std::vector<std::string_view> codes =
      protocol::SplitAll(in[guide::kRequestCodesField], protocol::kGs);
  codes.pop_back();
  // STX, "XX", the length, "CRE" and the operation, then the business number of the request:
  // the answer code starts at position 25.
  const std::string_view business = request.substr(
      std::min(request.size(), kRequestHead + guide::kOperation.size()), kBusinessNumber);
  std::string answer = std::string(1, protocol::kStx) + "XX000000" +
                       std::string(guide::kRequestType) + std::string(guide::kOperation);
  answer += std::string(business) + std::string(kBusinessNumber - business.size(), ' ');
  answer += service.answer_code;
  std::vector<std::string> fields(guide::kPictogramField + guide::kFieldsPerDrug * codes.size());
  fields[1] = in[guide::kRequestKeyField];
  fields[2] = in[guide::kRequestProgramField];
  fields[3] = in[guide::kRequestCountField];
  for (size_t k = 0; k < codes.size(); ++k) {
    const size_t base = guide::kFieldsPerDrug * k;
    const auto known = service.drugs.find(std::string(codes[k]));
    const GuideDrug drug = known == service.drugs.end() ? GuideDrug{} : known->second;
    fields[guide::kPictogramField + base] = drug.pictograms;
    fields[guide::kNameField + base] = drug.name;
    fields[guide::kNameField + 1 + base] = codes[k];
    fields[guide::kEffectField + base] = drug.effect;
  }
  for (size_t n = 1; n < fields.size(); ++n) answer += protocol::kFs + fields[n];
  answer += protocol::kFs;
  answer += protocol::kEtx;
  const std::string length = std::to_string(answer.size());
  answer.replace(guide::kLengthOffset + guide::kLengthDigits - length.size(), length.size(),
                 length);
  return answer;
}

}  // namespace gateway_sim
