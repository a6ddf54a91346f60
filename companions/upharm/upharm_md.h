// libUpharmMD.so: our version of the UBcare pharmacy program's library "UpharmMD.dll", through
// which the tray service program reads that program's customers of the day and their
// prescriptions. It serves them from a data file in the prefix (format in README.md).
//
// Every function returns a 32-bit integer: 1 for "yes / done", 0 otherwise. Texts are CP949.
// Buffers handed to the Get*Data functions must hold kUpharmDataSize bytes; what is written
// there is always NUL-terminated and never longer.
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

#define UPHARM_EXPORT __attribute__((visibility("default")))

enum { kUpharmDataSize = 4096 };

// Turns the library's own log (lines in <prefix>/run/upharm_md.log) on (1) or off (0).
UPHARM_EXPORT int UpharmSetLog(int on);
// Opens the data file (mode is ignored): 1 when it was read, 0 when it is missing or damaged.
UPHARM_EXPORT int UpharmOpen(int mode);
// Forgets what UpharmOpen read. Always 1.
UPHARM_EXPORT int UpharmClose(void);

// Selects the customers whose visit date ("YYYY-MM-DD") lies from `from_date` to `to_date`,
// in file order: 1 when at least one was selected, 0 when none (or not open).
UPHARM_EXPORT int UpharmGetCustList(const char* from_date, const char* to_date);
// 1 while `index` (from 0) is a customer of the selected list.
UPHARM_EXPORT int UpharmArrCustList(int index);
// Writes the customer's fields, each ended by FS (0x1C): name, resident number, prescription
// serial. 1 when written, 0 for an index outside the list.
UPHARM_EXPORT int UpharmGetCustData(int index, char* buffer);

// Selects the prescription with serial `key` for the guidance sheet: 1 when found.
UPHARM_EXPORT int UpharmGetPst(const char* key);
// 1 while `index` (from 0) is an item of the selected prescription.
UPHARM_EXPORT int UpharmArrPstData(int index);
// Writes item `index` of the selected prescription: 0 serial, 1 visit date, 2 resident number,
// 3 drug count, 4 patient name, 5 birth date ("YYYY-MM-DD"), 6 sex text, 7-10 empty, then one
// item per drug: drug code, FS, direction. 1 when written, 0 for an index outside.
UPHARM_EXPORT int UpharmGetPstData(int index, char* buffer);

#ifdef __cplusplus
}  // extern "C"
#endif
