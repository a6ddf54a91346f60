// The hub's side of Helvar, the tray service program that does the pharmacy-database work:
// requests go to Helvar's window as copy-data messages (Helvar is started when its window is
// missing), and replies come back through the shared block "sharedutilmap", each tagged with a
// status that routes it to one terminal loop.
//
// Shared block (1,000,024 bytes):
//   offset 0    status, 32-bit: 0 empty; 200 data for the TCP terminal written by the hub;
//               a request code: Helvar's reply to that request
//   offset 4    data length as decimal text, NUL-terminated (20 bytes)
//   offset 24   data bytes (1,000,000 bytes, no terminator)
//
// The status word is the only hand-over: every writer stores it last, the reader clears the
// block and stores 0 last. A status above 100 means the block is taken, so writers wait for it.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "hub/core/frame_log.h"
#include "platform/clock.h"
#include "platform/file_mapping.h"

namespace hub {

// Helvar's window title, and the program that owns it.
inline constexpr std::string_view kHelvarWindowTitle = "Helvar";
inline constexpr std::string_view kHelvarProgram = "helvar.exe";
// The spelling used for requests the host asks for (OrdellaMassage code 2).
inline constexpr std::string_view kHelvarProgramForHost = "Helvar.exe";

// Helvar request bases; the code sent is the base plus the terminal index unless noted.
enum HelvarRequest : int32_t {
  kHelvarCustomerList = 200,
  kHelvarCustomerListSecond = 250,
  kHelvarPrescriptions = 300,
  kHelvarGuidancePrint = 310,
  kHelvarSellerList = 400,
  kHelvarCardData = 410,
  kHelvarBuildBarcodeDb = 700,
  kHelvarBarcodeLookup = 705,
  kHelvarTypeText = 710,
  kHelvarBarcodeRead = 715,
  kHelvarSale = 800,
  kHelvarCancel = 850,
  kHelvarCancelWithMessage = 860,
  kHelvarClearDisplay = 950,      // no terminal index
  kHelvarDisplayCustomers = 951,  // no terminal index
};

// How the bridge waits for Helvar's window after starting the program. The defaults are the
// system's: three looks, one second apart.
struct HelvarLaunch {
  // Starts the program given by its Windows path or name; true when it was started.
  std::function<bool(std::string_view program)> start_program;
  platform::Clock* clock = nullptr;  // the system clock when null
  int looks = 3;
  int wait_ms = 1000;
};
HelvarLaunch DefaultHelvarLaunch();

// The longest launch path the hub builds ("<install dir>\helvar.exe" and its terminator fit
// in 1,024 bytes); with a longer install directory Helvar is looked for by name only.
inline constexpr size_t kMaxLaunchPath = 1024;

// Sends request `code` with `payload` to Helvar's window (copy-data: wParam and dwData are the
// code). When the window is missing, Helvar is started as "<install dir>\<program>" (install
// directory from the property map), falling back to the program found by name (the program
// folders and the search path), and the window is looked for again as `launch` says.
// Returns 1 when Helvar took the request; 0 when it was dropped (window still missing, payload
// too large, Helvar gone while sending), with a diagnostic record.
int SendHelvarRequest(int32_t code, std::string_view payload,
                      std::string_view program = kHelvarProgram,
                      const HelvarLaunch& launch = DefaultHelvarLaunch());
// The form the dispatcher calls: `length` bytes at `payload` (null/0 without payload).
int SendHelvarRequest(int32_t code, const void* payload, int length);

// The shared block's layout.
inline constexpr std::string_view kSharedBlockName = "sharedutilmap";
inline constexpr size_t kSharedStatusOffset = 0;
inline constexpr size_t kSharedLengthOffset = 4;
inline constexpr size_t kSharedLengthRoom = 20;
inline constexpr size_t kSharedDataOffset = kSharedLengthOffset + kSharedLengthRoom;  // 24
inline constexpr size_t kSharedDataRoom = 1000000;
inline constexpr size_t kSharedBlockSize = kSharedDataOffset + kSharedDataRoom;  // 1,000,024

// Status values.
inline constexpr int32_t kSharedEmpty = 0;
inline constexpr int32_t kSharedTakenAbove = 100;  // above: a reply waits (or is being moved)
inline constexpr int32_t kSharedWriting = 101;     // a hub writer is filling the block
inline constexpr int32_t kSharedReading = 102;     // a terminal loop is taking the block
inline constexpr int32_t kSharedHubData = 200;     // the hub's data for the TCP terminal

// The buffer a terminal loop takes replies into; a longer reply cannot be forwarded.
inline constexpr int kTerminalReplyBuffer = 40000;

// How a writer waits for the previous content to be taken: `waits` naps of `wait_ms`, then it
// overwrites. The defaults are the system's 100 x 100 ms.
struct SharedBlockWait {
  int waits = 100;
  int wait_ms = 100;
  platform::Clock* clock = nullptr;  // the system clock when null
};

// The status word at offset 0, shared between processes. The mapping starts on a page boundary,
// so the word is aligned.
inline std::atomic_ref<int32_t> SharedStatusWord(unsigned char* block) {
  static_assert(std::atomic_ref<int32_t>::required_alignment <= alignof(int32_t));
  return std::atomic_ref<int32_t>(*reinterpret_cast<int32_t*>(block + kSharedStatusOffset));
}

// The one writer of the block, used by the hub and by Helvar: claims the block once the previous
// content is taken (a status of 100 or less moves to 101), or overwrites it after the waits
// (`overwritten` is told the status that was not taken), writes the length text and the bytes,
// and stores `status` last. REQUIRES: bytes.size() <= kSharedDataRoom.
void FillSharedBlock(unsigned char* block, int32_t status, std::string_view bytes,
                     const SharedBlockWait& wait,
                     const std::function<void(int32_t not_taken)>& overwritten);

// One holder's view of the shared block. Each terminal context keeps its own for the life of
// its loop; Helvar opens one per reply. Safe to use from one thread at a time; several views
// (in one process or several) may work on the block at once.
class SharedBlock {
 public:
  // Creates the block or opens it when it exists. On failure writes the record "MemoryMapOpen"
  // ("OpenFileMapping false" or "MapViewOfFile false") to `log` and returns nullptr: that loop
  // then runs without Helvar replies.
  static std::unique_ptr<SharedBlock> Open(const LogTarget& log);
  // Opens the block only when someone holds it (Helvar's reply writer); nullptr otherwise.
  static std::unique_ptr<SharedBlock> OpenExisting(const LogTarget& log);

  // The hub's writer: `bytes` with status 200, for the TCP terminal. False (logged) when the
  // bytes exceed the block's 1,000,000 data bytes; nothing is written then.
  bool Write(std::string_view bytes, const SharedBlockWait& wait = {});
  // A reply tagged with `status` (Helvar's writer); status must be above 100.
  bool WriteReply(int32_t status, std::string_view bytes, const SharedBlockWait& wait = {});

  // Takes what waits for terminal `terminal` (0-2): a status of the terminal index plus 200,
  // 250, 300, 310, 400, 700, 705, 710 or 860. Copies the data to `destination`, clears the
  // block (status 0, length text empty) and returns the byte count; 0 when nothing is there for
  // this terminal (other statuses are left alone). A reply longer than `capacity`, or whose
  // length text is not a number within the block, cannot be forwarded: it is dropped (the block
  // is cleared so that later replies are not held up) and a record "MemoryMapRead" is written.
  int Read(int terminal, unsigned char* destination, int capacity);

  // True when `status` is routed to terminal `terminal`.
  static bool RoutedTo(int32_t status, int terminal);

  int32_t status() const;
  const unsigned char* bytes() const { return mapping_->data(); }

 private:
  SharedBlock(std::unique_ptr<platform::FileMapping> mapping, LogTarget log)
      : mapping_(std::move(mapping)), log_(std::move(log)) {}

  void Clear();

  std::unique_ptr<platform::FileMapping> mapping_;
  LogTarget log_;
};

}  // namespace hub
