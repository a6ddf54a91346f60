#include "hub/core/helvar_bridge.h"

#include <gtest/gtest.h>

#include <array>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "companions/connmap/ordella_connmap.h"
#include "hub/core/module_state.h"
#include "hub/core/test_support.h"
#include "platform/file_mapping.h"
#include "platform/testing/temp_prefix.h"
#include "platform/window.h"

namespace hub {

using namespace protocol;

namespace {

namespace fs = std::filesystem;

std::string LengthText(const SharedBlock& block) {
  const char* text = reinterpret_cast<const char*>(block.bytes() + kSharedLengthOffset);
  return std::string(text, strnlen(text, kSharedLengthRoom));
}

const SharedBlockWait kNoWait{.waits = 0, .wait_ms = 0};

class SharedBlockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    log_ = LogTarget{(prefix_.path() / "log").string(), 1};
    block_ = SharedBlock::Open(log_);
    ASSERT_NE(block_, nullptr);
  }

  platform::testing::TempPrefix prefix_;
  LogTarget log_;
  std::unique_ptr<SharedBlock> block_;
};

struct RoutingCase {
  int32_t status;
  int terminal;
  bool taken;
};

TEST_F(SharedBlockTest, ReplyIsTakenOnlyByTheTerminalItsStatusNames) {
  const std::vector<RoutingCase> cases = {
      {301, 1, true},  {301, 0, false}, {301, 2, false}, {200, 0, true},  {200, 1, false},
      {201, 1, true},  {252, 2, true},  {310, 0, true},  {400, 2, false}, {702, 2, true},
      {705, 0, true},  {711, 1, true},  {862, 2, true},  {860, 1, false}, {715, 0, false},
      {800, 0, false}, {950, 0, false}, {101, 0, false}, {102, 0, false}};
  const std::string reply = std::string("\x02XX0020TRM301\x1C", 14) + "reply \xB0\xA1";
  for (const RoutingCase& c : cases) {
    SCOPED_TRACE("status " + std::to_string(c.status) + " terminal " + std::to_string(c.terminal));
    // A second holder's view, as another loop (or Helvar) has it.
    std::unique_ptr<SharedBlock> reader = SharedBlock::Open(log_);
    ASSERT_NE(reader, nullptr);
    ASSERT_TRUE(block_->WriteReply(c.status, reply, kNoWait));

    std::array<unsigned char, kTerminalReplyBuffer> taken{};
    const int count = reader->Read(c.terminal, taken.data(), kTerminalReplyBuffer);
    if (c.taken) {
      ASSERT_EQ(count, static_cast<int>(reply.size()));
      EXPECT_EQ(std::string(reinterpret_cast<const char*>(taken.data()), reply.size()), reply);
      EXPECT_EQ(block_->status(), kSharedEmpty);
      EXPECT_EQ(LengthText(*block_), "");
      EXPECT_EQ(block_->bytes()[kSharedDataOffset], 0);  // the data is cleared too
    } else {
      EXPECT_EQ(count, 0);
      EXPECT_EQ(block_->status(), c.status);
      EXPECT_EQ(LengthText(*block_), std::to_string(reply.size()));
    }
  }
}

TEST_F(SharedBlockTest, HubDataIsWrittenWithStatus200AndLengthText) {
  ASSERT_TRUE(block_->Write("abc", kNoWait));
  EXPECT_EQ(block_->status(), kSharedHubData);
  EXPECT_EQ(LengthText(*block_), "3");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(block_->bytes() + kSharedDataOffset), 4),
            std::string("abc\0", 4));
}

TEST_F(SharedBlockTest, WriterOverwritesAReplyNobodyTakesAfterItsWaits) {
  ASSERT_TRUE(block_->WriteReply(301, "for terminal 1", kNoWait));
  int naps = 0;
  platform::ManualClock clock;
  clock.OnSleep([&](uint32_t) { ++naps; });
  const SharedBlockWait wait{.waits = 3, .wait_ms = 100, .clock = &clock};
  ASSERT_TRUE(block_->Write("hub data", wait));
  EXPECT_EQ(naps, 3);
  EXPECT_EQ(block_->status(), kSharedHubData);
  EXPECT_EQ(LengthText(*block_), "8");
}

TEST_F(SharedBlockTest, WriterWaitsUntilTheWaitingReplyIsTaken) {
  const std::string first = "first reply";
  ASSERT_TRUE(block_->WriteReply(300, first, kNoWait));
  std::unique_ptr<SharedBlock> loop = SharedBlock::Open(log_);
  ASSERT_NE(loop, nullptr);
  std::array<unsigned char, kTerminalReplyBuffer> taken{};
  int taken_count = 0;
  int naps = 0;
  // Terminal 0's loop takes the waiting reply during the writer's second nap.
  platform::ManualClock clock;
  clock.OnSleep([&](uint32_t) {
    if (++naps == 2) taken_count = loop->Read(0, taken.data(), kTerminalReplyBuffer);
  });
  const SharedBlockWait wait{.waits = 100, .wait_ms = 100, .clock = &clock};
  ASSERT_TRUE(block_->Write("second", wait));
  EXPECT_EQ(naps, 2);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(taken.data()), taken_count), first);
  EXPECT_EQ(block_->status(), kSharedHubData);
  EXPECT_EQ(LengthText(*block_), "6");
}

// On the system's clock the writer sleeps on the status word: the loop that empties the block
// wakes it, long before its ten seconds are up, and nothing is overwritten.
TEST_F(SharedBlockTest, WriterOnTheSystemClockClaimsTheBlockOnceALoopHasTakenIt) {
  const std::string first = "first reply";
  ASSERT_TRUE(block_->WriteReply(300, first, kNoWait));
  std::unique_ptr<SharedBlock> loop = SharedBlock::Open(log_);
  ASSERT_NE(loop, nullptr);
  std::promise<void> starting;
  std::thread writer([&] {
    starting.set_value();
    EXPECT_TRUE(block_->Write("second"));
  });
  starting.get_future().wait();
  std::array<unsigned char, kTerminalReplyBuffer> taken{};
  const int taken_count = loop->Read(0, taken.data(), kTerminalReplyBuffer);
  writer.join();
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(taken.data()), taken_count), first);
  EXPECT_EQ(block_->status(), kSharedHubData);
  EXPECT_EQ(LengthText(*block_), "6");
  EXPECT_EQ(testing::ReadFilesBelow(log_.directory).find("overwritten"), std::string::npos);
}

TEST_F(SharedBlockTest, WritesThatCannotBeReadBackAreRefusedWithoutTouchingTheBlock) {
  ASSERT_TRUE(block_->WriteReply(705, "waiting", kNoWait));
  EXPECT_FALSE(block_->Write(std::string(kSharedDataRoom + 1, 'x'), kNoWait));
  EXPECT_FALSE(block_->WriteReply(100, "a status that marks no reply", kNoWait));
  EXPECT_FALSE(block_->WriteReply(0, "", kNoWait));
  EXPECT_EQ(block_->status(), 705);
  EXPECT_EQ(LengthText(*block_), "7");
}

struct UnfitCase {
  const char* what;
  std::string length_text;
  size_t data_size;
};

// A reply that a terminal loop cannot forward whole is dropped, and the block is freed for the
// next reply.
TEST_F(SharedBlockTest, ReplyThatDoesNotFitTheLoopBufferIsDroppedAndLogged) {
  const std::vector<UnfitCase> cases = {
      {"one byte over the buffer", "40001", 40001},
      {"length beyond the block", "1000001", 0},
      {"length not a number", "12x", 12},
      {"negative length", "-5", 0},
      {"no length", "", 0},
  };
  auto raw = platform::FileMapping::OpenExisting(kSharedBlockName, kSharedBlockSize);
  ASSERT_NE(raw, nullptr);
  for (const UnfitCase& c : cases) {
    SCOPED_TRACE(c.what);
    unsigned char* bytes = raw->data();
    std::memset(bytes + kSharedLengthOffset, 0, kSharedLengthRoom);
    std::memcpy(bytes + kSharedLengthOffset, c.length_text.data(), c.length_text.size());
    std::memset(bytes + kSharedDataOffset, 'r', c.data_size);
    const int32_t status = 301;
    std::memcpy(bytes, &status, sizeof status);

    std::vector<unsigned char> taken(kTerminalReplyBuffer + 16, 0xEE);
    EXPECT_EQ(block_->Read(1, taken.data(), kTerminalReplyBuffer), 0);
    EXPECT_EQ(taken[kTerminalReplyBuffer], 0xEE);  // nothing written past the buffer
    EXPECT_EQ(block_->status(), kSharedEmpty);
    EXPECT_EQ(LengthText(*block_), "");
  }
  EXPECT_NE(testing::ReadFilesBelow(log_.directory).find("MemoryMapRead"), std::string::npos);
}

TEST_F(SharedBlockTest, ReplyFillingTheLoopBufferExactlyIsTaken) {
  const std::string reply(kTerminalReplyBuffer, 'q');
  ASSERT_TRUE(block_->WriteReply(702, reply, kNoWait));
  std::vector<unsigned char> taken(kTerminalReplyBuffer);
  EXPECT_EQ(block_->Read(2, taken.data(), kTerminalReplyBuffer), kTerminalReplyBuffer);
  EXPECT_EQ(taken.back(), 'q');
}

TEST(SharedBlockOpenTest, FailureToCreateTheBlockIsLogged) {
  platform::testing::TempPrefix prefix;
  // The folder of the named mappings cannot be made: a file is in its way.
  fs::create_directories(prefix.path() / "run");
  std::ofstream(prefix.path() / "run" / "mappings") << "in the way";
  const LogTarget log{(prefix.path() / "log").string(), 0};
  EXPECT_EQ(SharedBlock::Open(log), nullptr);
  const std::string logs = testing::ReadFilesBelow(log.directory);
  EXPECT_NE(logs.find("MemoryMapOpen"), std::string::npos);
  EXPECT_NE(logs.find("OpenFileMapping false"), std::string::npos);
}

// A window standing in for Helvar's: records every copy-data request.
class FakeHelvar {
 public:
  bool Create() {
    window_ = platform::WindowEndpoint::Create(kHelvarWindowTitle, "", [this](const auto& m) {
      std::lock_guard<std::mutex> lock(mutex_);
      messages_.push_back(m);
      return int64_t{0};
    });
    return window_ != nullptr;
  }
  std::vector<platform::WindowMessage> messages() {
    std::lock_guard<std::mutex> lock(mutex_);
    return messages_;
  }

 private:
  std::unique_ptr<platform::WindowEndpoint> window_;
  std::mutex mutex_;
  std::vector<platform::WindowMessage> messages_;
};

class HelvarRequestTest : public ::testing::Test {
 protected:
  void SetUp() override {
    connmap::WriteText(record_.data(), connmap::kInstallDir, "c:\\tavenor");
    connmap::WriteInt(record_.data(), connmap::kLogFlag, 1);
    Module().property_map = reinterpret_cast<unsigned char*>(record_.data());
  }
  void TearDown() override { Module().property_map = nullptr; }

  // A launch that records what it was asked to start and never really waits.
  HelvarLaunch RecordingLaunch(std::function<bool(std::string_view)> start) {
    HelvarLaunch launch;
    launch.start_program = [this, start](std::string_view program) {
      started_.emplace_back(program);
      return start(program);
    };
    launch.clock = &clock_;
    return launch;
  }

  platform::testing::TempPrefix prefix_;
  std::array<char, connmap::kPropertyMapSize> record_{};
  std::vector<std::string> started_;
  platform::ManualClock clock_;
  // The looks for the window after a start: one wait of the launch before each.
  int looks() { return static_cast<int>((clock_.Now() - looks_from_) / HelvarLaunch().wait_ms); }
  uint32_t looks_from_ = clock_.Now();
};

TEST_F(HelvarRequestTest, RunningHelvarGetsCodeAsWParamAndDataIdWithThePayload) {
  FakeHelvar helvar;
  ASSERT_TRUE(helvar.Create());
  const std::string payload("88012\0\x1C", 7);
  HelvarLaunch launch = RecordingLaunch([](std::string_view) { return true; });
  EXPECT_EQ(SendHelvarRequest(706, payload, kHelvarProgram, launch), 1);
  EXPECT_EQ(SendHelvarRequest(950, "", kHelvarProgram, launch), 1);

  const std::vector<platform::WindowMessage> got = helvar.messages();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].msg, platform::kWmCopyData);
  EXPECT_EQ(got[0].wparam, 706u);
  EXPECT_EQ(got[0].copy_data_id, 706u);
  EXPECT_EQ(got[0].copy_data, payload);
  EXPECT_EQ(got[1].copy_data_id, 950u);
  EXPECT_EQ(got[1].copy_data, "");
  EXPECT_TRUE(started_.empty());
  EXPECT_EQ(looks(), 0);
}

TEST_F(HelvarRequestTest, MissingHelvarIsStartedAndTheRequestDelivered) {
  struct Case {
    std::string_view program;
    std::vector<std::string> expected_starts;
  };
  const std::vector<Case> cases = {
      {kHelvarProgram, {"c:\\tavenor\\helvar.exe", "helvar.exe"}},
      {kHelvarProgramForHost, {"c:\\tavenor\\Helvar.exe", "Helvar.exe"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.program));
    started_.clear();
    looks_from_ = clock_.Now();
    FakeHelvar helvar;
    // Nothing lies in the install directory; the program found by name opens its window.
    HelvarLaunch launch = RecordingLaunch([&](std::string_view program) {
      return program.find('\\') == std::string_view::npos && helvar.Create();
    });
    EXPECT_EQ(SendHelvarRequest(300, "", c.program, launch), 1);
    EXPECT_EQ(started_, c.expected_starts);
    EXPECT_EQ(looks(), 1);  // found at the first look after the start
    ASSERT_EQ(helvar.messages().size(), 1u);
    EXPECT_EQ(helvar.messages()[0].copy_data_id, 300u);
  }
}

TEST_F(HelvarRequestTest, RequestIsDroppedWhenHelvarNeverAppears) {
  HelvarLaunch launch = RecordingLaunch([](std::string_view) { return true; });
  EXPECT_EQ(SendHelvarRequest(301, "", kHelvarProgram, launch), 0);
  EXPECT_EQ(looks(), 3);
  EXPECT_EQ(started_.size(), 1u);  // the install directory's program "started"
  EXPECT_NE(testing::ReadFilesBelow(prefix_.path()).find("dropped"), std::string::npos);
}

TEST_F(HelvarRequestTest, OverlongInstallDirectoryIsNotUsedForTheLaunchPath) {
  const std::string long_dir = "c:\\" + std::string(kMaxLaunchPath - 12, 'd');
  ASSERT_TRUE(connmap::WriteText(record_.data(), connmap::kInstallDir, long_dir));
  HelvarLaunch launch = RecordingLaunch([](std::string_view) { return false; });
  EXPECT_EQ(SendHelvarRequest(300, "", kHelvarProgram, launch), 0);
  EXPECT_EQ(started_, std::vector<std::string>{"helvar.exe"});
}

}  // namespace
}  // namespace hub
