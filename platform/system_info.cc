#include "platform/system_info.h"

#include <fcntl.h>
#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "platform/prefix.h"

namespace platform {
namespace {

constexpr size_t kMaxVersionLength = 43;  // four 10-digit numbers and three dots

// The marker that a stamped file carries before its version. Built at run time so that this
// library's own code holds no complete copy of it to be mistaken for a stamp.
std::string VersionMarker() { return std::string("ORDELLA_FILE_") + "VERSION="; }

// "1.0.0.1": digits and dots, starting with a digit.
bool IsVersionText(std::string_view text) {
  if (text.empty() || text.size() > kMaxVersionLength || text.front() == '.') return false;
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return c == '.' || (c >= '0' && c <= '9'); });
}

// The version after the first marker that is followed by a version and a NUL.
std::optional<std::string> FindVersion(std::string_view contents) {
  const std::string marker = VersionMarker();
  for (size_t at = contents.find(marker); at != std::string_view::npos;
       at = contents.find(marker, at + 1)) {
    std::string_view rest = contents.substr(at + marker.size());
    size_t end = rest.find('\0', 0);
    if (end == std::string_view::npos) return std::nullopt;
    if (IsVersionText(rest.substr(0, end))) return std::string(rest.substr(0, end));
  }
  return std::nullopt;
}

}  // namespace

uint32_t GetTickCount() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  uint64_t millis =
      static_cast<uint64_t>(now.tv_sec) * 1000U + static_cast<uint64_t>(now.tv_nsec) / 1000000U;
  return static_cast<uint32_t>(millis);  // wraps at 2^32 like the Windows count
}

std::string ComputerName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return {};
  std::string_view host = name;
  return std::string(host.substr(0, host.find('.')));
}

std::optional<std::array<uint8_t, 6>> FirstAdapterAddress() {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return std::nullopt;
  std::optional<std::array<uint8_t, 6>> found;
  for (ifaddrs* entry = list; entry != nullptr && !found; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_PACKET) continue;
    if ((entry->ifa_flags & IFF_LOOPBACK) != 0) continue;
    sockaddr_ll link{};
    std::memcpy(&link, entry->ifa_addr, sizeof link);
    if (link.sll_halen != 6) continue;
    std::array<uint8_t, 6> address{};
    std::memcpy(address.data(), link.sll_addr, address.size());
    // An all-zero address belongs to no hardware (tunnels and the like).
    if (std::any_of(address.begin(), address.end(), [](uint8_t b) { return b != 0; })) {
      found = address;
    }
  }
  freeifaddrs(list);
  return found;
}

std::optional<std::string> FileVersion(std::string_view path) {
  std::optional<std::filesystem::path> file = ResolvePath(path);
  if (!file) return std::nullopt;
  int fd = open(file->c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  struct stat info {};
  std::optional<std::string> version;
  if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
    auto size = static_cast<size_t>(info.st_size);
    void* contents = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (contents != MAP_FAILED) {
      version = FindVersion(std::string_view(static_cast<const char*>(contents), size));
      munmap(contents, size);
    }
  }
  close(fd);
  return version;
}

void SleepMs(uint32_t ms) {
  timespec remaining{static_cast<time_t>(ms / 1000U), static_cast<long>(ms % 1000U) * 1000000L};
  while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
  }
}

}  // namespace platform
