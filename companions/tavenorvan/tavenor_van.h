// Ordella_TavenorVanDll: the VAN module (libOrdella_TavenorVanDll.so, loaded by the hub as
// "Ordella_TavenorVanDll.DLL"). A serial card terminal speaks the VAN protocol for its own card
// business beside the gateway frames; the hub hands every byte that is no gateway traffic to
// this module, which frames the terminal's VAN messages, exchanges each with the VAN server over
// TCP and writes the server's answer back to the terminal. The hub follows the module's state
// (GetVanState) and holds its own traffic to the terminal back while the state is not 0.
// README.md beside this file tells the protocol, van_link.h its constants.
//
// Each handle is one terminal. Calls for one handle come from one thread; calls for different
// handles may come from different threads at the same time.
#pragma once

#include <stdint.h>

#define TAVENOR_VAN_API __attribute__((visibility("default")))

#ifdef __cplusplus
extern "C" {
#endif

// What the module is given for its terminal: the terminal's index and the hub's serialised
// writer to it (returns the count written, 0 on failure). The hub keeps it valid until
// CloseVanPort has returned.
typedef struct VanTerminalPort {
  int32_t index;
  void* port;
  int32_t (*write)(void* port, const unsigned char* bytes, int32_t length);
} VanTerminalPort;

// Makes the module's session for one terminal: `terminal_port` is a VanTerminalPort, kept for
// the session's life; `payment_path` is the property map's payment path (the module speaks the
// same protocol on every path). The handle, above 0; 0 when the record is null or has no writer.
TAVENOR_VAN_API int32_t CreateVanModule(void* terminal_port, int32_t payment_path);
// Takes bytes the terminal sent that are no gateway traffic. Whole VAN messages go to the VAN
// server in order. The count taken; -1 for an unknown handle or a negative count.
TAVENOR_VAN_API int32_t SendProtocal(int32_t van, const unsigned char* bytes, int32_t count);
// Drops the partial VAN message collected so far (the terminal has moved on to a gateway
// frame). 1; -1 for an unknown handle.
TAVENOR_VAN_API int32_t SendClearBuffer(int32_t van);
// The session's state (van_link.h): 0 idle, 3 exchanging with the VAN server. Returns at once.
// Every state is reported at least once before it is left, so a caller that looks now and then
// sees each exchange. -1 for an unknown handle.
TAVENOR_VAN_API int32_t GetVanState(int32_t van);
// Ends the session: an exchange under way is given up (its answer is not written), and nothing
// is written to the terminal after it returns. 1; -1 for an unknown handle.
TAVENOR_VAN_API int32_t CloseVanPort(int32_t van);

#ifdef __cplusplus
}
#endif
