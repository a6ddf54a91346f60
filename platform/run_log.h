// Observation logs under <prefix>/run: what the keyboard, tray icon and message boxes would
// have shown, one tab-separated line per event, readable by other processes.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Appends the fields as one line to <prefix>/run/<name> with a single append-mode write, so
// lines of several processes never interleave. Each field is escaped (tab, line end and
// backslash). False when the line could not be written whole.
bool AppendRunLog(std::string_view name, const std::vector<std::string>& fields);

// The lines of <prefix>/run/<name>, each split back into its unescaped fields; empty when the
// file is missing.
std::vector<std::vector<std::string>> ReadRunLog(std::string_view name);

// Local time as "YYYY-MM-DD HH:MM:SS.mmm", the first field of every line.
std::string RunLogTimeStamp();

}  // namespace platform
