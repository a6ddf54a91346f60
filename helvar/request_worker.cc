#include "helvar/request_worker.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <string>
#include <thread>
#include <vector>

#include "helvar/helvar_log.h"
#include "helvar/work_context.h"
#include "platform/keyboard.h"
#include "protocol/helvar_request.h"

namespace helvar {
namespace {

constexpr uint8_t kVkReturn = 13;

// Codes that end the worker at once: none, 6 and the card data (no handler ever serves them).
constexpr std::array<int32_t, 3> kIgnoredCodes = {0, 6, protocol::kHelvarCardData};
// The typing requests, 710-713: their data is typed into the focused window.
constexpr int32_t kFirstKeystrokeCode = protocol::kHelvarTypeText;
constexpr int32_t kLastKeystrokeCode = protocol::kHelvarTypeText + 3;

bool IsIgnored(int32_t code) {
  return std::find(kIgnoredCodes.begin(), kIgnoredCodes.end(), code) != kIgnoredCodes.end();
}
bool IsKeystroke(int32_t code) { return code >= kFirstKeystrokeCode && code <= kLastKeystrokeCode; }

// The workers still running, so that the program's end can let them finish.
std::mutex g_workers_mutex;
std::condition_variable g_workers_done;
int g_workers = 0;  // GUARDED_BY(g_workers_mutex)

}  // namespace

std::mutex& RequestLock() {
  static std::mutex lock;
  return lock;
}

bool RequestLockFree() {
  if (!RequestLock().try_lock()) return false;
  RequestLock().unlock();
  return true;
}

bool TypeKeys(const std::string& data) {
  std::vector<platform::KeyEvent> events;
  events.reserve(2 * data.size() + 2);
  for (const char c : data) {
    const auto key = static_cast<uint8_t>(c);
    events.push_back({key, false});
    events.push_back({key, true});
  }
  events.push_back({kVkReturn, false});
  events.push_back({kVkReturn, true});
  return platform::SendKeys(events);
}

void RunRequest(const Request& request) {
  if (IsIgnored(request.code)) return;
  if (IsKeystroke(request.code)) {
    if (!TypeKeys(request.data)) WriteLog("Helvar", "keys not typed: " + request.data);
    return;
  }
  std::lock_guard<std::mutex> lock(RequestLock());
  std::unique_ptr<CWorkContext> context = CWorkContext::ForRequest();
  const int result = context->Dispatch(request);
  if (result == kDispatchNoHandler) {
    WriteLog("CGuideUpdateThread", "request " + std::to_string(request.code) +
                                       " has no handler for program index " +
                                       std::to_string(context->program_index()) + ": not served");
  } else if (result == 0) {
    WriteLog("CGuideUpdateThread", Cp949("데이타 베이스 접근에 실패함."));
  }
}

void CGuideUpdateThread::Start(Request request) {
  {
    std::lock_guard<std::mutex> lock(g_workers_mutex);
    ++g_workers;
  }
  std::thread([request = std::move(request)] {
    RunRequest(request);
    std::lock_guard<std::mutex> lock(g_workers_mutex);
    --g_workers;
    g_workers_done.notify_all();
  }).detach();
}

bool CGuideUpdateThread::WaitForAll(int timeout_ms) {
  std::unique_lock<std::mutex> lock(g_workers_mutex);
  return g_workers_done.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                                 [] { return g_workers == 0; });
}

}  // namespace helvar
