// Ordella_Util: the common chores that the hub and Helvar call (registry reads, frame check
// values, field splitting, frame unpacking, the diagnostic log, display line cutting).
// Exported by name from libOrdella_Util.so; the Windows build's ordinal numbers are kept in
// kUtilOrdinals so that callers written against them can be checked.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(ORDELLA_UTIL_BUILD)
#define ORDELLA_UTIL_API __attribute__((visibility("default")))
#else
#define ORDELLA_UTIL_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

// Copies the REG_SZ value `name` of HKEY_CURRENT_USER\`key` into `out` (at most `size` bytes,
// always NUL-terminated when size > 0; a longer text is cut without splitting a two-byte
// character). A missing value, a value of another type or an unreadable registry leaves `out`
// unchanged. Returns 1 when the value was copied, 0 otherwise.
ORDELLA_UTIL_API int UtilRegReadText(const char* key, const char* name, char* out, int size);

// The REG_DWORD value (or a REG_SZ holding a decimal number); 0 when missing or unreadable.
ORDELLA_UTIL_API int UtilRegReadInt(const char* key, const char* name);

// The frame check byte: the exclusive-or of the bytes, with bit 0x20 then set. A trailing zero
// byte does not change it, so callers may pass the text's terminator too.
ORDELLA_UTIL_API unsigned char UtilCheckByte(const unsigned char* data, int length);

// The 16-bit check value appended (high byte first) after ETX of a barcode chunk frame:
// CRC-16 with polynomial 0x1021, initial value 0xFFFF, bits not reflected, no final
// exclusive-or (the check value of the nine bytes "123456789" is 0x29B1).
ORDELLA_UTIL_API uint16_t UtilCheck16(const unsigned char* data, int length);

// Splits `text` in place at every `separator`: each field becomes a NUL-terminated text and
// fields[i] points at field i. Returns the field count; an empty text is one empty field.
// The caller's array must have room for every field; UtilSplitFieldsN is the bounded form our
// own code uses.
ORDELLA_UTIL_API int UtilSplitFields(char* text, char** fields, char separator);

// As UtilSplitFields, but stores at most max_fields pointers; the last slot then holds the rest
// of the text unsplit. Returns the number of slots filled.
ORDELLA_UTIL_API int UtilSplitFieldsN(char* text, char** fields, int max_fields, char separator);

// Turns a packed frame into its plain form in place. `mode` must be 1. `length` counts the
// frame from STX through ETX (the check byte excluded).
//
// A packed frame keeps the head of a plain frame: STX, the cipher flag, a packing digit
// "0"-"9" (the compression level it was packed with), the four-digit length field (counting
// the packed frame from STX through ETX) and the frame type at bytes 7-9. Bytes 10 up to ETX
// are a raw deflate stream of the plain body; then ETX.
//
// Unpacking inflates the body, sets the packing flag to "X", writes the length field as plain
// body + 11, then ETX, a fresh check byte and a terminating zero. The buffer must hold
// kUtilMaxFrame bytes. Returns the plain frame's length from STX through ETX, or 0 when the
// frame is not packed or cannot be unpacked (length field not matching `length`, no ETX, a
// body that does not inflate or inflates beyond the four-digit length field); the buffer is
// then left as it was.
ORDELLA_UTIL_API int UtilUnpackFrame(int mode, unsigned char* frame, int length);

// Appends one record to the daily log file <directory>/Log/<YYYYMMDD>.log (local date; the
// folder is created). `directory` is a Windows path (mapped through the prefix) or an absolute
// POSIX path. The record is one line:
//
//   [YYYY-MM-DD HH:MM:SS.mmm][pid][tag] data
//
// Bytes of tag and data are kept as they are, except that control bytes (0x00-0x1F, 0x7F)
// are written as \xHH (upper-case hexadecimal) and a backslash as two backslashes, so a
// record is always one line and frames with STX, FS, ETX or NUL stay readable.
// Records are never interleaved, across threads or processes (one append under a file lock).
// `flag` 0 turns logging off. A NULL or empty directory writes nothing. Returns 1 when written.
ORDELLA_UTIL_API int UtilWriteLog(const char* directory, const char* tag, const void* data,
                                  int length, int flag);

// Copies the next display line of at most `width` bytes of `source` into `out` (NUL-terminated;
// `out` must hold width + 1 bytes) and returns the bytes of `source` consumed: at least 1 while
// text remains, 0 at its end. A line ends at LF (consumed, not copied; a CR before it is
// dropped too) or at the width, cut one byte early rather than split a two-byte CP949
// character; a full-width line directly followed by LF (or CR LF) consumes that line end too.
// A width below 2 cannot hold every character: it returns 0 with an empty `out`.
ORDELLA_UTIL_API int UtilNextLine(int width, const char* source, char* out);

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
    {2, "UtilRegReadText"},  {3, "UtilRegReadInt"},   {8, "UtilCheckByte"}, {16, "UtilCheck16"},
    {32, "UtilSplitFields"}, {64, "UtilUnpackFrame"}, {65, "UtilWriteLog"}, {66, "UtilNextLine"},
};
#endif
