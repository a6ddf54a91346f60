// What every program of ours answers the same way on its command line.
#pragma once

#include <optional>
#include <string_view>

namespace platform {

// The system's version ("1.0.0.1"), the one the build stamps into its programs.
std::string_view ProductVersion();

// "--help": `usage` on standard output; "--version": "<program> <version>". The exit code (0) for
// either; nullopt for any other argument, which the program reads itself.
std::optional<int> AnswerHelpOrVersion(std::string_view arg, std::string_view program,
                                       std::string_view usage);

}  // namespace platform
