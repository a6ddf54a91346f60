#include "hub/core/sign_on.h"

#include <charconv>
#include <filesystem>
#include <string>

#include "companions/connmap/ordella_connmap.h"
#include "hub/core/dispatch.h"
#include "protocol/frame.h"
#include "hub/core/helvar_bridge.h"
#include "hub/core/module_state.h"
#include "hub/core/terminal_loop.h"
#include "platform/prefix.h"
#include "platform/system_info.h"
#include "platform/text.h"
#include "tessel/ordella_tessel.h"

namespace hub {

using namespace protocol;
namespace {

constexpr char kSignOnLogTag[] = "SignOn";
constexpr std::string_view kTcpPortText = "L00";
constexpr char kSerialPortLetter = 'C';
constexpr int kPortDigits = 2;
constexpr size_t kVersionNumbers = 4;
constexpr unsigned kMaxVersionNumber = 0xFFFF;  // each number of a file version is 16 bits

// Program codes by pharmacy program index 0-16; empty: the program has none.
constexpr std::array<std::string_view, 17> kProgramCodes = {
    "200", "200", "202", "206", "210", "203", "215", "201", "213",
    "209", "",    "217", "",    "204", "220", "",    "222"};

// The fields of the 842 kept in the terminal's slot, and the slot's room for each.
struct KeptField {
  size_t field;
  connmap::TextField slot_field;
};
constexpr std::array<KeptField, 4> kKeptFields = {{{kSignOnField10, connmap::kSignOnField10},
                                                   {kSignOnField11, connmap::kSignOnField11},
                                                   {kSignOnField19, connmap::kSignOnField19},
                                                   {kSignOnField21, connmap::kSignOnField21}}};

// The number that starts at the first "25" of `text`; nullopt when there is none.
std::optional<int64_t> VersionNumber(std::string_view text) {
  const size_t at = text.find(kVersionMark);
  if (at == std::string_view::npos) return std::nullopt;
  return LeadingNumber(text.substr(at));
}

// "1.0.0.1" as its four numbers; nullopt when it is not up to four numbers of 16 bits.
std::optional<std::array<unsigned, kVersionNumbers>> VersionNumbers(std::string_view text) {
  std::array<unsigned, kVersionNumbers> numbers{};
  size_t count = 0;
  while (true) {
    const size_t dot = text.find('.');
    const std::string_view part = text.substr(0, dot);
    unsigned value = 0;
    const auto [end, error] = std::from_chars(part.data(), part.data() + part.size(), value);
    if (count == kVersionNumbers || part.empty() || error != std::errc() ||
        end != part.data() + part.size() || value > kMaxVersionNumber) {
      return std::nullopt;
    }
    numbers[count++] = value;
    if (dot == std::string_view::npos) return numbers;
    text.remove_prefix(dot + 1);
  }
}

TerminalSlotTexts ReadSlotTexts(const char* record, int terminal) {
  using connmap::InSlot;
  using connmap::ReadText;
  TerminalSlotTexts slot;
  slot.terminal_id = ReadText(record, InSlot(terminal, connmap::kTerminalId));
  slot.field21 = ReadText(record, InSlot(terminal, connmap::kSignOnField21));
  slot.field11 = ReadText(record, InSlot(terminal, connmap::kSignOnField11));
  slot.field10 = ReadText(record, InSlot(terminal, connmap::kSignOnField10));
  slot.serial_port = connmap::ReadInt(record, InSlot(terminal, connmap::kSerialPort));
  return slot;
}

RegistrationSettings ReadSettings(const char* record, const SignOnServices& services) {
  RegistrationSettings settings;
  settings.business_number = connmap::ReadText(record, connmap::kBusinessNumber);
  settings.pharmacy_code = connmap::ReadText(record, connmap::kPharmacyCode);
  settings.program_index = connmap::ReadInt(record, connmap::kProgramIndex);
  settings.payment_path = connmap::ReadInt(record, connmap::kPaymentPath);
  if (services.adapter_address) {
    settings.adapter_address = AdapterAddressText(services.adapter_address());
  }
  if (services.host_file_version) {
    settings.host_version = HostVersionText(services.host_file_version());
  }
  return settings;
}

// One sign-on: the steps in the order the header gives them.
class SignOnRun {
 public:
  SignOnRun(TerminalContext& context, const SignOnServices& services,
            const DispatchServices& dispatch)
      : context_(context), services_(services), dispatch_(dispatch), terminal_(context.index) {}

  void Run(std::string_view frame);

 private:
  void DailySync();
  void KeepFields(std::string_view frame);
  void Register();
  void Notify(uint32_t event) {
    if (dispatch_.notify) dispatch_.notify(event, terminal_);
  }
  void Log(std::string_view text) { WriteFrameLog(context_.log, kSignOnLogTag, text); }

  TerminalContext& context_;
  const SignOnServices& services_;
  const DispatchServices& dispatch_;
  const int terminal_;
};

void SignOnRun::Run(std::string_view frame) {
  if (services_.property_record == nullptr) {
    Log("sign-on refused: no property map");
    return;
  }
  if (terminal_ < 0 || terminal_ >= connmap::kMaxTerminals) {
    Log("sign-on refused: terminal " + std::to_string(terminal_) + " has no slot");
    return;
  }
  Notify(kEventSignOn);
  DailySync();
  KeepFields(frame);
  Register();
}

void SignOnRun::DailySync() {
  if (!services_.auto_data_sync || services_.auto_data_sync(terminal_) != 1) return;
  Notify(kEventBarcodeRebuild);
  context_.barcode_chunk = 0;
  if (dispatch_.send_helvar) dispatch_.send_helvar(kHelvarBuildBarcodeDb + terminal_, {});
}

void SignOnRun::KeepFields(std::string_view frame) {
  const Fields<kSignOnFrameSlots> fields = FrameFields<kSignOnFrameSlots>(frame);
  // A field the terminal left out is kept as an empty text, as every field slot starts empty.
  if (fields.count <= kSignOnField21) {
    Log("842 with " + std::to_string(fields.count - 1) + " fields; the missing ones kept empty");
  }
  for (const KeptField& kept : kKeptFields) {
    const connmap::TextField field = connmap::InSlot(terminal_, kept.slot_field);
    if (!connmap::WriteText(services_.property_record, field, fields[kept.field])) {
      Log("842 field " + std::to_string(kept.field) + " cut to its room of " +
          std::to_string(field.room - 1) + " bytes");
    }
  }
}

void SignOnRun::Register() {
  const TerminalSlotTexts slot = ReadSlotTexts(services_.property_record, terminal_);
  const RegistrationSettings settings = ReadSettings(services_.property_record, services_);
  if (ProgramCode(settings.program_index).empty()) {
    Log("pharmacy program index " + std::to_string(settings.program_index) +
        " has no program code");
  }
  if (ModuleKind(settings.payment_path).empty()) {
    Log("payment path " + std::to_string(settings.payment_path) + " has no module kind");
  }
  const std::optional<std::string> message = BuildRegistration(slot, settings);
  if (!message) {
    Log("registration not built: too long");
    return;
  }
  ServerConnection connection;
  std::string answer;
  const int got = Exchange(services_.registration.port, &connection, *message,
                           services_.registration.address, &answer, kExchangeReceiveSize,
                           services_.limit);
  if (got < 1) {
    Log("registration not answered: " + std::to_string(connection.last_error()));
    return;
  }
  if (!TerminalIsBehind(slot.field10, answer)) {
    Log("registration answered; terminal version " + slot.field10 + " kept");
    return;
  }
  Log("terminal version " + slot.field10 + " behind the server's: 840 sent");
  if (dispatch_.send_to_terminal) dispatch_.send_to_terminal(context_, SignOnAnswerFrame());
}

}  // namespace

std::string_view ProgramCode(int32_t program_index) {
  if (program_index < 0 || static_cast<size_t>(program_index) >= kProgramCodes.size()) return {};
  return kProgramCodes[static_cast<size_t>(program_index)];
}

std::string_view ModuleKind(int32_t payment_path) {
  switch (payment_path) {
    case 0:
    case 1:
      return "03";
    case 2:
      return "61";
    default:
      return {};
  }
}

std::string PortText(int32_t serial_port) {
  if (serial_port == 0) return std::string(kTcpPortText);
  // "%02d": a number that does not fit two digits is written whole.
  return kSerialPortLetter +
         platform::ZeroPadded(serial_port, kPortDigits).value_or(std::to_string(serial_port));
}

std::string AdapterAddressText(const std::optional<std::array<uint8_t, 6>>& address) {
  if (!address) return {};
  return platform::ToHex(
      std::string_view(reinterpret_cast<const char*>(address->data()), address->size()));
}

std::string HostVersionText(const std::optional<std::string>& file_version) {
  if (!file_version) return {};
  const std::optional<std::array<unsigned, kVersionNumbers>> numbers =
      VersionNumbers(*file_version);
  if (!numbers) return {};
  const auto [major, minor, build, revision] = *numbers;
  const std::string upper = std::to_string(major) + "." + std::to_string(minor);
  if (build != 0 || revision != 0) {
    return upper + "." + std::to_string(build) + "." + std::to_string(revision);
  }
  if (major != 0 || minor != 0) return upper;
  return {};
}

std::string BusinessNumberText(std::string_view number) {
  const size_t pad = number.size() < kBusinessNumberWidth ? kBusinessNumberWidth - number.size() : 0;
  return std::string(pad, ' ') + std::string(number);
}

std::optional<std::string> BuildRegistration(const TerminalSlotTexts& terminal,
                                             const RegistrationSettings& settings) {
  std::array<std::string, kRegistrationFields + 1> fields{};  // field 0 is the head
  fields[kRegAdapterAddress] = settings.adapter_address;
  fields[kRegPharmacyCode] = settings.pharmacy_code;
  fields[kRegTerminalId] = terminal.terminal_id;
  fields[kRegTerminalField11] = terminal.field11;
  fields[kRegTerminalField10] = terminal.field10;
  fields[kRegHostVersion] = settings.host_version;
  fields[kRegZero1] = "0";
  fields[kRegZero2] = "0";
  fields[kRegProgramCode] = ProgramCode(settings.program_index);
  fields[kRegModuleKind] = ModuleKind(settings.payment_path);
  fields[kRegPortText] = PortText(terminal.serial_port);
  fields[kRegTerminalField21] = terminal.field21;
  std::string body = std::to_string(kRegistrationCode) +
                     BusinessNumberText(settings.business_number) +
                     std::string(kRegistrationBlanks, ' ');
  for (size_t n = 1; n < fields.size(); ++n) {
    body += kFs;
    body += fields[n];
  }
  return BuildServerFrame(body);
}

bool TerminalIsBehind(std::string_view terminal_field10, std::string_view answer) {
  const std::optional<int64_t> terminal = VersionNumber(terminal_field10);
  const std::optional<int64_t> server =
      VersionNumber(SplitFields<kAnswerVersionField + 1>(answer, kFs)[kAnswerVersionField]);
  return terminal && server && *terminal < *server;
}

std::string SignOnAnswerFrame() { return LinkFrame(kSignOnAnswerCode); }

std::optional<std::string> HostProgramFileVersion() {
  // The host program is installed as a program without the ".exe" of its Windows name.
  std::string_view name = kHostProgram;
  name.remove_suffix(std::string_view(".exe").size());
  const std::optional<std::filesystem::path> program =
      platform::FindEntryIgnoringCase(platform::ProgramDir(), name);
  if (!program) return std::nullopt;
  return platform::FileVersion(program->string());
}

SignOnServices ModuleSignOnServices() {
  SignOnServices services;
  services.property_record = PropertyRecord();
  services.registration = RegistrationEndpoint();
  services.auto_data_sync = [](int terminal) { return AutoDataSync(terminal); };
  services.adapter_address = &platform::FirstAdapterAddress;
  services.host_file_version = &HostProgramFileVersion;
  return services;
}

void SignOn(TerminalContext& context, std::string_view frame, const SignOnServices& services,
            const DispatchServices& dispatch) {
  SignOnRun(context, services, dispatch).Run(frame);
}

}  // namespace hub
