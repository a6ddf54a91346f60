#include "helvar/gateway_lookup.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <memory>

#include "companions/util/ordella_util.h"
#include "helvar/helvar_log.h"
#include "platform/socket.h"
#include "protocol/frame.h"

namespace helvar {
namespace {

constexpr const char* kSettingsKey = "Software\\Tavenor";
constexpr int kBusinessNumberRoom = 20;
constexpr size_t kReceiveRoom = 90000;
constexpr size_t kAnswerRoom = 8192;  // what the callers keep of an answer, terminator included
constexpr size_t kCodeOffset = 25;
constexpr size_t kCodeSize = 4;
constexpr int kConnectMs = 5000;
constexpr int kSendFailed = -3006;

void LogNoAnswer(int error, std::string_view buffer) {
  std::string text = "ERROR CODE [" + std::to_string(error) + "] [" + std::string(buffer) + "]";
  WriteLog("RequestBarCode", text);
  WriteLog("RequestBarCode", Cp949("부외품 서버에 접속할수 없음!"));
}

// One exchange: the bytes of the single receive, or the error code (0 or less) in *error.
std::optional<std::string> Exchange(const GatewayServer& server, const std::string& request,
                                    int* error) {
  *error = 0;
  const std::optional<uint16_t> port = platform::ParsePort(server.port);
  platform::UniqueFd connection;
  if (!port || !platform::TcpConnect(server.address, *port,
                                     platform::Deadline::After(kConnectMs), &connection)
                    .ok()) {
    return std::nullopt;
  }
  if (!platform::SendAll(connection.get(), request, platform::Deadline::After(kConnectMs)).ok()) {
    *error = kSendFailed;
    platform::CloseConnection(std::move(connection));
    return std::nullopt;
  }
  auto buffer = std::make_unique<std::array<char, kReceiveRoom>>();
  size_t got = 0;
  platform::ReceiveSome(connection.get(), buffer->data(), buffer->size(),
                        platform::Deadline::After(server.answer_wait_ms), &got);
  platform::CloseConnection(std::move(connection));
  if (got == 0) return std::nullopt;
  // The callers' answer buffer keeps the first 8,191 bytes; the rest is not read.
  return std::string(buffer->data(), std::min(got, kAnswerRoom - 1));
}

}  // namespace

std::string ReadSetting(const char* name, std::string fallback, int room) {
  std::string buffer(static_cast<size_t>(room), '\0');
  std::memcpy(buffer.data(), fallback.data(), std::min(fallback.size(), buffer.size() - 1));
  UtilRegReadText(kSettingsKey, name, buffer.data(), room);
  buffer.resize(strnlen(buffer.data(), buffer.size()));
  return buffer;
}

GatewayServer ReadGatewayServer() {
  GatewayServer server;
  server.address = ReadSetting("GatewayServer Ip", server.address);
  server.port = ReadSetting("GatewayServer Port", server.port);
  return server;
}

std::string BarcodeRequest(std::string_view business_number, std::string_view barcode) {
  char head[32];
  std::snprintf(head, sizeof head, "%cXX%06d%3s", protocol::kStx,
                static_cast<int>(barcode.size()) + 96, "CRE835");
  std::string request = head;
  request += business_number;
  request += std::string(4, ' ') + std::string(64, ' ');
  request += protocol::kFs;
  request += barcode;
  request += protocol::kFs;
  request += protocol::kFs;
  request += protocol::kEtx;
  return request;
}

std::optional<GatewayItem> RequestBarCode(const GatewayServer& server, std::string_view barcode) {
  const std::string business_number = ReadSetting("bizno", "", kBusinessNumberRoom);
  int error = 0;
  const std::optional<std::string> answer =
      Exchange(server, BarcodeRequest(business_number, barcode), &error);
  if (!answer) {
    LogNoAnswer(error, "");
    return std::nullopt;
  }
  const protocol::Fields<6> fields = protocol::SplitFields<6>(*answer, protocol::kFs);
  GatewayItem item;
  item.code = std::string(fields[0].substr(std::min(kCodeOffset, fields[0].size()), kCodeSize));
  item.maker = fields[2];
  item.product = fields[3];
  item.purchase_price = fields[4];
  item.sale_price = fields[5];
  return item;
}

}  // namespace helvar
