// Reading the system's settings from the current user's registry.
#include <cerrno>
#include <cstdint>
#include <cstdlib>

#include "companions/util/ordella_util.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace {

// The value, or nullopt when it is missing, unreadable or the arguments are unusable.
std::optional<platform::RegValue> ReadValue(const char* key, const char* name) {
  if (key == nullptr || name == nullptr) return std::nullopt;
  platform::RegValue value;
  if (platform::RegGetValue(key, name, &value) != platform::RegStatus::kOk) return std::nullopt;
  return value;
}

// The decimal number a text holds, or 0 when it holds none.
int DecimalText(const std::string& text) {
  errno = 0;
  char* end = nullptr;
  const long number = std::strtol(text.c_str(), &end, 10);
  if (end == text.c_str() || errno == ERANGE || number < INT32_MIN || number > INT32_MAX) {
    return 0;
  }
  return static_cast<int>(number);
}

}  // namespace

extern "C" int UtilRegReadText(const char* key, const char* name, char* out, int size) {
  if (out == nullptr || size <= 0) return 0;
  const std::optional<platform::RegValue> value = ReadValue(key, name);
  if (!value || value->type != platform::RegType::kString) return 0;
  platform::CopyBounded(out, static_cast<size_t>(size), value->text);
  return 1;
}

extern "C" int UtilRegReadInt(const char* key, const char* name) {
  const std::optional<platform::RegValue> value = ReadValue(key, name);
  if (!value) return 0;
  if (value->type == platform::RegType::kDword) return static_cast<int>(value->dword);
  if (value->type == platform::RegType::kString) return DecimalText(value->text);
  return 0;
}
