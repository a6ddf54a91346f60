// The pharmacy settings (hub/core/pharmacy_settings.h) as the payments side reads them from the
// property map.
#pragma once

#include "hub/core/pharmacy_settings.h"

namespace hub::payments {

using hub::PharmacySettings;

// Payment paths (property offset 2652): 0 and 1 the sign-pad module, 2 the sign-pad objects.
inline constexpr int kSignPadObjectsPath = 2;

// The settings from the property map record; all empty or zero when `record` is null.
PharmacySettings PharmacySettingsFrom(const char* record);

}  // namespace hub::payments
