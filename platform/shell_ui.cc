#include "platform/shell_ui.h"

#include <iterator>
#include <string>
#include <vector>

#include "platform/run_log.h"
#include "platform/text.h"

namespace platform {
namespace {

constexpr char kTrayLog[] = "tray.log";
constexpr char kMessageBoxLog[] = "messagebox.log";
constexpr size_t kTipFieldSize = 128;  // the notification record's tip field, NUL included
constexpr int kIdOk = 1;

constexpr std::string_view kActionNames[] = {"add", "modify", "delete"};

std::string_view ActionName(TrayAction action) {
  auto index = static_cast<size_t>(action);
  return index < std::size(kActionNames) ? kActionNames[index] : std::string_view("unknown");
}

// Applies one recorded action to the state; false when the shell would refuse it.
bool Apply(TrayState& state, std::string_view action, const std::string& icon,
           const std::string& tooltip) {
  if (action == ActionName(TrayAction::kAdd)) {
    if (state.shown) return false;
    state = {true, icon, tooltip, state.changes + 1};
  } else if (action == ActionName(TrayAction::kModify)) {
    if (!state.shown) return false;
    if (!icon.empty()) state.icon = icon;
    if (!tooltip.empty()) state.tooltip = tooltip;
    ++state.changes;
  } else if (action == ActionName(TrayAction::kDelete)) {
    if (!state.shown) return false;
    state.shown = false;
    state.icon.clear();
    state.tooltip.clear();
  } else {
    return false;
  }
  return true;
}

}  // namespace

bool TrayNotify(TrayAction action, std::string_view icon, std::string_view tooltip) {
  std::string tip(CutCp949(tooltip, kTipFieldSize - 1));
  std::string icon_name(icon);
  TrayState state = CurrentTray();
  if (!Apply(state, ActionName(action), icon_name, tip)) return false;
  return AppendRunLog(kTrayLog,
                      {RunLogTimeStamp(), std::string(ActionName(action)), icon_name, tip});
}

TrayState CurrentTray() {
  TrayState state;
  for (const std::vector<std::string>& fields : ReadRunLog(kTrayLog)) {
    if (fields.size() == 4) Apply(state, fields[1], fields[2], fields[3]);
  }
  return state;
}

int MessageBox(std::string_view text, std::string_view caption) {
  AppendRunLog(kMessageBoxLog, {RunLogTimeStamp(), std::string(caption), std::string(text)});
  return kIdOk;
}

}  // namespace platform
