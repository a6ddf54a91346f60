#include "hub/core/dispatch.h"

#include <array>
#include <fstream>
#include <ios>
#include <utility>

#include "companions/connmap/ordella_connmap.h"
#include "hub/core/frame_decoder.h"
#include "hub/core/helvar_bridge.h"
#include "hub/core/module_state.h"
#include "hub/core/module_status.h"
#include "platform/prefix.h"
#include "platform/process.h"
#include "platform/system_info.h"
#include "platform/text.h"
#include "platform/window.h"
#include "protocol/barcode_file.h"
#include "protocol/frame.h"
#include "protocol/message_codes.h"

namespace hub {

using namespace protocol;

namespace {

constexpr char kDispatchLogTag[] = "TerminalFrame";
constexpr int kForcedLogFlag = 1;  // records written whatever the module's log flag says

// Byte offsets of the terminal's fixed-place data (counted from STX).
constexpr size_t kFirstFieldByte = 14;  // the byte after the code's FS
constexpr size_t kCardBytesFirst = 16;  // message 810: the card bytes
constexpr size_t kCardBytesLast = 25;
constexpr size_t kGuidanceBytesLast = 23;    // message 822
constexpr size_t kBarcodeBytesLast = 28;     // message 835
constexpr size_t kItemBytesLast = 40;        // messages 838 and 888
constexpr size_t kItemTailLast = 44;         // message 888: four bytes passed as they are
constexpr size_t kHexSkipped = 6;            // hexadecimal characters dropped before 14 are sent
constexpr size_t kCustomerRecordsByte = 16;  // message 880: the customer records
constexpr size_t kCustomerRecordBytes = 10;

// PM2000 and PharmChartPlus.
constexpr std::string_view kPharmChartPlusClass = "Tfrm_PharmChartPlusMain";
constexpr std::string_view kPm2000MainClass = "TfrmPMMain6";
constexpr std::string_view kPm2000PharmClass = "TFrmPM_PharmMain6";
constexpr std::string_view kPm2000ChargeClass = "TfrmPharm_Main";
constexpr std::string_view kPm2000Program = "C:\\PM2000V6\\PM_PharmCharge.exe PMMAIN";
constexpr uint32_t kPm2000ScreenMessage = 31895;
constexpr uint64_t kPm2000ScreenWparam = 300;
constexpr std::array<int64_t, 5> kPm2000Screens = {207, 302, 501, 204, 403};  // fields 1-5

constexpr char kAckByte = kAck;
constexpr size_t kReceiptAcks = 5;

// Where the dispatcher's diagnostic records go, whatever the module's log flag says.
LogTarget Forced(const LogTarget& log) { return LogTarget{log.directory, kForcedLogFlag}; }

// Bytes first..last (inclusive) of the frame, when all of them lie before its ETX.
std::optional<std::string_view> FixedBytes(std::string_view frame, size_t first, size_t last) {
  const std::string_view content = FrameContent(frame);
  if (last >= content.size()) return std::nullopt;
  return content.substr(first, last - first + 1);
}

// Dispatches one decoded frame by its message code.
class Dispatcher {
 public:
  Dispatcher(TerminalContext& context, MessageRecord& record, const DispatchServices& services)
      : context_(context), record_(record), services_(services), index_(context.index) {}

  int ByCode(int code);
  void PassThrough();

 private:
  int Control();
  void CardQuery();
  void Request(int32_t code, std::string_view payload = {}) {
    if (services_.send_helvar) services_.send_helvar(code, payload);
  }
  // A Helvar request whose payload is the hexadecimal text of frame bytes first..last, less
  // its first `skip` characters; logged and not sent when the frame is too short.
  void HexRequest(int32_t code, size_t first, size_t last, size_t skip = 0);
  void DisplayCustomers();
  void Relay(int32_t base, bool store);
  void PharmChartPlus();
  void Pm2000Screen();
  void Log(const char* tag) { WriteFrameLog(context_.log, tag, record_.frame); }
  void Refuse(int code, std::string_view why) {
    WriteFrameLog(context_.log, kDispatchLogTag,
                  "message " + std::to_string(code) + " refused: " + std::string(why));
  }
  void Notify(uint32_t event) {
    if (services_.notify) services_.notify(event, index_);
  }
  int Send(std::string_view bytes) {
    return services_.send_to_terminal ? services_.send_to_terminal(context_, bytes) : 0;
  }
  std::string_view Field(size_t n) const { return FrameFields<4>(record_.frame)[n]; }

  TerminalContext& context_;
  MessageRecord& record_;
  const DispatchServices& services_;
  const int index_;
};

int Dispatcher::ByCode(int code) {
  switch (code) {
    case kMsgControl:
      return Control();
    case kMsgRelayEnd:
      return kDispatchCloseRelay;
    case kMsgCardData:
    case kMsgSignature:
    case kMsgPrinted:
    case kMsgPaymentAnswer158:
    case kMsgPaymentAnswer844:
    case kMsgPaymentAnswer892:
    case kMsgPaymentAnswer912:
      return kDispatchPayment;
    case kMsgPharmChartPlus:
      PharmChartPlus();
      return kDispatchCloseRelay;
    case kMsgCardQuery:
      CardQuery();
      break;
    case kMsgSale:
      Log("PosMessage812");
      Relay(kSaleBase, false);
      break;
    case kMsgCancel:
      Relay(kCancelBase, false);
      Log("PosMessage813");
      break;
    case kMsgNoAction814:
    case kMsgNoAction830:
    case kMsgSignOnAnswer:
      break;
    case kMsgSellerListQuery:
      Log("PosMessage814/815");
      if (Field(1).starts_with('C')) Request(kHelvarSellerList + index_);
      break;
    case kMsgBarcodeTransferEnd:
      Notify(kEventBarcodeTransferEnd);
      context_.barcode_chunk = 0;
      break;
    case kMsgPrescriptions:
      Request(kHelvarPrescriptions + index_);
      break;
    case kMsgGuidancePrint:
      HexRequest(kHelvarGuidancePrint + index_, kFirstFieldByte, kGuidanceBytesLast, kHexSkipped);
      break;
    case kMsgSampleGuidance:
      Log("PosMessage833");
      Send(SampleGuidanceSheet());
      break;
    case kMsgBarcodeLookup: {
      Log("PosMessage835");
      const std::optional<std::string_view> barcode =
          FixedBytes(record_.frame, kFirstFieldByte, kBarcodeBytesLast);
      if (!barcode) {
        Refuse(code, "barcode bytes missing");
        break;
      }
      // The terminal pads a short barcode with 0xFF bytes in front.
      const std::string hex = platform::ToHex(*barcode);
      Request(kHelvarBarcodeLookup + index_,
              std::string_view(hex).substr(std::min(hex.find_first_not_of('F'), hex.size())));
      break;
    }
    case kMsgBarcodeRebuild:
      Notify(kEventBarcodeRebuild);
      context_.barcode_chunk = 0;
      Request(kHelvarBuildBarcodeDb + index_);
      break;
    case kMsgBarcodeRead:
      HexRequest(kHelvarBarcodeRead + index_, kFirstFieldByte, kItemBytesLast);
      break;
    case kMsgTypeText:
      Request(kHelvarTypeText + index_, Field(1));
      break;
    case kMsgSignOn:
      SignOn(context_, record_.frame, services_.sign_on, services_);
      break;
    case kMsgCustomerDisplay:
      DisplayCustomers();
      break;
    case kMsgCancelWithMessage:
      Log("PosMessage883");
      Relay(kCancelWithMessageBase, true);
      break;
    case kMsgBarcodeReadSecond: {
      const std::optional<std::string_view> item =
          FixedBytes(record_.frame, kFirstFieldByte, kItemTailLast);
      if (!item) {
        Refuse(code, "item bytes missing");
        break;
      }
      const size_t hex_bytes = kItemBytesLast - kFirstFieldByte + 1;
      Request(kHelvarBarcodeRead + index_,
              platform::ToHex(item->substr(0, hex_bytes)) + std::string(item->substr(hex_bytes)));
      break;
    }
    case kMsgPm2000Screen:
      Pm2000Screen();
      break;
    default:
      return kDispatchPayment;
  }
  return kDispatchDone;
}

int Dispatcher::Control() {
  const std::string_view frame = record_.frame;
  if (ContainsMarker(frame, kMarkerNack)) {
    SendBarcodeChunk(context_.barcode_chunk - 1, context_, services_);
  } else if (ContainsMarker(frame, kMarkerBdb)) {
    if (SendBarcodeChunk(context_.barcode_chunk, context_, services_)) ++context_.barcode_chunk;
  } else if (ContainsMarker(frame, kMarkerInit)) {
    Request(kHelvarClearDisplay);
  } else {
    return kDispatchCloseRelay;
  }
  return kDispatchDone;
}

void Dispatcher::HexRequest(int32_t code, size_t first, size_t last, size_t skip) {
  const std::optional<std::string_view> bytes = FixedBytes(record_.frame, first, last);
  if (!bytes) {
    Refuse(record_.code, "fixed bytes missing");
    return;
  }
  Request(code, std::string_view(platform::ToHex(*bytes)).substr(skip));
}

void Dispatcher::CardQuery() {
  const std::string_view frame = record_.frame;
  const int64_t number =
      frame.size() > kFirstFieldByte ? LeadingNumber(frame.substr(kFirstFieldByte)) : 0;
  if (number > 0) {
    HexRequest(kHelvarCardData + index_, kCardBytesFirst, kCardBytesLast, kHexSkipped);
  } else if (services_.program_index == 1) {
    Request(kHelvarCustomerList + index_);
  }
}

void Dispatcher::DisplayCustomers() {
  const std::string_view frame = record_.frame;
  if (frame.size() <= kCodeOffset + kCodeDigits || frame[kCodeOffset + kCodeDigits] == kEtx) {
    Request(kHelvarCustomerListSecond + index_);
    return;
  }
  const std::string_view content = FrameContent(frame);
  const char digit = content.size() > kFirstFieldByte ? content[kFirstFieldByte] : '\0';
  if (digit < '0' || digit > '9') {
    Refuse(record_.code, "customer count is not a digit");
    return;
  }
  // Helvar's payload holds three customers; more are cut (and logged), and no more are read
  // than the frame holds.
  int count = digit - '0';
  if (count > kMaxDisplayCustomers) {
    Refuse(record_.code, "customers cut to " + std::to_string(kMaxDisplayCustomers));
    count = kMaxDisplayCustomers;
  }
  const size_t wanted = static_cast<size_t>(count) * kCustomerRecordBytes;
  if (count > 0 && content.size() < kCustomerRecordsByte + wanted) {
    Refuse(record_.code, "customer records missing");
    return;
  }
  const std::string_view records =
      count > 0 ? content.substr(kCustomerRecordsByte, wanted) : std::string_view();
  Request(kHelvarDisplayCustomers,
          std::string(1, static_cast<char>('0' + count)) + platform::ToHex(records));
}

void Dispatcher::Relay(int32_t base, bool store) {
  RelayServices relay = services_.relay;
  relay.send_helvar = services_.send_helvar;
  RelaySale(&record_.frame, index_, base, store, relay);
}

void Dispatcher::PharmChartPlus() {
  const std::optional<platform::WindowHandle> window =
      platform::FindWindowByClass(kPharmChartPlusClass);
  if (!window) {
    WriteFrameLog(Forced(context_.log), "PosMessage013", "Tfrm_PharmChartPlusMain false");
    return;
  }
  const std::string text = "PCP" + std::string(FrameFields<4>(record_.frame)[3]);
  platform::SendCopyData(*window, 0, 0, text, nullptr);
}

void Dispatcher::Pm2000Screen() {
  const auto look = [] {
    return std::array<std::optional<platform::WindowHandle>, 3>{
        platform::FindWindowByClass(kPm2000MainClass),
        platform::FindWindowByClass(kPm2000PharmClass),
        platform::FindWindowByClass(kPm2000ChargeClass)};
  };
  auto windows = look();
  if (!windows[0] || (!windows[1] && !windows[2])) {
    if (services_.start_program) services_.start_program(kPm2000Program);
    windows = look();
  }
  const int64_t screen = LeadingNumber(Field(1));
  if (!windows[0] || screen < 1 || screen > static_cast<int64_t>(kPm2000Screens.size())) return;
  platform::PostWindowMessage(*windows[0], kPm2000ScreenMessage, kPm2000ScreenWparam,
                              kPm2000Screens[static_cast<size_t>(screen - 1)]);
}

void Dispatcher::PassThrough() {
  ServerConnection server;  // shut down and closed on every way out
  if (!server.Connect(services_.pass_through.port, services_.pass_through.address)) return;
  Notify(kEventServerConnected);
  if (server.TimedReceive(nullptr, services_.limits.greeting) < 1) return;
  Notify(kEventServerGreeted);
  if (!server.SendAll(record_.frame)) return;
  std::string answer;
  if (server.TimedReceive(&answer, services_.limits.first_answer) < 1) return;
  record_.frame = answer;
  Send(record_.frame);
  if (server.TimedReceive(&answer, services_.limits.second_answer) < 1) return;
  record_.frame = answer;
  if (!server.SendAll(std::string(kReceiptAcks, kAckByte))) return;
  if (server.TimedReceive(nullptr, services_.limits.receipt) >= 1) Send(record_.frame);
}

}  // namespace

int SendToTerminalByLink(TerminalContext& context, std::string_view bytes) {
  if (context.link_kind == kLinkSerial) return context.SendToTerminal(bytes);
  if (context.shared_block != nullptr && context.shared_block->Write(bytes)) {
    return static_cast<int>(bytes.size());
  }
  return 0;
}

bool SendBarcodeChunk(int chunk, TerminalContext& context, const DispatchServices& services) {
  const std::optional<std::filesystem::path> path =
      platform::MapPath(BarcodeDatabaseName(kHelvarBuildBarcodeDb + context.index));
  std::ifstream file;
  if (path) file.open(*path, std::ios::binary);
  if (!file.is_open()) {
    WriteFrameLog(Forced(context.log), "BDBwrite", "BDBwrite Open FALSE");
    return false;
  }
  if (chunk < 0) return false;  // a repeat asked for before the first chunk went out
  if (chunk + 1 > kMaxChunkNumber) {
    WriteFrameLog(Forced(context.log), "BDBwrite",
                  "BDBwrite chunk " + std::to_string(chunk + 1) + " beyond the chunk numbers");
    return false;
  }
  std::string data(kBarcodeChunkSize, '\0');
  file.seekg(static_cast<std::streamoff>(chunk) * static_cast<std::streamoff>(kBarcodeChunkSize));
  file.read(data.data(), static_cast<std::streamsize>(data.size()));
  data.resize(file.gcount() > 0 ? static_cast<size_t>(file.gcount()) : 0);
  file.close();
  if (data.empty()) return false;  // past the end of the file
  const std::optional<std::string> frame = BuildBarcodeChunk(chunk + 1, data);
  if (!frame) return false;
  (services.clock != nullptr ? *services.clock : platform::SystemClock()).Sleep(kBarcodeChunkPauseMs);
  if (services.send_to_terminal) services.send_to_terminal(context, *frame);
  return true;
}

std::string SampleGuidanceSheet() {
  static const std::string sheet = [] {
    const std::string rule(44, '-');
    const std::array<std::string, 12> utf8_lines = {
        rule,
        "       \x0E판매약 복약지도\x0F",
        rule,
        "약명>싸이베린정",
        "용법>성인 1회 2정씩 1일 2-3회",
        "효능>위통,복통,위산과다,가슴앓이",
        "주의>경미한 혈압상승,박동수증가,발한,전신불쾌감",
        "구역,구토,변비,설사,시야몽롱,배뇨곤란,피부발진,",
        "안면홍조,이상고열,모양근마비,심계항진,호흡깊이의",
        "증가,경미한 혈압상승,박동수증가,발한,전신불쾌감",
        "\x1D"
        "184248",
        rule};
    std::array<std::string, utf8_lines.size()> lines;
    std::array<std::string_view, utf8_lines.size()> views;
    for (size_t n = 0; n < lines.size(); ++n) {
      lines[n] = platform::Utf8ToCp949(utf8_lines[n]).value_or(std::string());
      views[n] = lines[n];
    }
    return BuildRawPrintFrame(views);
  }();
  return sheet;
}

DispatchServices ModuleDispatchServices() {
  DispatchServices services;
  services.send_helvar = [](int32_t code, std::string_view payload) {
    return SendHelvarRequest(code, payload);
  };
  services.notify = &PostHostNotification;
  services.send_to_terminal = &SendToTerminalByLink;
  services.clock = &platform::SystemClock();
  services.start_program = [](std::string_view command) { return platform::StartProgram(command); };
  services.relay = ModuleRelayServices();
  services.pass_through = PassThroughEndpoint();
  services.sign_on = ModuleSignOnServices();
  if (const char* record = PropertyRecord(); record != nullptr) {
    services.program_index = connmap::ReadInt(record, connmap::kProgramIndex);
  }
  return services;
}

int Dispatch(TerminalContext& context, MessageRecord& record) {
  const int result = Dispatch(context, record, ModuleDispatchServices());
  NoteTerminalFrame(context.index, record.code);  // for the status command
  return result;
}

int Dispatch(TerminalContext& context, MessageRecord& record, const DispatchServices& services) {
  if (services.notify) services.notify(kEventFrameOrRelayClosed, context.index);
  const DecodeStatus decoded = DecodeFrame(&record.frame);
  if (decoded != DecodeStatus::kOk) {
    WriteFrameLog(context.log, kDispatchLogTag,
                  std::string("frame dropped: ") + DecodeStatusText(decoded));
    record.code = 0;
    return kDispatchDone;
  }
  Dispatcher dispatcher(context, record, services);
  const std::string_view frame = record.frame;
  if (ContainsMarker(frame, kMarkerCre) || ContainsMarker(frame, kMarkerShb) ||
      ContainsMarker(frame, kMarkerMic)) {
    dispatcher.PassThrough();
    return kDispatchDone;
  }
  record.code = MessageCode(record.frame).value_or(0);
  return dispatcher.ByCode(record.code);
}

}  // namespace hub
