// Taking a request in: what the main window makes of one copy-data message before it hands the
// request to a worker. The window's thread never waits for a handler.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "helvar/request.h"
#include "protocol/helvar_request.h"

namespace helvar {

// The barcode look-up code that every barcode forwarded by the PM2000 program becomes.
inline constexpr int32_t kBarcodeLookupCode = protocol::kHelvarBarcodeLookup;

// The shared block "memorymap" that an outside program may fill instead of sending the data:
// offset 0 the 32-bit code, offset 4 a NUL-terminated text in a 20-byte field, offset 24 a
// NUL-terminated text.
inline constexpr std::string_view kMemoryMapName = "memorymap";
inline constexpr size_t kMemoryMapSize = 1000024;
inline constexpr size_t kMemoryMapDataOffset = 4;
inline constexpr size_t kMemoryMapDataRoom = 20;
inline constexpr size_t kMemoryMapAuxOffset = 24;

// A barcode forwarded by the PM2000 program ("PM2000" somewhere in the data): the first six
// characters are dropped, the text up to the first carriage return is the barcode, and a
// barcode of 1 to 128 characters whose first 26 (or all) are digits is normalised:
//   shorter than 26: from the first "880" found at position 0, 1, 2 or 3 to its end, else whole;
//   26 or longer (GS1: 01, a zero, 13 digits, 17, expiry, ...): the 13 characters at 3.
// Anything else keeps the data as it is after the six characters are dropped.
std::string NormaliseForwardedBarcode(std::string_view data);

// The request of one copy-data message: code `dw_data` with `bytes` as data (a forwarded
// barcode becomes code 705 with its normalised barcode); code 0 reads the request from
// "memorymap", and leaves code 0 (logged "MemoryMapFile FAIL") when that block is missing.
Request TakeCopyData(uint64_t dw_data, std::string_view bytes);

}  // namespace helvar
