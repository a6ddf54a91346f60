#include "helvar/request_intake.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>

#include "helvar/helvar_log.h"
#include "platform/file_mapping.h"

namespace helvar {
namespace {

constexpr std::string_view kForwardMark = "PM2000";
constexpr size_t kForwardHeadLength = 6;
constexpr size_t kMaxBarcodeLength = 128;
constexpr size_t kGs1Length = 26;
constexpr size_t kGs1ItemOffset = 3;
constexpr size_t kGs1ItemLength = 13;
constexpr size_t kLastKoreanPrefixStart = 3;
constexpr std::string_view kKoreanPrefix = "880";

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A NUL-terminated text of at most `room` bytes at `at`.
std::string TextAt(const unsigned char* at, size_t room) {
  const char* text = reinterpret_cast<const char*>(at);
  return std::string(text, strnlen(text, room));
}

Request ReadMemoryMap() {
  Request request;
  std::unique_ptr<platform::FileMapping> map =
      platform::FileMapping::OpenExisting(kMemoryMapName, kMemoryMapSize);
  if (!map) {
    WriteLog("Helvar", "MemoryMapFile FAIL");
    return request;
  }
  const unsigned char* block = map->data();
  int32_t code = 0;
  std::memcpy(&code, block, sizeof code);
  std::atomic_thread_fence(std::memory_order_acquire);
  request.code = code;
  request.data = TextAt(block + kMemoryMapDataOffset, kMemoryMapDataRoom);
  request.aux2 = TextAt(block + kMemoryMapAuxOffset, kMemoryMapSize - kMemoryMapAuxOffset);
  return request;
}

}  // namespace

std::string NormaliseForwardedBarcode(std::string_view data) {
  const std::string_view rest = data.substr(std::min(kForwardHeadLength, data.size()));
  const std::string_view barcode = rest.substr(0, rest.find('\r'));
  if (barcode.empty() || barcode.size() > kMaxBarcodeLength) return std::string(rest);
  const std::string_view head = barcode.substr(0, std::min(kGs1Length, barcode.size()));
  if (!std::all_of(head.begin(), head.end(), IsDigit)) return std::string(rest);
  if (barcode.size() >= kGs1Length) {
    return std::string(barcode.substr(kGs1ItemOffset, kGs1ItemLength));
  }
  for (size_t start = 0; start <= kLastKoreanPrefixStart && start < barcode.size(); ++start) {
    if (barcode.substr(start).starts_with(kKoreanPrefix)) {
      return std::string(barcode.substr(start));
    }
  }
  return std::string(barcode);
}

Request TakeCopyData(uint64_t dw_data, std::string_view bytes) {
  if (dw_data == 0) return ReadMemoryMap();
  Request request;
  request.code = static_cast<int32_t>(static_cast<uint32_t>(dw_data));
  request.data.assign(bytes);
  if (request.data.find(kForwardMark) != std::string::npos) {
    request.data = NormaliseForwardedBarcode(request.data);
    request.code = kBarcodeLookupCode;
  }
  return request;
}

}  // namespace helvar
