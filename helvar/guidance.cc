#include "helvar/guidance.h"

#include <array>
#include <memory>
#include <optional>

#include "helvar/guidance_order.h"
#include "helvar/guide_print.h"
#include "helvar/helvar_log.h"
#include "helvar/reply_writer.h"
#include "helvar/work_context.h"
#include "platform/profile.h"
#include "platform/socket.h"
#include "protocol/helvar_request.h"
#include "retalo/db/server_choice.h"
#include "retalo/db/sql_fill.h"
#include "retalo/db/sql_texts.h"

namespace helvar {
namespace {

constexpr int kPm2000PrintWaitMs = 60000;
constexpr int kUbcareWaitMs = 50000;
constexpr int kRequestProgramWaitMs = 10000;
constexpr int kConnectMs = 5000;
constexpr size_t kAnswerRoom = 90000;
constexpr size_t kAddressRoom = 62;  // 61 characters and the terminator
constexpr size_t kPortRoom = 20;
constexpr size_t kUbcareKeySize = 9;

bool Routed(int32_t code) {
  return code >= protocol::kHelvarGuidancePrint &&
         code < protocol::kHelvarGuidancePrint + protocol::kHelvarTerminals;
}

std::string ReadPm2000Ini(std::string_view key, size_t room) {
  std::array<char, kAddressRoom> buffer{};
  const size_t n = platform::GetPrivateProfileString(Cp949("개인별 설정내용"), key, "",
                                                     buffer.data(), room, retalo::kPm2000Ini);
  return std::string(buffer.data(), n);
}

// The print frame of the order's sheet; nullopt when GetGuidePrint fails (logged).
std::optional<std::string> SheetFrame(const GuidanceOrder& order, std::string_view program_code,
                                      bool routed) {
  const std::optional<std::string> sheet = GetGuidePrint(ReadGuideServer(), order, program_code);
  if (!sheet) {
    WriteLog("GetGuidePrint", Cp949("Ordella서버 복약지도 실패!"));
    return std::nullopt;
  }
  std::optional<std::string> frame = GuidePrintFrame(*sheet, routed);
  if (!frame) {
    WriteLog("GetGuidePrint",
             "sheet of " + std::to_string(sheet->size()) + " bytes is too long for a print frame");
  }
  return frame;
}

// The guidance of the programs that send everything in the request (OnPharm, OptiPharm).
int RequestProgramGuidance(CWorkContext& context, const Request& request, std::string_view tag,
                           std::string_view program_code) {
  GuidanceOrder order;
  CollectRequestOrder(request.data, TodayDate().year, &order);
  if (order.drugs.empty()) WriteLog(tag, "no drugs in the request");
  const std::optional<std::string> frame =
      order.drugs.empty() ? std::nullopt : SheetFrame(order, program_code, false);
  if (!frame) {
    WriteLog(tag, Cp949("복약지도 출력 실패"));
    return kHandlerFailed;
  }
  const PrintAddress listener{context.settings().guide_ip, context.settings().guide_port};
  if (!DeliverByTcp(listener, *frame, kRequestProgramWaitMs)) {
    WriteLog(tag, Cp949("게이트웨이 통신 실패"));
    return kHandlerFailed;
  }
  return kHandlerDone;
}

}  // namespace

PrintAddress Pm2000PrintAddress() {
  return {ReadPm2000Ini("KICC_IP", kAddressRoom), ReadPm2000Ini("KICC_PORT", kPortRoom)};
}

bool DeliverByTcp(const PrintAddress& to, std::string_view frame, int wait_ms) {
  const std::optional<uint16_t> port = platform::ParsePort(to.port);
  platform::UniqueFd connection;
  if (!port ||
      !platform::TcpConnect(to.address, *port, platform::Deadline::After(kConnectMs), &connection)
           .ok()) {
    return true;
  }
  bool delivered =
      platform::SendAll(connection.get(), frame, platform::Deadline::After(wait_ms)).ok();
  if (delivered) {
    auto answer = std::make_unique<std::array<char, kAnswerRoom>>();
    size_t got = 0;
    delivered = platform::ReceiveSome(connection.get(), answer->data(), answer->size(),
                                      platform::Deadline::After(wait_ms), &got)
                    .ok();
  }
  platform::CloseConnection(std::move(connection));
  return delivered;
}

int Pm2000Guidance(CWorkContext& context, const Request& request) {
  CPm2000Db& db = context.pm2000();
  if (!db.Open()) {
    WriteLog("PM2000_Service_BarCodeNotFound", "OpenDB Fail");
    return kHandlerFailed;
  }
  const std::string& serial = request.data;
  const std::string sql =
      request.code == protocol::kHelvarGuidanceWithoutPatient
          ? retalo::FillSql(retalo::sql::kSelectGuidanceDrugs, {serial, serial})
          : retalo::FillSql(retalo::sql::kSelectGuidanceDrugsWithPatient, {serial});
  if (!db.Query(sql)) {
    WriteLog("CPm2000Db", "Qry FALSE");
    db.Disconnect();
    return kHandlerDone;
  }
  GuidanceOrder order;
  FillPm2000Order(db, serial, request.aux2, &order);
  db.Disconnect();
  if (order.drugs.empty()) {
    WriteLog("CPm2000Db", "no drugs for prescription " + serial);
    return kHandlerDone;
  }
  const bool routed = Routed(request.code);
  const std::optional<std::string> frame = SheetFrame(order, kGuideProgramPm2000, routed);
  if (!frame) return kHandlerDone;
  if (routed) {
    WriteReply(*frame, request.code);
  } else if (!DeliverByTcp(Pm2000PrintAddress(), *frame, kPm2000PrintWaitMs)) {
    WriteLog("PM2000_Service_GuidePrint", Cp949("게이트웨이 통신 실패"));
  }
  return kHandlerDone;
}

int UbcareGuidance(CWorkContext& context, const Request& request) {
  constexpr std::string_view kTag = "Ubcare_Service_GuidePrint";
  CUpharmBinding& upharm = context.upharm();
  const bool loaded = upharm.Load(InstallDir());
  if (loaded) upharm.SetLog(1);
  if (!loaded || upharm.Open(0) != 1) {
    WriteLog(kTag, Cp949("고객리스트를 가져올수 없습니다"));
    return kHandlerFailed;
  }
  const bool routed = Routed(request.code);
  const std::string_view data = request.data;
  const std::string_view key =
      routed ? data.substr(data.size() - std::min(kUbcareKeySize, data.size()))
             : data.substr(0, kUbcareKeySize);
  GuidanceOrder order;
  CollectUbcareOrder(upharm, key, TodayDate(), &order);
  if (order.drugs.empty()) WriteLog(kTag, "no drugs for prescription " + std::string(key));
  const std::optional<std::string> frame =
      order.drugs.empty() ? std::nullopt : SheetFrame(order, kGuideProgramUbcare, routed);
  if (!frame) {
    WriteLog(kTag, Cp949("복약지도 출력 실패"));
    return kHandlerFailed;
  }
  if (routed) {
    WriteReply(*frame, request.code);
    return kHandlerDone;
  }
  const PrintAddress listener{context.settings().guide_ip, context.settings().guide_port};
  if (!DeliverByTcp(listener, *frame, kUbcareWaitMs)) {
    WriteLog(kTag, Cp949("게이트웨이 통신 실패"));
  }
  return kHandlerDone;
}

int OnPharmGuidance(CWorkContext& context, const Request& request) {
  return RequestProgramGuidance(context, request, "OnPharm_Service_GuidePrint",
                                kGuideProgramOnPharm);
}

int OptiPharmGuidance(CWorkContext& context, const Request& request) {
  return RequestProgramGuidance(context, request, "OptiPharm_Service_GuidePrint",
                                kGuideProgramOptiPharm);
}

}  // namespace helvar
