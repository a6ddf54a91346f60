#include "hub/core/helvar_bridge.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <charconv>
#include <cstring>
#include <optional>

#include "companions/connmap/ordella_connmap.h"
#include "hub/core/module_state.h"
#include "platform/address_wait.h"
#include "platform/process.h"
#include "platform/system_info.h"
#include "platform/window.h"

namespace hub {

using namespace protocol;

namespace {

constexpr const char* kBridgeLogTag = "HelvarRequest";
constexpr const char* kOpenLogTag = "MemoryMapOpen";
constexpr const char* kReadLogTag = "MemoryMapRead";
constexpr const char* kWriteLogTag = "MemoryMapWrite";
constexpr int kOpenLogFlag = 1;

// The base codes whose replies (base + terminal index) a terminal loop takes.
constexpr std::array<int32_t, 9> kRoutedBases = {
    kHelvarCustomerList,  kHelvarCustomerListSecond, kHelvarPrescriptions,
    kHelvarGuidancePrint, kHelvarSellerList,         kHelvarBuildBarcodeDb,
    kHelvarBarcodeLookup, kHelvarTypeText,           kHelvarCancelWithMessage};

// The program started for Helvar: "<install dir>\<program>" when the install directory is known
// and the path fits the launch buffer.
std::optional<std::string> InstallPath(std::string_view program) {
  const char* record = PropertyRecord();
  if (record == nullptr) return std::nullopt;
  std::string path = connmap::ReadText(record, connmap::kInstallDir);
  if (path.empty()) return std::nullopt;
  path.push_back('\\');
  path.append(program);
  if (path.size() >= kMaxLaunchPath) {
    WriteModuleLog(kBridgeLogTag,
                   "install directory too long for the launch path: "
                   "Helvar is looked for by name");
    return std::nullopt;
  }
  return path;
}

bool StartHelvar(std::string_view program, const HelvarLaunch& launch) {
  if (std::optional<std::string> path = InstallPath(program)) {
    if (launch.start_program(*path)) return true;
  }
  return launch.start_program(program);
}

std::optional<platform::WindowHandle> FindOrStartHelvar(std::string_view program,
                                                        const HelvarLaunch& launch) {
  if (auto window = platform::FindWindowByTitle(kHelvarWindowTitle)) return window;
  if (!StartHelvar(program, launch)) {
    WriteModuleLog(kBridgeLogTag, "Helvar could not be started: " + std::string(program));
  }
  for (int look = 0; look < launch.looks; ++look) {
    (launch.clock != nullptr ? *launch.clock : platform::SystemClock())
        .Sleep(static_cast<uint32_t>(std::max(launch.wait_ms, 0)));
    if (auto window = platform::FindWindowByTitle(kHelvarWindowTitle)) return window;
  }
  return std::nullopt;
}

// The length text at offset 4, up to its terminator (all 20 bytes when it has none).
std::string_view LengthText(const unsigned char* block) {
  const char* text = reinterpret_cast<const char*>(block + kSharedLengthOffset);
  return std::string_view(text, strnlen(text, kSharedLengthRoom));
}

// The byte count the length text gives; nullopt when it is not a terminated decimal number
// within the block.
std::optional<size_t> DataLength(const unsigned char* block) {
  const std::string_view text = LengthText(block);
  if (text.empty() || text.size() == kSharedLengthRoom) return std::nullopt;
  size_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value > kSharedDataRoom) {
    return std::nullopt;
  }
  return value;
}

}  // namespace

HelvarLaunch DefaultHelvarLaunch() {
  HelvarLaunch launch;
  launch.start_program = [](std::string_view program) { return platform::StartProgram(program); };
  return launch;
}

int SendHelvarRequest(int32_t code, std::string_view payload, std::string_view program,
                      const HelvarLaunch& launch) {
  if (payload.size() > platform::kMaxCopyDataBytes) {
    WriteModuleLog(kBridgeLogTag, "request " + std::to_string(code) + " dropped: payload of " +
                                      std::to_string(payload.size()) + " bytes is too large");
    return 0;
  }
  std::optional<platform::WindowHandle> window = FindOrStartHelvar(program, launch);
  if (!window) {
    WriteModuleLog(kBridgeLogTag,
                   "request " + std::to_string(code) + " dropped: no window \"Helvar\"");
    return 0;
  }
  const auto code_value = static_cast<uint64_t>(static_cast<uint32_t>(code));
  if (!platform::SendCopyData(*window, code_value, code_value, payload, nullptr)) {
    WriteModuleLog(kBridgeLogTag,
                   "request " + std::to_string(code) + " dropped: Helvar did not take it");
    return 0;
  }
  return 1;
}

int SendHelvarRequest(int32_t code, const void* payload, int length) {
  if (length < 0 || (payload == nullptr && length != 0)) {
    WriteModuleLog(kBridgeLogTag, "request " + std::to_string(code) + " dropped: bad payload");
    return 0;
  }
  const std::string_view bytes =
      payload == nullptr
          ? std::string_view()
          : std::string_view(static_cast<const char*>(payload), static_cast<size_t>(length));
  return SendHelvarRequest(code, bytes);
}

std::unique_ptr<SharedBlock> SharedBlock::Open(const LogTarget& log) {
  auto mapping = platform::FileMapping::CreateOrOpen(kSharedBlockName, kSharedBlockSize);
  if (!mapping) {
    WriteFrameLog(LogTarget{log.directory, kOpenLogFlag}, kOpenLogTag, "OpenFileMapping false");
    return nullptr;
  }
  if (mapping->size() < kSharedBlockSize) {
    WriteFrameLog(LogTarget{log.directory, kOpenLogFlag}, kOpenLogTag, "MapViewOfFile false");
    return nullptr;
  }
  return std::unique_ptr<SharedBlock>(new SharedBlock(std::move(mapping), log));
}

std::unique_ptr<SharedBlock> SharedBlock::OpenExisting(const LogTarget& log) {
  auto mapping = platform::FileMapping::OpenExisting(kSharedBlockName, kSharedBlockSize);
  if (!mapping) return nullptr;
  return std::unique_ptr<SharedBlock>(new SharedBlock(std::move(mapping), log));
}

bool SharedBlock::RoutedTo(int32_t status, int terminal) {
  return std::any_of(kRoutedBases.begin(), kRoutedBases.end(),
                     [&](int32_t base) { return status == base + terminal; });
}

int32_t SharedBlock::status() const {
  return SharedStatusWord(mapping_->data()).load(std::memory_order_acquire);
}

void SharedBlock::WaitWhileStatus(int32_t seen, int timeout_ms) const {
  platform::WaitOnAddress(StatusAddress(mapping_->data()), static_cast<uint32_t>(seen), timeout_ms);
}

void SharedBlock::WakeStatusWaiters() const {
  platform::WakeByAddressAll(StatusAddress(mapping_->data()));
}

bool SharedBlock::Write(std::string_view bytes, const SharedBlockWait& wait) {
  return WriteReply(kSharedHubData, bytes, wait);
}

bool SharedBlock::WriteReply(int32_t status, std::string_view bytes, const SharedBlockWait& wait) {
  if (status <= kSharedTakenAbove || bytes.size() > kSharedDataRoom) {
    WriteFrameLog(log_, kWriteLogTag,
                  "refused: " + std::to_string(bytes.size()) + " bytes with status " +
                      std::to_string(status) + " do not fit the block");
    return false;
  }
  FillSharedBlock(mapping_->data(), status, bytes, wait, [this](int32_t not_taken) {
    WriteFrameLog(log_, kWriteLogTag,
                  "status " + std::to_string(not_taken) + " not taken in time: overwritten");
  });
  return true;
}

int SharedBlock::Read(int terminal, unsigned char* destination, int capacity) {
  unsigned char* block = mapping_->data();
  std::atomic_ref<int32_t> word = SharedStatusWord(block);
  int32_t seen = word.load(std::memory_order_acquire);
  if (!RoutedTo(seen, terminal)) return 0;
  // Only one reader takes a reply, even when two loops read for the same terminal index.
  if (!word.compare_exchange_strong(seen, kSharedReading, std::memory_order_acq_rel)) return 0;
  // A reply the loop cannot forward whole is dropped rather than left: no other loop takes its
  // status, so it would only hold up the next reply for the writer's ten seconds.
  const std::optional<size_t> length = DataLength(block);
  if (!length || destination == nullptr || *length > static_cast<size_t>(std::max(capacity, 0))) {
    WriteFrameLog(log_, kReadLogTag,
                  "reply with status " + std::to_string(seen) + " dropped: length \"" +
                      std::string(LengthText(block)) + "\" does not fit " +
                      std::to_string(capacity) + " bytes");
    Clear();
    return 0;
  }
  if (*length > 0) std::memcpy(destination, block + kSharedDataOffset, *length);
  Clear();
  return static_cast<int>(*length);
}

void SharedBlock::Clear() {
  unsigned char* block = mapping_->data();
  std::memset(block + kSharedLengthOffset, 0, kSharedBlockSize - kSharedLengthOffset);
  SharedStatusWord(block).store(kSharedEmpty, std::memory_order_release);
  WakeStatusWaiters();  // a writer waiting for the block to be taken
}

}  // namespace hub
