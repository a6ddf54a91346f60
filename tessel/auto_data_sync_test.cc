#include "tessel/auto_data_sync.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "platform/registry.h"
#include "platform/testing/support.h"
#include "platform/testing/temp_prefix.h"
#include "tessel/ordella_tessel.h"

namespace {

constexpr char kKey[] = "Software\\Tavenor";

std::optional<platform::RegValue> Stored(int index) {
  platform::RegValue value;
  if (platform::RegGetValue(kKey, "Retalo_AutoDate_" + std::to_string(index), &value) !=
      platform::RegStatus::kOk) {
    return std::nullopt;
  }
  return value;
}

std::string FileBytes(const std::filesystem::path& file) {
  return platform::testing::ReadFile(file);
}

TEST(AutoDataSync, OncePerDayPerTerminalOnTheClock) {
  platform::testing::TempPrefix prefix;
  EXPECT_EQ(AutoDataSync(0), 1);
  const std::optional<platform::RegValue> stored = Stored(0);
  ASSERT_TRUE(stored.has_value());
  EXPECT_EQ(stored->type, platform::RegType::kString);
  EXPECT_EQ(stored->text.size(), 8u);
  EXPECT_EQ(stored->text.find_first_not_of("0123456789"), std::string::npos) << stored->text;
  EXPECT_EQ(stored->text, tessel::TodayText());

  EXPECT_EQ(AutoDataSync(0), 0);
  EXPECT_EQ(AutoDataSync(1), 1) << "indexes are independent";
  EXPECT_EQ(AutoDataSync(1), 0);
  EXPECT_EQ(AutoDataSync(0), 0);
}

TEST(AutoDataSync, TheTurnOfTheDayOpensTheGateAgain) {
  platform::testing::TempPrefix prefix;
  EXPECT_EQ(tessel::AutoDataSyncOn(2, "20251209"), 1);
  EXPECT_EQ(tessel::AutoDataSyncOn(2, "20251209"), 0);
  EXPECT_EQ(tessel::AutoDataSyncOn(2, "20251210"), 1);
  EXPECT_EQ(Stored(2)->text, "20251210");
  EXPECT_EQ(tessel::AutoDataSyncOn(2, "20251210"), 0);
}

TEST(AutoDataSync, WhatIsStoredBeforeDecidesTheAnswer) {
  const std::string today = "20251209";
  struct Case {
    const char* what;
    std::optional<std::string> text;  // stored as text, or
    std::optional<uint32_t> dword;    // stored as a number
    int expected;
  };
  const Case cases[] = {
      {"nothing stored", std::nullopt, std::nullopt, 1},
      {"today", today, std::nullopt, 0},
      {"yesterday", "20251208", std::nullopt, 1},
      {"another date format", "2025-12-09", std::nullopt, 1},
      {"empty text", "", std::nullopt, 1},
      {"today with more after it", today + std::string(600, '9'), std::nullopt, 1},
      {"a number instead of a text", std::nullopt, 20251209u, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    platform::testing::TempPrefix prefix;
    ASSERT_EQ(platform::RegCreateKey(kKey), platform::RegStatus::kOk);
    if (c.text) platform::RegSetString(kKey, "Retalo_AutoDate_0", *c.text);
    if (c.dword) platform::RegSetDword(kKey, "Retalo_AutoDate_0", *c.dword);
    EXPECT_EQ(tessel::AutoDataSyncOn(0, today), c.expected);
    const std::optional<platform::RegValue> stored = Stored(0);
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(stored->type, platform::RegType::kString);
    EXPECT_EQ(stored->text, today);
  }
}

TEST(AutoDataSync, AnUnreadableRegistryAnswersNoAndLosesNothing) {
  platform::testing::TempPrefix prefix;
  const std::filesystem::path file = prefix.path() / "registry.reg";
  {
    std::ofstream out(file, std::ios::binary);
    out << "not a registry export\n[HKEY_CURRENT_USER\\Software\\Tavenor]\n\"edicode_index\"=1\n";
  }
  const std::string before = FileBytes(file);
  EXPECT_EQ(AutoDataSync(0), 0);
  EXPECT_EQ(FileBytes(file), before);

  // A registry that is not a file at all.
  std::filesystem::remove(file);
  std::filesystem::create_directory(file);
  EXPECT_EQ(AutoDataSync(0), 0);
  EXPECT_TRUE(std::filesystem::is_directory(file));
}

}  // namespace
