// Internal to the platform layer: Unix-domain stream sockets with deadlines, the transport of the
// window endpoints. Every descriptor made here is non-blocking; waits go through poll.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>

#include "platform/deadline.h"
#include "platform/named_object.h"
#include "platform/wake_event.h"

namespace platform::internal {

// A socket listening at `path`; a file already there (left by a dead process) is replaced.
// Paths longer than a socket address holds are reached through the folder's descriptor.
// Invalid on failure.
UniqueFd ListenAt(const std::filesystem::path& path, int backlog);

// Takes the next waiting connection of `listener`; invalid when none is waiting or on error.
UniqueFd AcceptFrom(int listener);

// True when something listens at `path`: a connection is taken, or its queue is full.
bool IsListening(const std::filesystem::path& path);

// A connection to the socket at `path`; a full queue at the listener is retried until the
// deadline. Invalid when nobody listens there or the deadline passes.
UniqueFd ConnectTo(const std::filesystem::path& path, const Deadline& deadline);

// Reading and writing go through ReceiveExactly and SendAll of platform/socket.h.

}  // namespace platform::internal
