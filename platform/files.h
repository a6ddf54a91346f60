// Writes that files shared between processes and kept across power losses rely on.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string_view>

#include "platform/status.h"

namespace platform {

// Replaces `file` with `content` so that a reader, and the file after a power loss, is either
// the old version or the new one whole: a temporary file beside it, written and synced, renamed
// over it, and the rename synced. A new file gets `mode`. The folder must exist.
Status ReplaceFileDurably(const std::filesystem::path& file, std::string_view content,
                          mode_t mode = 0644);

// Appends `record` to `file` (created with `mode` when missing) under the file's exclusive lock,
// so that no other writer's bytes come between its parts, in this process or another, even when
// the kernel takes it in several writes.
Status AppendLocked(const std::filesystem::path& file, std::string_view record, mode_t mode = 0644);

}  // namespace platform
