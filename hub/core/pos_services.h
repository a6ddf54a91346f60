// What the local listeners take from the payments side: the prints on terminal 0's printer, the
// framing of a relayed request body, the cash receipt and card requests, and the reading of the
// pharmacy settings. The gateway core declares these hooks and never links the payments side;
// the payments side fills them (its own pos_services.h), and the module installs them once, where
// libOrdella_Hub.so is assembled (hub/module/), before the host can start the module.
//
// A hook left empty is a service the module does not have. It is refused, never stood in for:
//   - a POS request that needs it is answered with its refusal frame (pos_request.h): "CASH
//     RECEIPT NOT READY" or "CARD PAYMENT NOT READY" for the payment requests, "REQUEST NOT
//     SERVED" for a print or a relayed request, and the slot stays idle;
//   - an acknowledgement listener's text is not printed and its connection is closed;
//   - without the settings reader the settings read empty (a refusal then names no terminal).
// Each is logged.
#pragma once

#include <string_view>

#include "hub/core/pharmacy_settings.h"
#include "hub/core/pos_request.h"
#include "hub/core/relay_slot.h"

namespace hub {

struct PosServices {
  // The settings from the property map record, read once for each request.
  using SettingsFn = PharmacySettings (*)(const char* record);
  // Queues a print of `text` for terminal 0: 1 queued, 0 refused (logged; the slot is as it was,
  // except that an acknowledgement listener's `client` may have become the relay client).
  using PrintFn = int (*)(RelaySlot& slot, std::string_view text, const PharmacySettings& settings);
  using AckPrintFn = int (*)(RelaySlot& slot, std::string_view received, int client,
                             const PharmacySettings& settings);
  // Frames `body` toward terminal 0 and queues it: 1 queued, 0 refused (logged).
  using QueueBodyFn = int (*)(RelaySlot& slot, std::string_view body);
  // A payment request that has taken the slot (its connection is the relay client, its code the
  // pending request code). A handler that does not queue it gives the slot back with
  // RefuseTakenRequest (pos_request.h).
  using RequestFn = PosRequestResult (*)(RelaySlot& slot, const PosRequest& request,
                                         const PharmacySettings& settings);

  SettingsFn settings = nullptr;
  PrintFn print_pos_request = nullptr;    // message 151: its field 1
  AckPrintFn print_first_ack = nullptr;   // the first acknowledgement listener's text
  AckPrintFn print_second_ack = nullptr;  // the second acknowledgement listener's framed text
  QueueBodyFn queue_body = nullptr;       // 157, 843 and the codes without a handler of their own
  RequestFn cash_receipt = nullptr;       // 161 171 181 183
  RequestFn card_request = nullptr;       // 51 61 63 71
};

// The services of the loaded module. Installed once while the library loads, before the main
// thread (and with it any listener) starts; never changed while the module runs.
void InstallPosServices(const PosServices& services);
// What was installed; every hook empty when nothing was.
const PosServices& InstalledPosServices();

}  // namespace hub
