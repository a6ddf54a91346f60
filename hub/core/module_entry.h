// The hub's exports: what the host program calls to start the module, talk to it, save its
// settings and stop it. Every export is a C function exported by name; the four registration
// entries exist for hosts that look for them and do nothing here.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#define ORDELLA_HUB_API __attribute__((visibility("default")))

extern "C" {

// Starts the module: `host_window` is the 32-bit id of the host's window endpoint
// (platform::WindowEndpoint::hwnd), to which every host notification is posted; the second
// argument is ignored. Opens the connection property map and starts the main thread.
// Returns 1 when started; 0 when the property map cannot be opened or the module already runs.
ORDELLA_HUB_API int32_t CreateClientModule(uint32_t host_window, uint32_t unused);

// Stops the module: signals "UPDATE_ORDELLA_EVENT" (Helvar closes on it), ends the main thread
// (waiting up to 30 s before running its exit routine from the calling thread) and closes the
// property map. Returns 1.
ORDELLA_HUB_API int32_t CloseClientModule();

// Makes the property map's contents persistent: the result of SavePropertyMap.
ORDELLA_HUB_API int32_t SaveClientModule();

// A request from the host, run on the calling thread:
//   1    start "<install dir>\CDM20814_Setup.exe"
//   2    send Helvar request `parameter` without payload
//   840  send the frame "840" with 21 empty fields to terminal `parameter`
//   842  send the settings frame to terminal `parameter`
//   843  send the frame "843" with two empty fields and three "00" to terminal `parameter`
// Returns 1 for code 2, otherwise 0.
ORDELLA_HUB_API int32_t OrdellaMassage(int32_t code, int32_t parameter, int32_t unused);

// Registration entries: nothing to register here; each returns 0.
ORDELLA_HUB_API int32_t DllRegisterServer();
ORDELLA_HUB_API int32_t DllUnregisterServer();
ORDELLA_HUB_API int32_t DllGetClassObject(const void* class_id, const void* interface_id,
                                          void** object);
ORDELLA_HUB_API int32_t DllCanUnloadNow();

}  // extern "C"

namespace hub {

// OrdellaMassage request codes.
enum MassageCode : int32_t {
  kMassageDriverSetup = 1,
  kMassageHelvarRequest = 2,
  kMassageSignOnAnswer = 840,
  kMassageSettings = 842,
  kMassageHostRequest = 843,
};

inline constexpr const char* kUpdateEventName = "UPDATE_ORDELLA_EVENT";
inline constexpr const char* kDriverSetupProgram = "CDM20814_Setup.exe";

// The frame that OrdellaMassage code 840, 842 or 843 sends to terminal `terminal` (0-2), with
// the routing prefix, a length field of body length + 25 and the check byte; the settings frame
// takes its fields from the property map `record`. nullopt for any other code or terminal.
std::optional<std::string> BuildHostRequestFrame(int32_t code, int32_t terminal,
                                                 const char* record);

}  // namespace hub
