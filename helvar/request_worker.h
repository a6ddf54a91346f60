// CGuideUpdateThread: the worker of one request. Keystroke codes type their data at once; the
// ignored codes end at once; every other request runs under the process-wide request lock
// (one request at a time) with a fresh work context, and its failure is logged.
#pragma once

#include <mutex>

#include "helvar/request.h"

namespace helvar {

// The request lock: held by the worker whose request is being dispatched.
std::mutex& RequestLock();
// True when no worker holds the request lock at this instant (the lock is not kept).
bool RequestLockFree();

// Types the data's bytes as virtual-key codes (key down, key up each), then Enter.
bool TypeKeys(const std::string& data);

// The worker's body, run on the calling thread.
void RunRequest(const Request& request);

class CGuideUpdateThread {
 public:
  // Starts a worker for `request` and returns without waiting for it.
  static void Start(Request request);
  // Waits until every worker has ended or `timeout_ms` has passed; true when none is left.
  static bool WaitForAll(int timeout_ms);
};

}  // namespace helvar
