#include "platform/files.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/testing/support.h"
#include "platform/testing/temp_prefix.h"

namespace platform {
namespace {
namespace fs = std::filesystem;

class FilesTest : public ::testing::Test {
 protected:
  testing::TempPrefix prefix_;
  fs::path dir_ = prefix_.path();
};

TEST_F(FilesTest, AReplacedFileIsTheNewVersionWholeWithNothingLeftBeside) {
  const fs::path file = dir_ / "settings.ini";
  ASSERT_TRUE(ReplaceFileDurably(file, "old\n", 0600).ok());
  ASSERT_TRUE(ReplaceFileDurably(file, "new\n", 0600).ok());
  EXPECT_EQ(testing::ReadFile(file), "new\n");
  EXPECT_EQ(fs::status(file).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
  size_t entries = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir_)) ++entries;
  EXPECT_EQ(entries, 1u);  // no temporary file stays behind

  const Status missing = ReplaceFileDurably(dir_ / "no such folder" / "x", "text");
  EXPECT_EQ(missing.code(), StatusCode::kIoError);
  EXPECT_EQ(missing.system_error(), ENOENT);
  EXPECT_NE(missing.message().find("no such folder"), std::string::npos) << missing.message();
}

TEST_F(FilesTest, LockedAppendsOfManyWritersNeverCutIntoOneAnother) {
  const fs::path file = dir_ / "day.log";
  constexpr int kWriters = 4;
  constexpr int kRecordsEach = 10;
  std::vector<std::thread> writers;
  for (int w = 0; w < kWriters; ++w) {
    writers.emplace_back([&, w] {
      // Long records, so that the kernel may take one in several writes.
      const std::string record = std::string(100000, static_cast<char>('a' + w)) + "\n";
      for (int n = 0; n < kRecordsEach; ++n) EXPECT_TRUE(AppendLocked(file, record).ok());
    });
  }
  for (std::thread& writer : writers) writer.join();

  const std::string all = testing::ReadFile(file);
  size_t records = 0;
  for (size_t at = 0; at < all.size(); ++records) {
    const size_t end = all.find('\n', at);
    ASSERT_NE(end, std::string::npos);
    const std::string_view record(all.data() + at, end - at);
    EXPECT_EQ(record.size(), 100000u);
    EXPECT_EQ(record.find_first_not_of(record.front()), std::string_view::npos);
    at = end + 1;
  }
  EXPECT_EQ(records, static_cast<size_t>(kWriters * kRecordsEach));

  EXPECT_EQ(AppendLocked(dir_ / "no such folder" / "x.log", "r").system_error(), ENOENT);
}

}  // namespace
}  // namespace platform
