// Module-wide state of the hub: what every thread of the loaded module shares. The hand-overs
// between threads are atomics (release on store, acquire on load); the property map is plain
// bytes read from every thread, as the property-map library hands it out.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "hub/core/frame_log.h"
#include "platform/window.h"
#include "protocol/host_notification.h"

namespace hub {

// The entry points of the VAN module (Ordella_TavenorVanDll); any of them may be missing.
struct VanEntryPoints {
  using CreateVanModuleFn = int32_t (*)(void* terminal_port, int32_t payment_path);
  using SendProtocalFn = int32_t (*)(int32_t van, const unsigned char* bytes, int32_t count);
  using VanHandleFn = int32_t (*)(int32_t van);
  CreateVanModuleFn CreateVanModule = nullptr;
  SendProtocalFn SendProtocal = nullptr;
  VanHandleFn CloseVanPort = nullptr;
  VanHandleFn SendClearBuffer = nullptr;
  VanHandleFn GetVanState = nullptr;
};

class CManagerMainThread;
struct RelaySlot;

struct ModuleState {
  platform::WindowHandle host_window;     // given to CreateClientModule
  unsigned char* property_map = nullptr;  // from GetPropertyMap
  std::atomic<bool> running{false};       // every loop runs while it is set
  std::atomic<CManagerMainThread*> main_thread{nullptr};
  std::atomic<RelaySlot*> relay_slot{nullptr};  // created and freed by the main thread
  VanEntryPoints van;                           // filled once at main-thread start
};

// The one instance per loaded module.
ModuleState& Module();

// Posts host notification `event` with `lparam` to the stored host window (fire and forget).
// Nothing is posted while no host window is stored.
void PostHostNotification(uint32_t event, int64_t lparam);

// The property map as the record the property-map accessors read (connmap::ReadText ...);
// nullptr while no map is open.
inline char* PropertyRecord() { return reinterpret_cast<char*>(Module().property_map); }

// Where the module's diagnostic records go: the install directory (property offset 0) with the
// log flag (property offset 3080). Disabled while no property map is open.
LogTarget ModuleLogTarget();

// One diagnostic record through UtilWriteLog with the module's log target (card data masked).
void WriteModuleLog(const char* tag, std::string_view text);

// The VAN server's address. The VAN server is reached at the gateway server's address
// (property offset 2108); its ports are fixed.
std::string VanServerAddress(const char* record);

}  // namespace hub
