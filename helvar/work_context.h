// The work context of one request: the settings read afresh, the pharmacy connections, and the
// dispatch table that the request code and the pharmacy program select a handler from.
// Built for one request on its worker and destroyed when the worker ends; nothing is cached
// between requests.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "helvar/pm2000_db.h"
#include "helvar/request.h"
#include "helvar/upharm_binding.h"
#include "protocol/helvar_request.h"

namespace helvar {

class CWorkContext;

// A handler gets the context and the request and returns one of these.
inline constexpr int kHandlerFailed = 0;
inline constexpr int kHandlerDone = 1;
inline constexpr int kHandlerRetry = 2;  // not completed now: store for retry
using Handler = int (*)(CWorkContext& context, const Request& request);

// What CWorkContext::Dispatch returns for a code that no handler serves.
inline constexpr int kDispatchNoHandler = -1;

// Pharmacy program indices (registry "edicode_index").
inline constexpr int kProgramPm2000 = 1;
inline constexpr int kProgramUbcare = 2;
inline constexpr int kProgramOnPharm = 3;
inline constexpr int kProgramOptiPharm = 16;

// The dispatch table: 36 program indices x 1,000 codes.
inline constexpr int kProgramSlots = 36;
inline constexpr int kCodeSlots = 1000;

// The request code of the retry started by the shell's 5-second timer.
inline constexpr int32_t kRetryCode = protocol::kHelvarRetryStored;

struct WorkSettings {
  int program_index = 0;               // "edicode_index"
  std::string guide_ip = "127.0.0.1";  // "GuidePrint Ip"
  std::string guide_port = "9988";     // "GuidePrint Port"
  int price_update = 0;                // "Pm2000_Paname"
};

// The settings under "Software\Tavenor", read now.
WorkSettings ReadWorkSettings();

// Requests put aside for retry and not yet done. Raised by the dispatcher (under the request
// lock), set from the store by each retry, read without the lock by the shell's timer.
std::atomic<int>& PendingRetries();

class CWorkContext {
 public:
  // A context with an empty dispatch table.
  explicit CWorkContext(WorkSettings settings);
  // A context for one request: the settings read now and every handler in its slot.
  static std::unique_ptr<CWorkContext> ForRequest();

  CWorkContext(const CWorkContext&) = delete;
  CWorkContext& operator=(const CWorkContext&) = delete;

  const WorkSettings& settings() const { return settings_; }
  // The program index the current request runs with (see Dispatch).
  int program_index() const { return program_index_; }

  // Fills a slot; indices outside the table are ignored.
  void SetHandler(int program_index, int32_t code, Handler handler);
  // The handler of a slot; nullptr when the slot is empty or outside the table.
  Handler Slot(int program_index, int32_t code) const;

  // Runs the request's handler. Codes 8, 9, 66, 300-302 and 310-312 run with the pharmacy
  // program's index, every other code with index 1. 1 when the handler ran and did not ask
  // for a retry; 0 when it asked for one (the request is then stored in the temporary store
  // and counted as pending); kDispatchNoHandler when no handler serves the code (yet).
  int Dispatch(const Request& request);

  // The PM2000 reader and the UBcare binding of this request.
  CPm2000Db& pm2000() { return pm2000_; }
  CUpharmBinding& upharm() { return upharm_; }

 private:
  WorkSettings settings_;
  int program_index_ = kProgramPm2000;
  std::vector<Handler> table_;
  CPm2000Db pm2000_;
  CUpharmBinding upharm_;
};

// Fills every slot of the dispatch table with its handler.
void FillDispatchTable(CWorkContext& context);

// The handler of code 900: retries the oldest stored request with its program-index-1 handler
// and deletes it from the store once that handler is done; one request per call.
int RetryStoredRequest(CWorkContext& context, const Request& request);

}  // namespace helvar
