#include "platform/program_options.h"

#include <cstdio>
#include <string>

namespace platform {

std::string_view ProductVersion() { return ORDELLA_FILE_VERSION; }

std::optional<int> AnswerHelpOrVersion(std::string_view arg, std::string_view program,
                                       std::string_view usage) {
  std::string text;
  if (arg == "--help") {
    text = usage;
  } else if (arg == "--version") {
    text = std::string(program) + " " + std::string(ProductVersion()) + "\n";
  } else {
    return std::nullopt;
  }
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
  return 0;
}

}  // namespace platform
