#include "helvar/helvar_log.h"

#include <mutex>
#include <optional>

#include "companions/util/ordella_util.h"
#include "platform/text.h"
#include "protocol/card_mask.h"

namespace helvar {
namespace {

constexpr int kLogFlag = 1;

std::mutex g_dir_mutex;
std::string g_install_dir;  // GUARDED_BY(g_dir_mutex)

}  // namespace

void SetInstallDir(std::string_view dir) {
  std::lock_guard<std::mutex> lock(g_dir_mutex);
  g_install_dir.assign(dir);
}

std::string InstallDir() {
  std::lock_guard<std::mutex> lock(g_dir_mutex);
  return g_install_dir;
}

void WriteLog(std::string_view tag, std::string_view text) {
  const std::string dir = InstallDir();
  const std::string tag_text(tag);
  // Requests carry sale records whose card field holds card numbers and track data; the log
  // must not, whatever the record's shape, so every record is masked here, once.
  const std::string masked = protocol::MaskCardData(text);
  UtilWriteLog(dir.c_str(), tag_text.c_str(), masked.data(), static_cast<int>(masked.size()),
               kLogFlag);
}

std::string Cp949(std::string_view utf8) {
  std::optional<std::string> text = platform::Utf8ToCp949(utf8);
  return text ? *text : std::string(utf8);
}

}  // namespace helvar
