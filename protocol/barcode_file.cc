#include "protocol/barcode_file.h"

#include <climits>

namespace protocol {

std::string BarcodeDatabaseName(int request_code) {
  return std::string(kTavenorDir) + "\\BarcodeDB" + std::to_string(request_code) + ".db";
}

int BarcodeChunkCount(uint64_t file_size) {
  const uint64_t chunks = file_size / kBarcodeChunkSize + (file_size % kBarcodeChunkSize != 0);
  return chunks > INT_MAX ? INT_MAX : static_cast<int>(chunks);
}

}  // namespace protocol
