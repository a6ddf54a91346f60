// How the platform layer reports a failure: a status code the caller can act on and a message
// for the diagnostic log, naming what failed, on what, and the system's reason.
#pragma once

#include <string>
#include <string_view>
#include <utility>

namespace platform {

enum class StatusCode {
  kOk,
  kInvalidArgument,  // an address, port, path or size the call cannot take
  kTimedOut,         // the deadline passed first
  kCancelled,        // the wait was woken by its cancel event
  kClosed,           // the peer ended the connection
  kIoError,          // the system refused; the message carries its reason
};

class Status {
 public:
  Status() = default;  // success
  Status(StatusCode code, std::string message, int system_error = 0)
      : code_(code), message_(std::move(message)), system_error_(system_error) {}

  // kIoError for `what` failing with the system error `error`: "<what>: <reason>".
  static Status FromErrno(std::string_view what, int error);

  bool ok() const { return code_ == StatusCode::kOk; }
  StatusCode code() const { return code_; }
  const std::string& message() const { return message_; }
  // The errno of a kIoError (0 when the failure was not the system's).
  int system_error() const { return system_error_; }

 private:
  StatusCode code_ = StatusCode::kOk;
  std::string message_;
  int system_error_ = 0;
};

// The system's text for an errno value ("Connection refused"), safe from any thread.
std::string ErrnoText(int error);

}  // namespace platform
