// What Helvar's tests share: the hub's side of the shared block (created and read as the
// hub's terminal loops do), registry settings, and CP949 texts written in this source as UTF-8.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "platform/file_mapping.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "protocol/shared_block.h"

namespace helvar::testing {

inline std::string Cp(std::string_view utf8) { return platform::Utf8ToCp949(utf8).value(); }

// The block "sharedutilmap" held for the test's life, as the hub holds it.
class HubBlock {
 public:
  HubBlock()
      : mapping_(platform::FileMapping::CreateOrOpen(protocol::kSharedBlockName,
                                                     protocol::kSharedBlockSize)) {}
  bool ok() const { return mapping_ != nullptr; }

  int32_t status() const {
    return std::atomic_ref<int32_t>(*reinterpret_cast<int32_t*>(mapping_->data()))
        .load(std::memory_order_acquire);
  }
  void set_status(int32_t status) {
    std::atomic_ref<int32_t>(*reinterpret_cast<int32_t*>(mapping_->data()))
        .store(status, std::memory_order_release);
  }
  std::string length_text() const {
    const char* text =
        reinterpret_cast<const char*>(mapping_->data() + protocol::kSharedLengthOffset);
    return std::string(text, strnlen(text, protocol::kSharedLengthRoom));
  }
  // The reply bytes as the length text gives them.
  std::string data() const {
    const size_t length = std::stoul(length_text().empty() ? "0" : length_text());
    return std::string(
        reinterpret_cast<const char*>(mapping_->data() + protocol::kSharedDataOffset), length);
  }

 private:
  std::unique_ptr<platform::FileMapping> mapping_;
};

inline void SetRegInt(std::string_view name, uint32_t value) {
  ASSERT_EQ(platform::RegSetDword("Software\\Tavenor", name, value), platform::RegStatus::kOk);
}
inline void SetRegText(std::string_view key, std::string_view name, std::string_view value) {
  ASSERT_EQ(platform::RegSetString(key, name, value), platform::RegStatus::kOk);
}

}  // namespace helvar::testing
