// The daily sync gate, with the day given, so that the turn of a day can be driven without
// the clock.
#pragma once

#include <string>
#include <string_view>

namespace tessel {

// Today's local date as eight digits, "%Y%m%d".
std::string TodayText();

// The gate for terminal `index` on the day `today` ("%Y%m%d"): 1 when the stored date of the
// last sync differs from `today` (then `today` is stored), 0 when it equals it or when the
// registry cannot be opened or read (nothing is then written, so nothing stored is lost).
int AutoDataSyncOn(int index, std::string_view today);

}  // namespace tessel
