#include "helvar/work_context.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <set>

#include "companions/util/ordella_util.h"
#include "helvar/helvar_log.h"
#include "platform/text.h"
#include "stores/local_stores.h"

namespace helvar {
namespace {

constexpr const char* kSettingsKey = "Software\\Tavenor";
constexpr int kAddressRoom = 20;

// The codes that run with the pharmacy program's own index.
constexpr std::array<int32_t, 9> kProgramCodes = {
    protocol::kHelvarGuidanceSheet,          protocol::kHelvarGuidanceLibrary,
    protocol::kHelvarGuidanceWithoutPatient, protocol::kHelvarPrescriptions,
    protocol::kHelvarPrescriptions + 1,      protocol::kHelvarPrescriptions + 2,
    protocol::kHelvarGuidancePrint,          protocol::kHelvarGuidancePrint + 1,
    protocol::kHelvarGuidancePrint + 2};

std::string ReadText(const char* name, std::string fallback) {
  std::array<char, kAddressRoom> buffer{};
  platform::CopyBounded(buffer.data(), buffer.size(), fallback);
  UtilRegReadText(kSettingsKey, name, buffer.data(), static_cast<int>(buffer.size()));
  return std::string(buffer.data(), strnlen(buffer.data(), buffer.size()));
}

// Stored requests whose handler is done but whose row could not be deleted: they are not run
// again, only deleted, so a request is recorded once. Used under the request lock.
std::set<int>& DoneButStored() {
  static std::set<int> ids;
  return ids;
}

bool InTable(int program_index, int32_t code) {
  return program_index >= 0 && program_index < kProgramSlots && code >= 0 && code < kCodeSlots;
}

}  // namespace

WorkSettings ReadWorkSettings() {
  WorkSettings settings;
  settings.program_index = UtilRegReadInt(kSettingsKey, "edicode_index");
  settings.guide_ip = ReadText("GuidePrint Ip", settings.guide_ip);
  settings.guide_port = ReadText("GuidePrint Port", settings.guide_port);
  settings.price_update = UtilRegReadInt(kSettingsKey, "Pm2000_Paname");
  return settings;
}

std::atomic<int>& PendingRetries() {
  static std::atomic<int> pending{0};
  return pending;
}

CWorkContext::CWorkContext(WorkSettings settings)
    : settings_(std::move(settings)),
      table_(static_cast<size_t>(kProgramSlots) * kCodeSlots, nullptr) {}

std::unique_ptr<CWorkContext> CWorkContext::ForRequest() {
  auto context = std::make_unique<CWorkContext>(ReadWorkSettings());
  FillDispatchTable(*context);
  return context;
}

void CWorkContext::SetHandler(int program_index, int32_t code, Handler handler) {
  if (!InTable(program_index, code)) return;
  table_[static_cast<size_t>(program_index) * kCodeSlots + static_cast<size_t>(code)] = handler;
}

Handler CWorkContext::Slot(int program_index, int32_t code) const {
  if (!InTable(program_index, code)) return nullptr;
  return table_[static_cast<size_t>(program_index) * kCodeSlots + static_cast<size_t>(code)];
}

int CWorkContext::Dispatch(const Request& request) {
  const bool own_index =
      std::find(kProgramCodes.begin(), kProgramCodes.end(), request.code) != kProgramCodes.end();
  program_index_ = own_index ? settings_.program_index : kProgramPm2000;
  const Handler handler = Slot(program_index_, request.code);
  if (handler == nullptr) return kDispatchNoHandler;
  WriteLog("Helvar Excute", request.data);
  if (handler(*this, request) != kHandlerRetry) return 1;
  PendingRetries().fetch_add(1, std::memory_order_acq_rel);
  if (stores::StoreRequest(request.code, request.data, request.aux1) != 1) {
    WriteLog("Helvar", "request " + std::to_string(request.code) + " could not be stored");
  }
  return 0;
}

int RetryStoredRequest(CWorkContext& context, const Request& /*request*/) {
  if (PendingRetries().load(std::memory_order_acquire) == 0) return kHandlerDone;
  stores::StoredRequest stored;
  // A store that cannot be read now leaves the count as it is, so the retry is not forgotten.
  int pending = PendingRetries().load(std::memory_order_acquire);
  const int found = stores::ReadFirstStoredRequest(&stored, &pending);
  PendingRetries().store(pending, std::memory_order_release);
  if (found != 1) return kHandlerDone;
  if (DoneButStored().contains(stored.id)) {
    if (stores::DeleteStoredRequest(stored.id) == 1) DoneButStored().erase(stored.id);
    return kHandlerDone;
  }
  const Handler handler = context.Slot(kProgramPm2000, stored.code);
  if (handler == nullptr) {
    // Nothing can ever serve it: keeping it would hold every later request back.
    WriteLog("Helvar",
             "stored request " + std::to_string(stored.code) + " has no handler: dropped");
    stores::DeleteStoredRequest(stored.id);
    return kHandlerDone;
  }
  Request retried;
  retried.code = stored.code;
  retried.data = stored.data;
  if (handler(context, retried) == kHandlerDone && stores::DeleteStoredRequest(stored.id) != 1) {
    WriteLog("Helvar", "stored request " + std::to_string(stored.id) + " done but not deleted");
    DoneButStored().insert(stored.id);
  }
  return kHandlerDone;
}

}  // namespace helvar
