// CManagerMainThread: the module's main thread. Its start sequence loads the VAN module, creates
// the relay slot, starts the local listeners and, per terminal, opens the serial port and starts
// the terminal loop (or, for a terminal 0 without a serial port, the TCP terminal); it then idles
// until the host closes the module, and its exit routine takes everything down again.
//
// Worker slots: 0-2 the terminal ports, 3 the POS request listener, 4 the first and 5 the second
// acknowledgement listener, 6 the TCP terminal listener, 7 the remote relay peer loop.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "companions/connmap/ordella_connmap.h"
#include "platform/process.h"

namespace hub {

class TerminalPort;
struct RelaySlot;

// Worker threads that are started with the main thread and ended at its exit (listeners, the
// remote relay peer loop).
class Worker {
 public:
  virtual ~Worker() = default;
  // Ends the worker (closing its sockets where it has any) and waits for its thread.
  virtual void Stop() = 0;
};

// The TCP terminal: its listener and the remote relay peer loop that starts with it.
struct TcpTerminalWorkers {
  std::unique_ptr<Worker> listener;
  std::unique_ptr<Worker> peer_loop;  // may be null
  // Writes to the connected TCP terminal (the host's requests); the count written, 0 when none
  // is connected. Valid while `listener` lives.
  std::function<int(std::string_view bytes)> write;
};

// Start hooks of the local listeners, each given the port number of its property text.
// nullptr (or no listener) means that it did not start.
using ListenerStarter = std::function<std::unique_ptr<Worker>(int port)>;
using TcpTerminalStarter = std::function<std::optional<TcpTerminalWorkers>(int port)>;

// The hooks that start the local listeners (local_listener.h) and the TCP terminal with its remote
// relay peer loop (tcp_terminal.h); nullptr (nullopt) when the port cannot be taken.
std::unique_ptr<Worker> StartPosRequestListener(int port);
std::unique_ptr<Worker> StartFirstAckListener(int port);
std::unique_ptr<Worker> StartSecondAckListener(int port);
std::optional<TcpTerminalWorkers> StartTcpTerminal(int port);

// The module's timed replay of the kept frames (KeptFrameReplay on the system clock).
void ReplayKeptFramesWhenDue();

// The report of the payments the last run left open (the payments side's journal: host
// notifications and diagnostic records), run by the start sequence before any listener takes a
// request. Installed by the module when the library loads (hub/module/); none installed: nothing
// is reported.
using OpenPaymentsReport = void (*)();
void InstallOpenPaymentsReport(OpenPaymentsReport report);
// Runs the installed report.
void ReportOpenPayments();

// What the start sequence uses; tests replace parts of it.
struct MainThreadOptions {
  ListenerStarter pos_request_listener = StartPosRequestListener;
  ListenerStarter first_ack_listener = StartFirstAckListener;
  ListenerStarter second_ack_listener = StartSecondAckListener;
  TcpTerminalStarter tcp_terminal = StartTcpTerminal;
  int terminal_pause_ms = 1500;  // between the start of one terminal and the next
  // The VAN module's library, by its DLL name.
  std::string van_library = "Ordella_TavenorVanDll.DLL";
  // Looked at once a second while the module runs: the timed replay of the frames kept in
  // RETALO_812, which itself goes at most once a minute. The main thread serves nothing else, so
  // a gateway server that stays silent holds no terminal's loop. None: no timed replay.
  std::function<void()> replay_kept = ReplayKeptFramesWhenDue;
  // Run once when the relay slot is made, before the listeners start. None: no report.
  std::function<void()> report_open_payments = ReportOpenPayments;
};

// The serial port name of a port number: "COM3" below 10, "\\.\COM12" from 10 on.
std::string SerialPortName(int port_number);

// The port number a listener's property text holds; nullopt for "0000" (off).
// A text that is not a port number (1-65535) gives 0, which no listener can take.
std::optional<int> ListenerPort(std::string_view text);

class CManagerMainThread {
 public:
  static constexpr int kTerminalSlots = 3;
  static constexpr int kBaudRate = 115200;
  static constexpr std::string_view kSignPadLibrary = "KiccPad.DLL";

  explicit CManagerMainThread(MainThreadOptions options = {});
  // REQUIRES: the thread has ended (or was never started).
  ~CManagerMainThread();
  CManagerMainThread(const CManagerMainThread&) = delete;
  CManagerMainThread& operator=(const CManagerMainThread&) = delete;

  // Starts the thread: InitInstance, then Run until PostQuit, then ExitInstance.
  bool CreateThread();

  // The start sequence; sets the running flag. Always returns true: what fails to start is
  // reported to the host and the rest runs without it.
  bool InitInstance();
  // The message loop: returns once PostQuit was called.
  int Run();
  // The exit routine: ends the loops, closes ports and listeners, frees the relay slot, unloads
  // the libraries and clears the module's main thread. Runs once; a second call (from the host
  // thread while the main thread is stuck, or the other way round) does nothing and returns
  // false.
  bool ExitInstance();
  // True once some thread has begun ExitInstance.
  bool ExitBegun() const { return exit_begun_.load(std::memory_order_acquire); }

  // WM_QUIT: ends Run, and stops a start sequence that is still running at its next step.
  void PostQuit();

  // Waits up to timeout_ms for the thread to end and joins it; true when it has ended.
  bool Join(int timeout_ms);
  // Waits up to timeout_ms (negative: without limit) for the thread to end, without joining
  // it; true when it has ended, false at once when it was never started.
  bool WaitForEnd(int timeout_ms);
  // Gives up on a thread that does not end: it keeps running without an owner.
  void Abandon();

  // Writes a frame to terminal `terminal`'s serial port, or to the TCP terminal's connection
  // (writes never interleave with the terminal loop's). Returns the bytes written; 0 with a
  // diagnostic record when the terminal has no open port or no TCP terminal is connected.
  int WriteToTerminal(int terminal, std::string_view bytes);

 private:
  void LoadVanModule();
  void CreateRelaySlot();
  void StartListener(int slot, connmap::TextField port_text, uint32_t failure_event,
                     const ListenerStarter& start);
  void StartTerminal(int terminal);
  void StartTcpTerminalLink(int terminal);
  void StartSerialTerminal(int terminal, int port_number);
  bool QuitRequested() const { return quit_.load(std::memory_order_acquire); }
  // Pauses between terminals; false when the quit arrives first.
  bool Pause(int ms);
  void StopTerminals();
  void StopWorkers();
  void FreeRelaySlot();

  const MainThreadOptions options_;
  std::thread thread_;
  std::mutex thread_mutex_;
  std::condition_variable thread_ended_;
  bool thread_done_ = false;  // GUARDED_BY(thread_mutex_)

  std::atomic<bool> quit_{false};
  std::atomic<bool> exit_begun_{false};
  std::mutex quit_mutex_;
  std::condition_variable quit_signal_;

  std::unique_ptr<platform::Library> van_library_;
  std::unique_ptr<RelaySlot> relay_slot_;

  // The workers, guarded so that the host thread's writes never meet the exit routine.
  std::mutex slots_mutex_;
  std::array<std::unique_ptr<TerminalPort>, kTerminalSlots> terminals_;  // slots 0-2
  std::array<std::unique_ptr<Worker>, 4> listeners_;                     // slots 3-6
  std::unique_ptr<Worker> peer_loop_;                                    // slot 7
  std::function<int(std::string_view)> tcp_terminal_write_;              // with slot 6
  bool closing_ = false;  // GUARDED_BY(slots_mutex_): the exit routine has taken the slots
};

}  // namespace hub
