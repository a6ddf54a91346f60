// The terminal's barcode database file: Helvar builds it on the terminal's request (700 +
// terminal index) under that request code's name and answers 817 with its chunk count; the hub
// then sends it to the terminal in chunk frames of at most 21,000 bytes each.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "protocol/frame.h"

namespace protocol {

// The folder of the local files, on the Windows side.
inline constexpr char kTavenorDir[] = "c:\\tavenor";

// The piece of the file that goes into one chunk frame.
inline constexpr size_t kBarcodeChunkSize = kMaxChunkData;

// "c:\tavenor\BarcodeDB<code>.db", the Windows name of the file built for that request code.
std::string BarcodeDatabaseName(int request_code);

// The number of chunk frames a file of that size takes: ceil(size / 21,000).
int BarcodeChunkCount(uint64_t file_size);

}  // namespace protocol
