// The customer display at the counter, driven through the two display libraries
// "RetaloDisplay.dll" (the item list: Func_RetaloDisplayOpen/Close/Clear, Func_RetaloAddItems)
// and "Ordella_DisplayM.dll" (the pop-up: PopOpen, PopShowWindow, PopClose). The libraries are
// loaded by OpenScreen and kept until CloseScreen; the display is open while both are loaded.
// The exports (ordella_retalo.h) may be called from different threads of the caller: one lock
// orders them, so a library is never unloaded under a call.
#pragma once

#include <functional>
#include <memory>
#include <string_view>

#include "platform/process.h"

namespace retalo {

// Loads a display library by its Windows name.
using DisplayLibraryLoader =
    std::function<std::unique_ptr<platform::Library>(std::string_view dll_name)>;

// Replaces how the display libraries are loaded (platform::Library::Load); an empty loader
// restores that. For tests that need a library to be missing or incomplete.
void SetDisplayLibraryLoader(DisplayLibraryLoader loader);

}  // namespace retalo
