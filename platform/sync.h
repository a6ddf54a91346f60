// Named kernel objects shared between processes: a manual-reset event and mutexes.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

namespace platform {

// A named manual-reset event (CreateEvent with bManualReset = TRUE). Lives under
// <prefix>/run/events; every process that opens the name sees the same state.
// Like the kernel object, the event lives while some object in some process holds it: once the
// last holder is gone, OpenExisting fails and the next CreateOrOpen starts it not set, so a
// signal given in an earlier run (say, a shutdown signal nobody was waiting for) is not seen by
// the next one. Objects may be used from several threads at once.
class NamedEvent {
 public:
  virtual ~NamedEvent() = default;
  virtual void Set() = 0;  // wakes every waiter in every process; stays set until Reset
  virtual void Reset() = 0;
  virtual bool IsSet() const = 0;
  // Waits until the event is set or timeout_ms passes (a negative timeout waits forever).
  // True when the event is set.
  virtual bool Wait(int timeout_ms) = 0;
  // Wait, that also ends early once the word `stop` of this process no longer reads 0: whoever
  // changes it wakes its waiters (WakeByAddressAll). True when the event is set.
  virtual bool WaitUnlessStopped(int timeout_ms, const uint32_t* stop) = 0;

  // Creates the event (initially not set) or opens it when it exists. nullptr on failure.
  static std::unique_ptr<NamedEvent> CreateOrOpen(std::string_view name);
  // Opens an existing event; nullptr when nobody holds an event of that name.
  static std::unique_ptr<NamedEvent> OpenExisting(std::string_view name);
};

// A named mutex across processes (a flock on <prefix>/run/mutexes/<name>). Also excludes
// other holders inside the same process, including other objects of the same name. As on
// Windows, ownership belongs to a thread and is recursive: the owning thread may lock again and
// must unlock as often; Unlock from a thread that does not own it does nothing. A holder that
// ends or crashes releases the mutex.
class NamedMutex {
 public:
  virtual ~NamedMutex() = default;  // releases the mutex when held by the destroying thread
  // Waits up to timeout_ms (negative: forever) for ownership. True when owned.
  virtual bool Lock(int timeout_ms) = 0;
  virtual void Unlock() = 0;

  // Opens (creating when needed) the named mutex, not owned. nullptr on failure.
  static std::unique_ptr<NamedMutex> Open(std::string_view name);
};

// The single-instance claim of a program (CreateMutex + ERROR_ALREADY_EXISTS): holds the
// named mutex for the life of the returned object; nullptr when another holder has it.
std::unique_ptr<NamedMutex> ClaimSingleInstance(std::string_view name);

}  // namespace platform
