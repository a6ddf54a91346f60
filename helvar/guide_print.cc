#include "helvar/guide_print.h"

#include <array>
#include <cstdio>

#include "companions/util/ordella_util.h"
#include "helvar/gateway_lookup.h"
#include "helvar/helvar_log.h"
#include "platform/socket.h"
#include "platform/text.h"
#include "protocol/frame.h"
#include "protocol/guidance_sheet.h"

namespace helvar {
namespace {

namespace guide = protocol::guidance;
using protocol::kFs;
using protocol::kGs;
using protocol::kLf;

constexpr int kRegistryRoom = 1024;
constexpr size_t kWrapRoom = 1023;
constexpr int kPrintCode = 151;
constexpr std::string_view kPrintTag = "PRINT";

void LogGuide(std::string_view text) { WriteLog("GetGuidePrint", text); }
void LogNoServer() { LogGuide(Cp949("복약지도 서버 접속안됨!")); }

std::string Joined(const std::vector<GuidanceDrug>& drugs, std::string GuidanceDrug::*member) {
  std::string joined;
  for (const GuidanceDrug& drug : drugs) joined += drug.*member + kGs;
  return joined;
}

// `text` right-aligned in at least `width` characters, as "%*s" writes it.
std::string AtLeast(std::string_view text, size_t width) {
  return text.size() >= width ? std::string(text)
                              : std::string(width - text.size(), ' ') + std::string(text);
}

}  // namespace

GuideServer ReadGuideServer() {
  GuideServer server;
  server.address = ReadSetting("GatewayServer Ip", server.address);
  server.port = ReadSetting("GuideServer Port", std::to_string(guide::kServicePort));
  return server;
}

std::string GuideRequest(std::string_view business_number, const GuidanceOrder& order,
                         std::string_view program_code) {
  std::string body(guide::kOperation);
  body += AtLeast(business_number, 10) + std::string(4, ' ') + std::string(64, ' ');
  for (std::string_view field : {guide::kRequestKind, std::string_view(order.key), program_code}) {
    body += kFs;
    body += field;
  }
  body += kFs + std::to_string(order.drugs.size()) + kFs;
  body += Joined(order.drugs, &GuidanceDrug::code) + kFs;
  body += Joined(order.drugs, &GuidanceDrug::direction) + kFs + kFs + kFs;
  char length[16];
  std::snprintf(length, sizeof length, "%06zu", body.size() + guide::kRequestOverhead);
  return std::string(1, protocol::kStx) + "XX" + length + std::string(guide::kRequestType) + body +
         protocol::kEtx;
}

std::optional<std::string> ExchangeGuide(const GuideServer& server, std::string_view request) {
  const std::optional<uint16_t> port = platform::ParsePort(server.port);
  platform::UniqueFd connection;
  if (!port || !platform::TcpConnect(server.address, *port,
                                     platform::Deadline::After(server.connect_ms), &connection)
                    .ok()) {
    LogNoServer();
    return std::nullopt;
  }
  if (!platform::SendAll(connection.get(), request, platform::Deadline::After(server.connect_ms))
           .ok()) {
    LogNoServer();
    platform::CloseConnection(std::move(connection));
    return std::nullopt;
  }
  const platform::Deadline deadline = platform::Deadline::After(server.answer_wait_ms);
  std::string answer(guide::kAnswerRoom, '\0');
  size_t got = 0;
  platform::ReceiveSome(connection.get(), answer.data(), guide::kReadPiece, deadline, &got);
  if (got == 0) {
    LogNoServer();
    platform::CloseConnection(std::move(connection));
    return std::nullopt;
  }
  const std::optional<int> announced = protocol::ReadDecimal(
      std::string_view(answer.data(), got), guide::kLengthOffset, guide::kLengthDigits);
  std::optional<std::string> refused;
  if (!announced) {
    refused = "answer without a readable length";
  } else if (static_cast<size_t>(*announced) > guide::kAnswerRoom) {
    refused = "answer of " + std::to_string(*announced) + " bytes announced: larger than " +
              std::to_string(guide::kAnswerRoom);
  }
  while (!refused && got < static_cast<size_t>(*announced)) {
    size_t piece = 0;
    const platform::Status read = platform::ReceiveSome(
        connection.get(), answer.data() + got,
        std::min(guide::kReadPiece, guide::kAnswerRoom - got), deadline, &piece);
    if (!read.ok()) {
      refused = "answer ended after " + std::to_string(got) + " of " + std::to_string(*announced) +
                " bytes: " + read.message();
    }
    got += piece;
  }
  platform::CloseConnection(std::move(connection));
  if (refused) {
    LogGuide(*refused);
    return std::nullopt;
  }
  answer.resize(got);
  return answer;
}

std::optional<std::vector<GuideDrugText>> ParseGuideAnswer(std::string_view answer, size_t drugs) {
  const std::vector<std::string_view> fields = protocol::SplitAll(answer, kFs);
  const std::string_view head = fields[0].substr(0, guide::kAnswerHeadSize);
  if (head.size() < guide::kAnswerCodeOffset + guide::kAnswerCodeSize ||
      head.substr(guide::kAnswerCodeOffset, guide::kAnswerCodeSize) != guide::kAnswerServed) {
    return std::nullopt;
  }
  const auto field = [&fields](size_t n) {
    return n < fields.size() ? std::string(fields[n]) : std::string();
  };
  std::vector<GuideDrugText> texts;
  for (size_t k = 0; k < drugs; ++k) {
    const size_t base = guide::kFieldsPerDrug * k;
    texts.push_back({field(guide::kNameField + base), field(guide::kEffectField + base),
                     field(guide::kPictogramField + base)});
  }
  return texts;
}

std::string WrappedLines(std::string_view text) {
  std::string source(platform::CutCp949(text, kWrapRoom));
  std::erase_if(source, [](char c) { return c == '\n' || c == '\r'; });
  std::string lines;
  std::array<char, guide::kLineWidth + 1> line{};
  for (size_t at = 0; at < source.size();) {
    const int taken =
        UtilNextLine(static_cast<int>(guide::kLineWidth), source.c_str() + at, line.data());
    if (taken <= 0) break;
    lines += line.data();
    lines += kLf;
    at += static_cast<size_t>(taken);
  }
  return lines;
}

std::string PictogramText(std::string_view field) {
  std::string digits;
  if (field.size() >= guide::kPictogramPositionDigits) {
    const std::optional<int> count =
        protocol::ReadDecimal(field, 0, guide::kPictogramPositionDigits);
    const std::vector<std::string_view> codes =
        protocol::SplitAll(field.substr(guide::kPictogramPositionDigits), kGs);
    for (size_t n = 0; n < codes.size() && static_cast<int>(n) < count.value_or(0); ++n) {
      if (const std::optional<int> position = guide::PictogramPosition(codes[n])) {
        char two[8];
        std::snprintf(two, sizeof two, "%02d", *position);
        digits += two;
      }
    }
  }
  digits.resize(guide::kPictogramDigits, '0');
  return kGs + digits;
}

PharmacyLines ReadPharmacyLines() {
  PharmacyLines lines;
  lines.pharmacy = ReadSetting("pharmacy", "", kRegistryRoom);
  lines.owner = ReadSetting("name", "", kRegistryRoom);
  lines.callarea = ReadSetting("callarea", "", kRegistryRoom);
  lines.callno = ReadSetting("callno", "", kRegistryRoom);
  lines.address = ReadSetting("address", "", kRegistryRoom);
  return lines;
}

std::string LayOutSheet(const GuidanceOrder& order, const std::vector<GuideDrugText>& drugs,
                        const PharmacyLines& pharmacy) {
  const std::string rule(guide::kRule);
  std::string sheet = kGs + std::string(guide::kSheetHead) + kLf + kLf;
  sheet += guide::kLargeOn + order.patient_line + guide::kLargeOff + kLf;
  sheet += Cp949("조제일자: ") + order.date + kLf;
  sheet += rule + kLf;
  for (size_t k = 0; k < drugs.size(); ++k) {
    const std::string direction = k < order.drugs.size() ? order.drugs[k].direction : "";
    sheet += Cp949("약명> ") + WrappedLines(drugs[k].name);
    sheet += Cp949("용법> ") + direction + kLf;
    sheet += Cp949("효능> ") + WrappedLines(drugs[k].effect);
    sheet += kLf;
    sheet += PictogramText(drugs[k].pictograms);
    sheet += rule + kLf;
  }
  sheet += Cp949("약국: ") + guide::kLargeOn + pharmacy.pharmacy + guide::kLargeOff + kLf;
  sheet += Cp949("대표자/전화: ") + pharmacy.owner + std::string(5, ' ') + pharmacy.callarea + "-" +
           pharmacy.callno + kLf;
  sheet += WrappedLines(pharmacy.address) + kLf;
  return sheet;
}

std::optional<std::string> GetGuidePrint(const GuideServer& server, const GuidanceOrder& order,
                                         std::string_view program_code) {
  const std::string business_number = ReadSetting("bizno", "", kRegistryRoom);
  const std::optional<std::string> answer =
      ExchangeGuide(server, GuideRequest(business_number, order, program_code));
  if (!answer) return std::nullopt;
  const std::optional<std::vector<GuideDrugText>> texts =
      ParseGuideAnswer(*answer, order.drugs.size());
  if (!texts) {
    LogGuide("answer code " +
             std::string(std::string_view(*answer).substr(
                 std::min(guide::kAnswerCodeOffset, answer->size()), guide::kAnswerCodeSize)));
    return std::nullopt;
  }
  return LayOutSheet(order, *texts, ReadPharmacyLines());
}

std::optional<std::string> GuidePrintFrame(std::string_view sheet, bool routed) {
  const std::string printed = std::string(kPrintTag) + std::string(sheet);
  const std::array<std::string_view, 3> routed_fields = {"", "", printed};
  const std::array<std::string_view, 1> plain_fields = {sheet};
  const std::optional<std::string> body = routed ? protocol::MessageBody(kPrintCode, routed_fields)
                                                 : protocol::MessageBody(kPrintCode, plain_fields);
  return protocol::BuildFrame(*body, protocol::LengthRule::kGuidanceSheet,
                              routed ? protocol::kTerminalShape : protocol::kPlainShape,
                              sheet.size());
}

}  // namespace helvar
