// Our display libraries loaded the way the database writer loads them, each keeping what it
// shows in its own state file.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "companions/display/display_entry.h"
#include "platform/prefix.h"
#include "platform/process.h"
#include "platform/testing/support.h"
#include "platform/testing/temp_prefix.h"

namespace {

template <typename Fn>
Fn Entry(const platform::Library& library, const char* name) {
  Fn entry = reinterpret_cast<Fn>(library.Symbol(name));
  EXPECT_NE(entry, nullptr) << name;
  return entry;
}

std::string Shown(const std::string& name) {
  return platform::testing::ReadFile(platform::RunDir() / ("display-" + name + ".txt"));
}

TEST(CustomerDisplayLibraryTest, ShowsCustomersAndItemsWhileOpen) {
  for (const std::string name : {"RetaloDisplay", "Ordella_DisplayM"}) {
    platform::testing::TempPrefix prefix;
    platform::Status error;
    const std::unique_ptr<platform::Library> library =
        platform::Library::Load(name + ".dll", &error);
    ASSERT_NE(library, nullptr) << error.message();
    const auto open = Entry<decltype(&Func_RetaloDisplayOpen)>(*library, "Func_RetaloDisplayOpen");
    const auto close =
        Entry<decltype(&Func_RetaloDisplayClose)>(*library, "Func_RetaloDisplayClose");
    const auto clear =
        Entry<decltype(&Func_RetaloDisplayClear)>(*library, "Func_RetaloDisplayClear");
    const auto add = Entry<decltype(&Func_RetaloAddItems)>(*library, "Func_RetaloAddItems");
    const auto pop_open = Entry<decltype(&PopOpen)>(*library, "PopOpen");
    const auto pop_show = Entry<decltype(&PopShowWindow)>(*library, "PopShowWindow");
    const auto pop_close = Entry<decltype(&PopClose)>(*library, "PopClose");

    // Nothing shows before the list and the pop-up are opened.
    EXPECT_EQ(add(u"S", u"8801234567890", u"박카스디", 600, 1000), 0) << name;
    EXPECT_EQ(clear(), 0) << name;
    pop_show(1);
    EXPECT_EQ(Shown(name), "") << name;

    EXPECT_EQ(open(), 1) << name;
    pop_open();
    const char16_t lone_surrogate[] = {0xD800, 0};
    EXPECT_EQ(add(u"X", u"1", u"a", 0, 0), 0) << name;
    EXPECT_EQ(add(u"S", nullptr, u"a", 0, 0), 0) << name;
    EXPECT_EQ(add(u"S", u"1", lone_surrogate, 0, 0), 0) << name;
    EXPECT_EQ(add(u"S", u"8801234567890", u"박카스|디\n", 600, 1000), 1) << name;
    EXPECT_EQ(add(u"S", u"8806470200028", u"베아제정", 2500, 4000), 1) << name;
    EXPECT_EQ(Shown(name),
              "list: open\npopup: hidden\nS|8801234567890|박카스 디 |600|1000\n"
              "S|8806470200028|베아제정|2500|4000\n")
        << name;
    // A customer is shown alone.
    EXPECT_EQ(add(u"P", u"800101", u"홍길동", 0, 3500), 1) << name;
    pop_show(1);
    EXPECT_EQ(Shown(name), "list: open\npopup: shown\nP|800101|홍길동|0|3500\n") << name;
    EXPECT_EQ(clear(), 1) << name;
    EXPECT_EQ(Shown(name), "list: open\npopup: shown\n") << name;

    pop_close();
    close();
    EXPECT_EQ(Shown(name), "list: closed\npopup: closed\n") << name;
    EXPECT_EQ(add(u"P", u"800101", u"홍길동", 0, 3500), 0) << name;
    // Each library keeps to its own file.
    const std::string other = name == "RetaloDisplay" ? "Ordella_DisplayM" : "RetaloDisplay";
    EXPECT_EQ(Shown(other), "") << name;
  }
}

}  // namespace
