#include "helvar/barcode_database.h"

#include <string>

#include "helvar/reply_writer.h"
#include "stores/local_stores.h"
#include "platform/system_info.h"

namespace helvar {

namespace {
// The hub reads the file in pieces once it has the answer; the pause lets the file settle.
constexpr uint32_t kPauseBeforeAnswerMs = 500;
}  // namespace

int BuildBarcodeDatabaseFile(CWorkContext& /*context*/, const Request& request) {
  std::string answer;
  if (BuildBarcodeDatabase(request.code, &answer) == 0) return kHandlerFailed;
  platform::SleepMs(kPauseBeforeAnswerMs);
  WriteReply(answer, request.code);
  return kHandlerDone;
}

}  // namespace helvar
