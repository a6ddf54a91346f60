#include "helvar/barcode_database.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "helvar/reply_writer.h"
#include "platform/system_info.h"
#include "protocol/barcode_file.h"
#include "protocol/frame.h"
#include "protocol/message_codes.h"
#include "stores/local_stores.h"

namespace helvar {

namespace {
// The hub reads the file in pieces once it has the answer; the pause lets the file settle.
constexpr uint32_t kPauseBeforeAnswerMs = 500;
}  // namespace

std::string BarcodeBuildAnswer(int chunk_count) {
  const std::string count = std::to_string(chunk_count);
  const std::array<std::string_view, 1> fields = {count};
  const std::optional<std::string> body =
      protocol::MessageBody(protocol::kMsgBarcodeBuildAnswer, fields);
  std::string answer = protocol::BuildFrame(*body, protocol::LengthRule::kBarcodeBuildAnswer,
                                            protocol::kTerminalShape)
                           .value();
  answer.push_back('\0');  // the reply has always carried its terminator
  return answer;
}

int BuildBarcodeDatabaseFile(CWorkContext& /*context*/, const Request& request) {
  uint64_t file_size = 0;
  if (stores::BuildBarcodeDatabase(request.code, &file_size) == 0) return kHandlerFailed;
  platform::SleepMs(kPauseBeforeAnswerMs);
  WriteReply(BarcodeBuildAnswer(protocol::BarcodeChunkCount(file_size)), request.code);
  return kHandlerDone;
}

}  // namespace helvar
