// The operator's side of the host program: the readable line printed for each host
// notification, and the commands read from standard input.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace host {

// The hub's entry points the commands call.
struct HubEntryPoints {
  int32_t (*create)(uint32_t host_window, uint32_t unused) = nullptr;
  int32_t (*close)() = nullptr;
  int32_t (*save)() = nullptr;
  int32_t (*massage)(int32_t code, int32_t parameter, int32_t unused) = nullptr;
};

// "notify code=1030 terminal=1 serial port failed to open"
std::string DescribeNotification(uint64_t code, int64_t lparam);

// What a command line asks for.
enum class CommandResult { kContinue, kQuit };

// Runs one command line; what it prints goes to `out` (one or more lines, each ended by '\n').
CommandResult RunCommand(std::string_view line, const HubEntryPoints& hub, std::string* out);

// The command list printed by "help".
std::string HelpText();

}  // namespace host
