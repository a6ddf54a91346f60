#include "platform/keyboard.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/testing/support.h"
#include "platform/testing/temp_prefix.h"

namespace platform {
namespace {

class KeyboardTest : public ::testing::Test {
 protected:
  void SetUp() override { unsetenv("DISPLAY"); }

  std::string LogText() const {
    return testing::ReadFile(prefix_.path() / "run" / "keyboard.log");
  }

  testing::TempPrefix prefix_;
};

TEST_F(KeyboardTest, RecordsEveryEventInOrderWithoutADisplay) {
  // What the request handler types for the data "1A": each byte, then Enter.
  const std::vector<KeyEvent> typed = {{'1', false}, {'1', true},   {'A', false},
                                       {'A', true},  {0x0D, false}, {0x0D, true}};
  ASSERT_TRUE(SendKeys(typed));
  EXPECT_EQ(LogText(), "down 0x31\nup 0x31\ndown 0x41\nup 0x41\ndown 0x0D\nup 0x0D\n");
  ASSERT_TRUE(SendKeys({{0xFF, false}}));
  std::vector<KeyEvent> expected = typed;
  expected.push_back({0xFF, false});
  EXPECT_EQ(RecordedKeys(), expected);
}

TEST_F(KeyboardTest, AnUnreachableDisplayFallsBackToTheRecorder) {
  setenv("DISPLAY", ":97", 1);
  ASSERT_TRUE(SendKeys({{0x0D, false}, {0x0D, true}}));
  unsetenv("DISPLAY");
  EXPECT_EQ(RecordedKeys(), (std::vector<KeyEvent>{{0x0D, false}, {0x0D, true}}));
}

TEST_F(KeyboardTest, SkipsLinesThatAreNotEvents) {
  std::filesystem::create_directories(prefix_.path() / "run");
  std::ofstream(prefix_.path() / "run" / "keyboard.log")
      << "down 0x31\nsideways 0x31\nup 0x100\nup\n\ndown 0x0Dx\nup 0x0d\n";
  EXPECT_EQ(RecordedKeys(), (std::vector<KeyEvent>{{'1', false}, {0x0D, true}}));
  EXPECT_TRUE(SendKeys({}));
}

}  // namespace
}  // namespace platform
