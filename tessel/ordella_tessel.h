// Ordella_Tessel: the daily sync gate. The hub asks at each terminal sign-on whether the
// day's automatic data sync for that terminal is due.
#pragma once

#if defined(ORDELLA_TESSEL_BUILD)
#define ORDELLA_TESSEL_API __attribute__((visibility("default")))
#else
#define ORDELLA_TESSEL_API
#endif

extern "C" {

// 1 once per local calendar day per terminal index (and today is recorded in the current
// user's registry, "Software\Tavenor", value "Retalo_AutoDate_<index>"), 0 for every further
// call that day and when the registry cannot be opened or read.
ORDELLA_TESSEL_API int AutoDataSync(int index);

}  // extern "C"
