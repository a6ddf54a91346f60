// The five sign-pad objects and the factory that creates them. Each object keeps its own state
// for one approval; the working-key and transaction objects talk to the sign-pad network over
// TCP (signpad_protocol.h), one connection per exchange, within the configured deadlines.
#include "companions/signpad/signpad_objects.h"

#include <strings.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "companions/signpad/signpad_protocol.h"
#include "platform/prefix.h"
#include "platform/registry.h"
#include "platform/socket.h"
#include "platform/text.h"

namespace signpad {
namespace {

// A UTF-16 argument as CP949; nullopt for null or a text CP949 cannot hold.
std::optional<std::string> Cp949(const char16_t* text) {
  if (text == nullptr) return std::nullopt;
  return platform::Utf16ToCp949(std::u16string_view(text));
}

Result Out(std::string_view cp949, std::u16string* out) {
  if (out == nullptr) return kInvalidArgument;
  std::optional<std::u16string> text = platform::Cp949ToUtf16(cp949);
  if (!text) return kFailed;
  *out = std::move(*text);
  return kOk;
}

bool KnownMode(const std::optional<std::string>& mode) {
  return mode && (*mode == "REAL" || *mode == "TEST");
}

int SettingMs(const char* name, int fallback) {
  platform::RegValue value;
  if (platform::RegGetValue(kSettingsKey, name, &value) != platform::RegStatus::kOk ||
      value.type != platform::RegType::kDword) {
    return fallback;
  }
  return static_cast<int>(value.dword);
}

// One exchange with the network: `kind` with `payload` out, one reply of `reply_kind` back.
// The reply's payload, or nullopt (unreachable, silent, too late, refused or malformed).
std::optional<std::string> Exchange(MessageKind kind, std::string_view payload,
                                    MessageKind reply_kind) {
  platform::RegValue value;
  std::string address(kDefaultAddress);
  if (platform::RegGetValue(kSettingsKey, kAddressValue, &value) == platform::RegStatus::kOk &&
      value.type == platform::RegType::kString && !value.text.empty()) {
    address = value.text;
  }
  const int port = SettingMs(kPortValue, kDefaultPort);
  const std::string resolved = platform::ResolveIpv4(address);
  const std::optional<std::string> message = EncodeMessage(kind, payload);
  if (resolved.empty() || !message || port <= 0 || port > 65535) return std::nullopt;
  platform::UniqueFd connection;
  const platform::Deadline connecting =
      platform::Deadline::After(SettingMs(kConnectTimeoutValue, kDefaultConnectTimeoutMs));
  if (!platform::TcpConnect(resolved, static_cast<uint16_t>(port), connecting, &connection).ok()) {
    return std::nullopt;
  }
  const platform::Deadline answering =
      platform::Deadline::After(SettingMs(kAnswerTimeoutValue, kDefaultAnswerTimeoutMs));
  Message reply;
  const bool exchanged = platform::SendAll(connection.get(), *message, answering).ok() &&
                         ReceiveMessage(connection.get(), answering, &reply).ok();
  platform::CloseConnection(std::move(connection));
  if (!exchanged || reply.kind != reply_kind) return std::nullopt;
  return std::move(reply.payload);
}

class WorkingKeyObject final : public WorkingKey {
 public:
  void Release() override { delete this; }
  Result LaterDownload(const char16_t* mode, const char16_t* terminal_id) override {
    return Download(Download::kLater, mode, terminal_id);
  }
  Result DownloadTime(std::u16string* time) override {
    return Give(&WorkingKeyAnswer::download_time, time);
  }
  Result WorkingKeyText(std::u16string* key) override {
    return Give(&WorkingKeyAnswer::working_key, key);
  }
  Result MasterKeyIndex(std::u16string* index) override {
    return Give(&WorkingKeyAnswer::master_key_index, index);
  }
  Result FirstDownload(const char16_t* mode, const char16_t* terminal_id) override {
    return Download(Download::kFirst, mode, terminal_id);
  }

 private:
  Result Download(signpad::Download download, const char16_t* mode, const char16_t* terminal_id) {
    key_.reset();
    const std::optional<std::string> mode_text = Cp949(mode);
    const std::optional<std::string> terminal = Cp949(terminal_id);
    if (!KnownMode(mode_text) || !terminal || terminal->empty()) return kInvalidArgument;
    const std::optional<std::string> reply =
        Exchange(MessageKind::kKeyDownload, EncodeKeyDownload({*mode_text, download, *terminal}),
                 MessageKind::kWorkingKey);
    if (!reply) return kFailed;
    key_ = ParseWorkingKey(*reply);
    return key_ ? kOk : kFailed;
  }
  Result Give(std::string WorkingKeyAnswer::*part, std::u16string* out) const {
    return key_ ? Out((*key_).*part, out) : kFailed;
  }

  std::optional<WorkingKeyAnswer> key_;
};

class SignEncryptObject final : public SignEncrypt {
 public:
  void Release() override { delete this; }
  Result Encrypt(const char16_t* file_name) override {
    data_.reset();
    const std::optional<std::string> name = Cp949(file_name);
    const std::optional<std::filesystem::path> path =
        name ? platform::ResolvePath(*name) : std::nullopt;
    if (!path) return kInvalidArgument;
    std::ifstream in(*path, std::ios::binary);
    if (!in) return kFailed;
    const std::string image((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (image.empty() || image.size() > kMaxImageBytes) return kFailed;
    std::optional<std::string> packed = PackSignature(image);
    if (!packed || 2 * packed->size() > kMaxSignatureData) return kFailed;
    data_ = platform::ToHex(*packed);
    hash_ = SignatureHash(image);
    return kOk;
  }
  Result SignData(std::u16string* data) override { return data_ ? Out(*data_, data) : kFailed; }
  Result HashCode(std::u16string* hash) override { return data_ ? Out(hash_, hash) : kFailed; }

 private:
  std::optional<std::string> data_;  // the signature data
  std::string hash_;
};

class RequestPacketObject final : public RequestPacket {
 public:
  void Release() override { delete this; }
  Result Finish() override {
    structure_ = nullptr;
    values_.clear();
    return kOk;
  }
  Result LoadPacketStruct(const char16_t* packet_name) override {
    const std::optional<std::string> name = Cp949(packet_name);
    structure_ = name ? FindPacketStructure(*name) : nullptr;
    values_.clear();
    return structure_ != nullptr ? kOk : kFailed;
  }
  Result SetTextField(const char16_t* field_name, const char16_t* value) override {
    return Set(field_name, FieldKind::kText, value);
  }
  Result Packet(std::u16string* packet) override {
    if (structure_ == nullptr) return kFailed;
    const std::optional<std::string> text =
        EncodePacket(structure_->request_code, structure_->request, values_);
    return text ? Out(*text, packet) : kFailed;
  }
  Result GetField(const char16_t* field_name, std::u16string* value) override {
    const std::optional<std::string> name = Cp949(field_name);
    if (structure_ == nullptr || !name || Find(*name) == nullptr) return kFailed;
    const auto found = values_.find(*name);
    return Out(found == values_.end() ? std::string_view() : std::string_view(found->second),
               value);
  }
  Result ClearFields() override {
    values_.clear();
    return structure_ != nullptr ? kOk : kFailed;
  }
  Result SetDataField(const char16_t* field_name, int32_t kind, const char16_t* value) override {
    if (kind != kHexDataKind) return kInvalidArgument;
    return Set(field_name, FieldKind::kData, value);
  }

 private:
  const PacketField* Find(std::string_view name) const {
    for (const PacketField& field : structure_->request) {
      if (field.name == name) return &field;
    }
    return nullptr;
  }
  Result Set(const char16_t* field_name, FieldKind kind, const char16_t* value) {
    const std::optional<std::string> name = Cp949(field_name);
    std::optional<std::string> text = Cp949(value);
    if (structure_ == nullptr || !name || !text) return kFailed;
    const PacketField* field = Find(*name);
    if (field == nullptr || field->kind != kind) return kFailed;
    if (text->size() > kMaxFieldSize) return kFailed;
    if (kind == FieldKind::kData && !platform::FromHex(*text)) return kFailed;
    values_[*name] = std::move(*text);
    return kOk;
  }

  const PacketStructure* structure_ = nullptr;
  PacketValues values_;
};

class TransactionObject final : public Transaction {
 public:
  void Release() override { delete this; }
  Result Transact(const char16_t* mode, const char16_t* packet, std::u16string* answer) override {
    const std::optional<std::string> mode_text = Cp949(mode);
    const std::optional<std::string> request = Cp949(packet);
    if (!KnownMode(mode_text) || !request || answer == nullptr) return kInvalidArgument;
    const std::optional<std::string> reply =
        Exchange(MessageKind::kTransaction, *mode_text + *request, MessageKind::kAnswer);
    return reply ? Out(*reply, answer) : kFailed;
  }
};

class AnswerPacketObject final : public AnswerPacket {
 public:
  void Release() override { delete this; }
  Result Finish() override {
    structure_ = nullptr;
    values_.reset();
    return kOk;
  }
  Result LoadPacketStruct(const char16_t* packet_name) override {
    const std::optional<std::string> name = Cp949(packet_name);
    structure_ = name ? FindPacketStructure(*name) : nullptr;
    values_.reset();
    return structure_ != nullptr ? kOk : kFailed;
  }
  Result FieldCount(int32_t* count) override {
    if (structure_ == nullptr || count == nullptr) return kFailed;
    *count = static_cast<int32_t>(structure_->answer.size());
    return kOk;
  }
  Result GetField(const char16_t* field_name, std::u16string* value) override {
    const std::optional<std::string> name = Cp949(field_name);
    if (!values_ || !name) return kFailed;
    const auto found = values_->find(*name);
    return found == values_->end() ? kFailed : Out(found->second, value);
  }
  Result SetPacket(const char16_t* packet) override {
    values_.reset();
    const std::optional<std::string> text = Cp949(packet);
    if (structure_ == nullptr || !text) return kFailed;
    values_ = DecodePacket(*text, structure_->answer_code, structure_->answer);
    return values_ ? kOk : kFailed;
  }

 private:
  const PacketStructure* structure_ = nullptr;
  std::optional<PacketValues> values_;
};

bool Same(const char* a, std::string_view b) {
  return b.size() == std::char_traits<char>::length(a) && strncasecmp(a, b.data(), b.size()) == 0;
}

template <typename Interface, typename Implementation>
bool Make(const char* class_id, const char* interface_id, void** object, Result* result) {
  if (!Same(class_id, Interface::kIds.class_id)) return false;
  if (!Same(interface_id, Interface::kIds.interface_id)) {
    *result = kNoInterface;
    return true;
  }
  *object = static_cast<Interface*>(new Implementation());
  *result = kOk;
  return true;
}

}  // namespace
}  // namespace signpad

extern "C" signpad::Result SignPadCreateInstance(const char* class_id, const char* interface_id,
                                                 void** object) {
  using namespace signpad;
  if (class_id == nullptr || interface_id == nullptr || object == nullptr) return kInvalidArgument;
  *object = nullptr;
  Result result = kClassNotRegistered;
  const bool known =
      Make<WorkingKey, WorkingKeyObject>(class_id, interface_id, object, &result) ||
      Make<SignEncrypt, SignEncryptObject>(class_id, interface_id, object, &result) ||
      Make<RequestPacket, RequestPacketObject>(class_id, interface_id, object, &result) ||
      Make<Transaction, TransactionObject>(class_id, interface_id, object, &result) ||
      Make<AnswerPacket, AnswerPacketObject>(class_id, interface_id, object, &result);
  return known ? result : kClassNotRegistered;
}
