// The hub's side of Helvar, the tray service program that does the pharmacy-database work:
// requests go to Helvar's window as copy-data messages (Helvar is started when its window is
// missing), and replies come back through the shared block "sharedutilmap", each tagged with a
// status that routes it to one terminal loop. The request codes, the block's layout and its
// writer are what the hub and Helvar agree on (protocol/).
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
#include "protocol/helvar_request.h"
#include "protocol/shared_block.h"

namespace hub {

// The program that owns Helvar's window.
inline constexpr std::string_view kHelvarProgram = "helvar.exe";
// The spelling used for requests the host asks for (OrdellaMassage code 2).
inline constexpr std::string_view kHelvarProgramForHost = "Helvar.exe";

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

// The buffer a terminal loop takes replies into; a longer reply cannot be forwarded.
inline constexpr int kTerminalReplyBuffer = 40000;

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
  bool Write(std::string_view bytes, const protocol::SharedBlockWait& wait = {});
  // A reply tagged with `status` (Helvar's writer); status must be above 100.
  bool WriteReply(int32_t status, std::string_view bytes,
                  const protocol::SharedBlockWait& wait = {});

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
  // Sleeps while the status still reads `seen`, until a writer (of any process) stores a status
  // or `timeout_ms` passes (negative: no limit); may return early. Safe beside the view's user.
  void WaitWhileStatus(int32_t seen, int timeout_ms) const;
  // Ends the waits on the status word, in every process; a waiter that finds the status
  // unchanged waits again.
  void WakeStatusWaiters() const;
  const unsigned char* bytes() const { return mapping_->data(); }

 private:
  SharedBlock(std::unique_ptr<platform::FileMapping> mapping, LogTarget log)
      : mapping_(std::move(mapping)), log_(std::move(log)) {}

  void Clear();

  std::unique_ptr<platform::FileMapping> mapping_;
  LogTarget log_;
};

}  // namespace hub
