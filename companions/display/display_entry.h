// The entry points of the customer display libraries at the pharmacy counter,
// "RetaloDisplay.dll" (the item list facing the customer) and "Ordella_DisplayM.dll" (a pop-up
// window), as the database writer calls them. Texts are NUL-terminated UTF-16.
#pragma once

#ifdef __cplusplus
extern "C" {
#else
#include <uchar.h>
#endif

#define ORDELLA_DISPLAY_EXPORT __attribute__((visibility("default")))

// Opens the item list; 1 when it shows.
ORDELLA_DISPLAY_EXPORT int Func_RetaloDisplayOpen(void);
ORDELLA_DISPLAY_EXPORT void Func_RetaloDisplayClose(void);
// Empties the item list; 1 when done, 0 when the list is not open.
ORDELLA_DISPLAY_EXPORT int Func_RetaloDisplayClear(void);
// Shows a line: kind u"P" a customer (code: customer number, first: 0, second: the amount to
// pay; the list then shows this customer alone) or u"S" an item appended to the list (code:
// barcode, first: purchase price, second: sale price). 1 when shown, 0 when the list is not
// open or a text is missing, not valid UTF-16 or of another kind.
ORDELLA_DISPLAY_EXPORT int Func_RetaloAddItems(const char16_t* kind, const char16_t* code,
                                               const char16_t* name, int first, int second);
// The pop-up window: created hidden, shown or hidden, destroyed.
ORDELLA_DISPLAY_EXPORT void PopOpen(void);
ORDELLA_DISPLAY_EXPORT void PopShowWindow(int show);
ORDELLA_DISPLAY_EXPORT void PopClose(void);

#ifdef __cplusplus
}  // extern "C"
#endif
