#include "hub/core/module_entry.h"

#include <array>
#include <memory>
#include <mutex>
#include <string_view>

#include "companions/connmap/ordella_connmap.h"
#include "hub/core/helvar_bridge.h"
#include "hub/core/manager_main_thread.h"
#include "hub/core/module_state.h"
#include "platform/process.h"
#include "platform/sync.h"
#include "platform/system_info.h"
#include "platform/window.h"
#include "protocol/frame.h"

namespace hub {

using namespace protocol;

namespace {

constexpr const char* kLogTag = "ClientModule";

// The settings frame's fixed fields and the ports of the servers it names.
constexpr std::string_view kSettingsVersion = "1403";
constexpr std::string_view kSettingsTrailer = "7394";
constexpr std::string_view kVanServerPort = "4100";
constexpr std::string_view kGatewayServerPort = "15000";
constexpr std::string_view kHostRequestFill = "00";

// Stopping: 300 checks, 100 ms apart, for the main thread to end; then how long its thread may
// take to return once its exit routine has run.
constexpr int kStopWaitMs = 30000;
constexpr int kJoinAfterExitMs = 5000;
constexpr int kJoinAfterForcedExitMs = 1000;

// The exports run on the host's thread; the lock keeps a host that calls them from several
// threads from starting or stopping the module twice.
std::mutex& EntryMutex() {
  static std::mutex mutex;
  return mutex;
}

// The main thread object, owned here from its start to its end.
std::unique_ptr<CManagerMainThread>& OwnedMainThread() {
  static std::unique_ptr<CManagerMainThread> main_thread;
  return main_thread;
}

std::string WithPort(std::string address, std::string_view port) {
  address.push_back('/');
  address.append(port);
  return address;
}

std::optional<std::string> SettingsBody(int32_t terminal, const char* record) {
  using connmap::InSlot;
  using connmap::ReadText;
  const std::string address = VanServerAddress(record);
  const std::string van = WithPort(address, kVanServerPort);
  const std::string gateway =
      WithPort(ReadText(record, connmap::kServerAddress), kGatewayServerPort);
  const std::string business = ReadText(record, connmap::kBusinessNumber);
  const std::string area = ReadText(record, connmap::kAreaCode);
  const std::string terminal_id = ReadText(record, InSlot(terminal, connmap::kTerminalId));
  const std::string pharmacy = ReadText(record, connmap::kPharmacyCode);
  const std::string telephone = ReadText(record, connmap::kTelephone);
  const std::array<std::string_view, 13> fields = {
      kSettingsVersion, van,       gateway, "", business,         area, terminal_id,
      pharmacy,         telephone, "",      "", kSettingsTrailer, ""};
  return MessageBody(kMassageSettings, fields);
}

std::optional<std::string> HostRequestBody(int32_t code, int32_t terminal, const char* record) {
  switch (code) {
    case kMassageSignOnAnswer:
      return LinkMessageBody(code);
    case kMassageSettings:
      return SettingsBody(terminal, record);
    case kMassageHostRequest: {
      const std::array<std::string_view, 5> fields = {"", "", kHostRequestFill, kHostRequestFill,
                                                      kHostRequestFill};
      return MessageBody(code, fields);
    }
    default:
      return std::nullopt;
  }
}

void StartDriverSetup() {
  const char* record = PropertyRecord();
  if (record == nullptr) {
    WriteModuleLog(kLogTag, "driver setup not started: the module is not running");
    return;
  }
  std::string path = connmap::ReadText(record, connmap::kInstallDir);
  path.push_back('\\');
  path.append(kDriverSetupProgram);
  if (path.size() >= kMaxLaunchPath) {
    WriteModuleLog(kLogTag, "driver setup not started: install directory too long");
    return;
  }
  if (!platform::StartProgram(path)) {
    WriteModuleLog(kLogTag, "driver setup not started: " + path);
  }
}

void SendHostRequestFrame(int32_t code, int32_t terminal) {
  const std::optional<std::string> frame = BuildHostRequestFrame(code, terminal, PropertyRecord());
  if (!frame) {
    WriteModuleLog(kLogTag, "request " + std::to_string(code) + " for terminal " +
                                std::to_string(terminal) + " refused: no such terminal");
    return;
  }
  CManagerMainThread* main_thread = OwnedMainThread().get();
  if (main_thread == nullptr) {
    WriteModuleLog(kLogTag, "request " + std::to_string(code) + " refused: module not running");
    return;
  }
  main_thread->WriteToTerminal(terminal, *frame);
}

// Ends the main thread: WM_QUIT, then up to 30 s for it to end. A main thread
// that has not begun its exit by then has its exit routine run from this thread; one that is
// still in its exit routine is waited for, since everything it is ending still uses the
// property map.
void StopMainThread() {
  std::unique_ptr<CManagerMainThread> main_thread = std::move(OwnedMainThread());
  if (!main_thread) return;
  main_thread->PostQuit();
  auto ended = [] { return Module().main_thread.load(std::memory_order_acquire) == nullptr; };
  if (!ended()) main_thread->WaitForEnd(kStopWaitMs);
  int join_ms = kJoinAfterExitMs;
  if (!ended()) {
    if (main_thread->ExitInstance()) {
      WriteModuleLog(kLogTag, "main thread did not end within 30 s: exit routine run here");
      join_ms = kJoinAfterForcedExitMs;
    } else {
      WriteModuleLog(kLogTag, "main thread still ending after 30 s: waiting for it");
      main_thread->WaitForEnd(-1);  // its exit routine clears the pointer before it ends
    }
  }
  if (!main_thread->Join(join_ms)) {
    WriteModuleLog(kLogTag, "main thread did not return: left running");
    main_thread->Abandon();
    (void)main_thread.release();  // its thread still runs on the object
  }
}

}  // namespace

std::optional<std::string> BuildHostRequestFrame(int32_t code, int32_t terminal,
                                                 const char* record) {
  if (terminal < 0 || terminal >= CManagerMainThread::kTerminalSlots) return std::nullopt;
  const std::optional<std::string> body = HostRequestBody(code, terminal, record);
  if (!body) return std::nullopt;
  return BuildFrame(*body, LengthRule::kHostRequest, kTerminalShape);
}

}  // namespace hub

extern "C" {

int32_t CreateClientModule(uint32_t host_window, uint32_t /*unused*/) {
  using hub::Module;
  std::lock_guard<std::mutex> lock(hub::EntryMutex());
  if (hub::OwnedMainThread() || Module().main_thread.load() != nullptr) {
    hub::WriteModuleLog(hub::kLogTag, "CreateClientModule: the module already runs");
    return 0;
  }
  if (CreatePropertyMap() == 0) return 0;
  Module().property_map = reinterpret_cast<unsigned char*>(GetPropertyMap());
  if (Module().property_map == nullptr) {
    ClosePropertyMap();
    return 0;
  }
  if (std::optional<platform::WindowHandle> window = platform::WindowFromHwnd(host_window)) {
    Module().host_window = *window;
  } else {
    Module().host_window = {};
    hub::WriteModuleLog(hub::kLogTag, "host window " + std::to_string(host_window) +
                                          " not found: host notifications are not posted");
  }
  auto main_thread = std::make_unique<hub::CManagerMainThread>();
  Module().main_thread.store(main_thread.get(), std::memory_order_release);
  main_thread->CreateThread();
  hub::OwnedMainThread() = std::move(main_thread);
  return 1;
}

int32_t CloseClientModule() {
  using hub::Module;
  std::lock_guard<std::mutex> lock(hub::EntryMutex());
  std::unique_ptr<platform::NamedEvent> update =
      platform::NamedEvent::CreateOrOpen(hub::kUpdateEventName);
  if (update) {
    update->Set();
  } else {
    hub::WriteModuleLog(hub::kLogTag, "event \"UPDATE_ORDELLA_EVENT\" could not be signalled");
  }
  hub::StopMainThread();
  if (Module().property_map != nullptr) {
    Module().property_map = nullptr;
    ClosePropertyMap();
  }
  Module().host_window = {};
  return 1;
}

int32_t SaveClientModule() { return SavePropertyMap(); }

int32_t OrdellaMassage(int32_t code, int32_t parameter, int32_t /*unused*/) {
  std::lock_guard<std::mutex> lock(hub::EntryMutex());
  switch (code) {
    case hub::kMassageDriverSetup:
      hub::StartDriverSetup();
      return 0;
    case hub::kMassageHelvarRequest:
      hub::SendHelvarRequest(parameter, std::string_view(), hub::kHelvarProgramForHost);
      return 1;
    case hub::kMassageSignOnAnswer:
    case hub::kMassageSettings:
    case hub::kMassageHostRequest:
      hub::SendHostRequestFrame(code, parameter);
      return 0;
    default:
      return 0;
  }
}

int32_t DllRegisterServer() { return 0; }

int32_t DllUnregisterServer() { return 0; }

int32_t DllGetClassObject(const void* /*class_id*/, const void* /*interface_id*/, void** object) {
  if (object != nullptr) *object = nullptr;
  return 0;
}

int32_t DllCanUnloadNow() { return 0; }

}  // extern "C"
