#include "retalo/customer_display.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/testing/support.h"
#include "retalo/database_util.h"
#include "retalo/db/export_frame.h"
#include "retalo/ordella_retalo.h"
#include "retalo/testing/retalo_fixture.h"

namespace retalo {
namespace {

using testing::Cp;
using testing::kSep;

// A loaded library with one entry point taken away.
class IncompleteLibrary final : public platform::Library {
 public:
  IncompleteLibrary(std::unique_ptr<platform::Library> library, std::string missing_entry)
      : library_(std::move(library)), missing_entry_(std::move(missing_entry)) {}
  void* Symbol(std::string_view name) const override {
    return name == missing_entry_ ? nullptr : library_->Symbol(name);
  }
  std::string path() const override { return library_->path(); }

 private:
  std::unique_ptr<platform::Library> library_;
  std::string missing_entry_;
};

class CustomerDisplayTest : public testing::RetaloTest {
 protected:
  void SetUp() override {
    RetaloTest::SetUp();
    SetDisplayLibraryLoader([this](std::string_view dll_name) {
      loaded_.emplace_back(dll_name);
      std::unique_ptr<platform::Library> library;
      if (dll_name != missing_library_) library = platform::Library::Load(dll_name);
      if (library && !missing_entry_.empty()) {
        library = std::make_unique<IncompleteLibrary>(std::move(library), missing_entry_);
      }
      return library;
    });
  }
  void TearDown() override {
    SetDisplayLibraryLoader({});
    OpenScreen();  // completes a display left half loaded
    CloseScreen();
  }

  // What a display library shows (its state file), or "" before it was ever used.
  static std::string Shown(const std::string& library) {
    return platform::testing::ReadFile(platform::RunDir() / ("display-" + library + ".txt"));
  }
  static std::string List() { return Shown("RetaloDisplay"); }
  static std::string Popup() { return Shown("Ordella_DisplayM"); }

  std::vector<std::string> loaded_;  // library names asked for, in order
  std::string missing_library_;
  std::string missing_entry_;
};

TEST_P(CustomerDisplayTest, OpensOnceAndClosesOnce) {
  const std::string goods = "1" + kSep + "8801234567890" + kSep + "1000";
  EXPECT_EQ(CloseScreen(), 0);
  EXPECT_EQ(ClearScreen(), 0);
  EXPECT_EQ(AddScreenCust((TodayText() + "000001").c_str()), 0);
  EXPECT_EQ(AddScreenItem(goods.c_str()), 0);
  EXPECT_TRUE(loaded_.empty());

  EXPECT_EQ(OpenScreen(), 1);
  EXPECT_EQ(List(), "list: open\npopup: closed\n");
  EXPECT_EQ(Popup(), "list: closed\npopup: hidden\n");
  EXPECT_EQ(OpenScreen(), 1);
  EXPECT_EQ(loaded_, (std::vector<std::string>{"RetaloDisplay.dll", "Ordella_DisplayM.dll"}));

  EXPECT_EQ(AddScreenItem(goods.c_str()), 1);
  EXPECT_EQ(Popup(), "list: closed\npopup: hidden\n");
  EXPECT_EQ(ClearScreen(), 1);
  EXPECT_EQ(List(), "list: open\npopup: closed\n");
  EXPECT_EQ(Popup(), "list: closed\npopup: shown\n");

  EXPECT_EQ(CloseScreen(), 1);
  EXPECT_EQ(List(), "list: closed\npopup: closed\n");
  EXPECT_EQ(Popup(), "list: closed\npopup: closed\n");
  EXPECT_EQ(CloseScreen(), 0);
  EXPECT_EQ(ClearScreen(), 0);
  EXPECT_EQ(LogText(), "");
}

TEST_P(CustomerDisplayTest, AMissingPopupLibraryKeepsTheDisplayClosedUntilItCanBeLoaded) {
  missing_library_ = "Ordella_DisplayM.dll";
  EXPECT_EQ(OpenScreen(), 0);
  EXPECT_EQ(ClearScreen(), 0);
  EXPECT_EQ(CloseScreen(), 0);
  EXPECT_EQ(OpenScreen(), 0);
  const std::string record =
      "OpenScreen\nDLL [Ordella_DisplayM.dll]\n설명 [위치3 : 라이브러리 로드 실패]\n" + Rule();
  EXPECT_EQ(LogText(), record + record);

  // The display library stays loaded; only the pop-up library is tried again.
  missing_library_.clear();
  EXPECT_EQ(OpenScreen(), 1);
  EXPECT_EQ(loaded_, (std::vector<std::string>{"RetaloDisplay.dll", "Ordella_DisplayM.dll",
                                               "Ordella_DisplayM.dll", "Ordella_DisplayM.dll"}));
  EXPECT_EQ(ClearScreen(), 1);
}

TEST_P(CustomerDisplayTest, AMissingLibraryOrEntryPointIsLoggedAndNotKept) {
  struct Case {
    std::string missing_library;
    std::string missing_entry;
    std::string record;
    std::vector<std::string> loaded_next;  // by the next OpenScreen
  };
  const std::vector<std::string> both = {"RetaloDisplay.dll", "Ordella_DisplayM.dll"};
  const Case cases[] = {
      {"RetaloDisplay.dll", "", "DLL [RetaloDisplay.dll]\n설명 [위치1 : 라이브러리 로드 실패]\n",
       both},
      {"", "Func_RetaloAddItems", "DLL [RetaloDisplay.dll]\n설명 [위치2 : Func_RetaloAddItems]\n",
       both},
      {"",
       "PopShowWindow",
       "DLL [Ordella_DisplayM.dll]\n설명 [위치4 : PopShowWindow]\n",
       {"Ordella_DisplayM.dll"}},
  };
  for (const Case& c : cases) {
    std::filesystem::remove_all(platform::MapPath("c:\\tavenor\\log").value());
    missing_library_ = c.missing_library;
    missing_entry_ = c.missing_entry;
    EXPECT_EQ(OpenScreen(), 0) << c.record;
    EXPECT_EQ(ClearScreen(), 0) << c.record;
    EXPECT_EQ(LogText(), "OpenScreen\n" + c.record + Rule());
    missing_library_.clear();
    missing_entry_.clear();
    loaded_.clear();
    EXPECT_EQ(OpenScreen(), 1) << c.record;
    // A library that failed is loaded afresh; a complete one was kept.
    EXPECT_EQ(loaded_, c.loaded_next) << c.record;
    EXPECT_EQ(CloseScreen(), 1);
  }
}

TEST_P(CustomerDisplayTest, ShowsTodaysCustomers) {
  const std::string today = TodayText();
  Query("UPDATE PM_BASE.CD_PERSON SET PANUM = '9203' WHERE CUSCODE = '0000000002'");
  ASSERT_EQ(OpenScreen(), 1);
  ASSERT_EQ(ClearScreen(), 1);
  struct Case {
    std::string serial;
    int rc;
    std::string shown;  // the list afterwards
  };
  const std::string open = "list: open\npopup: closed\n";
  const Case cases[] = {
      // The resident number is cut to its birth date; a shorter one is shown whole.
      {today + "000001", 1, open + "P|800101|홍길동|0|3500\n"},
      {today + "000002", 1, open + "P|9203|김영희|0|4200\n"},
      {"20000101000009", 0, open + "P|9203|김영희|0|4200\n"},
      {"19990101000001' OR '1'='1", 0, open + "P|9203|김영희|0|4200\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(AddScreenCust(c.serial.c_str()), c.rc) << c.serial;
    EXPECT_EQ(List(), c.shown) << c.serial;
  }
  EXPECT_EQ(Popup(), "list: closed\npopup: hidden\n");
  // Yesterday's prescription of the fixture is not shown either.
  const std::string yesterday = Query("SELECT PRESERIAL FROM PM_PRES.PS_MAIN WHERE DAY_SERIAL = 9");
  EXPECT_EQ(AddScreenCust(yesterday.c_str()), 0);
  EXPECT_EQ(LogText(), "");
}

TEST_P(CustomerDisplayTest, ShowsScannedItems) {
  ASSERT_EQ(OpenScreen(), 1);
  struct Case {
    std::string goods;
    int rc;
    std::string line;  // added to the list
  };
  auto goods = [](const char* barcode, const char* sale, const char* purchase) {
    return "1" + kSep + barcode + kSep + sale + kSep + purchase + kSep + "1" + kSep + "DD";
  };
  const Case cases[] = {
      {goods("8801234567890", "1000", "600"), 1, "S|08801234567890|박카스디|600|1000\n"},
      {goods("8809876543210", "5000", "3500"), 1, "S|8809876543210|훼스탈플러스정|3500|5000\n"},
      {goods("12345678", "1000", "600"), 0, ""},
      // Empty fields vanish: the first text after the count is taken as the barcode.
      {kSep + "1" + kSep + kSep + "8809876543210" + kSep + "5000" + kSep + kSep + "3500", 1,
       "S|8809876543210|훼스탈플러스정|3500|5000\n"},
      {goods("", "1000", "600"), 0, ""},
  };
  std::string shown = "list: open\npopup: closed\n";
  for (const Case& c : cases) {
    EXPECT_EQ(AddScreenItem(c.goods.c_str()), c.rc);
    shown += c.line;
    EXPECT_EQ(List(), shown);
  }
  EXPECT_EQ(AddScreenItem("1"), kDataError);
  EXPECT_EQ(AddScreenItem((kSep + "1" + kSep + kSep).c_str()), kDataError);
  const std::string record = "HasBarcode\nszBarcode []\n설명 [위치3 : 바코드번호 오류]\n" + Rule();
  EXPECT_EQ(LogText(), record + record);
}

TEST_P(CustomerDisplayTest, DatabaseFailuresAreLoggedWithoutCodes) {
  ASSERT_EQ(OpenScreen(), 1);
  MakeDatabaseUnreachable();
  const std::string goods = "1" + kSep + "8801234567890" + kSep + "1000" + kSep + "600";
  EXPECT_EQ(AddScreenCust("20240105000001"), kDbConnectFailed);
  EXPECT_EQ(AddScreenItem(goods.c_str()), kDbConnectFailed);
  EXPECT_EQ(LogText(),
            "AddScreenCust\nAddScreenCust [20240105000001]\n설명 [위치2 : DB연결실패]\n" + Rule() +
                "AddScreenItem\nAddScreenItem [8801234567890]\n설명 [위치2 : DB연결실패]\n" +
                Rule());
}

RETALO_ON_EVERY_BACKEND(CustomerDisplayTest);

}  // namespace
}  // namespace retalo
