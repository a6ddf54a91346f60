#include "tessel/auto_data_sync.h"

#include <ctime>

#include "platform/clock.h"
#include "platform/registry.h"

namespace tessel {
namespace {

constexpr char kKey[] = "Software\\Tavenor";
constexpr char kValuePrefix[] = "Retalo_AutoDate_";

}  // namespace

std::string TodayText() { return platform::SystemClock().LocalDate(); }

int AutoDataSyncOn(int index, std::string_view today) {
  if (platform::RegCreateKey(kKey) != platform::RegStatus::kOk) return 0;
  const std::string name = kValuePrefix + std::to_string(index);

  // Only a non-empty text counts as the date of the last sync; a value of another type is
  // treated as never synced. The whole stored text is compared, however long it is.
  platform::RegValue stored;
  const platform::RegStatus status = platform::RegGetValue(kKey, name, &stored);
  if (status != platform::RegStatus::kOk && status != platform::RegStatus::kNotFound) return 0;
  if (status == platform::RegStatus::kOk && stored.type == platform::RegType::kString &&
      stored.text == today) {
    return 0;
  }
  // A failed write still answers yes: the sync runs, and is asked for again next time.
  platform::RegSetString(kKey, name, today);
  return 1;
}

}  // namespace tessel
