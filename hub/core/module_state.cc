#include "hub/core/module_state.h"

#include "companions/connmap/ordella_connmap.h"

namespace hub {

using namespace protocol;

ModuleState& Module() {
  static ModuleState state;
  return state;
}

void PostHostNotification(uint32_t event, int64_t lparam) {
  const platform::WindowHandle& host = Module().host_window;
  if (host.path.empty()) return;
  platform::PostWindowMessage(host, kHostNotifyMessage, event, lparam);
}

LogTarget ModuleLogTarget() {
  const char* record = PropertyRecord();
  if (record == nullptr) return {};
  return LogTarget{connmap::ReadText(record, connmap::kInstallDir),
                   connmap::ReadInt(record, connmap::kLogFlag)};
}

void WriteModuleLog(const char* tag, std::string_view text) {
  WriteFrameLog(ModuleLogTarget(), tag, text);
}

std::string VanServerAddress(const char* record) {
  return connmap::ReadText(record, connmap::kServerAddress);
}

}  // namespace hub
