#include "platform/file_mapping.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "platform/prefix.h"
#include "platform/testing/child_process.h"
#include "platform/testing/temp_prefix.h"

namespace platform {
namespace {

namespace fs = std::filesystem;
using testing::ChildProcess;
using testing::StartPeer;

constexpr size_t kBlockSize = 1'000'024;

bool AllZero(const unsigned char* data, size_t size) {
  return std::all_of(data, data + size, [](unsigned char byte) { return byte == 0; });
}

class FileMappingTest : public ::testing::Test {
 protected:
  testing::TempPrefix prefix_;
};

TEST_F(FileMappingTest, HoldersOfOneNameShareOneZeroFilledBlock) {
  std::unique_ptr<FileMapping> creator = FileMapping::CreateOrOpen("sharedutilmap", kBlockSize);
  ASSERT_NE(creator, nullptr);
  EXPECT_FALSE(creator->existed());
  ASSERT_EQ(creator->size(), kBlockSize);
  EXPECT_TRUE(AllZero(creator->data(), creator->size()));

  std::unique_ptr<FileMapping> second = FileMapping::CreateOrOpen("sharedutilmap", kBlockSize);
  std::unique_ptr<FileMapping> reader = FileMapping::OpenExisting("sharedutilmap", kBlockSize);
  ASSERT_NE(second, nullptr);
  ASSERT_NE(reader, nullptr);
  EXPECT_TRUE(second->existed());
  std::memcpy(creator->data() + 24, "reply", 5);
  second->data()[kBlockSize - 1] = 0x7F;
  EXPECT_EQ(std::memcmp(reader->data() + 24, "reply", 5), 0);
  EXPECT_EQ(reader->data()[kBlockSize - 1], 0x7F);
}

TEST_F(FileMappingTest, OpenExistingNeedsALiveHolderAndEnoughBytes) {
  EXPECT_EQ(FileMapping::OpenExisting("memorymap"), nullptr);
  {
    std::unique_ptr<FileMapping> holder = FileMapping::CreateOrOpen("memorymap", 64);
    ASSERT_NE(holder, nullptr);
    EXPECT_EQ(FileMapping::OpenExisting("memorymap", 65), nullptr);
    std::unique_ptr<FileMapping> whole = FileMapping::OpenExisting("memorymap");
    ASSERT_NE(whole, nullptr);
    EXPECT_EQ(whole->size(), 64u);
  }
  // The last holder is gone: like the kernel object, the mapping no longer exists.
  EXPECT_EQ(FileMapping::OpenExisting("memorymap"), nullptr);
}

// A reader that must write nothing sees the live block, creates nothing where there is none, and
// cannot write through its view.
TEST_F(FileMappingTest, ReadExistingCreatesNothingAndCannotWrite) {
  EXPECT_EQ(FileMapping::ReadExisting("statusboard"), nullptr);
  EXPECT_FALSE(fs::exists(RunDirPath()));

  std::unique_ptr<FileMapping> writer = FileMapping::CreateOrOpen("statusboard", 64);
  ASSERT_NE(writer, nullptr);
  std::unique_ptr<FileMapping> reader = FileMapping::ReadExisting("statusboard");
  ASSERT_NE(reader, nullptr);
  EXPECT_EQ(reader->size(), 64u);
  writer->data()[10] = 0x42;
  EXPECT_EQ(reader->data()[10], 0x42);
  EXPECT_DEATH(reader->data()[10] = 0, "");
  writer.reset();
  reader.reset();
  // A file nobody holds is no object, for a reader too.
  EXPECT_EQ(FileMapping::ReadExisting("statusboard"), nullptr);
}

TEST_F(FileMappingTest, BlockLeftByAnEndedRunStartsAfresh) {
  // A crashed run left its block file behind, with an old reply in it.
  fs::path dir = RunDir() / "mappings";
  fs::create_directories(dir);
  std::ofstream(dir / "sharedutilmap") << std::string(4096, '\x2D');

  std::unique_ptr<FileMapping> block = FileMapping::CreateOrOpen("sharedutilmap", 128);
  ASSERT_NE(block, nullptr);
  EXPECT_FALSE(block->existed());
  ASSERT_EQ(block->size(), 128u);
  EXPECT_TRUE(AllZero(block->data(), block->size()));
}

TEST_F(FileMappingTest, LargerOpenGrowsTheBlockAndEarlierViewsStayValid) {
  std::unique_ptr<FileMapping> small = FileMapping::CreateOrOpen("grow", 16);
  ASSERT_NE(small, nullptr);
  std::memcpy(small->data(), "0123456789ABCDEF", 16);

  std::unique_ptr<FileMapping> large = FileMapping::CreateOrOpen("grow", 1 << 20);
  ASSERT_NE(large, nullptr);
  EXPECT_TRUE(large->existed());
  ASSERT_EQ(large->size(), size_t{1} << 20);
  EXPECT_EQ(std::memcmp(large->data(), "0123456789ABCDEF", 16), 0);
  EXPECT_TRUE(AllZero(large->data() + 16, large->size() - 16));
  large->data()[0] = 'Z';
  EXPECT_EQ(small->data()[0], 'Z');

  // A later, smaller request never shrinks it under the views of others.
  std::unique_ptr<FileMapping> smaller = FileMapping::CreateOrOpen("grow", 8);
  ASSERT_NE(smaller, nullptr);
  EXPECT_EQ(smaller->size(), size_t{1} << 20);
  large->data()[(1 << 20) - 1] = 'E';
  EXPECT_EQ(smaller->data()[(1 << 20) - 1], 'E');
}

TEST_F(FileMappingTest, EveryNameIsItsOwnObjectInsideTheMappingsFolder) {
  const std::vector<std::string> names = {"a/b",
                                          "a_b",
                                          "a%2Fb",
                                          "..",
                                          ".",
                                          "../escape",
                                          "Global\\x",
                                          ".hidden",
                                          "\xB0\xF8\xC0\xAF",  // CP949 text
                                          std::string("nul\0byte", 8)};
  std::vector<std::unique_ptr<FileMapping>> held;
  for (size_t i = 0; i < names.size(); ++i) {
    SCOPED_TRACE(i);
    held.push_back(FileMapping::CreateOrOpen(names[i], 8));
    ASSERT_NE(held.back(), nullptr);
    EXPECT_FALSE(held.back()->existed());
    held.back()->data()[0] = static_cast<unsigned char>(i + 1);
  }
  for (size_t i = 0; i < names.size(); ++i) {
    SCOPED_TRACE(i);
    std::unique_ptr<FileMapping> again = FileMapping::OpenExisting(names[i]);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(again->data()[0], i + 1);
  }
  std::vector<std::string> outside;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(prefix_.path())) {
    if (entry.path().parent_path() != RunDir() / "mappings" && entry.path() != RunDir() &&
        entry.path() != RunDir() / "mappings") {
      outside.push_back(entry.path().string());
    }
  }
  EXPECT_TRUE(outside.empty()) << outside.front();
}

TEST_F(FileMappingTest, UnusableRequestsAreRefused) {
  struct Case {
    std::string name;
    size_t size;
  };
  const Case cases[] = {{"", 8}, {"zero", 0}, {std::string(300, 'n'), 8}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name.size());
    EXPECT_EQ(FileMapping::CreateOrOpen(c.name, c.size), nullptr);
  }
}

TEST_F(FileMappingTest, BytesWrittenByAnotherProcessAreSeen) {
  std::unique_ptr<ChildProcess> early = StartPeer({"write-mapping", "sharedutilmap", "x"});
  ASSERT_NE(early, nullptr);
  EXPECT_EQ(early->Wait(), 1) << "a mapping nobody holds cannot be opened";

  std::unique_ptr<FileMapping> block = FileMapping::CreateOrOpen("sharedutilmap", kBlockSize);
  ASSERT_NE(block, nullptr);
  std::unique_ptr<ChildProcess> writer = StartPeer({"write-mapping", "sharedutilmap", "705 reply"});
  ASSERT_NE(writer, nullptr);
  EXPECT_EQ(writer->Wait(), 0);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(block->data()), 9), "705 reply");
}

}  // namespace
}  // namespace platform
