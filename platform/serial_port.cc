#include "platform/serial_port.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <utility>

#include "platform/named_object.h"
#include "platform/prefix.h"
#include "platform/status.h"
#include "platform/wake_event.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

// Sets *status to `what` failing with errno (when status is not null).
void ReportErrno(Status* status, std::string_view what) {
  if (status == nullptr) return;
  const int saved = errno;
  *status = Status::FromErrno(what, saved);
}

void Report(Status* status, StatusCode code, std::string message) {
  if (status != nullptr) *status = Status(code, std::move(message));
}

std::optional<speed_t> BaudConstant(int baud) {
  switch (baud) {
    case 1200:
      return B1200;
    case 2400:
      return B2400;
    case 4800:
      return B4800;
    case 9600:
      return B9600;
    case 19200:
      return B19200;
    case 38400:
      return B38400;
    case 57600:
      return B57600;
    case 115200:
      return B115200;
    case 230400:
      return B230400;
    default:
      return std::nullopt;
  }
}

// The device's current settings with what the system needs changed; the rest stays as the
// device has it (hardware flow control among them).
void ApplyLinkSettings(termios* settings, speed_t speed) {
  settings->c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR |
                                              ICRNL | IXON | IXOFF | IXANY | INPCK);
  settings->c_oflag &= ~static_cast<tcflag_t>(OPOST);
  settings->c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  settings->c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB);
  settings->c_cflag |= CS8 | CREAD | CLOCAL;
  settings->c_cc[VMIN] = 0;
  settings->c_cc[VTIME] = 0;
  settings->c_cc[VSTART] = 0x11;
  settings->c_cc[VSTOP] = 0x13;
  cfsetispeed(settings, speed);
  cfsetospeed(settings, speed);
}

// Both ends of a line: the port a program opens by name, and the master of a pseudo-terminal
// (the peer), which also keeps the line's other end open and owns the name pointing at it.
class PosixSerialPort final : public SerialPort {
 public:
  PosixSerialPort(UniqueFd device, WakeEvent wake, std::string path)
      : device_(std::move(device)), wake_(std::move(wake)), path_(std::move(path)) {}
  PosixSerialPort(UniqueFd master, WakeEvent wake, std::string slave_path, UniqueFd slave,
                  fs::path link)
      : device_(std::move(master)),
        wake_(std::move(wake)),
        path_(std::move(slave_path)),
        held_end_(std::move(slave)),
        link_(std::move(link)) {}

  ~PosixSerialPort() override {
    if (link_.empty()) return;
    // The line hangs up once both descriptors of this end are closed.
    device_.reset();
    held_end_.reset();
    std::error_code ignored;
    if (fs::is_symlink(fs::symlink_status(link_, ignored)) &&
        fs::read_symlink(link_, ignored) == fs::path(path_)) {
      fs::remove(link_, ignored);
    }
  }

  Event WaitEvent(int timeout_ms) override {
    pollfd watched[2] = {{device_.get(), POLLIN, 0}, {wake_.fd(), POLLIN, 0}};
    int ready = 0;
    do {
      ready = poll(watched, 2, timeout_ms);
    } while (ready < 0 && errno == EINTR);
    if (ready < 0) return Event::kLost;
    if (ready == 0) return Event::kTimeout;
    if (watched[1].revents & POLLIN) {
      wake_.Clear();
      return Event::kInterrupted;
    }
    const short device_events = watched[0].revents;
    if (device_events & (POLLHUP | POLLERR | POLLNVAL)) {
      // Bytes that came before the hang-up are still handed out; then the port is lost.
      int waiting = 0;
      if (!(device_events & POLLNVAL) && ioctl(device_.get(), FIONREAD, &waiting) == 0 &&
          waiting > 0) {
        return Event::kReadable;
      }
      return Event::kLost;
    }
    return Event::kReadable;
  }

  void Interrupt() override { wake_.Signal(); }

  long Read(unsigned char* buffer, size_t size) override {
    for (;;) {
      const ssize_t got = read(device_.get(), buffer, size);
      if (got >= 0) return static_cast<long>(got);
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
      return -1;
    }
  }

  long Write(const unsigned char* bytes, size_t length, int timeout_ms) override {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    size_t done = 0;
    while (done < length) {
      const ssize_t put = write(device_.get(), bytes + done, length - done);
      if (put > 0) {
        done += static_cast<size_t>(put);
        continue;
      }
      if (put < 0 && errno == EINTR) continue;
      if (put < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return -1;
      // The transmit queue is full: wait until it takes bytes again.
      const auto left =
          std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return -1;
      pollfd watched{device_.get(), POLLOUT, 0};
      const int ready = poll(&watched, 1, static_cast<int>(left.count()));
      if (ready < 0 && errno != EINTR) return -1;
      if (ready > 0 && (watched.revents & (POLLERR | POLLHUP | POLLNVAL))) return -1;
    }
    return static_cast<long>(length);
  }

  void Purge(Queue queue) override {
    const int which = queue == Queue::kReceive    ? TCIFLUSH
                      : queue == Queue::kTransmit ? TCOFLUSH
                                                  : TCIOFLUSH;
    tcflush(device_.get(), which);
  }

  std::string device() const override { return path_; }

 private:
  UniqueFd device_;
  WakeEvent wake_;
  std::string path_;
  UniqueFd held_end_;  // peer only: the line's other end, held so the line stays up
  fs::path link_;      // peer only: the prefix's name for the line
};

WakeEvent MakeWakeEvent(Status* error) {
  WakeEvent wake;
  if (!wake.valid()) ReportErrno(error, "eventfd");
  return wake;
}

}  // namespace

std::unique_ptr<SerialPort> SerialPort::Open(std::string_view port_name, int baud,
                                             Status* error) {
  const std::optional<speed_t> speed = BaudConstant(baud);
  if (!speed) {
    Report(error, StatusCode::kInvalidArgument, "unsupported baud rate " + std::to_string(baud));
    return nullptr;
  }
  const std::optional<std::filesystem::path> path = MapPath(port_name);
  if (!path) {
    Report(error, StatusCode::kInvalidArgument, "not a port name: " + std::string(port_name));
    return nullptr;
  }
  UniqueFd device(open(path->c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!device.valid()) {
    ReportErrno(error, "open " + path->string());
    return nullptr;
  }
  if (!isatty(device.get())) {
    Report(error, StatusCode::kInvalidArgument, path->string() + " is not a serial device");
    return nullptr;
  }
  // Exclusive, as a COM port is: TIOCEXCL stops later opens by other users, the lock stops
  // every other opener that asks for it (root included).
  if (internal::FlockRetrying(device.get(), LOCK_EX | LOCK_NB) != 0) {
    ReportErrno(error, "lock " + path->string());
    return nullptr;
  }
  if (ioctl(device.get(), TIOCEXCL) != 0) {
    ReportErrno(error, "TIOCEXCL " + path->string());
    return nullptr;
  }
  termios settings{};
  if (tcgetattr(device.get(), &settings) != 0) {
    ReportErrno(error, "tcgetattr " + path->string());
    return nullptr;
  }
  ApplyLinkSettings(&settings, *speed);
  if (tcsetattr(device.get(), TCSANOW, &settings) != 0) {
    ReportErrno(error, "tcsetattr " + path->string());
    return nullptr;
  }
  tcflush(device.get(), TCIOFLUSH);
  WakeEvent wake = MakeWakeEvent(error);
  if (!wake.valid()) return nullptr;
  return std::make_unique<PosixSerialPort>(std::move(device), std::move(wake), path->string());
}

std::unique_ptr<SerialPort> SerialPort::OpenPeer(int com_number, Status* error) {
  if (com_number < 1 || com_number > 255) {
    Report(error, StatusCode::kInvalidArgument, "no such port number " + std::to_string(com_number));
    return nullptr;
  }
  UniqueFd master(posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!master.valid()) {
    ReportErrno(error, "posix_openpt");
    return nullptr;
  }
  char slave_name[128];
  if (grantpt(master.get()) != 0 || unlockpt(master.get()) != 0 ||
      ptsname_r(master.get(), slave_name, sizeof(slave_name)) != 0) {
    ReportErrno(error, "pseudo-terminal set-up");
    return nullptr;
  }
  // Held open for the peer's life: without it the master sees a hang-up whenever no program
  // holds the port. Raw at once, so nothing is echoed before the port's holder sets it up.
  UniqueFd slave(open(slave_name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  termios settings{};
  if (!slave.valid() || tcgetattr(slave.get(), &settings) != 0) {
    ReportErrno(error, std::string("open ") + slave_name);
    return nullptr;
  }
  ApplyLinkSettings(&settings, B115200);
  if (tcsetattr(slave.get(), TCSANOW, &settings) != 0) {
    ReportErrno(error, std::string("tcsetattr ") + slave_name);
    return nullptr;
  }
  const fs::path folder = PrefixRoot() / "dosdevices";
  const fs::path link = folder / ("com" + std::to_string(com_number));
  std::error_code failed;
  fs::create_directories(folder, failed);
  fs::remove(link, failed);
  fs::create_symlink(slave_name, link, failed);
  if (failed) {
    Report(error, StatusCode::kIoError, "link " + link.string() + ": " + failed.message());
    return nullptr;
  }
  WakeEvent wake = MakeWakeEvent(error);
  if (!wake.valid()) {
    fs::remove(link, failed);
    return nullptr;
  }
  return std::make_unique<PosixSerialPort>(std::move(master), std::move(wake), slave_name,
                                           std::move(slave), link);
}

}  // namespace platform
