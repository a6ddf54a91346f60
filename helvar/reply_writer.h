// Helvar's reply writer: a handler's answer goes into the shared block "sharedutilmap" that the
// hub's terminal loops poll, tagged with a status (normally the request code) that routes it
// to one terminal. The block's layout and its hand-over protocol are shared with the hub
// (protocol/shared_block.h): a writer claims the block by moving a status of 100 or less to
// 101, fills it, and stores the status last; a status above 100 means a reply still waits.
#pragma once

#include <cstdint>
#include <string_view>

#include "protocol/shared_block.h"

namespace helvar {

// How long the writer waits for the previous reply to be taken: `waits` naps of `wait_ms`
// (the system's 100 x 100 ms), then it overwrites.
using ReplyWait = protocol::SharedBlockWait;

// Writes `bytes` with `status`. 1 when written; 0 when the block does not exist (nobody holds
// it: the reply is dropped) or the bytes exceed its 1,000,000 data bytes (refused, logged).
int WriteReply(std::string_view bytes, int32_t status, const ReplyWait& wait = {});

}  // namespace helvar
