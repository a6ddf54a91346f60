#include "platform/registry.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "platform/testing/support.h"
#include "platform/testing/temp_prefix.h"

namespace platform {
namespace {
namespace fs = std::filesystem;

constexpr char kTavenor[] = "Software\\Tavenor";

class RegistryTest : public ::testing::Test {
 protected:
  fs::path file() const { return prefix_.path() / "registry.reg"; }

  std::string FileText() const {
    return testing::ReadFile(file());
  }

  void WriteFile(std::string_view text) const { std::ofstream(file(), std::ios::binary) << text; }

  static RegValue Get(std::string_view key, std::string_view name) {
    RegValue value;
    EXPECT_EQ(RegGetValue(key, name, &value), RegStatus::kOk) << name << ": " << RegLastError();
    return value;
  }

  testing::TempPrefix prefix_;
};

TEST_F(RegistryTest, WritesTheExportFormatAndReadsItBack) {
  ASSERT_EQ(RegSetString("Software\\Tavenor\\Update", "path", "c:\\tavenor"), RegStatus::kOk);
  ASSERT_EQ(RegSetDword(kTavenor, "edicode_index", 10), RegStatus::kOk);
  ASSERT_EQ(RegSetString(kTavenor, "", "\xB1\xE2\xBA\xBB"), RegStatus::kOk);  // "기본"
  ASSERT_EQ(RegSetString(kTavenor, "quote\"d", "a\"b\\c"), RegStatus::kOk);

  EXPECT_EQ(FileText(),
            "Windows Registry Editor Version 5.00\n"
            "\n"
            "[HKEY_CURRENT_USER\\Software]\n"
            "\n"
            "[HKEY_CURRENT_USER\\Software\\Tavenor]\n"
            "\"edicode_index\"=dword:0000000a\n"
            "@=\"기본\"\n"
            "\"quote\\\"d\"=\"a\\\"b\\\\c\"\n"
            "\n"
            "[HKEY_CURRENT_USER\\Software\\Tavenor\\Update]\n"
            "\"path\"=\"c:\\\\tavenor\"\n"
            "\n");

  EXPECT_EQ(Get("software\\TAVENOR\\update", "PATH").text, "c:\\tavenor");
  RegValue index = Get(kTavenor, "Edicode_Index");
  EXPECT_EQ(index.type, RegType::kDword);
  EXPECT_EQ(index.dword, 10U);
  EXPECT_EQ(Get(kTavenor, "").text, "\xB1\xE2\xBA\xBB");
  EXPECT_EQ(Get(kTavenor, "quote\"d").text, "a\"b\\c");
}

TEST_F(RegistryTest, ReplacesAndDeletesValues) {
  RegValue value;
  EXPECT_EQ(RegGetValue(kTavenor, "Retalo_AutoDate_0", &value), RegStatus::kNotFound);
  EXPECT_EQ(RegDeleteValue(kTavenor, "Retalo_AutoDate_0"), RegStatus::kNotFound);

  ASSERT_EQ(RegSetDword(kTavenor, "Retalo_AutoDate_0", 7), RegStatus::kOk);
  ASSERT_EQ(RegSetString(kTavenor, "RETALO_AUTODATE_0", "20250102"), RegStatus::kOk);
  value = Get(kTavenor, "Retalo_AutoDate_0");
  EXPECT_EQ(value.type, RegType::kString);
  EXPECT_EQ(value.text, "20250102");
  EXPECT_NE(FileText().find("\"Retalo_AutoDate_0\"=\"20250102\""), std::string::npos)
      << "a replaced value keeps the spelling of its name";

  ASSERT_EQ(RegSetString(kTavenor, "bizno", "1234567890"), RegStatus::kOk);
  EXPECT_EQ(RegDeleteValue(kTavenor, "retalo_autodate_0"), RegStatus::kOk);
  EXPECT_EQ(RegGetValue(kTavenor, "Retalo_AutoDate_0", &value), RegStatus::kNotFound);
  EXPECT_EQ(Get(kTavenor, "bizno").text, "1234567890");
}

TEST_F(RegistryTest, CreatesKeysWithTheirParents) {
  EXPECT_FALSE(RegKeyExists(kTavenor));
  EXPECT_EQ(RegCreateKey("Software\\Tavenor\\Update"), RegStatus::kOk);
  EXPECT_TRUE(RegKeyExists("software"));
  EXPECT_TRUE(RegKeyExists(kTavenor));
  EXPECT_TRUE(RegKeyExists("\\Software\\Tavenor\\Update\\"));
  EXPECT_FALSE(RegKeyExists("Software\\Tav"));
  EXPECT_EQ(RegCreateKey(kTavenor), RegStatus::kOk);
}

TEST_F(RegistryTest, KeepsWhatAHandWrittenFileHolds) {
  WriteFile(
      "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n"
      "\r\n"
      "; written by hand\r\n"
      "[HKEY_CURRENT_USER\\Software\\Tavenor]\r\n"
      "\"pharmscreen\" = DWORD:00000001\r\n"
      "\"blob\"=hex:01,02,03,\\\r\n"
      "  04,05\r\n"
      "\"list\"=hex(7):41,00,00,00\r\n"
      "\"bizno\"=\"123\"   \r\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Other]\r\n"
      "\"x\"=\"y\"\r\n");

  EXPECT_TRUE(RegKeyExists("Software"));
  EXPECT_EQ(Get(kTavenor, "pharmscreen").dword, 1U);
  EXPECT_EQ(Get(kTavenor, "bizno").text, "123");
  RegValue blob = Get(kTavenor, "blob");
  EXPECT_EQ(blob.type, RegType::kOther);
  EXPECT_EQ(blob.text, "hex:01,02,03,\\\n  04,05");

  ASSERT_EQ(RegSetString(kTavenor, "bizno", "456"), RegStatus::kOk);
  std::string text = FileText();
  EXPECT_NE(text.find("\"blob\"=hex:01,02,03,\\\n  04,05\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\"list\"=hex(7):41,00,00,00\n"), std::string::npos) << text;
  EXPECT_NE(text.find("[HKEY_LOCAL_MACHINE\\Software\\Other]\n\"x\"=\"y\"\n"), std::string::npos)
      << text;
  EXPECT_EQ(Get(kTavenor, "bizno").text, "456");
  EXPECT_EQ(Get(kTavenor, "pharmscreen").dword, 1U);
}

TEST_F(RegistryTest, AHexValueAtTheEndOfTheFileSurvivesRewrites) {
  const std::string head = "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\Software]\n";
  struct Case {
    std::string tail;  // the last value of the file, as written
    std::string data;  // as read back
  };
  const Case cases[] = {
      {"\"n\"=hex:01,\\\n  02", "hex:01,\\\n  02"},
      {"\"n\"=hex:01,\\\r\n  02\r\n", "hex:01,\\\n  02"},
      // Continued onto a blank line: that line is part of the value.
      {"\"n\"=hex:01,\\\n\n", "hex:01,\\\n"},
  };
  for (const Case& c : cases) {
    WriteFile(head + c.tail);
    std::string first_rewrite;
    for (int rewrite = 0; rewrite < 3; ++rewrite) {
      ASSERT_EQ(RegSetString("Software", "x", "1"), RegStatus::kOk) << c.tail << RegLastError();
      EXPECT_EQ(Get("Software", "n").text, c.data) << c.tail << " after rewrite " << rewrite;
      if (rewrite == 0) first_rewrite = FileText();
      EXPECT_EQ(FileText(), first_rewrite) << c.tail << " after rewrite " << rewrite;
    }
  }
}

TEST_F(RegistryTest, RefusesToReadOrRewriteACorruptFile) {
  const std::string header = "Windows Registry Editor Version 5.00\n\n";
  const std::string key = "[HKEY_CURRENT_USER\\Software\\Tavenor]\n\"ok\"=\"1\"\n";
  struct Case {
    std::string text;
    int bad_line;
  };
  const Case cases[] = {
      {"REGEDIT4\n\n" + key, 1},
      {header + "\"ok\"=\"1\"\n", 3},
      {header + key + "\"path\"=\"c:\\tavenor\"\n", 5},
      {header + key + "\"open\"=\"no end\n", 5},
      {header + key + "\"x\"=\"1\" junk\n", 5},
      {header + key + "\"n\"=dword:123456789\n", 5},
      {header + key + "\"n\"=dword:\n", 5},
      {header + key + "\"n\"=qword:1\n", 5},
      {header + key + "\"n\"=-\n", 5},
      {header + key + "\"n\"=hex:zz\n", 5},
      {header + key + "\"\"=\"empty name\"\n", 5},
      {header + key + "\"n\"=\"\xFF\"\n", 5},
      {header + "[-HKEY_CURRENT_USER\\Software]\n", 3},
      {header + "[HKEY_CURRENT_USER\\Software\n", 3},
      // A hex value continued past the end of the file, with or without a last line end.
      {"Windows Registry Editor Version 5.00\n[r]\n\"n\"=hex:\\", 3},
      {header + key + "\"n\"=hex:01,\\\n  02,\\\n", 5},
  };
  for (const Case& c : cases) {
    WriteFile(c.text);
    RegValue value;
    EXPECT_EQ(RegGetValue(kTavenor, "ok", &value), RegStatus::kCorrupt) << c.text;
    std::string error = RegLastError();
    EXPECT_NE(error.find(file().string()), std::string::npos) << error;
    EXPECT_NE(error.find("line " + std::to_string(c.bad_line)), std::string::npos) << error;

    EXPECT_EQ(RegSetString(kTavenor, "new", "x"), RegStatus::kCorrupt) << c.text;
    EXPECT_EQ(RegDeleteValue(kTavenor, "ok"), RegStatus::kCorrupt) << c.text;
    EXPECT_EQ(RegCreateKey("Software\\New"), RegStatus::kCorrupt) << c.text;
    EXPECT_EQ(FileText(), c.text) << "a corrupt file must stay as it is";
  }
}

TEST_F(RegistryTest, ATextWithoutCp949FormIsReportedAndKept) {
  WriteFile(
      "Windows Registry Editor Version 5.00\n\n"
      "[HKEY_CURRENT_USER\\Software\\Tavenor]\n"
      "\"smile\"=\"\xF0\x9F\x98\x80\"\n");
  RegValue value;
  EXPECT_EQ(RegGetValue(kTavenor, "smile", &value), RegStatus::kCorrupt);
  EXPECT_NE(RegLastError().find("smile"), std::string::npos);
  ASSERT_EQ(RegSetDword(kTavenor, "other", 1), RegStatus::kOk);
  EXPECT_NE(FileText().find("\"smile\"=\"\xF0\x9F\x98\x80\"\n"), std::string::npos);
}

TEST_F(RegistryTest, RefusesNamesAndTextsTheFileCannotHold) {
  EXPECT_EQ(RegSetString(kTavenor, "multi", "line\nbreak"), RegStatus::kInvalidArgument);
  EXPECT_EQ(RegSetString(kTavenor, "nul", std::string_view("a\0b", 3)),
            RegStatus::kInvalidArgument);
  EXPECT_EQ(RegSetString(kTavenor, "bad", "\xFF"), RegStatus::kInvalidArgument);
  EXPECT_EQ(RegSetDword("", "x", 1), RegStatus::kInvalidArgument);
  EXPECT_EQ(RegSetDword("Software\\\\Tavenor", "x", 1), RegStatus::kInvalidArgument);
  EXPECT_EQ(RegSetDword("Software\\[x]", "x", 1), RegStatus::kInvalidArgument);
  EXPECT_EQ(RegSetDword(kTavenor, "new\nline", 1), RegStatus::kInvalidArgument);
  EXPECT_EQ(RegCreateKey("\\"), RegStatus::kInvalidArgument);
  EXPECT_FALSE(fs::exists(file()));
}

// Several processes change the registry at once: every value of every writer survives, and
// a reader never meets a half-written file.
TEST_F(RegistryTest, ConcurrentWritersInSeveralProcessesLoseNothing) {
  constexpr int kWriters = 4;
  constexpr int kValuesEach = 40;
  std::vector<pid_t> children;
  for (int writer = 0; writer < kWriters; ++writer) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      int failures = 0;
      for (int i = 0; i < kValuesEach; ++i) {
        std::string name = "w" + std::to_string(writer) + "_" + std::to_string(i);
        std::string key = std::string(kTavenor) + "\\W" + std::to_string(writer % 2);
        if (RegSetDword(key, name, static_cast<uint32_t>(writer * 1000 + i)) != RegStatus::kOk) {
          ++failures;
        }
      }
      _exit(failures == 0 ? 0 : 1);
    }
    children.push_back(pid);
  }
  pid_t reader = fork();
  ASSERT_GE(reader, 0);
  if (reader == 0) {
    for (int i = 0; i < 200; ++i) {
      RegValue value;
      RegStatus status = RegGetValue(kTavenor, "absent", &value);
      if (status != RegStatus::kNotFound) _exit(1);
    }
    _exit(0);
  }
  children.push_back(reader);
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child " << child;
  }
  for (int writer = 0; writer < kWriters; ++writer) {
    for (int i = 0; i < kValuesEach; ++i) {
      std::string name = "w" + std::to_string(writer) + "_" + std::to_string(i);
      std::string key = std::string(kTavenor) + "\\W" + std::to_string(writer % 2);
      EXPECT_EQ(Get(key, name).dword, static_cast<uint32_t>(writer * 1000 + i)) << name;
    }
  }
}

}  // namespace
}  // namespace platform
