// The sign-pad module library's entry points over one session per calling thread.
#include "companions/kiccpad/kicc_pad.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <system_error>

#include "companions/kiccpad/kicc_protocol.h"
#include "companions/kiccpad/sign_bitmap.h"
#include "platform/prefix.h"
#include "platform/registry.h"
#include "platform/socket.h"
#include "platform/text.h"

namespace {

constexpr int kOk = 1;
constexpr int kFailed = -1;
// epSendDSC's results.
constexpr int kNotReady = 0;
constexpr int kUnreachable = -1;
constexpr int kNoAnswer = -2;
constexpr int kMalformedAnswer = -3;

constexpr int kPadScale = 1;
constexpr int kScreenScale = 2;

struct Session {
  std::string request;  // kicc::kRequestRecordSize bytes once set
  std::string seed;
  std::string signature;  // raw pen points
  std::string address;
  std::optional<uint16_t> port;
  std::optional<std::string> answer;  // the last answer record
};

// Each thread that uses the library has its own session (see kicc_pad.h).
Session& ThisSession() {
  thread_local Session session;
  return session;
}

int SettingMs(const char* name, int fallback) {
  platform::RegValue value;
  if (platform::RegGetValue(kicc::kSettingsKey, name, &value) != platform::RegStatus::kOk ||
      value.type != platform::RegType::kDword) {
    return fallback;
  }
  return static_cast<int>(value.dword);
}

// One exchange with the VAN server: connect, send `kind` with `payload`, read the reply of
// `reply_kind`. kOk with *reply, else one of epSendDSC's failure results.
int Exchange(const Session& session, kicc::MessageKind kind, std::string_view payload,
             kicc::MessageKind reply_kind, std::string* reply) {
  const std::string address = platform::ResolveIpv4(session.address);
  const std::optional<std::string> message = kicc::EncodeMessage(kind, payload);
  if (address.empty() || !message) return kUnreachable;
  platform::UniqueFd connection;
  const platform::Deadline connecting = platform::Deadline::After(
      SettingMs(kicc::kConnectTimeoutValue, kicc::kDefaultConnectTimeoutMs));
  if (!platform::TcpConnect(address, *session.port, connecting, &connection).ok()) {
    return kUnreachable;
  }
  const platform::Deadline answering = platform::Deadline::After(
      SettingMs(kicc::kAnswerTimeoutValue, kicc::kDefaultAnswerTimeoutMs));
  kicc::Message answer;
  const bool exchanged = platform::SendAll(connection.get(), *message, answering).ok() &&
                         kicc::ReceiveMessage(connection.get(), answering, &answer).ok();
  platform::CloseConnection(std::move(connection));
  if (!exchanged) return kNoAnswer;
  if (answer.kind != reply_kind) return kMalformedAnswer;
  *reply = std::move(answer.payload);
  return kOk;
}

int SaveBitmap(const char* file_name, int scale) {
  const Session& session = ThisSession();
  if (file_name == nullptr || session.signature.empty()) return kFailed;
  const std::optional<std::filesystem::path> path = platform::ResolvePath(file_name);
  if (!path) return kFailed;
  std::error_code ignored;
  std::filesystem::create_directories(path->parent_path(), ignored);
  const std::string bmp = kicc::MonochromeBmp(kicc::DrawSignature(session.signature, scale));
  std::ofstream out(*path, std::ios::binary | std::ios::trunc);
  out.write(bmp.data(), static_cast<std::streamsize>(bmp.size()));
  out.close();
  return out ? kOk : kFailed;
}

}  // namespace

extern "C" {

int epConnect(int port, int speed) {
  if (port < 0 || speed < 0) return kFailed;
  ThisSession() = Session{};
  return kOk;
}

int epDisConnect(void) {
  ThisSession() = Session{};
  return kOk;
}

int epSetReqData(const char* record) {
  if (record == nullptr || strnlen(record, kicc::kRequestRecordSize) != kicc::kRequestRecordSize) {
    return kFailed;
  }
  ThisSession().request.assign(record, kicc::kRequestRecordSize);
  return kOk;
}

int epGetAnsData(char* answer) {
  const Session& session = ThisSession();
  if (answer == nullptr || !session.answer) return kFailed;
  std::memcpy(answer, session.answer->data(), kicc::kAnswerRecordSize);
  return static_cast<int>(kicc::kAnswerRecordSize);
}

int epConfirmDSC(void) {
  const Session& session = ThisSession();
  if (!session.answer || !session.port) return 0;
  std::string reply;
  return Exchange(session, kicc::MessageKind::kConfirmation, *session.answer,
                  kicc::MessageKind::kConfirmationTaken, &reply) == kOk
             ? kOk
             : kFailed;
}

int epSetKiccIp(const char* address) {
  if (address == nullptr || *address == '\0') return kFailed;
  ThisSession().address = address;
  return kOk;
}

int epSetKiccPort(const char* port) {
  const std::optional<uint16_t> parsed = port == nullptr ? std::nullopt : platform::ParsePort(port);
  if (!parsed) return kFailed;
  ThisSession().port = parsed;
  return kOk;
}

int epSendDSC(void) {
  Session& session = ThisSession();
  session.answer.reset();
  if (session.request.empty() || session.address.empty() || !session.port) return kNotReady;
  const std::optional<std::string> payload =
      kicc::EncodeApprovalRequest({session.request, session.seed, session.signature});
  if (!payload) return kNotReady;
  std::string answer;
  const int result = Exchange(session, kicc::MessageKind::kApprovalRequest, *payload,
                              kicc::MessageKind::kApprovalAnswer, &answer);
  if (result != kOk) return result;
  if (answer.size() != kicc::kAnswerRecordSize) return kMalformedAnswer;
  session.answer = std::move(answer);
  return kOk;
}

int epSetSeed(const char* seed) {
  if (seed == nullptr) return kFailed;
  ThisSession().seed.assign(seed, strnlen(seed, kicc::kSeedSize));
  return kOk;
}

int epSetSignData(const unsigned char* data, int length) {
  if (data == nullptr || length < 0 || static_cast<size_t>(length) > kicc::kMaxSignature) {
    return kFailed;
  }
  ThisSession().signature.assign(reinterpret_cast<const char*>(data), static_cast<size_t>(length));
  return kOk;
}

int epSetSignHexData(const char* hex) {
  if (hex == nullptr) return kFailed;
  const size_t length = strnlen(hex, 2 * kicc::kMaxSignature + 1);
  std::optional<std::string> bytes = platform::FromHex(std::string_view(hex, length));
  if (!bytes || bytes->size() > kicc::kMaxSignature) return kFailed;
  ThisSession().signature = std::move(*bytes);
  return kOk;
}

int epSaveToCatBmp(const char* file_name) { return SaveBitmap(file_name, kPadScale); }

int epSaveToBmp(const char* file_name) { return SaveBitmap(file_name, kPadScale); }

int epSaveScrToBmp(const char* file_name) { return SaveBitmap(file_name, kScreenScale); }

}  // extern "C"
