// The card-network library's entry points over one session per calling thread.
#include "companions/ediconn/ediconn.h"

#include <array>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "companions/ediconn/cash_protocol.h"
#include "platform/registry.h"
#include "platform/socket.h"
#include "platform/text.h"
#include "protocol/frame.h"

namespace {

constexpr int kCardAnswerCode = 12;
constexpr size_t kCardDataField = 3;
// The hub refuses a request it cannot take with a frame of the answer code (012 for 011) whose
// field 2 is "9999" and field 3 the reason; the terminal's 012 carries the card data in field 3.
constexpr size_t kRefusalCodeField = 2;
constexpr std::string_view kRefusalCode = "9999";
// The most bytes the hub's answer on its POS port may have: one message record.
constexpr size_t kMaxPosAnswer = protocol::kMessageRecordSize;

struct Session {
  std::optional<std::vector<std::string>> cash_answer;  // CashAnswerText order
  std::optional<std::string> track;
  std::optional<std::vector<std::string>> pos_answer;  // answer fields 1 to 30
};

// Each thread that uses the library has its own session (see ediconn.h).
Session& ThisSession() {
  thread_local Session session;
  return session;
}

int SettingMs(const char* name, int fallback) {
  platform::RegValue value;
  if (platform::RegGetValue(ediconn::kSettingsKey, name, &value) != platform::RegStatus::kOk ||
      value.type != platform::RegType::kDword) {
    return fallback;
  }
  return static_cast<int>(value.dword);
}

// Copies `text` into the caller's buffer of `room` bytes (terminator included); null skipped.
void Give(char* buffer, size_t room, std::string_view text) {
  if (buffer == nullptr) return;
  const std::string_view kept = platform::CutCp949(text, room - 1);
  if (!kept.empty()) std::memcpy(buffer, kept.data(), kept.size());
  buffer[kept.size()] = '\0';
}

// A connection to `host`:`port` within the connect time limit; kEdiOk with *connection, else the
// failure's result.
int Connect(const char* host, const char* port, platform::UniqueFd* connection) {
  if (host == nullptr || port == nullptr) return kEdiBadArgument;
  const std::optional<uint16_t> number = platform::ParsePort(port);
  if (!number) return kEdiBadArgument;
  const std::string address = platform::ResolveIpv4(host);
  if (address.empty()) return kEdiUnreachable;
  const platform::Deadline connecting = platform::Deadline::After(
      SettingMs(ediconn::kConnectTimeoutValue, ediconn::kDefaultConnectTimeoutMs));
  return platform::TcpConnect(address, *number, connecting, connection).ok() ? kEdiOk
                                                                              : kEdiUnreachable;
}

int CashReceipt(const char* address, const char* port,
                const std::array<const char*, ediconn::kRequestTexts>& arguments) {
  std::vector<std::string> texts;
  for (const char* text : arguments) {
    if (text == nullptr) return kEdiBadArgument;
    texts.emplace_back(text);
  }
  const std::optional<std::string> request =
      ediconn::EncodeMessage(ediconn::MessageKind::kRequest, texts);
  if (!request) return kEdiBadArgument;
  platform::UniqueFd connection;
  if (const int connected = Connect(address, port, &connection); connected != kEdiOk) {
    return connected;
  }
  const platform::Deadline answering = platform::Deadline::After(
      SettingMs(ediconn::kAnswerTimeoutValue, ediconn::kDefaultAnswerTimeoutMs));
  ediconn::Message answer;
  platform::Status status = platform::SendAll(connection.get(), *request, answering);
  if (status.ok()) status = ediconn::ReceiveMessage(connection.get(), answering, &answer);
  platform::CloseConnection(std::move(connection));
  if (status.code() == platform::StatusCode::kIoError && !status.system_error()) {
    return kEdiBadAnswer;  // bytes came, but not a message
  }
  if (!status.ok()) return kEdiNoAnswer;
  if (answer.kind != ediconn::MessageKind::kAnswer) return kEdiBadAnswer;
  ThisSession().cash_answer = std::move(answer.texts);
  return kEdiOk;
}

// One request to the hub's POS port: the frame is sent and everything the hub sends back until
// it ends the connection is the answer. kEdiOk with *answer holding a frame (up to its ETX),
// else the failure's result.
int PosExchange(const char* host, const char* port, const char* code,
                const std::vector<std::string_view>& fields, std::string* answer) {
  if (code == nullptr || std::strlen(code) != protocol::kCodeDigits) return kEdiBadArgument;
  const std::optional<int> number = protocol::ReadDecimal(code, 0, protocol::kCodeDigits);
  if (!number) return kEdiBadArgument;
  const std::optional<std::string> request = protocol::BuildMessage(*number, fields);
  if (!request) return kEdiBadArgument;
  platform::UniqueFd connection;
  if (const int connected = Connect(host, port, &connection); connected != kEdiOk) {
    return connected;
  }
  const platform::Deadline answering = platform::Deadline::After(
      SettingMs(ediconn::kPosAnswerTimeoutValue, ediconn::kDefaultPosAnswerTimeoutMs));
  platform::Status status = platform::SendAll(connection.get(), *request, answering);
  std::string received;
  while (status.ok() && received.size() < kMaxPosAnswer) {
    std::array<char, 4096> chunk;
    size_t got = 0;
    status = platform::ReceiveSome(connection.get(), chunk.data(),
                                   std::min(chunk.size(), kMaxPosAnswer - received.size()),
                                   answering, &got);
    received.append(chunk.data(), got);
  }
  platform::CloseConnection(std::move(connection));
  // The hub ends the connection once it has answered; anything else is no answer.
  if (status.code() != platform::StatusCode::kClosed || received.empty()) return kEdiNoAnswer;
  const size_t etx = protocol::EtxIndex(received);
  if (received.front() != protocol::kStx || etx == std::string::npos) return kEdiBadAnswer;
  *answer = std::move(received);
  return kEdiOk;
}

std::string_view Text(const char* text) { return text == nullptr ? std::string_view() : text; }

}  // namespace

extern "C" {

int EdiCashReceipt(const char* address, const char* port, const char* message_type,
                   const char* business_number, const char* terminal, const char* identification,
                   const char* total, const char* tax, const char* reserved, const char* amount1,
                   const char* amount2, const char* usage_code, const char* original_approval,
                   const char* original_date, const char* program_code) {
  ThisSession().cash_answer.reset();
  return CashReceipt(address, port,
                     {message_type, business_number, terminal, identification, total, tax,
                      reserved, amount1, amount2, usage_code, original_approval, original_date,
                      program_code});
}

int EdiCashAnswer(char* code, char* message, char* approval_number) {
  const std::optional<std::vector<std::string>>& answer = ThisSession().cash_answer;
  const auto text = [&](size_t index) {
    return answer ? std::string_view((*answer)[index]) : std::string_view();
  };
  Give(code, kEdiCodeRoom, text(ediconn::kAnswerCode));
  Give(message, kEdiMessageRoom, text(ediconn::kAnswerMessage));
  Give(approval_number, kEdiApprovalRoom, text(ediconn::kApprovalNumber));
  return answer ? kEdiOk : 0;
}

int EdiReadCard(const char* host, const char* port, const char* code, const char* kind,
                const char* prompt) {
  Session& session = ThisSession();
  session.track.reset();
  if (kind == nullptr || prompt == nullptr) return kEdiBadArgument;
  std::string answer;
  const int result = PosExchange(host, port, code, {Text(kind), Text(prompt)}, &answer);
  if (result != kEdiOk) return result;
  const protocol::Fields<kCardDataField + 1> fields =
      protocol::FrameFields<kCardDataField + 1>(answer);
  if (protocol::MessageCode(answer) != kCardAnswerCode || fields[kCardDataField].empty() ||
      fields[kRefusalCodeField] == kRefusalCode) {
    return kEdiBadAnswer;
  }
  session.track = std::string(fields[kCardDataField]);
  return kEdiOk;
}

int EdiCardTrack(char* track) {
  const std::optional<std::string>& kept = ThisSession().track;
  Give(track, kEdiTrackRoom, kept.value_or(std::string()));
  return kept ? kEdiOk : 0;
}

int EdiPosRequest(const char* t1, const char* t2, const char* t3, const char* t4, const char* t5,
                  const char* t6, const char* t7, const char* t8, const char* t9, const char* t10,
                  const char* t11, const char* t12, const char* t13, const char* t14,
                  const char* t15, const char* t16, const char* t17, const char* t18,
                  const char* t19, const char* t20, const char* t21, const char* t22,
                  const char* t23, const char* t24, const char* t25) {
  Session& session = ThisSession();
  session.pos_answer.reset();
  const std::array<const char*, kEdiPosRequestTexts - 3> texts = {
      t4,  t5,  t6,  t7,  t8,  t9,  t10, t11, t12, t13, t14,
      t15, t16, t17, t18, t19, t20, t21, t22, t23, t24, t25};
  std::vector<std::string_view> fields;
  for (const char* text : texts) {
    if (text == nullptr) return kEdiBadArgument;
    fields.emplace_back(text);
  }
  std::string answer;
  const int result = PosExchange(t1, t2, t3, fields, &answer);
  if (result != kEdiOk) return result;
  const auto split = protocol::FrameFields<kEdiPosAnswerFields + 1>(answer);
  std::vector<std::string> kept;
  for (size_t field = 1; field <= kEdiPosAnswerFields; ++field) {
    kept.emplace_back(split[field]);
  }
  session.pos_answer = std::move(kept);
  return kEdiOk;
}

int EdiPosAnswer(char* f1, char* f2, char* f3, char* f4, char* f5, char* f6, char* f7, char* f8,
                 char* f9, char* f10, char* f11, char* f12, char* f13, char* f14, char* f15,
                 char* f16, char* f17, char* f18, char* f19, char* f20, char* f21, char* f22,
                 char* f23, char* f24, char* f25, char* f26, char* f27, char* f28, char* f29,
                 char* f30) {
  const std::array<char*, kEdiPosAnswerFields> buffers = {
      f1,  f2,  f3,  f4,  f5,  f6,  f7,  f8,  f9,  f10, f11, f12, f13, f14, f15,
      f16, f17, f18, f19, f20, f21, f22, f23, f24, f25, f26, f27, f28, f29, f30};
  const std::optional<std::vector<std::string>>& answer = ThisSession().pos_answer;
  for (size_t i = 0; i < buffers.size(); ++i) {
    Give(buffers[i], kEdiFieldRoom, answer ? std::string_view((*answer)[i]) : std::string_view());
  }
  return answer ? kEdiOk : 0;
}

}  // extern "C"
