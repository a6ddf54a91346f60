#include "platform/status.h"

#include <cstring>

namespace platform {

std::string ErrnoText(int error) {
  char buffer[256];
  // The GNU strerror_r returns the text (in the buffer or a static one); never strerror,
  // whose buffer another thread may be overwriting.
  return strerror_r(error, buffer, sizeof buffer);
}

Status Status::FromErrno(std::string_view what, int error) {
  return Status(StatusCode::kIoError, std::string(what) + ": " + ErrnoText(error), error);
}

}  // namespace platform
