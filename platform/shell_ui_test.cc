#include "platform/shell_ui.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/run_log.h"
#include "platform/testing/temp_prefix.h"

namespace platform {
namespace {

constexpr char kTip[] = "Ordella\xB0\xD4\xC0\xCC\xC6\xAE\xBF\xFE\xC0\xCC";  // CP949

class ShellUiTest : public ::testing::Test {
 protected:
  testing::TempPrefix prefix_;
};

TEST_F(ShellUiTest, TrayStateFollowsTheShellRules) {
  struct Step {
    TrayAction action;
    std::string_view icon, tooltip;
    bool accepted;
    TrayState after;
  };
  const Step steps[] = {
      {TrayAction::kModify, "128", kTip, false, {false, "", "", 0}},
      {TrayAction::kAdd, "128", kTip, true, {true, "128", kTip, 1}},
      {TrayAction::kAdd, "129", "other", false, {true, "128", kTip, 1}},
      {TrayAction::kModify, "129", "", true, {true, "129", kTip, 2}},  // icon only
      {TrayAction::kModify, "128", "", true, {true, "128", kTip, 3}},
      {TrayAction::kDelete, "", "", true, {false, "", "", 3}},
      {TrayAction::kDelete, "", "", false, {false, "", "", 3}},
      {TrayAction::kAdd,
       "128",
       "tab\there\nnew line \\",
       true,
       {true, "128", "tab\there\nnew line \\", 4}},
  };
  for (const Step& step : steps) {
    EXPECT_EQ(TrayNotify(step.action, step.icon, step.tooltip), step.accepted) << step.icon;
    TrayState state = CurrentTray();
    EXPECT_EQ(state.shown, step.after.shown) << step.icon;
    EXPECT_EQ(state.icon, step.after.icon);
    EXPECT_EQ(state.tooltip, step.after.tooltip);
    EXPECT_EQ(state.changes, step.after.changes);
  }
}

TEST_F(ShellUiTest, TooltipIsCutToTheTipFieldWithoutSplittingACharacter) {
  std::string tooltip(126, 'x');
  tooltip += "\xC6\xC7";  // a two-byte character across the 127-byte limit
  ASSERT_TRUE(TrayNotify(TrayAction::kAdd, "128", tooltip));
  EXPECT_EQ(CurrentTray().tooltip, std::string(126, 'x'));
}

TEST_F(ShellUiTest, AnotherProcessSeesTheTray) {
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) _exit(TrayNotify(TrayAction::kAdd, "128", kTip) ? 0 : 1);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  TrayState state = CurrentTray();
  EXPECT_TRUE(state.shown);
  EXPECT_EQ(state.tooltip, kTip);
}

TEST_F(ShellUiTest, MessageBoxIsLoggedAndAnsweredOk) {
  EXPECT_EQ(MessageBox("DB\xBF\xAC\xB0\xE1\xBD\xC7\xC6\xD0\nline 2", "Helvar"), 1);
  std::vector<std::vector<std::string>> lines = ReadRunLog("messagebox.log");
  ASSERT_EQ(lines.size(), 1U);
  ASSERT_EQ(lines[0].size(), 3U);
  EXPECT_EQ(lines[0][1], "Helvar");
  EXPECT_EQ(lines[0][2], "DB\xBF\xAC\xB0\xE1\xBD\xC7\xC6\xD0\nline 2");
}

}  // namespace
}  // namespace platform
