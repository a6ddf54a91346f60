// Medication guidance printing: the handlers that collect a prescription from the pharmacy
// program, have GetGuidePrint lay out its sheet (helvar/guide_print.h) and deliver the print
// frame to the terminal's printer, either through the shared block (the hub forwards it; codes
// 310-312) or over TCP to a local print listener.
//
//   program    codes     collector                       delivery
//   PM2000     8, 66     the database (66: no patient)   TCP to the PM2000 print address, 60 s
//   PM2000     310-312   the database                    shared block, status = code
//   UBcare     9         UpharmMD, first 9 characters    TCP to the guidance listener, 50 s
//   UBcare     310-312   UpharmMD, last 9 characters     shared block, status = code
//   OnPharm    9         the request data                TCP to the guidance listener, 10 s
//   OptiPharm  9         the request data                TCP to the guidance listener, 10 s
//
// A prescription without drugs prints nothing: there is nothing to guide the patient on.
#pragma once

#include <string>
#include <string_view>

#include "helvar/request.h"

namespace helvar {

class CWorkContext;

// Where PM2000 takes its guidance prints: keys "KICC_IP" (at most 61 characters) and
// "KICC_PORT" of section "개인별 설정내용" in PM2000's settings file.
struct PrintAddress {
  std::string address;
  std::string port;
};
PrintAddress Pm2000PrintAddress();

// Connects, sends the frame, waits up to `wait_ms` for any answer, reads it (at most 90,000
// bytes, not examined) and closes. False when the send fails, no answer comes in time or the
// read fails; a listener that cannot be reached counts as delivered (true), as the pharmacy
// program's print listener may simply not be running.
bool DeliverByTcp(const PrintAddress& to, std::string_view frame, int wait_ms);

// Handlers (results: 0 failed, 1 done).
// PM2000: 1 whenever its database opened.
int Pm2000Guidance(CWorkContext& context, const Request& request);
// UBcare: 0 when the library cannot be opened or no sheet was made; 1 otherwise, a failed
// TCP delivery included.
int UbcareGuidance(CWorkContext& context, const Request& request);
// OnPharm and OptiPharm: 1 only after a delivery that did not fail.
int OnPharmGuidance(CWorkContext& context, const Request& request);
int OptiPharmGuidance(CWorkContext& context, const Request& request);

}  // namespace helvar
