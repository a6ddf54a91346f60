// Diagnostic records of frames. Frames carry card numbers and card track data; the log must not,
// so every frame is masked before it is written (protocol/card_mask.h).
#pragma once

#include <string>
#include <string_view>

namespace hub {

// Where diagnostic records go: the directory and the log flag handed to UtilWriteLog. Flag 0
// (or no directory) writes nothing.
struct LogTarget {
  std::string directory;
  int flag = 0;

  bool enabled() const { return flag != 0 && !directory.empty(); }
};

// Appends one record (tag and the masked bytes) through UtilWriteLog. Returns true when written.
bool WriteFrameLog(const LogTarget& target, const char* tag, std::string_view bytes);

}  // namespace hub
