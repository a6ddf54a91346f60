// Serial ports by their Windows names ("COM3", "\\.\COM12"): what CreateFile on a COM port,
// SetCommState, SetCommTimeouts, WaitCommEvent, ReadFile and WriteFile give the system on
// Windows. The name is mapped through the prefix (<prefix>/dosdevices/comN, else /dev/ttyS<N-1>).
//
// An open port is:
//   - exclusive: TIOCEXCL and an flock on the device, so a second open of the same device fails;
//   - raw and binary: 8 data bits, no parity, one stop bit, no XON/XOFF flow control, no line
//     editing, no character translation, modem lines ignored (CLOCAL), receiver on;
//   - read without waiting: a read returns at once with what the driver holds (VMIN 0, VTIME 0);
//   - purged: both driver queues are flushed when it opens.
//
// A port may be used from several threads: one waiter/reader, and writers that the caller
// serialises (writes from two threads at once may interleave their bytes).
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "platform/status.h"

namespace platform {

class SerialPort {
 public:
  // What a wait for the next port event saw.
  enum class Event {
    kReadable,     // bytes are waiting in the receive queue
    kInterrupted,  // Interrupt was called
    kTimeout,      // nothing happened within the time-out
    kLost,         // the device hung up or reports an error (cable gone, peer closed)
  };

  virtual ~SerialPort() = default;  // closes the device

  // Waits for bytes, a hang-up or error, or Interrupt; timeout_ms < 0 waits without limit.
  // Bytes the driver still holds at a hang-up are reported first (kReadable).
  virtual Event WaitEvent(int timeout_ms) = 0;

  // Wakes the current WaitEvent (or the next one, when none is waiting) with kInterrupted.
  // Safe from any thread.
  virtual void Interrupt() = 0;

  // Reads at most `size` bytes of what is waiting, without blocking. Returns the count (0 when
  // nothing is waiting), or -1 when the device failed (the port is lost).
  virtual long Read(unsigned char* buffer, size_t size) = 0;

  // Writes all `length` bytes, waiting while the driver's transmit queue is full, at most
  // timeout_ms in all. Returns `length`, or -1 on an error or when the time-out passed (some
  // bytes may then have gone out).
  virtual long Write(const unsigned char* bytes, size_t length, int timeout_ms) = 0;

  // Discards what waits in the driver's queues (PurgeComm): received bytes not yet read, bytes
  // not yet sent, or both.
  enum class Queue { kReceive, kTransmit, kBoth };
  virtual void Purge(Queue queue) = 0;

  // The device the name was mapped to.
  virtual std::string device() const = 0;

  // Opens the named port at `baud` with the settings above. nullptr when the name maps to no
  // device, the device cannot be opened, is held by another opener, is not a terminal, the baud
  // rate is not one the driver offers, or the settings cannot be applied; *error says why.
  static std::unique_ptr<SerialPort> Open(std::string_view port_name, int baud,
                                          Status* error = nullptr);

  // The far end of a serial line, for the simulators of the devices on it and for tests: a
  // pseudo-terminal, set raw, whose other end the prefix names COM<com_number>
  // (<prefix>/dosdevices/com<n>, replacing what was there), so that Open("COM<n>") reaches it.
  // The line stays up while nobody holds the port, so the peer can write before the port is
  // opened and after it is closed. device() is the device the name points at. Destroying the
  // peer hangs the line up (the holder of the port sees kLost) and removes the name.
  // nullptr when no pseudo-terminal can be made or the name cannot be set; *error says why.
  static std::unique_ptr<SerialPort> OpenPeer(int com_number, Status* error = nullptr);
};

}  // namespace platform
