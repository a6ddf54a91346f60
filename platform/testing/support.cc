#include "platform/testing/support.h"

#include <sys/socket.h>

#include <fstream>
#include <iterator>
#include <thread>

namespace platform::testing {

std::string ReadFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool Eventually(const std::function<bool()>& condition, std::chrono::milliseconds patience) {
  constexpr auto kNap = std::chrono::milliseconds(2);
  const auto deadline = std::chrono::steady_clock::now() + patience;
  for (;;) {
    if (condition()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(kNap);
  }
}

std::pair<UniqueFd, UniqueFd> SocketPair() {
  int ends[2] = {-1, -1};
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) return {};
  return {UniqueFd(ends[0]), UniqueFd(ends[1])};
}

}  // namespace platform::testing
