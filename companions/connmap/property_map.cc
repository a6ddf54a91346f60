// The connection property map's life: loaded from the settings file at the hub's start, read
// by every thread of the hub, saved on the host's request, released at the hub's close.

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <system_error>

#include "companions/connmap/ordella_connmap.h"
#include "companions/connmap/settings_file.h"
#include "companions/util/local_path.h"
#include "companions/util/ordella_util.h"
#include "platform/files.h"
#include "platform/registry.h"

namespace {

namespace fs = std::filesystem;

constexpr char kUpdateKey[] = "Software\\Tavenor\\Update";
constexpr char kPathValue[] = "path";
constexpr char kDefaultInstallDir[] = "c:\\tavenor";
constexpr char kSettingsFileName[] = "ordella_connmap.ini";
constexpr char kLogTag[] = "ConnMap";

// Create, Save and Close take the lock; readers of the record take none. The record is
// published through an atomic pointer so that GetPropertyMap needs no lock either.
std::mutex g_lifecycle;
std::unique_ptr<char[]> g_record;
std::atomic<char*> g_published{nullptr};

// A failure the operator must see: on stderr and in the diagnostic log of `install_dir`.
void Report(const std::string& install_dir, const std::string& message) {
  std::fprintf(stderr, "Ordella_ConnMap: %s\n", message.c_str());
  UtilWriteLog(install_dir.c_str(), kLogTag, message.data(), static_cast<int>(message.size()), 1);
}

// The install directory: registry value "path" of "Software\Tavenor\Update" when it is a
// non-empty text, else the default. nullopt with *error when the registry cannot be read.
std::optional<std::string> InstallDirectory(std::string* error) {
  platform::RegValue value;
  const platform::RegStatus status = platform::RegGetValue(kUpdateKey, kPathValue, &value);
  if (status == platform::RegStatus::kOk && value.type == platform::RegType::kString &&
      !value.text.empty()) {
    return value.text;
  }
  if (status == platform::RegStatus::kOk || status == platform::RegStatus::kNotFound) {
    return kDefaultInstallDir;
  }
  *error = "cannot read the install directory from the registry: " + platform::RegLastError();
  return std::nullopt;
}

std::optional<fs::path> SettingsFile(const std::string& install_dir, std::string* error) {
  std::optional<fs::path> file = companions::LocalPath(install_dir, {kSettingsFileName});
  if (!file) *error = "the install directory \"" + install_dir + "\" has no local place";
  return file;
}

// Builds the record from the registry and the settings file; nullptr with *error.
std::unique_ptr<char[]> LoadRecord(std::string* install_dir, std::string* error) {
  const std::optional<std::string> directory = InstallDirectory(error);
  if (!directory) return nullptr;
  *install_dir = *directory;
  auto record = std::make_unique<char[]>(connmap::kPropertyMapSize);  // zero-filled
  if (directory->size() >= static_cast<size_t>(connmap::kInstallDir.room)) {
    *error = "the install directory \"" + *directory + "\" is longer than its room of " +
             std::to_string(connmap::kInstallDir.room - 1) + " bytes";
    return nullptr;
  }
  connmap::WriteText(record.get(), connmap::kInstallDir, *directory);
  connmap::ApplyDefaults(record.get());

  const std::optional<fs::path> file = SettingsFile(*directory, error);
  if (!file) return nullptr;
  std::error_code status_error;
  const fs::file_type type = fs::status(*file, status_error).type();
  if (type == fs::file_type::not_found) return record;  // the defaults
  std::ifstream in(*file, std::ios::binary);
  if (type != fs::file_type::regular || !in) {
    *error = "cannot read " + file->string();
    return nullptr;
  }
  std::ostringstream text;
  text << in.rdbuf();
  if (!connmap::ApplySettingsText(text.str(), record.get(), error)) {
    *error = file->string() + " " + *error;
    return nullptr;
  }
  return record;
}

// Writes `text` to `file` so that the file is either the old or the new one, even after a
// power loss.
bool ReplaceFile(const fs::path& file, const std::string& text, std::string* error) {
  std::error_code ignored;
  fs::create_directories(file.parent_path(), ignored);
  const platform::Status replaced = platform::ReplaceFileDurably(file, text);
  if (!replaced.ok()) *error = replaced.message();
  return replaced.ok();
}

}  // namespace

extern "C" int CreatePropertyMap() {
  const std::lock_guard lock(g_lifecycle);
  if (g_record) return 1;
  std::string install_dir = kDefaultInstallDir;
  std::string error;
  std::unique_ptr<char[]> record = LoadRecord(&install_dir, &error);
  if (!record) {
    Report(install_dir, error);
    return 0;
  }
  g_record = std::move(record);
  g_published.store(g_record.get(), std::memory_order_release);
  return 1;
}

extern "C" char* GetPropertyMap() { return g_published.load(std::memory_order_acquire); }

extern "C" int SavePropertyMap() {
  const std::lock_guard lock(g_lifecycle);
  if (!g_record) return 0;
  // The sign-on writes into the live record; the file gets one snapshot of it.
  char snapshot[connmap::kPropertyMapSize];
  std::memcpy(snapshot, g_record.get(), sizeof snapshot);
  snapshot[connmap::kInstallDir.room - 1] = '\0';
  const std::string install_dir = connmap::ReadText(snapshot, connmap::kInstallDir);
  std::string text;
  std::string error;
  std::optional<fs::path> file;
  if (!connmap::FormatSettingsText(snapshot, &text, &error) ||
      !(file = SettingsFile(install_dir, &error)) || !ReplaceFile(*file, text, &error)) {
    Report(install_dir, "settings not saved: " + error);
    return 0;
  }
  return 1;
}

extern "C" int ClosePropertyMap() {
  const std::lock_guard lock(g_lifecycle);
  g_published.store(nullptr, std::memory_order_release);
  g_record.reset();
  return 1;
}
