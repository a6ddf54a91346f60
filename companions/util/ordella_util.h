// Ordella_Util: the common chores that the hub and Helvar call (registry reads, frame check
// values, field splitting, frame unpacking, the diagnostic log, display line cutting).
// Exported by name from libOrdella_Util.so; the Windows build's ordinal numbers are kept in
// kUtilOrdinals so that callers written against them can be checked.
#pragma once

#include <cstddef>
#include <cstdint>

#ifdef __cplusplus
extern "C" {
#endif

// Copies the REG_SZ value `name` of HKEY_CURRENT_USER\`key` into `out` (at most `size` bytes,
// always NUL-terminated when size > 0). A missing value leaves `out` unchanged.
// Returns 1 when the value was copied, 0 otherwise.
int UtilRegReadText(const char* key, const char* name, char* out, int size);

// The REG_DWORD value (or a REG_SZ holding a decimal number); 0 when missing.
int UtilRegReadInt(const char* key, const char* name);

// The frame check byte: the exclusive-or of the bytes, with bit 0x20 then set. A trailing zero
// byte does not change it, so callers may pass the text's terminator too.
unsigned char UtilCheckByte(const unsigned char* data, int length);

// The 16-bit check value appended (high byte first) after ETX of a barcode chunk frame.
uint16_t UtilCheck16(const unsigned char* data, int length);

// Splits `text` in place at every `separator`: each field becomes a NUL-terminated text and
// fields[i] points at field i. Returns the field count. The caller's array must have room for
// every field; UtilSplitFieldsN is the bounded form our own code uses.
int UtilSplitFields(char* text, char** fields, char separator);

// As UtilSplitFields, but stores at most max_fields pointers; the last slot then holds the rest
// of the text unsplit. Returns the number of slots filled.
int UtilSplitFieldsN(char* text, char** fields, int max_fields, char separator);

// Turns a packed frame (byte 2 a digit) into its plain form in place. `length` counts the frame
// from STX through ETX (the check byte excluded). The buffer must hold kUtilMaxFrame bytes.
// Returns the plain frame's length from STX through ETX, or 0 when the frame is not packed or
// cannot be unpacked (the frame is then left as it was).
int UtilUnpackFrame(int mode, unsigned char* frame, int length);

// Appends one record (a time stamp, the tag and `length` bytes of data) to the daily log file
// <directory>/Log/<YYYYMMDD>.log. Records are never interleaved, across threads or processes.
// `flag` 0 turns logging off. Returns 1 when written.
int UtilWriteLog(const char* directory, const char* tag, const void* data, int length, int flag);

// Copies the next display line of at most `width` bytes of `source` into `out` (NUL-terminated;
// `out` must hold width + 1 bytes) and returns the bytes of `source` consumed: at least 1 while
// text remains, 0 at its end. A line ends at LF (consumed, not copied) or at the width; a
// two-byte CP949 character is never split.
int UtilNextLine(int width, const char* source, char* out);

// The largest frame UtilUnpackFrame may produce (a four-digit length field) plus room for the
// check byte and a terminator.
enum { kUtilMaxFrame = 10002 };

#ifdef __cplusplus
}  // extern "C"

struct UtilOrdinal {
  int ordinal;
  const char* name;
};
inline constexpr UtilOrdinal kUtilOrdinals[] = {
    {2, "UtilRegReadText"},  {3, "UtilRegReadInt"},   {8, "UtilCheckByte"},
    {16, "UtilCheck16"},     {32, "UtilSplitFields"}, {64, "UtilUnpackFrame"},
    {65, "UtilWriteLog"},    {66, "UtilNextLine"},
};
#endif
